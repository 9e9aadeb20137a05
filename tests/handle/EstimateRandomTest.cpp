// Thousands of mixed appends, edits, posts, cancels, deletes and re-opens on an estimate table,
// checked after each step against a plain list of positions.
#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "storage/TableHandle.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace talvira;
using namespace talvira::storage;

namespace {

using Position = std::vector<Value>;  // the 17 bound fields, COUNT first

enum class Backend { Memory, Paradox };

class EstimateRandom : public ::testing::TestWithParam<Backend> {
protected:
    std::unique_ptr<test::MemoryTables> mem;
    std::unique_ptr<test::TempDir> dir;
    TableHandle smeta{"SmetaTable"};
    std::vector<Position> model;
    int64_t lastCount = 0;
    std::mt19937 rng{20261208};

    void SetUp() override {
        if (GetParam() == Backend::Memory) {
            mem = std::make_unique<test::MemoryTables>();
            smeta.setDatabaseName("/smeti");
        } else {
            dir = std::make_unique<test::TempDir>("talvira-handle");
            smeta.setDatabaseName(dir->path().string());
        }
        smeta.setTableName("Смета №1");
        smeta.setFieldDefs(estimate::estimateFieldDefs());
        smeta.setBoundFields(estimate::estimateBoundFields());
        smeta.createTable();
        smeta.open();
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    std::string text(size_t maxChars) {
        static const std::vector<std::string> alphabet = {"а", "б", "в", "ё", "Ж", "Я", "№", "«", "»", " ",
                                                          "a", "Z", "0", "7", "-", ".", "\"", "'"};
        const size_t n = 1 + size_t(pick(int(maxChars)));
        std::string s;
        for (size_t i = 0; i < n; ++i) s += alphabet[size_t(pick(int(alphabet.size())))];
        if (s.front() == ' ') s.front() = 'x';  // keep texts free of edge blanks
        if (s.back() == ' ') s.back() = 'x';
        return s;
    }

    Value randomValue(int field) {
        if (pick(5) == 0) return Value();
        switch (field) {
        case 1:
        case 3: return Value::string(text(50));
        case 2: return Value::string(text(pick(4) == 0 ? 4000 : 60));  // memo of any length
        default: return Value::real(double(pick(2000001) - 1000000) / 100.0);
        }
    }

    /** Writes a few random fields into the edit buffer and into `pos`. */
    void scribble(Position& pos) {
        const int n = 1 + pick(5);
        for (int i = 0; i < n; ++i) {
            const int f = 1 + pick(16);
            Value v = randomValue(f);
            smeta.setFieldValue(f, v);
            pos[size_t(f)] = v;
        }
    }

    int randomRow() { return pick(int(model.size())); }

    void checkCurrent(const char* op) {
        ASSERT_EQ(smeta.recordCount(), int(model.size())) << op;
        if (model.empty()) {
            ASSERT_TRUE(smeta.isEmpty()) << op;
            return;
        }
        const int r = smeta.recNo();
        ASSERT_GE(r, 0) << op;
        ASSERT_LT(r, int(model.size())) << op;
        for (int f = 0; f < 17; ++f) ASSERT_EQ(smeta.fieldValue(f), model[size_t(r)][size_t(f)]) << op << " field " << f;
    }

    void checkAll(const char* op) {
        ASSERT_EQ(smeta.recordCount(), int(model.size())) << op;
        for (int r = 0; r < int(model.size()); ++r)
            for (int f = 0; f < 17; ++f)
                ASSERT_EQ(smeta.valueAt(r, f), model[size_t(r)][size_t(f)]) << op << " row " << r << " field " << f;
    }
};

}  // namespace

TEST_P(EstimateRandom, MixedOperationsMatchPlainModel) {
    const int steps = 5000;
    for (int step = 0; step < steps; ++step) {
        const int op = pick(100);
        const char* name = "";
        if (op < 30) {
            name = "append+post";
            smeta.last();
            smeta.append();
            Position pos(17);
            scribble(pos);
            smeta.post();
            pos[0] = Value::integer(++lastCount);
            model.push_back(pos);
            ASSERT_EQ(smeta.recNo(), int(model.size()) - 1);
        } else if (op < 35) {
            name = "append+cancel";
            smeta.append();
            Position pos(17);
            scribble(pos);
            smeta.cancel();
        } else if (op < 40) {
            name = "append+delete";
            smeta.append();
            if (pick(2)) { Position pos(17); scribble(pos); }
            smeta.remove();  // cancels the new record
        } else if (op < 44) {
            name = "blank append left";
            smeta.append();
            smeta.first();  // an unchanged new record is dropped
        } else if (op < 60 && !model.empty()) {
            name = "edit+post";
            const int r = randomRow();
            smeta.moveTo(r);
            smeta.edit();
            scribble(model[size_t(r)]);
            smeta.post();
            ASSERT_EQ(smeta.recNo(), r);
        } else if (op < 66 && !model.empty()) {
            name = "edit+cancel";
            smeta.moveTo(randomRow());
            smeta.edit();
            Position scratch(17);
            scribble(scratch);
            smeta.cancel();
        } else if (op < 72 && model.size() > 1) {
            name = "edit then move";
            const int r = randomRow();
            smeta.moveTo(r);
            smeta.edit();
            scribble(model[size_t(r)]);
            smeta.moveTo((r + 1) % int(model.size()));  // leaving the row posts it
        } else if (op < 86 && !model.empty()) {
            name = "delete";
            const int r = randomRow();
            smeta.moveTo(r);
            if (pick(2)) smeta.edit();  // delete from an edit, as the delete button does
            smeta.remove();
            model.erase(model.begin() + r);
            ASSERT_EQ(smeta.recNo(), model.empty() ? -1 : std::min(r, int(model.size()) - 1));
        } else if (op < 95) {
            name = "walk";
            int seen = 0;
            for (smeta.first(); !smeta.eof(); smeta.next()) ++seen;
            ASSERT_EQ(seen, int(model.size()));
        } else if (op < 99) {
            name = "close+open";
            if (pick(2)) { smeta.append(); Position p(17); scribble(p); }  // dropped by close
            smeta.close();
            smeta.open();
            ASSERT_EQ(smeta.recNo(), model.empty() ? -1 : 0);
        } else {
            name = "clear";
            ControlsSuspended quiet(smeta);
            smeta.close();
            smeta.createTable();
            smeta.open();
            model.clear();
            lastCount = 0;
        }
        checkCurrent(name);
        if (step % 50 == 0) checkAll(name);
    }
    checkAll("end");
    if (dir) {
        EXPECT_TRUE(std::filesystem::exists(dir->path() / "Смета №1.DB"));
        EXPECT_EQ(smeta.tablePath(), (dir->path() / "Смета №1.DB").string());
    }
    smeta.close();
    smeta.open();
    checkAll("reopened");
}

INSTANTIATE_TEST_SUITE_P(Backends, EstimateRandom, ::testing::Values(Backend::Memory, Backend::Paradox),
                         [](const auto& p) { return p.param == Backend::Memory ? "Memory" : "Paradox"; });

TEST(EstimateTable, NormBaseTableIsRefusedAsEstimate) {
    test::MemoryTables mem;
    mem.add("/b/RABMAT.DB", {{"ID", FieldType::Long, 0}, {"TAB", FieldType::Alpha, 50}, {"NAME", FieldType::Alpha, 255}});
    TableHandle smeta;
    smeta.setDatabaseName("/b");
    smeta.setTableName("RABMAT.DB");
    smeta.setBoundFields(estimate::estimateBoundFields());
    try {
        smeta.open();
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("COUNT"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(smeta.active());
}

TEST(EstimateTable, PresentsBoundOrderNotTableOrder) {
    test::MemoryTables mem;
    TableHandle smeta;
    smeta.setDatabaseName("/s");
    smeta.setTableName("Дом");
    smeta.setFieldDefs(estimate::estimateFieldDefs());
    smeta.createTable();
    smeta.setBoundFields(estimate::estimateBoundFields());
    smeta.open();
    ASSERT_EQ(smeta.fieldCount(), 17);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(smeta.field(i).name, estimate::estimateBoundFields()[size_t(i)].name);
    EXPECT_EQ(smeta.fieldIndex("TRUDMASH"), -1);
    EXPECT_EQ(smeta.fieldIndex("_TRUDMASH"), -1);
}

TEST(EstimateTable, MemosOfAnyLengthSurviveReopenOnDisk) {
    test::TempDir dir("talvira-memo");
    TableHandle smeta;
    smeta.setDatabaseName(dir.path().string());
    smeta.setTableName("memo");
    smeta.setFieldDefs(estimate::estimateFieldDefs());
    smeta.setBoundFields(estimate::estimateBoundFields());
    smeta.createTable();
    smeta.open();
    const std::vector<size_t> lengths = {1, 9, 10, 11, 239, 240, 241, 2047, 2048, 2049, 4096, 100000};
    auto textOf = [](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += (i % 7 == 6) ? "\r\n" : (i % 2 ? "ж" : "z");
        return s;
    };
    for (size_t n : lengths) {
        smeta.append();
        smeta.setFieldValue("NAME", Value::string(textOf(n)));
        smeta.post();
    }
    // Change every other memo, shorter and longer, then read all back after re-opening.
    std::vector<size_t> now = lengths;
    for (size_t i = 0; i < now.size(); i += 2) {
        smeta.moveTo(int(i));
        smeta.edit();
        now[i] = now[i] % 3 == 0 ? now[i] / 2 + 1 : now[i] * 2;
        smeta.setFieldValue("NAME", Value::string(textOf(now[i])));
        smeta.post();
    }
    smeta.close();
    smeta.open();
    ASSERT_EQ(smeta.recordCount(), int(now.size()));
    for (size_t i = 0; i < now.size(); ++i)
        EXPECT_EQ(smeta.valueAt(int(i), 2).asString(), textOf(now[i])) << "memo " << i << " of " << now[i];
}
