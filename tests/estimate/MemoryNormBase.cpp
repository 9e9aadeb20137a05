#include "tests/estimate/MemoryNormBase.h"

#include "estimate/AddPositions.h"
#include "estimate/EstimateFields.h"

namespace talvira::test {

using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::Value;

Value num(std::optional<double> v) { return v ? Value::real(*v) : Value(); }
Value integer(std::optional<int> v) { return v ? Value::integer(*v) : Value(); }
Value text(const std::string& s) { return s.empty() ? Value() : Value::string(s); }

MemoryNormBase::MemoryNormBase(const std::vector<RateRow>& rates, const std::vector<LineRow>& lines,
                               const std::vector<NameRow>& names, const std::vector<NameRow>& units) {
    const std::string base = kBase;
    std::vector<Record> rateRecs, lineRecs, nameRecs, unitRecs;
    for (const auto& r : rates)
        rateRecs.push_back({Value::integer(r.id), integer(r.idName), integer(r.idUnit), text(r.tab), num(r.ba),
                            num(r.bb), num(r.bc), num(r.bd), num(r.be), num(r.bg)});
    for (const auto& l : lines)
        lineRecs.push_back({Value::integer(l.id), Value::integer(l.rate), integer(l.resource), num(l.koll),
                            integer(l.vidnr)});
    for (const auto& n : names) nameRecs.push_back({Value::integer(n.id), text(n.name)});
    for (const auto& u : units) unitRecs.push_back({Value::integer(u.id), text(u.name)});

    mem.add(base + "/RABMAT.DB",
            {{"ID", FieldType::Long, 0}, {"IDNAME", FieldType::Long, 0}, {"IDEDIZM", FieldType::Long, 0},
             {"TAB", FieldType::Alpha, 50}, {"BA", FieldType::Number, 0}, {"BB", FieldType::Number, 0},
             {"BC", FieldType::Number, 0}, {"BD", FieldType::Number, 0}, {"BE", FieldType::Number, 0},
             {"BG", FieldType::Number, 0}},
            {primaryIndex({"ID"})}, rateRecs);
    mem.add(base + "/RESURS.DB",
            {{"ID", FieldType::Long, 0}, {"IDRAB", FieldType::Long, 0}, {"IDRES_RABMAT", FieldType::Long, 0},
             {"KOLL", FieldType::Number, 0}, {"VIDNR", FieldType::Short, 0}},
            {primaryIndex({"ID"}), secondaryIndex("IDRAB", {"IDRAB"})}, lineRecs);
    mem.add(base + "/000_NAME.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Memo, 40}},
            {primaryIndex({"ID"})}, nameRecs);
    mem.add(base + "/000_EDIZM.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 60}},
            {primaryIndex({"ID"})}, unitRecs);
    mem.add(std::string(kSmeti) + "/Дом.db", estimate::estimateFieldDefs());

    for (auto* t : {&Table2, &Table1, &Table8, &Table3, &Table4, &Table5, &Table9}) t->setDatabaseName(base);
    Table2.setTableName("RABMAT.DB");
    Table2.setIndexFieldNames("ID");
    Table1.setTableName("000_NAME");
    Table1.setIndexFieldNames("ID");
    Table1.setMasterSource(&Table2, "IDNAME");
    Table1.setReadOnly(true);
    Table8.setTableName("000_EDIZM.DB");
    Table8.setIndexFieldNames("ID");
    Table8.setMasterSource(&Table2, "IDEDIZM");
    Table3.setTableName("RESURS.DB");
    Table3.setIndexName("IDRAB");
    Table3.setMasterSource(&Table2, "ID");
    Table3.setFilter("VIDNR = 1");
    Table4.setTableName("RABMAT.DB");
    Table4.setIndexFieldNames("ID");
    Table4.setMasterSource(&Table3, "IDRES_RABMAT");
    Table5.setTableName("000_NAME.DB");
    Table5.setIndexFieldNames("ID");
    Table5.setMasterSource(&Table4, "IDNAME");
    Table9.setTableName("000_EDIZM.DB");
    Table9.setIndexFieldNames("ID");
    Table9.setMasterSource(&Table4, "IDEDIZM");

    smeta.setDatabaseName(kSmeti);
    smeta.setTableName("Дом.db");
    smeta.setBoundFields(estimate::estimateBoundFields());
}

MemoryNormBase::~MemoryNormBase() {
    // Details first: they observe their masters.
    for (auto* t : {&smeta, &Table9, &Table5, &Table4, &Table3, &Table8, &Table1, &Table2}) t->close();
}

void MemoryNormBase::open() {
    for (auto* t : {&Table1, &Table2, &Table3, &Table4, &Table5, &Table8, &Table9}) t->open();
    smeta.open();
}

void MemoryNormBase::goToRate(int id) {
    for (Table2.first(); !Table2.eof(); Table2.next())
        if (Table2.fieldValue("ID").asInteger() == id) return;
    throw std::runtime_error("no rate " + std::to_string(id));
}

void MemoryNormBase::add() {
    estimate::addPositions(Table2, Table1, Table8, Table3, Table4, Table5, Table9, smeta);
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
