// Secondary and primary indexes of real tables: the order they give, and look-ups through them.
#include "common/Error.h"
#include "storage/TableFile.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

std::string upper(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

/** Order of two values of one field as the index sorts them: empty first, numbers by value,
 *  text by its letters (upper-cased for case-insensitive indexes). */
int compareValues(const Value& a, const Value& b, bool ci) {
    if (a.isEmpty() || b.isEmpty()) return a.isEmpty() == b.isEmpty() ? 0 : a.isEmpty() ? -1 : 1;
    if (a.kind() == Value::Kind::String) {
        std::string x = a.asString(), y = b.asString();
        std::string ux = upper(x), uy = upper(y);
        if (ux != uy) return ux < uy ? -1 : 1;
        if (ci || x == y) return 0;
        return x < y ? -1 : 1;
    }
    double x = a.asFloat(), y = b.asFloat();
    return x < y ? -1 : x > y ? 1 : 0;
}

struct IndexedTable {
    fs::path path;
    std::unique_ptr<TableFile> table;
};

std::vector<fs::path> tablesWithSecondaryIndexes() {
    std::vector<fs::path> out;
    for (const fs::path& p : allFixtureTables()) {
        auto t = openParadoxTable(p.string(), OpenMode::ReadOnly);
        for (const IndexInfo& i : t->indexes())
            if (!i.primary) {
                out.push_back(p);
                break;
            }
    }
    return out;
}

}  // namespace

TEST(Index, EverySecondaryIndexOrdersByItsFieldsThenByPrimaryKey) {
    auto tables = tablesWithSecondaryIndexes();
    ASSERT_GE(tables.size(), 14u);  // the repository's own, dbdemos adds 5
    int checked = 0;
    for (const fs::path& p : tables) {
        auto t = openParadoxTable(p.string(), OpenMode::ReadOnly);
        for (const IndexInfo& ix : t->indexes()) {
            if (ix.primary) continue;
            SCOPED_TRACE(p.string() + " index " + ix.name);
            std::vector<int> f;
            for (const auto& n : ix.fields) f.push_back(t->fieldIndex(n));
            // Expected: physical order (primary-key order on keyed tables), stably sorted.
            std::vector<RecordLoc> expect;
            for (auto l = t->first(); l; l = t->next(*l)) expect.push_back(*l);
            std::vector<Record> recs;
            auto rec = [&](RecordLoc l) { return t->read(l); };
            std::stable_sort(expect.begin(), expect.end(), [&](RecordLoc a, RecordLoc b) {
                Record ra = rec(a), rb = rec(b);
                for (int k : f) {
                    int c = compareValues(ra[static_cast<size_t>(k)], rb[static_cast<size_t>(k)], ix.caseInsensitive);
                    if (c) return ix.descending ? c > 0 : c < 0;
                }
                return false;
            });
            std::vector<RecordLoc> got = t->scan(ix.name);
            ASSERT_EQ(got.size(), expect.size());
            for (size_t i = 0; i < got.size(); ++i) {
                Record a = rec(got[i]), b = rec(expect[i]);
                for (int k : f) ASSERT_EQ(compareValues(a[static_cast<size_t>(k)], b[static_cast<size_t>(k)], ix.caseInsensitive), 0) << i;
            }
            // Equal keys keep primary-key order.
            for (size_t i = 1; i < got.size(); ++i) {
                Record a = rec(got[i - 1]), b = rec(got[i]);
                bool same = true;
                for (int k : f) same = same && compareValues(a[static_cast<size_t>(k)], b[static_cast<size_t>(k)], ix.caseInsensitive) == 0;
                if (same) {
                    EXPECT_LT(t->ordinalOf(got[i - 1]), t->ordinalOf(got[i])) << i;
                }
            }
            // Every key looks up exactly its run of the order.
            for (size_t i = 0; i < got.size();) {
                Record a = rec(got[i]);
                std::vector<Value> key;
                for (int k : f) key.push_back(a[static_cast<size_t>(k)]);
                size_t j = i + 1;
                while (j < got.size()) {
                    Record b = rec(got[j]);
                    bool same = true;
                    for (int k : f) same = same && compareValues(a[static_cast<size_t>(k)], b[static_cast<size_t>(k)], ix.caseInsensitive) == 0;
                    if (!same) break;
                    ++j;
                }
                auto hits = t->lookup(ix.name, key);
                ASSERT_EQ(hits, std::vector<RecordLoc>(got.begin() + static_cast<long>(i), got.begin() + static_cast<long>(j)));
                i = j;
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 18);  // the repository's own, dbdemos adds more
}

TEST(Index, NormBaseIndexesAreFoundByNameAndFields) {
    struct Case {
        const char* table;
        const char* index;
        std::vector<std::string> fields;
        bool caseInsensitive;
    };
    const Case cases[] = {
        {"RABMAT.DB", "IDOGL", {"IDOGL"}, false},
        {"RABMAT.DB", "IDNAME_INDEX", {"IDNAME"}, true},
        {"RABMAT.DB", "IDREESTR", {"IDREESTR"}, false},
        {"RESURS.DB", "IDRAB", {"IDRAB"}, false},
        {"OGL.DB", "IDREESTR", {"IDREESTR"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " " + c.index);
        auto t = openParadoxTable((normbaseDir() / c.table).string(), OpenMode::ReadOnly);
        auto it = std::find_if(t->indexes().begin(), t->indexes().end(), [&](const IndexInfo& i) { return i.name == c.index; });
        ASSERT_NE(it, t->indexes().end());
        EXPECT_EQ(it->fields, c.fields);
        EXPECT_EQ(it->caseInsensitive, c.caseInsensitive);
    }
    for (const char* table : {"000_NAME.DB", "000_EDIZM.DB", "RABMAT.DB", "000_REESTR.DB"}) {
        auto t = openParadoxTable((normbaseDir() / table).string(), OpenMode::ReadOnly);
        ASSERT_FALSE(t->indexes().empty());
        EXPECT_TRUE(t->indexes()[0].primary);
        EXPECT_EQ(t->indexes()[0].fields, std::vector<std::string>{"ID"});
    }
}

TEST(Index, LookUpsGiveTheRecordsOfAKeyInPrimaryKeyOrder) {
    auto t = openParadoxTable((normbaseDir() / "RESURS.DB").string(), OpenMode::ReadOnly);
    auto hits = t->lookup("IDRAB", {Value::integer(1001)});
    ASSERT_FALSE(hits.empty());
    int64_t prev = 0;
    for (RecordLoc l : hits) {
        Record r = t->read(l);
        EXPECT_EQ(r[1].asInteger(), 1001);
        EXPECT_GT(r[0].asInteger(), prev);
        prev = r[0].asInteger();
    }
    EXPECT_TRUE(t->lookup("IDRAB", {Value::integer(987654)}).empty());
    EXPECT_TRUE(t->lookup("IDRAB", {Value()}).empty());
    EXPECT_TRUE(t->lookup("IDRAB", {Value::string("not a number")}).empty());
    // The primary index by name "" and by its field.
    auto r = openParadoxTable((normbaseDir() / "RABMAT.DB").string(), OpenMode::ReadOnly);
    ASSERT_EQ(r->lookup("", {Value::integer(1002)}).size(), 1u);
    ASSERT_EQ(r->lookup("ID", {Value::integer(1002)}).size(), 1u);
    EXPECT_THROW(r->lookup("NO_SUCH_INDEX", {Value::integer(1)}), Error);
    try {
        r->lookup("NO_SUCH_INDEX", {Value::integer(1)});
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_INDEX"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("RABMAT.DB"), std::string::npos);
    }
}

TEST(Index, CaseInsensitiveIndexFindsAnyCase) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    auto t = openParadoxTable((*demos / "customer.db").string(), OpenMode::ReadOnly);
    auto a = t->lookup("ByCompany", {Value::string("unisco")});
    auto b = t->lookup("ByCompany", {Value::string("UNISCO")});
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a, b);
    EXPECT_EQ(t->read(a[0])[1].asString(), "Unisco");
}

TEST(Index, StaleMaintainedIndexIsAnErrorNamingItsFile) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    TempDir dir;
    copyFamily(*demos / "orders.db", dir.path());
    // Cut the table's chain after the first block: the index now holds more records.
    std::string db = readFile(dir / "orders.db");
    uint16_t hs = static_cast<uint16_t>(static_cast<uint8_t>(db[2]) | (static_cast<uint8_t>(db[3]) << 8));
    db[hs] = 0;
    db[hs + 1] = 0;
    writeFile(dir / "orders.db", db);
    auto t = openParadoxTable((dir / "orders.db").string(), OpenMode::ReadOnly);
    try {
        t->scan("CustNo");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("orders.x02"), std::string::npos) << e.what();
    }
}

TEST(Index, EveryRecordOfAKeyedTableIsFoundByItsPrimaryKey) {
    int tables = 0;
    for (const fs::path& p : allFixtureTables()) {
        auto t = openParadoxTable(p.string(), OpenMode::ReadOnly);
        if (t->info().keyFields == 0) continue;
        SCOPED_TRACE(p.string());
        ++tables;
        const size_t k = static_cast<size_t>(t->info().keyFields);
        for (auto l = t->first(); l; l = t->next(*l)) {
            Record r = t->read(*l);
            std::vector<Value> key(r.begin(), r.begin() + static_cast<long>(k));
            auto hits = t->lookup("", key);
            ASSERT_EQ(hits, std::vector<RecordLoc>{*l}) << r[0].asString();
            // A prefix of a composite key finds a run that holds the record.
            if (k > 1) {
                auto run = t->lookup("", {key[0]});
                ASSERT_NE(std::find(run.begin(), run.end(), *l), run.end());
            }
        }
    }
    EXPECT_GE(tables, 30);
}

TEST(Index, IndexThatDisagreesWithItsTableIsNamed) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    // Same number of records, but one indexed value changed behind the index's back.
    TempDir dir;
    copyFamily(*demos / "orders.db", dir.path());
    std::string db = readFile(dir / "orders.db");
    uint16_t hs = static_cast<uint16_t>(static_cast<uint8_t>(db[2]) | (static_cast<uint8_t>(db[3]) << 8));
    db[hs + 6 + 8 + 1] = static_cast<char>(db[hs + 6 + 8 + 1] ^ 0x40);  // CustNo of the first record
    writeFile(dir / "orders.db", db);
    auto t = openParadoxTable((dir / "orders.db").string(), OpenMode::ReadOnly);
    try {
        t->scan("CustNo");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("orders.x02"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("устарел"), std::string::npos) << e.what();
    }
}

// Look-ups by whole key on a table that was never walked go down the .PX tree instead of the
// block chain; they must find exactly what the chain finds, and nothing for absent keys.
TEST(Index, PrimaryTreeFindsWhatTheChainFinds) {
    int tables = 0;
    for (const fs::path& p : allFixtureTables()) {
        auto walked = openParadoxTable(p.string(), OpenMode::ReadOnly);
        if (walked->info().keyFields == 0) continue;
        auto fresh = openParadoxTable(p.string(), OpenMode::ReadOnly);  // never walked
        SCOPED_TRACE(p.string());
        ++tables;
        const size_t k = static_cast<size_t>(walked->info().keyFields);
        for (auto l = walked->first(); l; l = walked->next(*l)) {
            Record r = walked->read(*l);
            std::vector<Value> key(r.begin(), r.begin() + static_cast<long>(k));
            ASSERT_EQ(fresh->lookup("", key), std::vector<RecordLoc>{*l}) << r[0].asString();
        }
        if (walked->fields()[0].type == FieldType::Long) {
            EXPECT_TRUE(fresh->lookup("", {Value::integer(-987654)}).empty());
            EXPECT_TRUE(fresh->lookup("", {Value::integer(2147483000)}).empty());
        }
    }
    EXPECT_GE(tables, 30);
}
