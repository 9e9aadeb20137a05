#pragma once
/**
 * Names of the norm base tables, of the fields the program reads, and the field lists bound to
 * the rate handle (82 fields) and the resource-line handle (15 fields), in table order.
 *
 *   nb.Table2.fieldValue(normbase::fld::BA);
 */
#include "storage/FieldDef.h"
#include "storage/TableHandle.h"

#include <vector>

namespace talvira::normbase {

namespace tbl {
inline constexpr const char* REESTR = "000_REESTR.DB";
inline constexpr const char* OGL = "OGL.DB";
inline constexpr const char* RABMAT = "RABMAT.DB";
inline constexpr const char* RESURS = "RESURS.DB";
inline constexpr const char* NAME_BARE = "000_NAME";  // Table1 names it without extension
inline constexpr const char* NAME = "000_NAME.DB";
inline constexpr const char* EDIZM = "000_EDIZM.DB";
}  // namespace tbl

namespace idx {
inline constexpr const char* RABMAT_PRIMARY = "Table2Index1";
inline constexpr const char* IDNAME_INDEX = "IDNAME_INDEX";
inline constexpr const char* IDOGL = "IDOGL";
inline constexpr const char* IDREESTR = "IDREESTR";
inline constexpr const char* IDRAB = "IDRAB";
}  // namespace idx

namespace fld {
inline constexpr const char* ID = "ID";
inline constexpr const char* NAME = "NAME";
inline constexpr const char* IDREESTR = "IDREESTR";
inline constexpr const char* IDOGL = "IDOGL";
inline constexpr const char* IDNAME = "IDNAME";
inline constexpr const char* IDEDIZM = "IDEDIZM";
inline constexpr const char* TAB = "TAB";
inline constexpr const char* ALTTAB = "ALTTAB";
inline constexpr const char* BA = "BA";
inline constexpr const char* BB = "BB";
inline constexpr const char* BC = "BC";
inline constexpr const char* BD = "BD";
inline constexpr const char* BE = "BE";
inline constexpr const char* BF = "BF";
inline constexpr const char* BG = "BG";
inline constexpr const char* IDRAB = "IDRAB";
inline constexpr const char* IDRES_RABMAT = "IDRES_RABMAT";
inline constexpr const char* KOLL = "KOLL";
inline constexpr const char* VIDNR = "VIDNR";
}  // namespace fld

/** The 82 fields of a rate record, bound to Table2 by name and type. */
const std::vector<storage::BoundField>& rateBoundFields();
/** The 15 fields of a resource line, bound to Table3 by name and type. */
const std::vector<storage::BoundField>& resourceLineBoundFields();
/** The field definitions of the rate table (Table2's declared fields; text sizes included). */
const std::vector<storage::FieldDef>& rateFieldDefs();
/** The four indexes of the rate table: primary on ID, IDNAME_INDEX (case-insensitive), IDOGL, IDREESTR. */
const std::vector<storage::IndexInfo>& rateIndexDefs();

}  // namespace talvira::normbase
