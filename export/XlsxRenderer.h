#pragma once
/**
 * Any sheet plan written as an .xlsx workbook over libxlsxwriter: one workbook format per style
 * of the plan, made once; texts, numbers, formulas stored with the value the program computed,
 * merged ranges, row heights (as planned, or as the wrapped texts need), columns and the page.
 * Numbers are written with a decimal point whatever the program's locale.
 *
 *   sheet::SheetPlan plan = lsr::planLsr(input);
 *   sheet::renderXlsx(plan, tmpPath, targetPath, [&](size_t done, size_t all) { return !stop; });
 *
 * Caveats: the workbook is streamed row by row (one row in memory); a plan longer than a sheet
 * (1 048 576 rows) is refused before anything is written. Failures throw talvira::Error in
 * Russian naming `shownAs`; a stop asked by `progress` throws WriteStopped. The file is left as
 * far as it got: write through an atomic writer, which removes it.
 */
#include "common/Error.h"
#include "export/SheetPlan.h"

#include <cstddef>
#include <filesystem>
#include <functional>

namespace talvira::sheet {

/** Called now and then with the share of the work done (`done` of `total`); false stops the
 *  write. Packing the file at the end counts as a quarter of the lines. */
using Progress = std::function<bool(size_t done, size_t total)>;

/** The write was stopped by its progress callback. */
class WriteStopped : public Error {
public:
    WriteStopped() : Error("Запись файла остановлена.") {}
};

/** Writes `plan` (finished) into `file`; messages name the file as `shownAs`. */
void renderXlsx(const SheetPlan& plan, const std::filesystem::path& file, const std::filesystem::path& shownAs,
                const Progress& progress = {});

}  // namespace talvira::sheet
