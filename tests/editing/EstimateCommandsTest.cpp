// The estimate window's commands without the window: incomplete positions, deleting, storing
// an edit in progress (in memory), and clearing on real files, where a failure must leave the
// old estimate as it was.
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <unistd.h>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;
using storage::TableHandle;
using storage::Value;

TEST(IncompletePosition, QuantityOrCostEmptyOrZero) {
    struct Case {
        const char* what;
        Value kolvo, stoim;
        bool incomplete;
    };
    const Case cases[] = {
        {"both set", Value::real(2), Value::real(10), false},
        {"quantity empty", Value(), Value::real(10), true},
        {"quantity 0", Value::real(0), Value::real(10), true},
        {"cost empty", Value::real(2), Value(), true},
        {"cost 0", Value::real(2), Value::real(0), true},
        {"both empty", Value(), Value(), true},
        {"small and negative", Value::real(0.001), Value::real(-5), false},
        {"tiny", Value::real(1e-300), Value::real(1e-300), false},
        {"negative zero", Value::real(-0.0), Value::real(1), true},
    };
    for (const auto& c : cases) EXPECT_EQ(isIncomplete(c.kolvo, c.stoim), c.incomplete) << c.what;
}

/** An estimate in memory with `n` positions. */
class MemoryEstimate : public ::testing::Test {
protected:
    test::MemoryTables mem;
    TableHandle smeta{"SmetaTable"};

    void open(int n) {
        estimate::bindEstimate(smeta, "/mem/Smeti", "Дом");
        estimate::createAndOpen(smeta);
        for (int i = 0; i < n; ++i) {
            smeta.append();
            smeta.setFieldValue("TAB", Value::string("T" + std::to_string(i)));
            smeta.post();
        }
        smeta.first();
    }
    std::vector<std::string> tabs() {
        std::vector<std::string> out;
        for (smeta.first(); !smeta.eof(); smeta.next()) out.push_back(smeta.fieldAsString("TAB"));
        return out;
    }
};

TEST_F(MemoryEstimate, DeleteRemovesTheCurrentPosition) {
    open(3);
    smeta.moveTo(1);
    deletePosition(smeta);
    EXPECT_EQ(smeta.fieldAsString("TAB"), "T2");  // the cursor goes to the following position
    EXPECT_EQ(tabs(), (std::vector<std::string>{"T0", "T2"}));
}

TEST_F(MemoryEstimate, DeleteOnTheLastPositionGoesToTheNewLastOne) {
    open(2);
    smeta.moveTo(1);
    deletePosition(smeta);
    EXPECT_EQ(smeta.fieldAsString("TAB"), "T0");
}

TEST_F(MemoryEstimate, DeleteOnTheOnlyPositionLeavesAnEmptyEstimate) {
    open(1);
    deletePosition(smeta);
    EXPECT_TRUE(smeta.isEmpty());
    EXPECT_EQ(smeta.state(), TableHandle::State::Browse);
}

TEST_F(MemoryEstimate, DeleteOnAnEmptyEstimateChangesNothing) {
    open(0);
    deletePosition(smeta);
    EXPECT_TRUE(smeta.isEmpty());
    EXPECT_EQ(smeta.state(), TableHandle::State::Browse);
}

TEST_F(MemoryEstimate, DeleteWhileARowIsBeingAddedCancelsItOnly) {
    open(2);
    smeta.append();
    smeta.setFieldValue("TAB", Value::string("new"));
    deletePosition(smeta);
    EXPECT_EQ(tabs(), (std::vector<std::string>{"T0", "T1"}));
}

TEST_F(MemoryEstimate, DeleteOnAClosedEstimateFails) {
    open(1);
    smeta.close();
    EXPECT_THROW(deletePosition(smeta), Error);
}

TEST_F(MemoryEstimate, StorePendingEditPostsChangesAndDropsABlankNewRow) {
    open(1);
    smeta.edit();
    smeta.setFieldValue("KOLVO", Value::real(3));
    storePendingEdit(smeta);
    EXPECT_EQ(smeta.state(), TableHandle::State::Browse);
    smeta.first();
    EXPECT_EQ(smeta.fieldValue("KOLVO"), Value::real(3));

    smeta.append();
    storePendingEdit(smeta);
    EXPECT_EQ(tabs().size(), 1u);

    smeta.close();
    EXPECT_NO_THROW(storePendingEdit(smeta));
}

// ---- clearing on real files -------------------------------------------------------------

class ClearOnDisk : public ::testing::Test {
protected:
    test::TempDir dir{"talvira-clear"};
    TableHandle smeta{"SmetaTable"};
    fs::path smeti() const { return dir / "Smeti"; }

    void SetUp() override {
        fs::create_directory(smeti());
        estimate::bindEstimate(smeta, smeti().string(), "Дом");
        estimate::createAndOpen(smeta);
        for (int i = 0; i < 2; ++i) {
            smeta.append();
            smeta.setFieldValue("TAB", Value::string("T" + std::to_string(i)));
            smeta.setFieldValue("NAME", Value::string(std::string(300, 'x')));  // into the memo file
            smeta.post();
        }
    }
    void TearDown() override {
        smeta.close();
        std::error_code ec;
        fs::permissions(smeti(), fs::perms::owner_all, ec);
        for (const auto& e : fs::directory_iterator(smeti(), ec)) fs::permissions(e.path(), fs::perms::owner_all, ec);
    }
    /** Positions of the estimate on disk, read by a handle of its own. */
    int positionsOnDisk() {
        TableHandle t("check");
        estimate::bindForOpening(t, smeti().string(), "Дом.db");
        t.open();
        const int n = t.recordCount();
        t.close();
        return n;
    }
    std::vector<fs::path> files() {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(smeti())) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(ClearOnDisk, ClearingLeavesAnEmptyEstimateOfTheSameNameOpen) {
    ASSERT_EQ(positionsOnDisk(), 2);
    smeta.close();
    smeta.open();
    clearEstimate(smeta);
    EXPECT_TRUE(smeta.active());
    EXPECT_TRUE(smeta.isEmpty());
    EXPECT_EQ(smeta.tableName(), "Дом.db");
    EXPECT_FALSE(smeta.controlsDisabled());
    ASSERT_TRUE(smeta.active());
    EXPECT_EQ(smeta.tableFields(), estimate::estimateFieldDefs());
    EXPECT_EQ(smeta.fieldCount(), 17);
    // Nothing of the temporary table is left beside it.
    for (const auto& f : files()) EXPECT_EQ(f.stem().string(), "Дом") << f;

    smeta.append();
    smeta.setFieldValue("TAB", Value::string("после"));
    smeta.post();
    EXPECT_EQ(smeta.fieldValue("COUNT"), Value::integer(1));  // numbering starts again
}

TEST_F(ClearOnDisk, ClearingDropsAnEditInProgress) {
    smeta.first();
    smeta.edit();
    smeta.setFieldValue("TAB", Value::string("typed"));
    clearEstimate(smeta);
    EXPECT_TRUE(smeta.isEmpty());
}

TEST_F(ClearOnDisk, ReadOnlyTableIsLeftAsItWas) {
    smeta.close();
    const auto before = files();
    for (const auto& f : before) fs::permissions(smeti() / f, fs::perms::owner_read | fs::perms::group_read);
    smeta.open();
    try {
        clearEstimate(smeta);
        ADD_FAILURE() << "cleared";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("только для чтения"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(smeta.controlsDisabled());  // the display is resumed
    EXPECT_EQ(files(), before);
    EXPECT_EQ(positionsOnDisk(), 2);
    EXPECT_TRUE(smeta.active());  // the old estimate is open again
    EXPECT_EQ(smeta.recordCount(), 2);
}

TEST_F(ClearOnDisk, ReadOnlyDirectoryLeavesTheEstimateAsItWas) {
    fs::permissions(smeti(), fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(smeti().c_str(), W_OK) == 0 && ::geteuid() == 0) {
        // The check of the directory is the system's, which lets the superuser write anyway.
        EXPECT_NO_THROW(clearEstimate(smeta));
        return;
    }
    EXPECT_THROW(clearEstimate(smeta), Error);
    EXPECT_EQ(positionsOnDisk(), 2);
}

TEST_F(ClearOnDisk, VanishedDirectoryReportsAndKeepsTheDisplayResumed) {
    smeta.close();
    fs::remove_all(smeti());
    EXPECT_THROW(clearEstimate(smeta), Error);
    EXPECT_FALSE(smeta.active());
    EXPECT_FALSE(smeta.controlsDisabled());
}

TEST_F(ClearOnDisk, ATableThatIsNotAnEstimateIsNeverReplaced) {
    // An open that failed at binding leaves the handle bound to the table but closed.
    smeta.close();
    storage::createParadoxTable((smeti() / "RABMAT.DB").string(),
                                {{"ID", storage::FieldType::Long, 0}, {"TAB", storage::FieldType::Alpha, 50}});
    estimate::bindForOpening(smeta, smeti().string(), "RABMAT.DB");
    EXPECT_THROW(smeta.open(), Error);
    const auto size = fs::file_size(smeti() / "RABMAT.DB");
    EXPECT_THROW(clearEstimate(smeta), Error);
    EXPECT_EQ(fs::file_size(smeti() / "RABMAT.DB"), size);
    auto t = storage::openParadoxTable((smeti() / "RABMAT.DB").string(), storage::OpenMode::ReadOnly);
    EXPECT_EQ(t->fields().size(), 2u);
}

}  // namespace
}  // namespace talvira::editing
