#pragma once
/**
 * The local estimate in the official printed form «Локальный сметный расчет (смета)» of the
 * base-index method (Методика 421/пр) as an .xlsx workbook: the header block, the table's three
 * head rows, one section with every position line by line, the section's totals, the totals by
 * type of work with the indices of machines and materials, the estimate's total, the reference
 * lines and the signatures. Amounts are live formulas (ROUND(…;2) products, НР and СП from ФОТ,
 * SUMIF/SUMIFS over two hidden key columns), each carrying the computation's own exact result as
 * its stored value, so that the sheet reads the same before and after a spreadsheet recalculates.
 *
 *   lsr::FormInput in{rows, texts, params, result, facts, wording};
 *   fs::path out = lsr::exportLsrToFile(in, lsr::lsrPathFor("Дом", dir), true);  // "Дом ЛСР.xlsx"
 *
 * Sheet layout (rows and columns 0-based, A1 only inside formulas): columns A…L are the form's
 * columns 1…12; M holds each amount line's element ("ОТ", "ЭМ", "ОТМ", "М", "ОБ", "ФОТ", "НР",
 * "СП", "ЗТ", "ЗТМ") and N the number of its type of work (1 строительные, 2 монтажные,
 * 3 пусконаладочные, 4 оборудование, 5 прочие), both hidden and not printed.
 *
 * Caveats: only what `result` holds is printed (positions it could not compute are left out,
 * as they are of its sums); a current amount is written only where the computation defined it
 * (the indices it needs are given). The sheet holds 1 048 576
 * rows: an estimate that needs more fails naming the row. Writing is streamed (one row in
 * memory), the file written under a temporary name beside the target and renamed when complete.
 */
#include "model/EstimateRows.h"
#include "model/BaseIndex.h"
#include "export/EstimateExport.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::lsr {

/** What the form says besides the computation, as plain texts. */
struct FormFacts {
    std::string program;               // «Тальвира 1.0»
    std::string edition;               // the base's edition: «ФСНБ-2020»
    std::vector<std::string> orders;   // the orders the base was made from, as it records them
    std::string number;                // the estimate's number: «02-01-01»
    std::string worksName;             // (наименование работ и затрат)
    std::string construction;          // (наименование стройки)
    std::string object;                // (наименование объекта капитального строительства)
    std::string basis;                 // Основание: (проектная и (или) иная техническая документация)
};

struct FormInput {
    const std::vector<model::PositionRow>& rows;   // the table's rows (codes, names, units)
    const model::EstimateTexts& texts;             // title block: signatures
    const model::EstimateParams& params;           // region, letter, levels, indices
    const model::BaseIndexResult& result;                 // every amount
    FormFacts facts;
    /** The wording of each position's НР/СП row, one per result.positions, same order:
     *  «Конструкции из кирпича и блоков» prints «НР (Конструкции из кирпича и блоков)». */
    std::vector<std::string> chargeTitles;
};

/** Writes the form into `file` (created or replaced as it stands); talvira::Error in Russian
 *  when it cannot. Prefer exportLsrToFile, which never leaves half a file. */
void writeLsrWorkbook(const FormInput& in, const std::filesystem::path& file);

/** The form written completely under a temporary name beside `outPath`, then renamed; with
 *  `keepExisting` an existing file is never replaced ("Дом ЛСР (2).xlsx" …). Returns the path
 *  written. */
std::filesystem::path exportLsrToFile(const FormInput& in, const std::filesystem::path& outPath,
                                      bool keepExisting);

/** "<name> ЛСР.xlsx" in `dir`, path separators in the name replaced by "_". */
std::filesystem::path lsrPathFor(std::string_view estimateName, const std::filesystem::path& dir);

/** Where the form of the estimate table `estimateTable` goes: beside it, or in the user's
 *  temporary folder when the estimate's folder is closed for writing (as the template
 *  workbook's place is chosen). */
xls::WorkbookPlace lsrPlaceFor(const std::filesystem::path& estimateTable);

/** The header block's label texts, top to bottom (also read by the tests). */
const std::vector<std::string>& headerLabels();

}  // namespace talvira::lsr
