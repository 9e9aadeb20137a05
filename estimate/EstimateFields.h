#pragma once
/**
 * The format of an estimate table: the names of its fields, its 19 field definitions in table
 * order (used to create and to clear an estimate) and the 17 fields bound by name when an
 * estimate is opened, in the order the handle presents them (the workbook export relies on
 * that order).
 *
 *   smeta.setFieldValue(estimate::fld::KOLVO, Value::real(2));
 */
#include "storage/FieldDef.h"
#include "storage/TableHandle.h"

#include <vector>

namespace talvira::estimate {

/** The estimate's field names. The underscore twins of the cost fields are U_...: they are
 *  created with every estimate and never written. */
namespace fld {
inline constexpr const char* COUNT = "COUNT";
inline constexpr const char* TAB = "TAB";
inline constexpr const char* NAME = "NAME";
inline constexpr const char* IZM = "IZM";
inline constexpr const char* KOLVO = "KOLVO";
inline constexpr const char* STOIM = "STOIM";
inline constexpr const char* OSNZP = "OSNZP";
inline constexpr const char* MATER = "MATER";
inline constexpr const char* EXPLMASH = "EXPLMASH";
inline constexpr const char* ZPMASH = "ZPMASH";
inline constexpr const char* TRUD = "TRUD";
inline constexpr const char* TRUDMASH = "TRUDMASH";
inline constexpr const char* U_STOIM = "_STOIM";
inline constexpr const char* U_OSNZP = "_OSNZP";
inline constexpr const char* U_MATER = "_MATER";
inline constexpr const char* U_EXPLMASH = "_EXPLMASH";
inline constexpr const char* U_ZPMASH = "_ZPMASH";
inline constexpr const char* U_TRUD = "_TRUD";
inline constexpr const char* U_TRUDMASH = "_TRUDMASH";
}  // namespace fld

/** COUNT, TAB, NAME, IZM, KOLVO, STOIM, OSNZP, MATER, EXPLMASH, ZPMASH, TRUD, TRUDMASH,
 *  _STOIM, _OSNZP, _MATER, _EXPLMASH, _ZPMASH, _TRUD, _TRUDMASH. */
const std::vector<storage::FieldDef>& estimateFieldDefs();

/** COUNT (read-only), TAB, NAME, IZM, KOLVO, STOIM, OSNZP, MATER, EXPLMASH, ZPMASH, _STOIM,
 *  _OSNZP, _MATER, _EXPLMASH, _ZPMASH, TRUD, _TRUD: each of the kind its definition stores. */
const std::vector<storage::BoundField>& estimateBoundFields();

}  // namespace talvira::estimate
