// Secondary indexes matched to their table by the field names in the index header, and index
// files that cannot be used set aside: the table still opens and works, one warning is given,
// and only asking for that index fails.
#include "common/Error.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"
#include "storage/Warnings.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

/** Collects the warnings while it lives. */
struct Warnings {
    std::vector<std::string> got;
    Warnings() {
        setWarningSink([this](const std::string& w) { got.push_back(w); });
    }
    ~Warnings() { setWarningSink({}); }
};

/** Offset of the field-number array in an index header: after the field names. */
size_t fieldNumbersAt(const std::string& x) {
    const int n = static_cast<uint8_t>(x[0x21]) | (static_cast<uint8_t>(x[0x22]) << 8);
    size_t pos = 0x78 + 2 * n + 4 + 4 * n + (static_cast<uint8_t>(x[0x39]) >= 12 ? 261 : 79);
    for (int i = 0; i < n; ++i) pos = x.find('\0', pos) + 1;
    return pos;
}

std::vector<std::string> lastNames(const TableFile& t, std::string_view index) {
    std::vector<std::string> out;
    const int f = t.fieldIndex("LastName");
    for (RecordLoc l : t.scan(index)) out.push_back(t.readField(l, f).asString());
    return out;
}

TEST(IndexMatching, NamesInTheIndexHeaderWinOverNumbersThatDisagree) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    TempDir dir;
    copyFamily(*demos / "employee.db", dir.path());
    const auto healthy = lastNames(*openParadoxTable((dir / "employee.db").string(), OpenMode::ReadOnly), "ByName");
    ASSERT_FALSE(healthy.empty());

    // The numbers of LastName (2) and FirstName (3) made one lower, as a BDE writer was seen
    // to leave them: by number the index would start with EmpNo, a long integer.
    std::string x = readFile(dir / "employee.xg0");
    const size_t at = fieldNumbersAt(x);
    ASSERT_EQ(x[at], 2);
    ASSERT_EQ(x[at + 2], 3);
    x[at] = 1;
    x[at + 2] = 2;
    writeFile(dir / "employee.xg0", x);

    Warnings w;
    auto t = openParadoxTable((dir / "employee.db").string(), OpenMode::ReadOnly);
    EXPECT_TRUE(w.got.empty());
    const IndexInfo* ix = nullptr;
    for (const auto& i : t->indexes())
        if (i.name == "ByName") ix = &i;
    ASSERT_NE(ix, nullptr);
    EXPECT_TRUE(ix->setAside.empty()) << ix->setAside;
    EXPECT_EQ(ix->fields, (std::vector<std::string>{"LastName", "FirstName"}));
    EXPECT_EQ(lastNames(*t, "ByName"), healthy);
}

/** The employee table with its index ByName spoilt by `spoil`; `says` is a part of the message. */
struct SpoiltIndex {
    const char* what;
    std::function<void(std::string&)> spoil;
    const char* says;
};

TEST(IndexMatching, AnIndexThatCannotBeUsedIsSetAsideAndOnlyAskingForItFails) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    const SpoiltIndex cases[] = {
        {"a name naming a field of another type",
         [](std::string& x) {
             const size_t at = x.find("LastName");
             x.replace(at, 8, "HireDate");
         },
         "не соответствует таблице"},
        {"not a secondary index", [](std::string& x) { x[4] = 4; }, "повреждён"},
        {"cut short inside its header", [](std::string& x) { x.resize(0x40); }, "employee.xg0"},
        {"field numbers and names both pointing outside the table",
         [](std::string& x) {
             const size_t n = x.find("LastName");
             x.replace(n, 8, "Nothing1");
             x[fieldNumbersAt(x)] = 40;
         },
         "поле индекса вне таблицы"},
    };
    for (const SpoiltIndex& c : cases) {
        TempDir dir;
        copyFamily(*demos / "employee.db", dir.path());
        std::string x = readFile(dir / "employee.xg0");
        c.spoil(x);
        writeFile(dir / "employee.xg0", x);

        Warnings w;
        std::unique_ptr<TableFile> t;
        ASSERT_NO_THROW(t = openParadoxTable((dir / "employee.db").string(), OpenMode::ReadOnly)) << c.what;
        ASSERT_EQ(w.got.size(), 1u) << c.what;
        EXPECT_NE(w.got[0].find("employee.xg0"), std::string::npos) << w.got[0];
        EXPECT_NE(w.got[0].find(c.says), std::string::npos) << c.what << ": " << w.got[0];
        // The records and the primary index work.
        EXPECT_EQ(t->recordCount(), 42u) << c.what;
        EXPECT_EQ(t->lookup("", {Value::real(2)}).size(), 1u) << c.what;

        // A handle without that index opens; one asking for it fails with the index's message.
        TableHandle plain;
        plain.setDatabaseName(dir.path().string());
        plain.setTableName("employee.db");
        ASSERT_NO_THROW(plain.open()) << c.what;
        EXPECT_EQ(plain.recordCount(), 42) << c.what;
        plain.close();
        TableHandle asking;
        asking.setDatabaseName(dir.path().string());
        asking.setTableName("employee.db");
        asking.setIndexName("ByName");
        try {
            asking.open();
            ADD_FAILURE() << c.what << ": opened";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("employee.xg0"), std::string::npos) << c.what << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.what << ": " << e.what();
        }
        EXPECT_FALSE(asking.active());
        EXPECT_THROW(t->scan("ByName"), Error) << c.what;
    }
}

TEST(IndexMatching, ADamagedIndexBesideAHealthyTableLeavesItsOtherIndexesWorking) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    TempDir dir;
    copyFamily(*demos / "parts.db", dir.path());
    std::string x = readFile(dir / "parts.xg0");
    x[4] = 0x7F;  // no index file type
    writeFile(dir / "parts.xg0", x);
    Warnings w;
    auto t = openParadoxTable((dir / "parts.db").string(), OpenMode::ReadOnly);
    EXPECT_EQ(w.got.size(), 1u);
    int usable = 0;
    for (const auto& i : t->indexes()) {
        if (i.primary || !i.setAside.empty()) continue;
        ++usable;
        EXPECT_EQ(t->scan(i.name).size(), t->recordCount()) << i.name;
    }
    EXPECT_GE(usable, 1);  // parts.x02 still serves
}

}  // namespace
