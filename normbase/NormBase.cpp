#include "normbase/NormBase.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"

namespace talvira::normbase {

using storage::TableHandle;
using storage::Value;

namespace {

/** A detail of `master` ordered and matched by the secondary index `index`: it holds the
 *  records whose index field equals `masterField` of the master's current record. */
void detailByIndex(TableHandle& h, const char* table, const char* index, TableHandle& master, const char* masterField) {
    h.setTableName(table);
    h.setIndexName(index);
    h.setMasterSource(&master, masterField);
}

/** A detail of `master` that holds the record whose ID equals `masterField` of the master's
 *  current record. */
void detailById(TableHandle& h, const char* table, TableHandle& master, const char* masterField) {
    h.setTableName(table);
    h.setIndexFieldNames(fld::ID);
    h.setMasterSource(&master, masterField);
}

}  // namespace

NormBase::NormBase() {
    // Collections, in the table's default (primary key) order.
    Table7.setTableName(tbl::REESTR);
    detailByIndex(Table6, tbl::OGL, idx::IDREESTR, Table7, fld::ID);
    detailByIndex(Table2, tbl::RABMAT, idx::IDOGL, Table6, fld::ID);
    Table2.setBoundFields(rateBoundFields());
    detailById(Table1, tbl::NAME_BARE, Table2, fld::IDNAME);
    Table1.setReadOnly(true);
    detailById(Table8, tbl::EDIZM, Table2, fld::IDEDIZM);
    detailByIndex(Table3, tbl::RESURS, idx::IDRAB, Table2, fld::ID);
    Table3.setBoundFields(resourceLineBoundFields());
    detailById(Table4, tbl::RABMAT, Table3, fld::IDRES_RABMAT);
    detailById(Table5, tbl::NAME, Table4, fld::IDNAME);
    detailById(Table9, tbl::EDIZM, Table4, fld::IDEDIZM);
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
