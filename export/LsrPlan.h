#pragma once
/**
 * The local estimate's printed form «Локальный сметный расчет (смета)» of the base-index method,
 * planned line by line from the computation's result: the approval blocks and the header, the
 * table's three head rows, one section with every position line by line, the section's totals,
 * the totals by type of work with the indices of machines and materials, the estimate's total,
 * the reference lines and the signatures. Amounts are live formulas (ROUND(…;2) products, НР and
 * СП from ФОТ, SUMIF/SUMIFS over two hidden key columns), each carrying the computation's own
 * exact result, so that the sheet reads the same before and after a spreadsheet recalculates.
 *
 *   const sheet::SheetPlan plan = lsr::planLsr(input);
 *   int total = plan.row(lsr::anchorName(lsr::Anchor::Total));     // «ВСЕГО по смете»
 *
 * Sheet layout (rows and columns 0-based): columns A…L are the form's columns 1…12; M holds each
 * amount line's element key (elementKey) and N the number of its type of work (1 строительные,
 * 2 монтажные, 3 пусконаладочные, 4 оборудование, 5 прочие), both hidden and not printed.
 *
 * Caveats: only what `result` holds is printed (positions it could not compute are left out,
 * as they are of its sums); a current amount is written only where the computation defined it
 * (the indices it needs are given).
 */
#include "export/SheetPlan.h"
#include "model/BaseIndexResult.h"
#include "model/EstimateRows.h"
#include "model/Params.h"

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

/** Everything the form is planned from. */
struct FormInput {
    const std::vector<model::PositionRow>& rows;   // the table's rows (codes, names, units)
    const model::EstimateTexts& texts;             // title block: who agrees, who approves
    const model::EstimateParams& params;           // region, letter, levels, indices
    const model::BaseIndexResult& result;          // every amount
    FormFacts facts;
    /** The wording of each position's НР/СП row, one per result.positions, same order:
     *  «Конструкции из кирпича и блоков» prints «НР (Конструкции из кирпича и блоков)». */
    std::vector<std::string> chargeTitles;
};

/** The elements an amount line belongs to, as the hidden key column names them for the sums. */
enum class Element : uint8_t { Ot, Em, Otm, M, Eq, Fot, Nr, Sp, Zt, Ztm };
/** "ОТ", "ЭМ", "ОТМ", "М", "ОБ", "ФОТ", "НР", "СП", "ЗТ", "ЗТМ". */
std::string_view elementKey(Element e);

/** What each line of the plan is (its `kind`). */
enum class LineKind : uint16_t {
    Blank,
    Approval,        // СОГЛАСОВАНО / УТВЕРЖДАЮ and their lines
    Label,           // a header label and its value
    Value,           // a value on an underlined line (construction, object, works)
    Caption,         // the small caption under a value
    Title,           // ЛОКАЛЬНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № …
    Text,            // a line of header text (the method, Основание)
    HeaderAmount,    // the header's amounts in thousands and labour
    Head,            // the table's three head rows
    Section,         // Раздел 1. …
    Position,        // a position: number, code, name, unit, quantity
    Coefficient,     // a coefficient of the position and what it acts on
    Cost,            // ОТ, ЭМ, в т.ч. ОТм, М of a rate
    Material,        // a material of a rate (priced: N.1, N.2 …)
    Labour,          // ЗТ, ЗТм
    RateTotal,       // Итого по расценке
    Fot,             // ФОТ
    Charge,          // НР, СП
    PositionTotal,   // Всего по позиции
    Amount,          // a line of the totals: label, base, index, current
    Heading,         // ИТОГИ ПО СМЕТЕ:, ВСЕГО строительные работы, Справочно
    Signature,       // Составил, Проверил
};

/** The named lines: those other lines refer to, and where the parts of the form begin. */
enum class Anchor {
    Head,            // the first of the head rows
    Body,            // the first line below «Раздел 1.»
    SectionTotal,    // Итого по Разделу 1
    Total,           // ВСЕГО по смете
    TotalOt,         // its «в том числе: оплата труда (ОТ)»
    LabourWorkers,   // Справочно: затраты труда рабочих
    LabourMachinists,
    TypeTotal,       // ВСЕГО <type of work>
    TypeEm,          // its «эксплуатация машин и механизмов»
    TypeM,           // its «материальные ресурсы» (оборудование for equipment)
};
/** The name of an anchor in the plan; `type` only for the Type… anchors. */
std::string anchorName(Anchor a, model::WorkType type = model::WorkType::Construction);

/** The form planned (finished). talvira::Error only for a planner's own mistake. */
sheet::SheetPlan planLsr(const FormInput& in);

/** The header block's label texts, top to bottom (also read by the tests). */
const std::vector<std::string>& headerLabels();

}  // namespace talvira::lsr
