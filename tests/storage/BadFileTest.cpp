// Broken, truncated and foreign files: each ends in talvira::Error naming the file at fault,
// never in a crash, a hang or a read past the end.
#include "common/Error.h"
#include "storage/TableFile.h"
#include "storage/Warnings.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

void put16(std::string& s, size_t off, uint16_t v) {
    s[off] = static_cast<char>(v & 0xFF);
    s[off + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& s, size_t off, uint32_t v) {
    put16(s, off, static_cast<uint16_t>(v));
    put16(s, off + 2, static_cast<uint16_t>(v >> 16));
}
uint16_t get16(const std::string& s, size_t off) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[off]) | (static_cast<uint8_t>(s[off + 1]) << 8));
}

/** Opens the table and touches everything it holds: records, memos, every index. */
void readEverything(const fs::path& db) {
    auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
    for (auto l = t->first(); l; l = t->next(*l)) t->read(*l);
    for (const IndexInfo& i : t->indexes()) t->scan(i.name);
}

struct Files {
    std::string db, mb;
};

/** A table of three blocks with memos in the record, in sub-allocated and in whole blocks. */
Files makeSample(const fs::path& dir) {
    fs::path db = dir / "B.DB";
    createParadoxTable(db.string(), {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Memo, 10}, {"A", FieldType::Alpha, 10}});
    {
        auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
        for (int k = 0; k < 130; ++k) {
            Record r = {Value::integer(k), Value::string(std::string(k % 2 ? 300 : 3000, 'x')), Value::string("a")};
            t->append(r);
        }
    }
    return {readFile(db), readFile(dir / "B.MB")};
}

}  // namespace

TEST(BadFile, EachBrokenFileIsAnErrorNamingIt) {
    TempDir base;
    const Files good = makeSample(base.path());
    const size_t hs = get16(good.db, 2), bs = 2048;
    struct Case {
        const char* what;
        std::function<void(Files&)> breakIt;
        const char* file;     // which file the message names
        const char* says = nullptr;
    };
    const Case cases[] = {
        {"zero-length file", [](Files& f) { f.db.clear(); }, "B.DB", "пуст"},
        {"text file", [](Files& f) { f.db = std::string(3000, 'z') + "\nhello\n"; }, "B.DB", "не является"},
        {"header cut short", [](Files& f) { f.db.resize(0x40); }, "B.DB"},
        {"header cut inside the field names", [](Files& f) { f.db.resize(0x100); }, "B.DB"},
        {"header size past the end", [](Files& f) { put16(f.db, 2, 0xF000); }, "B.DB"},
        {"first block past the end", [](Files& f) { put16(f.db, 0x0E, 500); }, "B.DB", "за пределами"},
        {"cyclic chain", [&](Files& f) { put16(f.db, hs + bs, 1); }, "B.DB", "зациклена"},
        {"block holds more than fits", [&](Files& f) { put16(f.db, hs + 4, 0x7FF0); }, "B.DB"},
        {"block count not whole records", [&](Files& f) { put16(f.db, hs + 4, 5); }, "B.DB"},
        {"absurd field count", [](Files& f) { put16(f.db, 0x21, 0x7FFF); }, "B.DB"},
        {"record size disagrees with fields", [](Files& f) { put16(f.db, 0, get16(f.db, 0) + 1); }, "B.DB"},
        {"unknown field type", [](Files& f) { f.db[0x78] = 0x30; }, "B.DB", "тип поля"},
        {"block size zero", [](Files& f) { f.db[5] = 0; }, "B.DB"},
        {"data cut inside a block", [&](Files& f) { f.db.resize(hs + bs + 100); }, "B.DB", "обрезан"},
        {"memo pointer into nowhere", [&](Files& f) { put32(f.db, hs + 6 + 4 + 10, 0x7FFFFF03u); }, "B.MB"},
        {"memo pointer to the header block", [&](Files& f) { put32(f.db, hs + 6 + 4 + 10, 0xFFu); }, "B.MB"},
        {"memo block of another type", [](Files& f) { f.mb[4096] = 9; }, "B.MB"},
        {"memo file cut", [](Files& f) { f.mb.resize(5000); }, "B.MB"},
        {"memo length larger than its block", [&](Files& f) { put32(f.db, hs + 6 + 4 + 14, 0x7FFFFFF0u); }, "B.MB"},
        {"encrypted table", [](Files& f) { put32(f.db, 0x5C, 0x12345678u); }, "B.DB", "защищена паролем"},
        {"an index file instead of a table", [](Files& f) { f.db[4] = 1; }, "B.DB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Files f = good;
        c.breakIt(f);
        writeFile(dir / "B.DB", f.db);
        writeFile(dir / "B.MB", f.mb);
        try {
            readEverything(dir / "B.DB");
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            std::string m = e.what();
            EXPECT_NE(m.find((dir / c.file).string()), std::string::npos) << m;
            if (c.says) {
                EXPECT_NE(m.find(c.says), std::string::npos) << m;
            }
        }
    }
}

TEST(BadFile, DamagedIndexFileIsNamed) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    TempDir dir;
    copyFamily(*demos / "orders.db", dir.path());
    std::string x = readFile(dir / "orders.x02");
    x.resize(0x30);
    writeFile(dir / "orders.x02", x);
    try {
        readEverything(dir / "orders.db");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("orders.x02"), std::string::npos) << e.what();
    }
}

TEST(BadFile, MissingMemoFileOpensWithAWarning) {
    TempDir dir;
    copyFamily(paradoxDir() / "pdxdriver-db" / "CUSTOMER.DB", dir.path());
    fs::remove(dir / "CUSTOMER.MB");
    std::vector<std::string> warnings;
    setWarningSink([&](const std::string& w) { warnings.push_back(w); });
    auto t = openParadoxTable((dir / "CUSTOMER.DB").string(), OpenMode::ReadOnly);
    setWarningSink({});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("CUSTOMER.DB"), std::string::npos);
    int memoField = t->fieldIndex("Comments");
    size_t memos = 0;
    for (auto l = t->first(); l; l = t->next(*l)) {
        Value v = t->readField(*l, memoField);
        if (!v.isEmpty()) {
            ++memos;
            EXPECT_LE(v.asString().size(), 100u);  // at most the part kept in the record
        }
    }
    EXPECT_GT(memos, 0u);
}

TEST(BadFile, MissingTableIsNamed) {
    try {
        openParadoxTable("/nonexistent/dir/RABMAT.DB", OpenMode::ReadOnly);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Таблица «/nonexistent/dir/RABMAT.DB» не найдена");
    }
}

TEST(BadFile, CompanionsAreFoundByFileNameInAnyCase) {
    // NOTE1251 names itself differently inside; its memo file is found by the file's own name.
    TempDir dir;
    copyFamily(paradoxDir() / "note1251" / "NOTE1251.DB", dir.path());
    fs::rename(dir / "NOTE1251.MB", dir / "note1251.mb");
    auto t = openParadoxTable((dir / "NOTE1251.DB").string(), OpenMode::ReadOnly);
    EXPECT_TRUE(t->info().hasMemoFile);
    EXPECT_GT(t->read(*t->first())[1].asString().size(), 400u);
}

TEST(BadFile, KeptFindingsFailCleanly) {
    // Damaged tables kept in tests/data/fail: each must end in the damaged-file error, except
    // "survived-*", damage the reader goes around (every record read, found by its key).
    const fs::path dir = fixture("fail");
    int kept = 0;
    for (auto& e : fs::directory_iterator(dir)) {
        std::string ext = e.path().extension().string();
        if (ext != ".db" && ext != ".DB") continue;
        ++kept;
        SCOPED_TRACE(e.path().string());
        TempDir tmp;
        copyFamily(e.path(), tmp.path());
        const fs::path db = tmp / e.path().filename().string();
        if (e.path().stem().string().rfind("survived-", 0) == 0) {
            ASSERT_NO_THROW(readEverything(db));
            auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
            ASSERT_GT(t->info().keyFields, 0);
            for (auto l = t->first(); l; l = t->next(*l)) {
                const Record r = t->read(*l);
                const auto hit = t->lookup("", {r[0]});
                ASSERT_EQ(hit.size(), 1u);
                EXPECT_EQ(hit[0], *l);
            }
            continue;
        }
        try {
            readEverything(db);
            ADD_FAILURE() << "read without an error";
        } catch (const Error& err) {
            EXPECT_NE(std::string(err.what()).find("повреждён"), std::string::npos) << err.what();
        }
    }
    EXPECT_GE(kept, 3);
}
