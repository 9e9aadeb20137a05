// The walk over the estimate table that feeds the workbook: the fields by name into the row's
// members, the memo whole, an empty number as 0; the table back where it was and its controls
// resumed, also when a read fails half-way.
#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "estimate/EstimateFile.h"
#include "tests/export/EstimatePositions.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

namespace talvira::test {
namespace {

using storage::Value;

void append(storage::TableHandle& smeta, const std::vector<model::PositionRow>& rows) {
    for (const model::PositionRow& p : rows) {
        smeta.append();
        smeta.setFieldValue("TAB", Value::string(p.code));
        smeta.setFieldValue("NAME", Value::string(p.name));
        smeta.setFieldValue("IZM", Value::string(p.unit));
        if (p.quantity != 0) smeta.setFieldValue("KOLVO", Value::real(p.quantity));  // else stays empty
        smeta.setFieldValue("STOIM", Value::real(p.cost));
        smeta.setFieldValue("OSNZP", Value::real(p.baseWages));
        smeta.setFieldValue("MATER", Value::real(p.materials));
        smeta.setFieldValue("EXPLMASH", Value::real(p.machines));
        smeta.setFieldValue("ZPMASH", Value::real(p.machineWages));
        smeta.setFieldValue("TRUD", Value::real(p.labour));
        smeta.setFieldValue("_STOIM", Value::real(999));  // never read
        smeta.post();
    }
}

void expectRows(const std::vector<model::PositionRow>& got, const std::vector<model::PositionRow>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].code, want[i].code) << i;
        EXPECT_EQ(got[i].name, want[i].name) << i;
        EXPECT_EQ(got[i].unit, want[i].unit) << i;
        const std::pair<double, double> numbers[] = {
            {got[i].quantity, want[i].quantity}, {got[i].cost, want[i].cost},
            {got[i].baseWages, want[i].baseWages}, {got[i].materials, want[i].materials},
            {got[i].machines, want[i].machines}, {got[i].machineWages, want[i].machineWages},
            {got[i].labour, want[i].labour}};
        for (auto [g, w] : numbers) EXPECT_DOUBLE_EQ(g, w) << i;
    }
}

TEST(EstimateRows, ReadFromAnEstimateTableOnDisk) {
    TempDir dir("talvira-smeta");
    {
        storage::TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
        append(smeta, threePositions());
    }
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, dir.path().string(), "Дом.db");
    smeta.open();
    smeta.first();
    smeta.next();  // the user stands on the second position
    const int before = smeta.recNo();

    expectRows(editing::readPositionRows(smeta), threePositions());
    EXPECT_EQ(smeta.recNo(), before);
    EXPECT_FALSE(smeta.controlsDisabled());
}

/** A table file whose reads fail at one record, as a damaged block would. */
class FailingFile : public storage::TableFile {
public:
    FailingFile(std::unique_ptr<storage::TableFile> f, uint32_t failAt) : f_(std::move(f)), failAt_(failAt) {}
    const storage::TableInfo& info() const override { return f_->info(); }
    const std::vector<storage::FieldDef>& fields() const override { return f_->fields(); }
    int fieldIndex(std::string_view n) const override { return f_->fieldIndex(n); }
    uint32_t recordCount() const override { return f_->recordCount(); }
    const std::vector<storage::IndexInfo>& indexes() const override { return f_->indexes(); }
    std::optional<storage::RecordLoc> first() const override { return f_->first(); }
    std::optional<storage::RecordLoc> last() const override { return f_->last(); }
    std::optional<storage::RecordLoc> next(storage::RecordLoc l) const override { return f_->next(l); }
    std::optional<storage::RecordLoc> prior(storage::RecordLoc l) const override { return f_->prior(l); }
    std::optional<storage::RecordLoc> locate(uint32_t o) const override { return f_->locate(o); }
    uint32_t ordinalOf(storage::RecordLoc l) const override { return f_->ordinalOf(l); }
    storage::Record read(storage::RecordLoc l) const override {
        check(l);
        return f_->read(l);
    }
    storage::Value readField(storage::RecordLoc l, int field) const override {
        check(l);
        return f_->readField(l, field);
    }
    std::vector<storage::RecordLoc> lookup(std::string_view i, const std::vector<storage::Value>& k) const override {
        return f_->lookup(i, k);
    }
    std::vector<storage::RecordLoc> scan(std::string_view i) const override { return f_->scan(i); }
    storage::RecordLoc append(storage::Record& r) override { return f_->append(r); }
    storage::RecordLoc update(storage::RecordLoc l, const storage::Record& r) override { return f_->update(l, r); }
    std::optional<storage::RecordLoc> remove(storage::RecordLoc l) override { return f_->remove(l); }
    storage::RecordLoc insert(uint32_t o, storage::Record& r) override { return f_->insert(o, r); }

    static bool armed;

private:
    void check(storage::RecordLoc l) const {
        if (armed && f_->ordinalOf(l) == failAt_) throw Error("Таблица «Дом.db» повреждена");
    }
    std::unique_ptr<storage::TableFile> f_;
    uint32_t failAt_;
};
bool FailingFile::armed = false;

class FailingTables : public MemoryTables {
public:
    std::unique_ptr<storage::TableFile> open(const std::string& path, storage::OpenMode mode) override {
        return std::make_unique<FailingFile>(MemoryTables::open(path, mode), 2);
    }
};

TEST(EstimateRows, AFailedReadLeavesTheTableWhereItWasAndItsControlsResumed) {
    FailingTables mem;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, "/mem/Smeti", "Дом");
    estimate::createAndOpen(smeta);
    append(smeta, threePositions());
    smeta.first();  // the user stands on the first position
    const int before = smeta.recNo();

    FailingFile::armed = true;
    std::string error;
    try {
        editing::readPositionRows(smeta);
    } catch (const Error& e) {
        error = e.what();
    }
    FailingFile::armed = false;
    EXPECT_EQ(error, "Таблица «Дом.db» повреждена");
    EXPECT_EQ(smeta.recNo(), before);
    EXPECT_FALSE(smeta.controlsDisabled());
    EXPECT_EQ(smeta.fieldValue("TAB").asString(), threePositions()[0].code);
    // and the walk works again once the table reads
    expectRows(editing::readPositionRows(smeta), threePositions());
}

TEST(EstimateRows, AnEmptyEstimateGivesNoRows) {
    MemoryTables mem;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, "/mem/Smeti", "Пусто");
    estimate::createAndOpen(smeta);
    EXPECT_TRUE(editing::readPositionRows(smeta).empty());
    EXPECT_FALSE(smeta.controlsDisabled());
}

}  // namespace
}  // namespace talvira::test
