#pragma once
/**
 * Names of the norm base tables, of its indexes and of the fields the program reads, and the one
 * list of the rate fields (82) and of the resource-line fields (15), in table order: bound by
 * name and type to the rate handle and the resource-line handle, and stored by whatever writes
 * a norm base (the demo base generator, test bases).
 *
 *   nb.Table2.fieldValue(normbase::fld::BA);
 */
#include "storage/FieldDef.h"
#include "storage/TableHandle.h"

#include <cstdint>
#include <string>
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

/** The norm base of the program started in `startDir`: the folder "Base" there (joined as paths
 *  join, so a start directory at the root or with a trailing separator gives no doubled one). */
std::string baseDirectory(const std::string& startDir);
/** The workbook template that comes with the norm base: "1.xls" in its folder. */
std::string templatePath(const std::string& startDir);

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
/** A rate's labour of machinists per unit (чел.-ч), as the import writes it; 0 in other bases. */
inline constexpr const char* BH = "BH";
/** The record's kind (RecordKind): a rate, a material, a machine, labour. */
inline constexpr const char* RABMAT = "RABMAT";
/** A norm's overhead and profit references as the official base names them, several joined by
 *  "; " ("Пр/812-011.0", "Пр/774-011.0"); empty in other bases. */
inline constexpr const char* PREISK = "PREISK";
inline constexpr const char* POSPREISK = "POSPREISK";
inline constexpr const char* IDRAB = "IDRAB";
inline constexpr const char* IDRES_RABMAT = "IDRES_RABMAT";
inline constexpr const char* KOLL = "KOLL";
inline constexpr const char* VIDNR = "VIDNR";
/** A resource line's mark that its cost is in the unit price its rate carries itself (a ФЕР
 *  norm's accounted line): 1; the resource then needs no price of its own. The import writes
 *  it; 0 or empty in other bases. */
inline constexpr const char* UCH = "UCH";
inline constexpr const char* IDRES_REESTR = "IDRES_REESTR";
}  // namespace fld

/** What a record of RABMAT is, kept in its field RABMAT and in the field RABMAT of a resource
 *  line (the kind of its resource). The program's windows do not read it; the import and the
 *  demo base write it, the search and the benchmarks tell rates from resources by it. */
enum class RecordKind : int32_t { Rate = 1, Material = 2, Machine = 3, Labour = 4 };

/** The kind a stored field of type `t` binds as (Long: Integer, Short: SmallInt, Number: Float,
 *  Timestamp: DateTime, AutoInc, Memo; every other type: String). */
storage::BoundKind boundKindOf(storage::FieldType t);

/** The 82 fields of a rate record, bound to Table2 by name and type. */
const std::vector<storage::BoundField>& rateBoundFields();
/** The 15 fields of a resource line, bound to Table3 by name and type. */
const std::vector<storage::BoundField>& resourceLineBoundFields();
/** The 82 rate fields as a table stores them (types and text sizes), in table order. */
const std::vector<storage::FieldDef>& rateFieldDefs();
/** The 15 resource-line fields as a table stores them, in table order. */
const std::vector<storage::FieldDef>& resourceLineFieldDefs();

}  // namespace talvira::normbase
