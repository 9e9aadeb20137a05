#pragma once
/**
 * The norm base as the main window reads it: nine table handles linked master to detail
 * (collection → contents entry → rate → name, unit, resource lines → the resource's own rate →
 * its name and unit), and the browser's rules that need no widget.
 *
 *   normbase::NormBase nb;
 *   nb.setDirectory(normbase::baseDirectory(startDir));
 *   nb.openAll();                       // Table1 .. Table9; throws at the first that fails
 *   nb.Table6.moveTo(2);                // Table2, Table3, Table4, ... follow
 *
 * Caveats: a handle that failed to open, and those after it, stay closed; the ones opened
 * before stay open. Nothing here writes to the base.
 */
#include "storage/TableHandle.h"

#include <array>
#include <string>

namespace talvira::normbase {

class NormBase {
public:
    NormBase();
    ~NormBase();
    NormBase(const NormBase&) = delete;
    NormBase& operator=(const NormBase&) = delete;

    /** Table7: collections ("000_REESTR.DB"), primary-key order. */
    storage::TableHandle Table7{"Table7"};
    /** Table6: contents entries ("OGL.DB") of Table7's collection, index IDREESTR. */
    storage::TableHandle Table6{"Table6"};
    /** Table2: rates ("RABMAT.DB") of Table6's entry, index IDOGL; 82 bound fields. */
    storage::TableHandle Table2{"Table2"};
    /** Table1: name record ("000_NAME", read-only) of Table2's rate (ID = IDNAME). */
    storage::TableHandle Table1{"Table1"};
    /** Table8: unit record ("000_EDIZM.DB") of Table2's rate (ID = IDEDIZM). */
    storage::TableHandle Table8{"Table8"};
    /** Table3: resource lines ("RESURS.DB") of Table2's rate, index IDRAB; 15 bound fields. */
    storage::TableHandle Table3{"Table3"};
    /** Table4: the own rate ("RABMAT.DB") of Table3's line (ID = IDRES_RABMAT). */
    storage::TableHandle Table4{"Table4"};
    /** Table5: name record ("000_NAME.DB") of Table4's rate (ID = IDNAME). */
    storage::TableHandle Table5{"Table5"};
    /** Table9: unit record ("000_EDIZM.DB") of Table4's rate (ID = IDEDIZM). */
    storage::TableHandle Table9{"Table9"};

    /** Table1 .. Table9 by number (1-based). */
    storage::TableHandle& table(int number);

    /** Points all nine handles at `dir`; takes effect at the next open. */
    void setDirectory(const std::string& dir);
    /** Opens Table1 .. Table9 in that order. The first failure propagates (talvira::Error);
     *  handles opened before it stay open, it and those after it stay closed. */
    void openAll();
    /** Closes Table1 .. Table9 in that order. */
    void closeAll();

    /** The resource filter switch: checked → Table3 filtered, then filter "VIDNR = 1";
     *  unchecked → Table3 unfiltered, the filter text kept. Table3 goes to its first line. */
    void setResourceFilter(bool checked);
    /** Whether a resource line with this VIDNR is unaccounted: only the value 1 is; empty
     *  and every other value are accounted. */
    static bool isUnaccounted(const storage::Value& vidnr);
};

/** The filter text of the resource filter switch. */
inline constexpr const char* unaccountedFilter = "VIDNR = 1";

}  // namespace talvira::normbase
