// The positions that the totals follow, over a real estimate on disk: after every kind of
// change (a stored edit, an edit given up, an appended position, a new row given up, a
// deletion, changes made while the display is suspended, clearing, closing and opening) the
// followed rows equal a fresh reading, bit for bit; mere moves call nobody. And the walk to
// the next incomplete position.
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include "editing/EstimateCommands.h"
#include "editing/EstimateRows.h"
#include "editing/TotalsFollower.h"
#include "model/ResultJson.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace talvira::editing {
namespace {

using storage::TableHandle;
using storage::Value;

/** A new estimate "Дом" of `n` positions (quantities 0, 1, ...) among the memory tables, open. */
void openMemoryEstimate(TableHandle& smeta, int n) {
    estimate::bindEstimate(smeta, "/mem/Smeti", "Дом");
    estimate::createAndOpen(smeta);
    for (int i = 0; i < n; ++i) {
        smeta.append();
        smeta.setFieldValue("KOLVO", Value::real(i));
        smeta.post();
    }
}

class TotalsFollowerTest : public ::testing::Test {
protected:
    test::TempDir dir{"talvira-totals-follower"};
    TableHandle smeta{"SmetaTable"};

    void SetUp() override {
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
    }

    void addPosition(std::optional<double> kolvo, std::optional<double> stoim, double osnzp = 1, double zpmash = 0.5) {
        smeta.last();
        smeta.append();
        if (kolvo) smeta.setFieldValue("KOLVO", Value::real(*kolvo));
        if (stoim) smeta.setFieldValue("STOIM", Value::real(*stoim));
        smeta.setFieldValue("OSNZP", Value::real(osnzp));
        smeta.setFieldValue("ZPMASH", Value::real(zpmash));
        smeta.setFieldValue("TRUD", Value::real(osnzp / 7));
        smeta.post();
    }

    /** The follower's rows equal a fresh reading of the table. */
    static ::testing::AssertionResult sameAsFresh(TableHandle& t, const TotalsFollower& f) {
        TotalsFollower fresh(t, model::nrSpTables());
        fresh.setFollowing(true);
        if (f.rows().size() != fresh.rows().size())
            return ::testing::AssertionFailure() << f.rows().size() << " rows, fresh " << fresh.rows().size();
        for (size_t i = 0; i < f.rows().size(); ++i) {
            const model::PositionRow &a = f.rows()[i], &b = fresh.rows()[i];
            const double x[] = {a.quantity, a.cost, a.baseWages, a.materials, a.machines, a.machineWages, a.labour};
            const double y[] = {b.quantity, b.cost, b.baseWages, b.materials, b.machines, b.machineWages, b.labour};
            if (std::memcmp(x, y, sizeof x) != 0) return ::testing::AssertionFailure() << "row " << i << " differs";
        }
        if (f.incompleteCount() != fresh.incompleteCount())
            return ::testing::AssertionFailure() << f.incompleteCount() << " incomplete, fresh " << fresh.incompleteCount();
        for (size_t c = 0; c < f.sums().sums.size(); ++c)
            if (std::memcmp(&f.sums().sums[c].value, &fresh.sums().sums[c].value, sizeof(double)) != 0)
                return ::testing::AssertionFailure() << "sum " << c << " differs";
        return ::testing::AssertionSuccess();
    }
};

TEST_F(TotalsFollowerTest, EveryKindOfChangeIsFollowed) {
    for (int i = 0; i < 6; ++i) addPosition(i + 1, 10 * i, 3 + i);
    TotalsFollower f(smeta, model::nrSpTables());
    int calls = 0;
    f.onChanged = [&] { ++calls; };
    f.setFollowing(true);
    ASSERT_EQ(f.rows().size(), 6u);

    struct Step {
        const char* what;
        std::function<void()> run;
        int calls;  // 0: nobody is called, 1: called, -1: either (nothing stored, nothing to show)
    };
    const Step steps[] = {
        {"moves only", [&] { smeta.first(); smeta.next(); smeta.moveTo(4); smeta.last(); }, 0},
        {"a stored edit", [&] { smeta.moveTo(2); smeta.edit(); smeta.setFieldValue("KOLVO", Value::real(0.25)); smeta.post(); }, 1},
        {"an emptied quantity", [&] { smeta.moveTo(1); smeta.edit(); smeta.setFieldValue("KOLVO", Value()); smeta.post(); }, 1},
        {"an edit given up", [&] { smeta.moveTo(3); smeta.edit(); smeta.setFieldValue("STOIM", Value::real(99)); smeta.cancel(); }, -1},
        {"a position appended", [&] { addPosition(7, 0.5); }, 1},
        {"a new row given up", [&] { smeta.last(); smeta.append(); smeta.setFieldValue("KOLVO", Value::real(3)); smeta.cancel(); }, -1},
        {"a deletion", [&] { smeta.moveTo(2); deletePosition(smeta); }, 1},
        {"the last deleted", [&] { smeta.last(); deletePosition(smeta); }, 1},
        {"an edited row deleted", [&] { smeta.moveTo(0); smeta.edit(); smeta.setFieldValue("KOLVO", Value::real(5)); smeta.remove(); }, 1},
        {"changes while suspended",
         [&] {
             storage::ControlsSuspended s(smeta);
             for (int r : {0, 2}) {
                 smeta.moveTo(r);
                 smeta.edit();
                 smeta.setFieldValue("OSNZP", Value::real(1e6 + r));
                 smeta.post();
             }
             smeta.moveTo(1);
             smeta.remove();
         },
         1},
        {"an edit stored while suspended after the edit began",
         [&] {
             smeta.moveTo(0);
             smeta.edit();
             smeta.setFieldValue("STOIM", Value::real(12));
             storage::ControlsSuspended s(smeta);
             smeta.post();
             smeta.moveTo(1);
             smeta.edit();
             smeta.setFieldValue("STOIM", Value::real(13));
             smeta.post();
         },
         1},
        {"cleared", [&] { clearEstimate(smeta); }, 1},
        {"positions after clearing", [&] { addPosition(1, 2); addPosition(std::nullopt, 5); }, 1},
        {"closed", [&] { smeta.close(); }, 1},
        {"opened again", [&] { smeta.open(); }, 1},
    };
    for (const Step& s : steps) {
        calls = 0;
        s.run();
        EXPECT_TRUE(sameAsFresh(smeta, f)) << s.what;
        if (s.calls == 1) {
            EXPECT_GT(calls, 0) << s.what;
        } else if (s.calls == 0) {
            EXPECT_EQ(calls, 0) << s.what;
        }
    }
    EXPECT_EQ(f.rows().size(), 2u);
    EXPECT_EQ(f.incompleteCount(), 1);

    // Held (a rate's materials following it): every edit followed, shown once when it ends.
    calls = 0;
    {
        const TotalsFollower::Held held(f);
        for (int r : {0, 1}) {
            smeta.moveTo(r);
            smeta.edit();
            smeta.setFieldValue("KOLVO", Value::real(4 + r));
            smeta.post();
        }
        EXPECT_TRUE(sameAsFresh(smeta, f));
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(calls, 1);
}

TEST_F(TotalsFollowerTest, RandomEditsStayInStep) {
    std::mt19937 rng(20261208);
    for (int i = 0; i < 20; ++i) addPosition(i % 5, i % 3, i);
    TotalsFollower f(smeta, model::nrSpTables());
    f.setFollowing(true);
    for (int step = 0; step < 300; ++step) {
        const int n = smeta.recordCount();
        const int op = int(rng() % 6);
        if (n > 0) smeta.moveTo(int(rng() % unsigned(n)));
        switch (op) {
        case 0: case 1: case 2: {
            smeta.edit();
            const double v = double(int(rng() % 2000) - 1000) / 8;
            smeta.setFieldValue(rng() % 2 ? "KOLVO" : "ZPMASH", rng() % 5 ? Value::real(v) : Value());
            if (rng() % 4) smeta.post();
            else smeta.cancel();
            break;
        }
        case 3: addPosition(double(rng() % 4), double(rng() % 3)); break;
        case 4: if (n > 1) deletePosition(smeta); break;
        default: smeta.next(); break;
        }
        ASSERT_TRUE(sameAsFresh(smeta, f)) << "step " << step << " op " << op;
    }
}

TEST_F(TotalsFollowerTest, TheBaseIndexResultFollowsAsIfComputedAnew) {
    // Rates with their materials and positions of their own, by the base-index method; after
    // every stored edit, Add, deletion or change of a position's data the kept result is the
    // one computed from scratch.
    std::mt19937 rng(20261209);
    KeptCalc calc;
    calc.params.method = model::Method::BaseIndex;
    calc.params.indexOt = Dec7::parse("52.21");
    calc.params.indexEm = Dec7::parse("16.64");
    calc.params.indexM = Dec7::parse("8.49");
    auto appendRow = [&](const std::string& code, double kolvo, double osnzp, double mater) {
        smeta.last();
        smeta.append();
        smeta.setFieldValue("TAB", Value::string(code));
        smeta.setFieldValue("KOLVO", Value::real(kolvo));
        smeta.setFieldValue("STOIM", Value::real(osnzp + mater));
        smeta.setFieldValue("OSNZP", Value::real(osnzp));
        smeta.setFieldValue("MATER", Value::real(mater));
        smeta.post();
        return static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger());
    };
    // An Add: the rate, then its material, then what they keep beside the table (or, as a redo
    // puts them back, what they keep first: the engine numbers them one after the last).
    int32_t lastCount = 0;
    auto add = [&](TotalsFollower* f, bool dataFirst) {
        const bool mounting = rng() % 3 == 0;
        const std::string code = mounting ? "ФЕРм08-01" : "ФЕР11-01";
        model::PositionData r, m;
        r.count = lastCount + 1, r.code = code;
        r.nrRow = r.spRow = mounting ? "049.3" : "011.0";
        m.count = lastCount + 2, m.code = "ФССЦ-1", m.parent = r.count, m.perUnit = Dec7::parse("1.02");
        auto tell = [&] {
            calc.positions.push_back(r);
            calc.positions.push_back(m);
            if (f) f->setPositionsData({r, m});
        };
        if (dataFirst) tell();
        EXPECT_EQ(appendRow(code, double(rng() % 5), 10 + rng() % 90 / 8.0, 3), r.count);
        EXPECT_EQ(appendRow("ФССЦ-1", 0, 0, 12.34), m.count);
        lastCount = m.count;
        if (!dataFirst) tell();
    };
    for (int i = 0; i < 8; ++i) add(nullptr, false);
    lastCount = appendRow("Своя", 2, 0, 500);  // a material of its own
    TotalsFollower f(smeta, model::nrSpTables());
    f.setCalc(calc);
    f.setFollowing(true);
    auto same = [&](int step, int op) {
        const std::vector<model::PositionRow> rows = readPositionRows(smeta);
        ASSERT_NE(f.baseIndex(), nullptr);
        const std::string kept = model::toJson(*f.baseIndex(), rows);
        const std::string fresh = model::toJson(model::computeBaseIndex(rows, calc.positions, calc.params, model::nrSpTables()), rows);
        ASSERT_EQ(kept, fresh) << "step " << step << " op " << op;
    };
    same(-1, -1);
    for (int step = 0; step < 200; ++step) {
        const int n = smeta.recordCount();
        const int op = int(rng() % 8);
        smeta.moveTo(int(rng() % unsigned(n)));
        switch (op) {
        case 0: case 1: case 2: {
            smeta.edit();
            const char* field = op == 0 ? "KOLVO" : op == 1 ? "OSNZP" : "STOIM";
            smeta.setFieldValue(field, Value::real(double(rng() % 400) / 8 - (rng() % 20 == 0 ? 60 : 0)));
            smeta.post();
            break;
        }
        case 3: add(&f, false); break;
        case 6: add(&f, true); break;
        case 4: if (n > 4) deletePosition(smeta); break;
        case 5: {  // a coefficient, another row or another type of work for a position that has data
            model::PositionData e = calc.positions[rng() % calc.positions.size()];
            if (rng() % 2) e.coefficients = {{Dec7::parse(rng() % 5 ? "1.15" : "0"), model::OT | model::ZT, ""}};
            else e.nrRow = rng() % 4 ? "008.0" : "";
            if (rng() % 3 == 0) e.workType = model::WorkType::Other;
            for (auto& k : calc.positions)
                if (k.count == e.count) { k = e; break; }
            f.setPositionData(e);
            break;
        }
        default:
            calc.params.territory = static_cast<model::Territory>(1 + rng() % 3);
            f.setCalc(calc);
            break;
        }
        same(step, op);
        if (HasFatalFailure()) return;
    }
    // By the template there is no such result.
    calc.params.method = model::Method::Template;
    f.setCalc(calc);
    EXPECT_EQ(f.baseIndex(), nullptr);
}

TEST(TotalsFollower, AStoredEditAnAppendedAndADeletedPositionAreFollowedAlone) {
    // An estimate of 500 positions: following a stored change must not read them all again.
    test::MemoryTables mem;
    TableHandle smeta("SmetaTable");
    openMemoryEstimate(smeta, 500);
    test::MemoryTableData& data = *mem.find("/mem/Smeti/Дом.db");
    TotalsFollower f(smeta, model::nrSpTables());
    f.setFollowing(true);
    auto readsFor = [&](const std::function<void()>& change) {
        const uint64_t before = data.reads;
        change();
        return data.reads - before;
    };
    EXPECT_LT(readsFor([&] {
        smeta.moveTo(250);
        smeta.edit();
        smeta.setFieldValue("STOIM", Value::real(3));
        smeta.post();
    }), 10u);
    EXPECT_LT(readsFor([&] {
        smeta.last();
        smeta.append();
        smeta.setFieldValue("STOIM", Value::real(3));
        smeta.post();
    }), 10u);
    EXPECT_EQ(f.rows().size(), 501u);
    EXPECT_EQ(f.rows()[250].cost, 3);
    EXPECT_LT(readsFor([&] { deletePosition(smeta); }), 10u);  // a deletion drops its row alone
    EXPECT_EQ(f.rows().size(), 500u);
}

TEST_F(TotalsFollowerTest, StoredPositionsAreTakenFromTheNoticeNotReadAgain) {
    // Before, the follower read again each position the notice had just brought it. Two probes
    // around it see how many records were read while it took the notice.
    struct Probe : storage::TableObserver {
        const test::MemoryTableData* data = nullptr;
        uint64_t reads = 0;
        void tableChanged(TableHandle&, const storage::TableChange&) override { reads = data->reads; }
    };
    const auto defs = estimate::estimateFieldDefs();
    storage::Record extra(defs.size());
    for (size_t i = 0; i < defs.size(); ++i)
        if (defs[i].name == "KOLVO") extra[i] = Value::real(2);
    struct Case {
        const char* what;
        std::function<void(TableHandle&)> change;
    };
    const std::vector<Case> cases = {
        {"a stored edit", [](TableHandle& t) { t.moveTo(20); t.edit(); t.setFieldValue("STOIM", Value::real(3)); t.post(); }},
        {"a new position", [](TableHandle& t) { t.last(); t.append(); t.setFieldValue("KOLVO", Value::real(1)); t.post(); }},
        {"positions appended", [&](TableHandle& t) { t.appendRecords({extra, extra}); }},
        {"a position put back", [&](TableHandle& t) { t.insertRecord(5, extra); }},
    };
    for (const Case& c : cases) {
        test::MemoryTables mem;
        TableHandle table("SmetaTable");
        openMemoryEstimate(table, 40);
        Probe before, after;
        before.data = after.data = mem.find("/mem/Smeti/Дом.db");
        table.addObserver(&before);
        TotalsFollower f(table, model::nrSpTables());
        f.setFollowing(true);
        table.addObserver(&after);
        c.change(table);
        EXPECT_GT(after.reads, 0u) << c.what;
        EXPECT_EQ(after.reads, before.reads) << c.what;
        EXPECT_TRUE(sameAsFresh(table, f)) << c.what;
        table.removeObserver(&before);
        table.removeObserver(&after);
    }
}

TEST_F(TotalsFollowerTest, NextIncompleteGoesRoundFromTheCurrentOne) {
    // rows: 0 complete, 1 quantity empty, 2 complete, 3 cost 0, 4 complete
    addPosition(1, 1);
    addPosition(std::nullopt, 1);
    addPosition(-1, 0.001);
    addPosition(2, 0);
    addPosition(1, 1);
    const std::pair<int, int> walk[] = {{-1, 1}, {0, 1}, {1, 3}, {2, 3}, {3, 1}, {4, 1}};
    for (auto [current, next] : walk) EXPECT_EQ(nextIncompleteRow(smeta, current), next) << current;
    smeta.moveTo(3);
    smeta.edit();
    smeta.setFieldValue("STOIM", Value::real(4));
    smeta.post();
    EXPECT_EQ(nextIncompleteRow(smeta, 1), 1);  // the only one: found again
    smeta.moveTo(1);
    smeta.edit();
    smeta.setFieldValue("KOLVO", Value::real(3));
    smeta.post();
    EXPECT_EQ(nextIncompleteRow(smeta, 1), -1);
    smeta.close();
    EXPECT_EQ(nextIncompleteRow(smeta, 0), -1);
}

TEST(AmountText, TwoDecimalsWithTheUsersSeparatorAndThousandsApart) {
    struct Case {
        xls::BlockAmount amount;
        char sep;
        const char* text;
    };
    const Case cases[] = {
        {xls::BlockAmount::number(10200.286272), ',', "10\u00A0200,29"},
        {xls::BlockAmount::number(10200.286272), '.', "10\u00A0200.29"},
        {xls::BlockAmount::number(-123456.5), ',', "-123\u00A0456,50"},
        {xls::BlockAmount::number(2.345), ',', "2,35"},
        {xls::BlockAmount::number(-0.001), ',', "-0,00"},
        {xls::BlockAmount::number(0), ',', "0,00"},
        {xls::BlockAmount::number(1e20), ',', "1E20"},
        {xls::BlockAmount::errorValue(xls::CellError::Value), ',', "#ЗНАЧ!"},
        {xls::BlockAmount::failure("'x' is not a valid floating point value"), ',', "'x' is not a valid floating point value"},
        {xls::BlockAmount{}, ',', ""},
    };
    for (const Case& c : cases) EXPECT_EQ(amountText(c.amount, c.sep), c.text) << c.text;
}

}  // namespace
}  // namespace talvira::editing
