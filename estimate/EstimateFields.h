#pragma once
/**
 * The format of an estimate table: its 19 field definitions in table order (used to create and
 * to clear an estimate) and the 17 fields bound by name when an estimate is opened, in the
 * order the handle presents them (the workbook export relies on that order).
 */
#include "storage/FieldDef.h"
#include "storage/TableHandle.h"

#include <vector>

namespace talvira::estimate {

/** COUNT, TAB, NAME, IZM, KOLVO, STOIM, OSNZP, MATER, EXPLMASH, ZPMASH, TRUD, TRUDMASH,
 *  _STOIM, _OSNZP, _MATER, _EXPLMASH, _ZPMASH, _TRUD, _TRUDMASH. */
const std::vector<storage::FieldDef>& estimateFieldDefs();

/** COUNT (read-only), TAB, NAME, IZM, KOLVO, STOIM, OSNZP, MATER, EXPLMASH, ZPMASH, _STOIM,
 *  _OSNZP, _MATER, _EXPLMASH, _ZPMASH, TRUD, _TRUD. */
const std::vector<storage::BoundField>& estimateBoundFields();

}  // namespace talvira::estimate
