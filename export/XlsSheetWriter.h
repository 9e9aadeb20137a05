#pragma once
/**
 * The workbook stream written back: the template's globals with the new cell formats appended
 * after the last XF (XFCRC recounted and its checksum recomputed, so that XFExt stays valid),
 * the shared string table rebuilt (SST, CONTINUE, EXTSST; only a string's character array goes
 * on in a CONTINUE record, with its flags byte repeated; formatting runs and phonetic blocks
 * are never cut inside a field) and RECALCID asking for recalculation; the active sheet's cell table in blocks of 32 rows (ROW records,
 * cells, DBCELL) with INDEX and DIMENSIONS to match; every other sheet byte for byte but its
 * INDEX offsets; BOUNDSHEET offsets set last.
 *
 *   w.evaluateAll();  std::vector<uint8_t> stream = writeWorkbookStream(w);
 *
 * Caveats: formulas must have been evaluated (their stored results are written); same data,
 * same bytes.
 */
#include "export/XlsWorkbookData.h"

#include <vector>

namespace talvira::xls {

std::vector<uint8_t> writeWorkbookStream(const WorkbookData& w);

}  // namespace talvira::xls
