#pragma once
/**
 * The local estimate in the official printed form «Локальный сметный расчет (смета)» of the
 * base-index method as an .xlsx workbook: the form planned from the computation (LsrPlan.h),
 * then written by the sheet renderer (XlsxRenderer.h).
 *
 *   lsr::FormInput in{rows, texts, params, result, facts, wording};
 *   fs::path out = lsr::exportLsrToFile(in, lsr::lsrPathFor("Дом", dir), true);  // "Дом ЛСР.xlsx"
 *
 * Caveats: the sheet holds 1 048 576 rows: an estimate that needs more is refused before
 * anything is written. The file is written under a temporary name beside the target and renamed
 * when complete; a stop asked through `progress` leaves nothing (sheet::WriteStopped).
 */
#include "export/EstimateExport.h"
#include "export/LsrPlan.h"
#include "export/XlsxRenderer.h"

#include <filesystem>
#include <string_view>

namespace talvira::lsr {

/** Writes the form into `file` (created or replaced as it stands); talvira::Error in Russian
 *  when it cannot. Prefer exportLsrToFile, which never leaves half a file. */
void writeLsrWorkbook(const FormInput& in, const std::filesystem::path& file);

/** The form written completely under a temporary name beside `outPath`, then renamed; with
 *  `keepExisting` an existing file is never replaced ("Дом ЛСР (2).xlsx" …). Returns the path
 *  written. */
std::filesystem::path exportLsrToFile(const FormInput& in, const std::filesystem::path& outPath, bool keepExisting,
                                      const sheet::Progress& progress = {});

/** "<name> ЛСР.xlsx" in `dir`, path separators in the name replaced by "_". */
std::filesystem::path lsrPathFor(std::string_view estimateName, const std::filesystem::path& dir);

/** Where the form of the estimate table `estimateTable` goes: beside it, or in the user's
 *  temporary folder when the estimate's folder is closed for writing (as the template
 *  workbook's place is chosen). */
xls::WorkbookPlace lsrPlaceFor(const std::filesystem::path& estimateTable);

}  // namespace talvira::lsr
