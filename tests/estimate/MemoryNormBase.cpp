#include "tests/estimate/MemoryNormBase.h"

#include "estimate/AddPositions.h"
#include "estimate/EstimateFields.h"
#include "normbase/NormBaseFields.h"
#include "tools/demobase/DemoBase.h"

#include <algorithm>

namespace talvira::test {

using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::Value;

Value num(std::optional<double> v) { return v ? Value::real(*v) : Value(); }
Value integer(std::optional<int> v) { return v ? Value::integer(*v) : Value(); }
Value text(const std::string& s) { return s.empty() ? Value() : Value::string(s); }

namespace {

/** The memory table of a norm base table: its full field list, keyed on ID, its indexes. */
void addTable(MemoryTables& mem, demobase::DemoTable t, const std::vector<Record>& records) {
    std::vector<storage::IndexInfo> indexes = {primaryIndex({normbase::fld::ID})};
    for (const auto& ix : demobase::demoTableIndexes(t)) indexes.push_back(secondaryIndex(ix.name, ix.fields, ix.caseInsensitive));
    mem.add(std::string(MemoryNormBase::kBase) + "/" + demobase::demoTableFile(t), demobase::demoTableFields(t), indexes,
            records);
}

}  // namespace

MemoryNormBase::MemoryNormBase(const std::vector<RateRow>& rates, const std::vector<LineRow>& lines,
                               const std::vector<NameRow>& names, const std::vector<NameRow>& units,
                               const std::string& collection) {
    namespace f = normbase::fld;
    using demobase::demoRecord;
    using demobase::DemoTable;
    constexpr int kEntry = 1;  // the one collection and contents entry: every rate is listed there
    std::vector<Record> rateRecs, lineRecs, nameRecs, unitRecs;
    for (const auto& r : rates)
        rateRecs.push_back(demoRecord(DemoTable::Rabmat, {{f::ID, Value::integer(r.id)}, {f::IDOGL, Value::integer(kEntry)},
                                                          {f::IDNAME, integer(r.idName)}, {f::IDEDIZM, integer(r.idUnit)},
                                                          {f::TAB, text(r.tab)}, {f::BA, num(r.ba)}, {f::BB, num(r.bb)},
                                                          {f::BC, num(r.bc)}, {f::BD, num(r.bd)}, {f::BE, num(r.be)},
                                                          {f::BG, num(r.bg)}, {f::BH, num(r.bh)},
                                                          {f::PREISK, text(r.preisk)}, {f::POSPREISK, text(r.pospreisk)}}));
    for (const auto& l : lines)
        lineRecs.push_back(demoRecord(DemoTable::Resurs, {{f::ID, Value::integer(l.id)}, {f::IDRAB, Value::integer(l.rate)},
                                                          {f::IDRES_RABMAT, integer(l.resource)}, {f::KOLL, num(l.koll)},
                                                          {f::VIDNR, integer(l.vidnr)}}));
    for (const auto& n : names) nameRecs.push_back(demoRecord(DemoTable::Name, {{f::ID, Value::integer(n.id)}, {f::NAME, text(n.name)}}));
    for (const auto& u : units) unitRecs.push_back(demoRecord(DemoTable::Edizm, {{f::ID, Value::integer(u.id)}, {f::NAME, text(u.name)}}));
    // Rates are held in ID order, as a keyed table keeps them.
    std::sort(rateRecs.begin(), rateRecs.end(), [](const Record& a, const Record& b) { return a[0].asInteger() < b[0].asInteger(); });

    addTable(mem, DemoTable::Reestr, {demoRecord(DemoTable::Reestr, {{f::ID, Value::integer(kEntry)}, {f::NAME, text(collection)}})});
    addTable(mem, DemoTable::Ogl, {demoRecord(DemoTable::Ogl, {{f::ID, Value::integer(kEntry)}, {f::IDREESTR, Value::integer(kEntry)},
                                                               {f::NAME, text("Таблица")}})});
    addTable(mem, DemoTable::Rabmat, rateRecs);
    addTable(mem, DemoTable::Resurs, lineRecs);
    addTable(mem, DemoTable::Name, nameRecs);
    addTable(mem, DemoTable::Edizm, unitRecs);
    mem.add(std::string(kSmeti) + "/Дом.db", estimate::estimateFieldDefs());

    base.setDirectory(kBase);
    // The text of the browser's filter, so that a test can switch it on as the check box does.
    Table3.setFilter(normbase::unaccountedFilter);
    smeta.setDatabaseName(kSmeti);
    smeta.setTableName("Дом.db");
    smeta.setBoundFields(estimate::estimateBoundFields());
}

MemoryNormBase::~MemoryNormBase() {
    smeta.close();
    base.closeAll();
}

void MemoryNormBase::open() {
    base.openAll();
    smeta.open();
}

void MemoryNormBase::goToRate(int id) {
    for (Table2.first(); !Table2.eof(); Table2.next())
        if (Table2.fieldValue("ID").asInteger() == id) return;
    throw std::runtime_error("no rate " + std::to_string(id));
}

std::vector<model::PositionData> MemoryNormBase::add(const model::EstimateParams* params) {
    return estimate::addPositions(base, smeta, params, &model::nrSpTables());
}

std::vector<Record> MemoryNormBase::positions() {
    const int row = smeta.recNo();
    std::vector<Record> out;
    for (smeta.first(); !smeta.eof(); smeta.next()) {
        Record r;
        for (int i = 0; i < smeta.fieldCount(); ++i) r.push_back(smeta.fieldValue(i));
        out.push_back(std::move(r));
    }
    if (row >= 0) smeta.moveTo(row);
    return out;
}

}  // namespace talvira::test
