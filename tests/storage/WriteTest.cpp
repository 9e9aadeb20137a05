// Our own round trips: tables we create, fill, change and reopen, with the bytes on disk
// checked against the header counters and the block chain.
#include "common/Error.h"
#include "storage/CodePage.h"
#include "storage/Warnings.h"
#include "storage/DateCalc.h"
#include "storage/FileNames.h"
#include "storage/ParadoxFormat.h"
#include "storage/ParadoxTable.h"
#include "storage/RawFile.h"
#include "storage/TableBuilder.h"
#include "storage/TableFile.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

std::vector<FieldDef> estimateLike() {
    std::vector<FieldDef> f = {{"COUNT", FieldType::AutoInc, 0},
                               {"TAB", FieldType::Alpha, 50},
                               {"NAME", FieldType::Memo, 10},
                               {"IZM", FieldType::Alpha, 50}};
    for (const char* n : {"KOLVO", "STOIM", "OSNZP", "MATER", "EXPLMASH", "ZPMASH", "TRUD", "TRUDMASH", "_STOIM",
                          "_OSNZP", "_MATER", "_EXPLMASH", "_ZPMASH", "_TRUD", "_TRUDMASH"})
        f.push_back({n, FieldType::Number, 0});
    return f;
}

std::vector<FieldDef> everyType() {
    return {{"A", FieldType::Alpha, 20},    {"D", FieldType::Date, 0},       {"S", FieldType::Short, 0},
            {"I", FieldType::Long, 0},      {"C", FieldType::Currency, 0},   {"N", FieldType::Number, 0},
            {"L", FieldType::Logical, 0},   {"M", FieldType::Memo, 5},       {"B", FieldType::Blob, 0},
            {"F", FieldType::FmtMemo, 3},   {"O", FieldType::Ole, 4},        {"G", FieldType::Graphic, 0},
            {"T", FieldType::Time, 0},      {"TS", FieldType::Timestamp, 0}, {"P", FieldType::AutoInc, 0},
            {"BCD", FieldType::BCD, 4},     {"Y", FieldType::Bytes, 6}};
}

uint16_t u16(const std::string& s, size_t off) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[off]) | (static_cast<uint8_t>(s[off + 1]) << 8));
}
uint32_t u32(const std::string& s, size_t off) { return u16(s, off) | (uint32_t(u16(s, off + 2)) << 16); }

/** The header counters agree with the block chain on disk. */
void expectConsistent(const fs::path& db) {
    std::string f = readFile(db);
    const size_t hs = u16(f, 2), rs = u16(f, 0), bs = size_t(static_cast<uint8_t>(f[5])) * 1024;
    uint32_t records = 0, blocks = 0, last = 0;
    for (uint16_t b = u16(f, 0x0E); b; b = u16(f, hs + (b - 1) * bs)) {
        ASSERT_LE(hs + b * bs, f.size());
        int16_t add = static_cast<int16_t>(u16(f, hs + (b - 1) * bs + 4));
        if (add >= 0) records += static_cast<uint32_t>(add) / rs + 1;
        ++blocks;
        last = b;
        ASSERT_LT(blocks, 70000u);
    }
    EXPECT_EQ(u32(f, 6), records);
    EXPECT_EQ(u16(f, 0x0C), (f.size() - hs) / bs);
    EXPECT_EQ(u16(f, 0x10), last);
    EXPECT_EQ((f.size() - hs) % bs, 0u);
}

std::string longText(size_t n, const std::string& unit) {
    std::string s;
    while (s.size() < n) s += unit;
    return s;
}

}  // namespace

TEST(Write, EstimateTableRoundTripsWithMemosOfAnyLength) {
    TempDir dir;
    const fs::path db = dir / "Дом.DB";
    createParadoxTable(db.string(), estimateLike());
    EXPECT_TRUE(fs::exists(dir / "Дом.MB"));
    const std::string cyr = "Кладка стен ёлочкой, № 5 «наружных» — ЁЖ";
    std::vector<std::string> memos = {"", "к", "0123456789", "01234567890", longText(300, cyr), longText(2047, "ab"),
                                      longText(2049, "яЯ"), longText(70000, cyr + "\r\n")};
    std::vector<Record> written;
    {
        auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
        for (size_t k = 0; k < 60; ++k) {
            Record r(19);
            r[1] = Value::string("01-01-" + std::to_string(k));
            const std::string& m = memos[k % memos.size()];
            if (!m.empty()) r[2] = Value::string(m);
            if (k % 4) r[3] = Value::string("м3 «ё»");
            r[4] = Value::real(k * 0.1);
            if (k % 5) r[5] = Value::real(-1e300 / (k + 1));
            RecordLoc l = t->append(r);
            EXPECT_EQ(r[0], Value::integer(static_cast<int64_t>(k + 1)));
            EXPECT_EQ(t->read(l), r);
            written.push_back(r);
        }
    }
    expectConsistent(db);
    auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
    EXPECT_EQ(t->info().codePage, 1251);
    EXPECT_EQ(t->info().headerCodePage, 1251);
    EXPECT_EQ(allRecords(*t), written);
    EXPECT_EQ(t->fields(), estimateLike());
}

// A batch of new records keeps the memo file's header and the block being filled in memory and
// writes them once: the memo file must come out byte for byte as appends one by one leave it,
// and a batch refused half-way keeps the records before the refused one, blobs and all.
TEST(Write, ABatchStoresItsMemosAsAppendsOneByOneDo) {
    TempDir dir;
    const std::vector<FieldDef> fields = {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Memo, 10}};
    const std::string cyr = "Устройство фундаментов «ёлочкой» — ";
    std::vector<Record> recs;
    for (int k = 0; k < 300; ++k) {
        const size_t length = k % 7 == 0 ? 0 : k % 11 == 0 ? size_t(2049 + k) : size_t(5 + k * 7 % 400);
        recs.push_back({Value::integer(k + 1), length ? Value::string(longText(length, cyr)) : Value()});
    }
    const fs::path one = dir / "ONE.DB", batched = dir / "BATCHED.DB", refused = dir / "REFUSED.DB";
    for (const fs::path& p : {one, batched, refused}) createParadoxTable(p.string(), fields);
    {
        ParadoxTable t(one.string(), OpenMode::ReadWrite, 0);
        for (Record r : recs) t.append(r);
    }
    for (const fs::path& p : {batched, refused}) {
        ParadoxTable t(p.string(), OpenMode::ReadWrite, 0);
        std::vector<Record> part(recs.begin(), recs.begin() + 150);
        t.appendBatch(part);
        if (p == refused) {
            std::vector<Record> bad = {recs[150], recs[151], Record{Value::integer(999)}};  // one value short
            EXPECT_THROW(t.appendBatch(bad), Error);
        }
        part.assign(recs.begin() + (p == refused ? 152 : 150), recs.end());
        t.appendBatch(part);
    }
    EXPECT_TRUE(readFile(dir / "BATCHED.MB") == readFile(dir / "ONE.MB"));
    EXPECT_TRUE(readFile(dir / "REFUSED.MB") == readFile(dir / "ONE.MB"));
    for (const fs::path& p : {one, batched, refused}) {
        SCOPED_TRACE(p.filename().string());
        expectConsistent(p);
        EXPECT_EQ(allRecords(*openParadoxTable(p.string(), OpenMode::ReadOnly)), recs);
    }
}

TEST(Write, EveryTypeAndEveryEmptyFieldRoundTrip) {
    for (int cp : {1251, 866}) {
        SCOPED_TRACE(cp);
        TempDir dir;
        const fs::path db = dir / "ALL.DB";
        createParadoxTable(db.string(), everyType(), CreateOptions{0, cp});
        const std::string text = cp == 1251 ? "Ёж № «1»" : "Ёж №1 ё";
        Record full = {Value::string(text),
                       Value::dateTime({dayNumber(1999, 12, 31), 0, true, false}),
                       Value::integer(-32767),
                       Value::integer(2147483647),
                       Value::real(12.34),
                       Value::real(-0.000123),
                       Value::integer(0),
                       Value::string(longText(5000, text)),
                       Value::bytes(std::string("\0\1\2\3", 4)),
                       Value::bytes(std::string(100, '\x7f')),
                       Value::bytes("ole"),
                       Value::bytes(std::string(3000, 'g')),
                       Value::dateTime({0, 86399999, false, true}),
                       Value::dateTime({dayNumber(2024, 1, 2), 3723004, true, true}),
                       {},
                       Value::real(-123.4567),
                       Value::bytes(std::string("\0ab", 3))};
        Record empty(full.size());
        {
            auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
            t->append(full);
            t->append(empty);
            EXPECT_EQ(full[14], Value::integer(1));
            EXPECT_EQ(empty[14], Value::integer(2));
        }
        auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
        EXPECT_EQ(t->info().codePage, cp);
        auto recs = allRecords(*t);
        ASSERT_EQ(recs.size(), 2u);
        Record want = full;
        want[16] = Value::bytes(std::string("\0ab\0\0\0", 6));  // bytes fields keep their full size
        EXPECT_EQ(recs[0], want);
        for (size_t i = 0; i < recs[1].size(); ++i)
            if (i != 14) {
                EXPECT_TRUE(recs[1][i].isEmpty()) << i << " " << recs[1][i].asString();
            }
    }
}

TEST(Write, DeletesUpdatesAndManyBlocks) {
    TempDir dir;
    const fs::path db = dir / "E.DB";
    createParadoxTable(db.string(), estimateLike());
    std::vector<Record> model;
    std::mt19937 rng(7);
    {
        auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
        for (int k = 0; k < 3000; ++k) {
            Record r(19);
            r[1] = Value::string("T" + std::to_string(k));
            if (k % 7 == 0) r[2] = Value::string(longText(100 + (k % 3) * 3000, "имя "));
            r[4] = Value::real(k);
            t->append(r);
            model.push_back(r);
        }
        // Remove, change and put removed records back at random places (splitting full
        // blocks), following the places the writes return.
        std::vector<Record> removed;
        for (int step = 0; step < 1500; ++step) {
            uint32_t n = t->recordCount();
            ASSERT_EQ(n, model.size());
            uint32_t at = rng() % n;
            RecordLoc l = *t->locate(at);
            if (step % 4 == 3 && !removed.empty()) {
                Record back = removed.back();
                removed.pop_back();
                EXPECT_EQ(t->ordinalOf(t->insert(at, back)), at);
                model.insert(model.begin() + at, back);
            } else if (rng() % 3) {
                removed.push_back(t->read(l));
                auto nx = t->remove(l);
                model.erase(model.begin() + at);
                if (at < model.size()) {
                    ASSERT_TRUE(nx);
                    EXPECT_EQ(t->ordinalOf(*nx), at);
                } else {
                    EXPECT_FALSE(nx);
                }
            } else {
                Record r = model[at];
                r[2] = step % 2 ? Value::string(longText(rng() % 5000, "новое ")) : Value();
                r[5] = Value::real(step);
                r[0] = Value::integer(999999);  // the number stays
                t->update(l, r);
                r[0] = model[at][0];
                model[at] = r;
                EXPECT_EQ(t->read(l), r);
            }
        }
    }
    expectConsistent(db);
    auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
    EXPECT_EQ(allRecords(*t), model);
    // Numbering goes on after the highest number ever given, not the count.
    Record r(19);
    t->append(r);
    EXPECT_EQ(r[0], Value::integer(3001));
    // The memo file does not grow without bound: freed blobs are marked free.
    std::string mb = readFile(dir / "E.MB");
    size_t freeBlocks = 0;
    for (size_t off = 4096; off + 3 <= mb.size();) {
        uint8_t type = static_cast<uint8_t>(mb[off]);
        uint16_t n = u16(mb, off + 1);
        ASSERT_TRUE(type == 2 || type == 3 || type == 4) << off;
        ASSERT_GT(n, 0);
        if (type == 4) ++freeBlocks;
        off += size_t(n) * 4096;
    }
    EXPECT_GT(freeBlocks, 0u);
}

TEST(Write, NewTableReplacesTheOldFamily) {
    const auto demos = dbdemosDir();
    if (!demos) GTEST_SKIP() << dbdemosMissing();
    TempDir dir;
    copyFamily(*demos / "parts.db", dir.path());
    ASSERT_TRUE(fs::exists(dir / "parts.xg0"));
    createParadoxTable((dir / "parts.db").string(), {{"X", FieldType::Long, 0}});
    for (const char* gone : {"parts.px", "parts.x02", "parts.y02", "parts.xg0", "parts.yg0", "parts.VAL"})
        EXPECT_FALSE(fs::exists(dir / gone)) << gone;
    auto t = openParadoxTable((dir / "parts.db").string(), OpenMode::ReadWrite);
    EXPECT_EQ(t->recordCount(), 0u);
    EXPECT_TRUE(t->indexes().empty());
    std::string f = readFile(dir / "parts.db");
    EXPECT_EQ(static_cast<uint8_t>(f[0x39]), 0x0C);
    EXPECT_EQ(u16(f, 0x6A), 1251);
    EXPECT_NE(f.find(std::string("ancyrr\0", 7)), std::string::npos);
}

TEST(Write, RefusedWritesSayWhy) {
    TempDir dir;
    const fs::path db = dir / "R.DB";
    createParadoxTable(db.string(), {{"N", FieldType::Number, 0}, {"A", FieldType::Alpha, 3}, {"S", FieldType::Short, 0}});
    {
        auto ro = openParadoxTable(db.string(), OpenMode::ReadOnly);
        Record r(3);
        EXPECT_THROW(ro->append(r), Error);
    }
    auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
    struct Case {
        Record rec;
        const char* says;
    };
    const Case cases[] = {
        {{Value::string("abc"), {}, {}}, "не является числом"},
        {{{}, Value::string("中"), {}}, "символ «中»"},
        {{{}, {}, Value::integer(40000)}, "вне диапазона"},
        {{{}, {}}, "значений"},
    };
    for (const Case& c : cases) {
        Record r = c.rec;
        try {
            t->append(r);
            ADD_FAILURE() << c.says;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("R.DB"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(t->recordCount(), 0u);
    // Text longer than its field is cut at the field's end (bytes of the code page, a letter
    // each), with a warning; a text that fills it is whole.
    std::vector<std::string> warnings;
    setWarningSink([&](const std::string& w) { warnings.push_back(w); });
    for (const char* text : {"abcdef", "абвгд", "эюя"}) {
        Record r = {{}, Value::string(text), {}};
        t->append(r);
    }
    setWarningSink({});
    std::vector<Value> stored;
    for (auto loc = t->first(); loc; loc = t->next(*loc)) stored.push_back(t->read(*loc)[1]);
    EXPECT_EQ(stored, (std::vector<Value>{Value::string("abc"), Value::string("абв"), Value::string("эюя")}));
    ASSERT_EQ(warnings.size(), 2u);
    // Tables with index files stay read-only.
    TempDir d2;
    copyFamily(normbaseDir() / "RESURS.DB", d2.path());
    auto idx = openParadoxTable((d2 / "RESURS.DB").string(), OpenMode::ReadWrite);
    Record pr(idx->fields().size());
    EXPECT_THROW(idx->append(pr), Error);
}

TEST(Write, AnotherProgramHoldingTheTableIsReported) {
    TempDir dir;
    const fs::path db = dir / "L.DB";
    createParadoxTable(db.string(), {{"N", FieldType::Number, 0}});
    {
        // Two cursors of this program share the table.
        auto a = openParadoxTable(db.string(), OpenMode::ReadWrite);
        auto b = openParadoxTable(db.string(), OpenMode::ReadOnly);
        auto c = openParadoxTable(db.string(), OpenMode::ReadWrite);
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = ::open(db.c_str(), O_RDONLY);
        ::flock(fd, LOCK_SH);
        char x = 1;
        (void)!::write(ready[1], &x, 1);
        ::sleep(5);
        _exit(0);
    }
    char x;
    ASSERT_EQ(::read(ready[0], &x, 1), 1);
    try {
        openParadoxTable(db.string(), OpenMode::ReadWrite);
        ADD_FAILURE() << "opened";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("занята другой программой"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(openParadoxTable(db.string(), OpenMode::ReadOnly));  // readers coexist
    EXPECT_THROW(createParadoxTable(db.string(), {{"N", FieldType::Number, 0}}), Error);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_NO_THROW(openParadoxTable(db.string(), OpenMode::ReadWrite));
}

TEST(Write, AKilledWriterLeavesEveryStoredRecord) {
    // The header is written last; a writer killed before it leaves counters one block behind.
    TempDir dir;
    const fs::path db = dir / "K.DB";
    createParadoxTable(db.string(), estimateLike());
    std::string before;
    {
        auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
        Record r(19);
        for (int k = 0; k < 8; ++k) t->append(r);  // exactly one full 2 KiB block
        before = readFile(db).substr(0, 0x58);
        t->append(r);  // opens block 2
    }
    std::string now = readFile(db);
    now.replace(0, 0x58, before);  // as if killed just before the header write
    writeFile(db, now);
    auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
    EXPECT_EQ(t->recordCount(), 9u);
    Record r(19);
    t->append(r);
    EXPECT_EQ(t->recordCount(), 10u);
    EXPECT_EQ(r[0], Value::integer(10));  // record 9 survived the crash: its number is not given again
    expectConsistent(db);
}

TEST(Write, KeyedTablesTakeAppendsInKeyOrder) {
    TempDir dir;
    const fs::path db = dir / "KEY.DB";
    createParadoxTable(db.string(), {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 10}}, CreateOptions{1, 1251});
    auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
    for (int id : {-5, 1, 2, 100}) {
        Record r = {Value::integer(id), Value::string("n" + std::to_string(id))};
        t->append(r);
    }
    Record bad = {Value::integer(50), {}};
    EXPECT_THROW(t->append(bad), Error);
    ASSERT_EQ(t->lookup("", {Value::integer(2)}).size(), 1u);
    EXPECT_EQ(t->read(t->lookup("ID", {Value::integer(100)})[0])[1], Value::string("n100"));
    EXPECT_TRUE(t->lookup("", {Value::integer(3)}).empty());
}

// Without the fix in place, a table whose header counter lagged behind its stored numbers (as
// pxlib leaves it: counter 0) numbered the next record 1 again, repeating a position number.
TEST(Write, AutoincrementNeverRepeatsAStoredNumberWhenTheCounterLags) {
    TempDir dir;
    const fs::path db = dir / "lag.db";
    createParadoxTable(db.string(), estimateLike());
    {
        auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
        for (int i = 0; i < 3; ++i) {
            Record r(t->fields().size());
            t->append(r);
        }
    }
    {
        // Another writer's header: counter at 0 over records numbered 1..3.
        std::FILE* f = std::fopen(db.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        const uint8_t zero[4] = {0, 0, 0, 0};
        std::fseek(f, 0x49, SEEK_SET);
        std::fwrite(zero, 1, 4, f);
        std::fclose(f);
    }
    auto t = openParadoxTable(db.string(), OpenMode::ReadWrite);
    Record r(t->fields().size());
    t->append(r);
    EXPECT_EQ(r[0], Value::integer(4));
    std::vector<int64_t> numbers;
    for (auto loc = t->first(); loc; loc = t->next(*loc)) numbers.push_back(t->readField(*loc, 0).asInteger());
    EXPECT_EQ(numbers, (std::vector<int64_t>{1, 2, 3, 4}));
}

TEST(Write, RunsFillTheLastBlockThenNewBlocksInOneChain) {
    // 28-byte records: 72 to a 2 KiB block. Each run continues the last block before it starts
    // new ones; a table at its block limit refuses a run that needs a new block and writes nothing.
    struct Case {
        const char* what;
        std::vector<size_t> runs;
        std::vector<uint32_t> counts;  // records per block along the chain afterwards
    };
    const std::vector<Case> cases = {
        {"one record", {1}, {1}},
        {"a run filling one block exactly", {72}, {72}},
        {"a run over three blocks", {150}, {72, 72, 6}},
        {"runs topping up the last block", {70, 5, 1}, {72, 4}},
        {"single records across a block end", {71, 1, 1, 1}, {72, 2}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path db = dir / "RUN.DB";
        createParadoxTable(db.string(), {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 24}});
        std::vector<Record> all;
        {
            ParadoxTable t(db.string(), OpenMode::ReadWrite, 0);
            for (size_t n : c.runs) {
                std::vector<Record> run;
                for (size_t k = 0; k < n; ++k) run.push_back({Value::integer(int64_t(all.size() + k)), Value::string("r")});
                all.insert(all.end(), run.begin(), run.end());
                n == 1 ? (void)t.append(run[0]) : t.appendBatch(run);
            }
            EXPECT_EQ(allRecords(t), all) << c.what;
        }
        expectConsistent(db);
        const std::string f = readFile(db);
        const size_t hs = u16(f, 2);
        std::vector<uint32_t> counts;
        uint16_t prior = 0;
        for (uint16_t b = u16(f, 0x0E); b; prior = b, b = u16(f, hs + (b - 1) * 2048u)) {
            EXPECT_EQ(u16(f, hs + (b - 1) * 2048u + 2), prior) << c.what << ", block " << b;
            counts.push_back(static_cast<uint32_t>(static_cast<int16_t>(u16(f, hs + (b - 1) * 2048u + 4)) / 28 + 1));
        }
        EXPECT_EQ(counts, c.counts) << c.what;
    }

    TempDir dir;
    const fs::path db = dir / "FULL.DB";
    createParadoxTable(db.string(), {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 24}});
    {
        ParadoxTable t(db.string(), OpenMode::ReadWrite, 0);
        std::vector<Record> run(72, Record{Value::integer(1), {}});
        t.appendBatch(run);
    }
    std::string full = readFile(db);
    full[0x0C] = char(0xFF);  // the header counts 65 535 blocks
    full[0x0D] = char(0xFF);
    writeFile(db, full);
    ParadoxTable t(db.string(), OpenMode::ReadWrite, 0);
    std::vector<Record> more(3, Record{Value::integer(2), {}});
    try {
        t.appendBatch(more);
        ADD_FAILURE() << "a run past the block limit was taken";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("65535 блоков"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(db), full);
    EXPECT_EQ(t.recordCount(), 72u);
}

TEST(Write, CompanionFilesTakeTheLetterCaseOfTheTablesExtension) {
    // Every writer of the family names its files alike: in lower case beside a table whose
    // extension is lower case (as the vendor's samples and files from Unix systems are), in
    // capitals beside any other (as the engine writes them).
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"parts.db", {"parts.db", "parts.mb", "parts.px", "parts.x02", "parts.xg0", "parts.y02", "parts.yg0"}},
        {"CUSTOMER.DB", {"CUSTOMER.DB", "CUSTOMER.MB", "CUSTOMER.PX", "CUSTOMER.X02", "CUSTOMER.XG0", "CUSTOMER.Y02", "CUSTOMER.YG0"}},
        {"Смета.Db", {"Смета.Db", "Смета.MB", "Смета.PX", "Смета.X02", "Смета.XG0", "Смета.Y02", "Смета.YG0"}},
    };
    for (const auto& [table, want] : cases) {
        TempDir dir;
        CreateOptions keyed{.keyFields = 1, .indexFiles = true,
                            .indexes = {{"GRP", {"GRP"}, false}, {"BYCODE", {"CODE"}, true}}};
        TableBuilder b((dir / table).string(),
                       {{"ID", FieldType::Long, 0}, {"GRP", FieldType::Long, 0}, {"CODE", FieldType::Alpha, 8},
                        {"NOTE", FieldType::Memo, 1}},
                       keyed);
        b.add({Value::integer(1), Value::integer(5), Value::string("a"), Value::string(std::string(40, 'x'))});
        b.finish();
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, want) << table;
        EXPECT_EQ(companionPath((dir / table).string(), "MB"), (dir / want[1]).string());
    }
}

TEST(Write, BuiltTablesTakeTheirRecordsInOrderAndGetTheirIndexes) {
    TempDir dir;
    const fs::path db = dir / "B.DB";
    const std::vector<FieldDef> fields = {{"ID", FieldType::Long, 0}, {"GRP", FieldType::Long, 0}};
    {
        TableBuilder b(db.string(), fields, {.keyFields = 1, .indexFiles = true, .indexes = {{"GRP", {"GRP"}, false}}});
        for (int id = 1; id <= 2000; ++id) b.add({Value::integer(id), Value::integer(id % 7)});
        EXPECT_EQ(b.finish(), 2000u);
    }
    auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
    EXPECT_EQ(t->recordCount(), 2000u);
    EXPECT_EQ(t->lookup("GRP", {Value::integer(3)}).size(), 286u);
    EXPECT_EQ(t->read(t->lookup("", {Value::integer(1500)}).at(0))[1], Value::integer(1500 % 7));
    t.reset();
    Record late = {Value::integer(9000), {}};
    EXPECT_THROW(openParadoxTable(db.string(), OpenMode::ReadWrite)->append(late), Error);  // indexed: read-only

    // A table built under a temporary name speaks of the name the user knows; a record out of
    // key order stops it, the records before it stored.
    const fs::path tmp = dir / "~tmp.DB";
    TableBuilder b = TableBuilder::exactlyAt(tmp.string(), "Справочник.DB", fields, {.keyFields = 1});
    for (int id : {1, 2, 3}) b.add({Value::integer(id), {}});
    b.add({Value::integer(2), {}});
    try {
        b.finish();
        ADD_FAILURE() << "a key out of order was taken";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Справочник.DB"), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find("~tmp"), std::string::npos) << e.what();
    }
    EXPECT_EQ(openParadoxTable(tmp.string(), OpenMode::ReadOnly)->recordCount(), 3u);
}

// A gathered write lands as one write of its pieces would: empty pieces, more pieces than one
// system call takes, and a write past the end that grows the file.
TEST(Write, GatheredPiecesLandAsOneWriteOfTheirBytes) {
    TempDir dir;
    const std::string path = (dir / "G.BIN").string();
    RawFile f = RawFile::create(path);
    f.write(0, "0123456789", 10);
    std::vector<std::string> texts;
    std::string expected = "01";
    for (int i = 0; i < 3000; ++i) {
        texts.push_back(i % 7 == 0 ? std::string() : std::string(size_t(i % 5 + 1), char('a' + i % 26)));
        expected += texts.back();
    }
    std::vector<RawFile::Piece> pieces;
    for (const std::string& t : texts) pieces.push_back({t.data(), t.size()});
    f.write(2, pieces);
    EXPECT_EQ(f.size(), expected.size());
    std::string back(expected.size(), '\0');
    ASSERT_TRUE(f.readInto(0, back.data(), back.size()));
    EXPECT_EQ(back, expected);
}
