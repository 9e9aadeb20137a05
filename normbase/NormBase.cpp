#include "normbase/NormBase.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"

namespace talvira::normbase {

using storage::TableHandle;
using storage::Value;

NormBase::NormBase() {
    // Collections, in the table's default (primary key) order.
    Table7.setTableName(tbl::REESTR);

    Table6.setTableName(tbl::OGL);
    Table6.setIndexName(idx::IDREESTR);
    Table6.setMasterSource(&Table7, fld::ID);

    Table2.setTableName(tbl::RABMAT);
    Table2.setIndexName(idx::IDOGL);
    Table2.setMasterSource(&Table6, fld::ID);
    Table2.setBoundFields(rateBoundFields());

    Table1.setTableName(tbl::NAME_BARE);
    Table1.setIndexFieldNames(fld::ID);
    Table1.setMasterSource(&Table2, fld::IDNAME);
    Table1.setReadOnly(true);

    Table8.setTableName(tbl::EDIZM);
    Table8.setIndexFieldNames(fld::ID);
    Table8.setMasterSource(&Table2, fld::IDEDIZM);

    Table3.setTableName(tbl::RESURS);
    Table3.setIndexName(idx::IDRAB);
    Table3.setMasterSource(&Table2, fld::ID);
    Table3.setBoundFields(resourceLineBoundFields());

    Table4.setTableName(tbl::RABMAT);
    Table4.setIndexFieldNames(fld::ID);
    Table4.setMasterSource(&Table3, fld::IDRES_RABMAT);

    Table5.setTableName(tbl::NAME);
    Table5.setIndexFieldNames(fld::ID);
    Table5.setMasterSource(&Table4, fld::IDNAME);

    Table9.setTableName(tbl::EDIZM);
    Table9.setIndexFieldNames(fld::ID);
    Table9.setMasterSource(&Table4, fld::IDEDIZM);
}

NormBase::~NormBase() = default;

TableHandle& NormBase::table(int number) {
    switch (number) {
    case 1: return Table1;
    case 2: return Table2;
    case 3: return Table3;
    case 4: return Table4;
    case 5: return Table5;
    case 6: return Table6;
    case 7: return Table7;
    case 8: return Table8;
    case 9: return Table9;
    default: throw Error("Нет таблицы Table" + std::to_string(number) + ".");
    }
}

void NormBase::setDirectory(const std::string& dir) {
    for (int i = 1; i <= 9; ++i) table(i).setDatabaseName(dir);
}

void NormBase::openAll() {
    for (int i = 1; i <= 9; ++i) table(i).open();
}

void NormBase::closeAll() {
    for (int i = 1; i <= 9; ++i) table(i).close();
}

void NormBase::setResourceFilter(bool checked) {
    if (checked) {
        Table3.setFiltered(true);
        Table3.setFilter(unaccountedFilter);
    } else {
        Table3.setFiltered(false);
    }
}

bool NormBase::isUnaccounted(const Value& vidnr) {
    return vidnr.kind() == Value::Kind::Integer ? vidnr.asInteger() == 1
           : vidnr.kind() == Value::Kind::Float ? vidnr.asFloat() == 1.0
                                                 : false;
}

}  // namespace talvira::normbase
