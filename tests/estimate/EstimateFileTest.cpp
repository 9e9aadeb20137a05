// Names and places of estimates (and of the norm base beside them), and the format a created
// estimate has.
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBaseFields.h"

#include <gtest/gtest.h>

#include <fstream>

namespace talvira::test {
namespace {

TEST(EstimateName, RefusedAndAcceptedNames) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"Дом", true},
        {"   ", true},  // blanks are a name like any other
        {" Дом ", true},
        {"Смета №1 «кровля»", true},
        {"a.b", true},
        {"...", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../Дом", false},
        {"Smeti/Дом", false},
        {"C:\\Smeti\\Дом", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto& c : cases) {
        if (c.accepted) EXPECT_NO_THROW(estimate::checkEstimateName(c.name)) << "[" << c.name << "]";
        else EXPECT_THROW(estimate::checkEstimateName(c.name), Error) << "[" << c.name << "]";
    }
}

TEST(EstimateName, TableNameAndPath) {
    EXPECT_EQ(estimate::estimateTableName("Дом"), "Дом.db");
    EXPECT_EQ(estimate::estimateTableName("Дом.db"), "Дом.db");
    EXPECT_EQ(estimate::estimateTableName("Дом.DB"), "Дом.DB");
    EXPECT_EQ(estimate::estimateTableName("   "), "   .db");
    EXPECT_EQ(estimate::estimatePath("/w/Smeti", "Дом"), "/w/Smeti/Дом.db");
    EXPECT_EQ(estimate::replaceQuestion("Дом"), "Смета «Дом» уже существует. Заменить её пустой?");
}

TEST(StartDirectory, TheBaseItsTemplateAndTheEstimatesLiveBelowIt) {
    struct Case {
        const char* start;
        const char* base;
    };
    // At the root (or with a trailing separator) no separator is doubled.
    for (const Case c : {Case{"/home/u/work", "/home/u/work/"}, Case{"/home/u/work/", "/home/u/work/"}, Case{"/", "/"}}) {
        EXPECT_EQ(normbase::baseDirectory(c.start), std::string(c.base) + "Base");
        EXPECT_EQ(normbase::templatePath(c.start), std::string(c.base) + "Base/1.xls");
        EXPECT_EQ(estimate::estimatesDirectory(c.start), std::string(c.base) + "Smeti");
    }
}

TEST(EstimateName, ExistsWhateverTheCaseOfTheExtension) {
    TempDir dir;
    std::ofstream(dir / "Дом.DB") << "x";
    std::ofstream(dir / "Баня.db") << "x";
    EXPECT_TRUE(estimate::estimateExists(dir.path().string(), "Дом"));
    EXPECT_TRUE(estimate::estimateExists(dir.path().string(), "Баня"));
    EXPECT_TRUE(estimate::estimateExists(dir.path().string(), "Баня.db"));
    EXPECT_FALSE(estimate::estimateExists(dir.path().string(), "Сарай"));
    EXPECT_FALSE(estimate::estimateExists((dir / "Smeti").string(), "Дом"));
}

TEST(EstimateFormat, CreatedTableHasTheNineteenFieldsAndOpensWithTheSeventeenBound) {
    MemoryTables mem;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, "/mem/Smeti", "Дом");
    estimate::createAndOpen(smeta);
    ASSERT_TRUE(smeta.active());
    EXPECT_TRUE(smeta.isEmpty());

    const char* const tableOrder[] = {"COUNT", "TAB", "NAME", "IZM", "KOLVO", "STOIM", "OSNZP", "MATER",
                                      "EXPLMASH", "ZPMASH", "TRUD", "TRUDMASH", "_STOIM", "_OSNZP",
                                      "_MATER", "_EXPLMASH", "_ZPMASH", "_TRUD", "_TRUDMASH"};
    const auto& stored = smeta.tableFields();
    ASSERT_EQ(stored.size(), std::size(tableOrder));
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i].name, tableOrder[i]) << i;
    EXPECT_EQ(stored[0].type, storage::FieldType::AutoInc);
    EXPECT_EQ(stored[2].type, storage::FieldType::Memo);
    EXPECT_EQ(stored[2].size, 10);
    EXPECT_EQ(stored[1].size, 50);
    EXPECT_EQ(stored[3].size, 50);

    const char* const boundOrder[] = {"COUNT", "TAB", "NAME", "IZM", "KOLVO", "STOIM", "OSNZP", "MATER",
                                      "EXPLMASH", "ZPMASH", "_STOIM", "_OSNZP", "_MATER", "_EXPLMASH",
                                      "_ZPMASH", "TRUD", "_TRUD"};
    ASSERT_EQ(smeta.fieldCount(), int(std::size(boundOrder)));
    for (int i = 0; i < smeta.fieldCount(); ++i) EXPECT_EQ(smeta.field(i).name, boundOrder[i]) << i;
    EXPECT_EQ(smeta.fieldIndex("TRUDMASH"), -1);
    EXPECT_EQ(smeta.fieldIndex("_TRUDMASH"), -1);
    smeta.close();
}

TEST(EstimateFormat, NormBaseTableFailsAtBinding) {
    MemoryTables mem;
    mem.add("/mem/Base/RABMAT.DB", {{"ID", storage::FieldType::Long, 0}, {"TAB", storage::FieldType::Alpha, 50}});
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, "/mem/Base", "RABMAT.DB");
    EXPECT_THROW(smeta.open(), Error);
    EXPECT_FALSE(smeta.active());
}

TEST(EstimateFormat, MissingEstimatesDirectoryFailsTheCreateStep) {
    TempDir dir;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, estimate::estimatesDirectory(dir.path().string()), "Дом");
    EXPECT_THROW(estimate::createAndOpen(smeta), Error);
    EXPECT_FALSE(smeta.active());
    EXPECT_FALSE(std::filesystem::exists(dir / "Smeti"));  // never created
}

}  // namespace
}  // namespace talvira::test
