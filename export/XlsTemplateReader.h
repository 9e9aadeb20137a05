#pragma once
/**
 * The template workbook read: its compound file, the workbook stream split into records and
 * substreams, the globals the writer changes (XF, SST, BOUNDSHEET, the active sheet of
 * WINDOW1) and the active sheet's cell table. The workbook stream is "Workbook" or "Book" in
 * any letter case; its BOF record says whether it is BIFF8, and it is renamed "Workbook" for
 * the file written from it.
 *
 *   WorkbookData w;  w.name = "Base/1.xls";  readTemplateFile(w, readWholeFile(path, "Шаблон"));
 *
 * Caveats: a file that is no Excel 97-2003 (BIFF8) workbook, a damaged one, one protected by
 * a password or one whose active sheet holds no cells gives talvira::Error naming the file
 * (w.name). Every count, length and offset is checked before it is used.
 */
#include "export/XlsWorkbookData.h"

#include <vector>

namespace talvira::xls {

/** Reads a whole template file into `w` (w.name names it in messages). */
void readTemplateFile(WorkbookData& w, const std::vector<uint8_t>& fileBytes);
/** Reads the bare workbook stream already in w.s. */
void readTemplateStream(WorkbookData& w);

}  // namespace talvira::xls
