// The index writer against the index files of the pxlib-written norm base (laid out as the
// Borland engine lays them out), on multi-level trees, and on tables it must refuse.
#include "common/Error.h"
#include "storage/ParadoxIndexWriter.h"
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace talvira;
using namespace talvira::storage;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

uint16_t u16(const std::string& b, size_t o) { return uint16_t(uint8_t(b[o]) | uint8_t(b[o + 1]) << 8); }

fs::path fixtureBase() { return test::fixture("normbase-pxlib/Base"); }

/** Copies the fixture's tables (.DB and .MB, no index files) into `dir`, writable. */
void copyFixtureTables(const fs::path& dir) {
    for (auto& e : fs::directory_iterator(fixtureBase())) {
        std::string ext = e.path().extension().string();
        if (ext != ".DB" && ext != ".MB") continue;
        fs::copy_file(e.path(), dir / e.path().filename());
        fs::permissions(dir / e.path().filename(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

/** The fixture's indexes, each table's primary and secondary ones in two steps or (`oneWalk`)
 *  as a table just built gets them. */
void writeFixtureIndexes(const fs::path& dir, bool oneWalk = false) {
    const std::map<std::string, std::vector<SecondaryIndexDef>> secondary = {
        {"000_EDIZM", {}}, {"000_NAME", {}}, {"000_REESTR", {}},
        {"OGL", {{"IDREESTR", {"IDREESTR"}, false}}},
        {"RABMAT", {{"IDNAME_INDEX", {"IDNAME"}, true}, {"IDOGL", {"IDOGL"}, false}, {"IDREESTR", {"IDREESTR"}, false}}},
        {"RESURS", {{"IDRAB", {"IDRAB"}, false}}}};
    for (const auto& [t, defs] : secondary) {
        const std::string path = (dir / (t + ".DB")).string();
        if (oneWalk) {
            writeIndexes(path, 1, defs);
            continue;
        }
        writePrimaryIndex(path, 1);
        if (!defs.empty()) writeSecondaryIndexes(path, defs);
    }
}

/** Header bytes that legitimately differ from the other index writer's files: run-time
 *  pointers, change counters and stamps, and the update time. */
bool mayDiffer(size_t off, bool treeFile) {
    if (off == 0x12 || off == 0x13) return true;               // change counter
    if (off >= 0x16 && off <= 0x1D) return true;               // RAM pointers
    if (off >= 0x2C && off <= 0x2F) return true;               // change counts and stamps
    if (off >= 0x30 && off <= 0x37) return true;               // table name / field info pointers
    if (!treeFile && off >= 0x60 && off <= 0x63) return true;  // update time
    if (treeFile && off >= 0x5A && off <= 0x5D) return true;   // table name pointer
    return false;
}

}  // namespace

// Each index file we write for the fixture's tables, in two steps or in one walk, matches the
// fixture's own, byte for byte, apart from the bytes named in mayDiffer().
TEST(IndexWriter, MatchesFixtureIndexFilesByteForByte) {
    for (const bool oneWalk : {false, true}) {
        SCOPED_TRACE(oneWalk ? "one walk" : "two steps");
        test::TempDir dir("mkbase-ix");
        copyFixtureTables(dir.path());
        writeFixtureIndexes(dir.path(), oneWalk);
        const std::vector<std::string> files = {
            "000_EDIZM.PX", "000_NAME.PX", "000_REESTR.PX", "OGL.PX", "RABMAT.PX", "RESURS.PX",
            "OGL.X02", "OGL.Y02", "RABMAT.X03", "RABMAT.Y03", "RABMAT.X0B", "RABMAT.Y0B",
            "RABMAT.XG0", "RABMAT.YG0", "RESURS.X02", "RESURS.Y02"};
        for (const auto& f : files) {
            SCOPED_TRACE(f);
            ASSERT_TRUE(fs::exists(dir / f));
            std::string ours = readAll(dir / f), theirs = readAll(fixtureBase() / f);
            ASSERT_EQ(ours.size(), theirs.size());
            bool tree = f.find(".PX") != std::string::npos || f.find(".Y") != std::string::npos;
            for (size_t i = 0; i < ours.size(); ++i)
                if (ours[i] != theirs[i] && !mayDiffer(i, tree)) {
                    ADD_FAILURE() << "byte 0x" << std::hex << i << ": ours " << int(uint8_t(ours[i])) << ", theirs "
                                  << int(uint8_t(theirs[i]));
                    break;
                }
        }
        // The tables themselves only changed where they became keyed (they already were).
        for (auto* t : {"RABMAT.DB", "RESURS.DB", "000_NAME.DB"})
            EXPECT_EQ(readAll(dir / t), readAll(fixtureBase() / t)) << t;
    }
}

// Writing the secondary indexes again replaces the old files, leaving no stale ones behind.
TEST(IndexWriter, RewritingRemovesStaleIndexFiles) {
    test::TempDir dir("mkbase-ix");
    copyFixtureTables(dir.path());
    writeFixtureIndexes(dir.path());
    auto written = writeSecondaryIndexes((dir / "RABMAT.DB").string(), {{"IDOGL", {"IDOGL"}, false}});
    std::set<std::string> names;
    for (auto& w : written) names.insert(fs::path(w).filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"RABMAT.X0B", "RABMAT.Y0B"}));
    EXPECT_FALSE(fs::exists(dir / "RABMAT.XG0"));
    EXPECT_FALSE(fs::exists(dir / "RABMAT.X03"));
    EXPECT_TRUE(fs::exists(dir / "RABMAT.PX"));
    auto t = openParadoxTable((dir / "RABMAT.DB").string(), OpenMode::ReadOnly);
    std::vector<std::string> indexNames;
    for (auto& ix : t->indexes()) indexNames.push_back(ix.primary ? "(primary)" : ix.name);
    EXPECT_EQ(indexNames, (std::vector<std::string>{"(primary)", "IDOGL"}));
}

TEST(IndexWriter, FileNames) {
    struct Case { const char* what; SecondaryIndexDef def; int field; int xg; const char* expected; };
    const std::vector<Case> cases = {
        {"plain single field", {"IDRAB", {"IDRAB"}, false}, 2, 0, "RESURS.X02"},
        {"field number in hex", {"IDOGL", {"IDOGL"}, false}, 11, 0, "RESURS.X0B"},
        {"case-insensitive", {"IDRAB", {"IDRAB"}, true}, 2, 0, "RESURS.XG0"},
        {"own name", {"BYRATE", {"IDRAB"}, false}, 2, 1, "RESURS.XG1"},
        {"composite", {"IDRAB", {"IDRAB", "ID"}, false}, 2, 3, "RESURS.XG3"},
    };
    for (auto& c : cases) EXPECT_EQ(secondaryIndexFileName("RESURS.DB", c.def, c.field, c.xg), c.expected) << c.what;
}

// A table large enough for trees of two levels: every look-up through the primary index and
// through each secondary index gives what a scan and a sort give.
TEST(IndexWriter, MultiLevelTreesAgreeWithScanAndSort) {
    test::TempDir dir("mkbase-ix");
    const std::string path = (dir / "BIG.DB").string();
    createParadoxTable(path, {{"ID", FieldType::Long, 0}, {"GRP", FieldType::Long, 0},
                              {"CODE", FieldType::Alpha, 12}, {"Q", FieldType::Number, 0}, {"STEP", FieldType::Long, 0}});
    const int n = 60000;
    // STEP grows with the key but for the last records (as records added after the rest).
    auto step = [&](int i) { return i <= n - 700 ? i / 10 : (i * 31) % 6000; };
    const std::vector<std::string> words = {"бетон", "Бетон", "БЕТОН", "щебень", "Щебень", "ёрш", "Ёрш", "alpha", "ALPHA"};
    {
        auto t = openParadoxTable(path, OpenMode::ReadWrite);
        for (int i = 1; i <= n; ++i) {
            Record r = {Value::integer(i * 3), Value::integer((i * 7919) % 997),
                        Value::string(words[size_t(i) % words.size()]),
                        i % 13 ? Value::real(i / 8.0) : Value(), Value::integer(step(i))};
            t->append(r);
        }
    }
    writeIndexes(path, 1, {{"GRP", {"GRP"}, false}, {"BYCODE", {"CODE"}, true}, {"STEP", {"STEP"}, false}});
    std::string y = readAll(dir / "BIG.Y02");
    EXPECT_GE(int(uint8_t(y[0x20])), 2) << "the Y tree should have two levels for this size";
    std::string px = readAll(dir / "BIG.PX");
    EXPECT_GE(int(uint8_t(px[0x20])), 1);

    auto t = openParadoxTable(path, OpenMode::ReadOnly);
    ASSERT_EQ(t->recordCount(), uint32_t(n));
    std::map<int64_t, std::vector<int64_t>> byGroup;  // GRP -> IDs in ID order
    std::map<std::string, std::vector<int64_t>> byCode;
    std::vector<std::pair<int64_t, int64_t>> bySteps;  // (STEP, ID)
    const std::map<std::string, std::string> upper = {
        {"бетон", "БЕТОН"}, {"Бетон", "БЕТОН"}, {"БЕТОН", "БЕТОН"}, {"щебень", "ЩЕБЕНЬ"}, {"Щебень", "ЩЕБЕНЬ"},
        {"ёрш", "ЁРШ"}, {"Ёрш", "ЁРШ"}, {"alpha", "ALPHA"}, {"ALPHA", "ALPHA"}};
    for (auto loc = t->first(); loc; loc = t->next(*loc)) {
        Record r = t->read(*loc);
        byGroup[r[1].asInteger()].push_back(r[0].asInteger());
        byCode[upper.at(r[2].asString())].push_back(r[0].asInteger());
        bySteps.emplace_back(r[4].asInteger(), r[0].asInteger());
    }
    auto ids = [&](const std::vector<RecordLoc>& locs) {
        std::vector<int64_t> out;
        for (auto& l : locs) out.push_back(t->readField(l, 0).asInteger());
        return out;
    };
    for (int g : {0, 1, 500, 996}) EXPECT_EQ(ids(t->lookup("GRP", {Value::integer(g)})), byGroup[g]) << g;
    EXPECT_TRUE(t->lookup("GRP", {Value::integer(5000)}).empty());
    for (int id : {3, 30000, 179997, 180000}) {
        auto hit = ids(t->lookup("", {Value::integer(id)}));
        EXPECT_EQ(hit, std::vector<int64_t>{id}) << id;
    }
    EXPECT_TRUE(t->lookup("", {Value::integer(4)}).empty());
    EXPECT_EQ(ids(t->lookup("BYCODE", {Value::string("бетон")})), byCode["БЕТОН"]);
    EXPECT_EQ(ids(t->lookup("BYCODE", {Value::string("ЁРШ")})), byCode["ЁРШ"]);
    // The whole secondary order: groups ascending, IDs ascending within a group.
    std::vector<int64_t> expected;
    for (auto& [g, v] : byGroup) expected.insert(expected.end(), v.begin(), v.end());
    EXPECT_EQ(ids(t->scan("GRP")), expected);
    std::sort(bySteps.begin(), bySteps.end());
    expected.clear();
    for (auto& [st, id] : bySteps) expected.push_back(id);
    EXPECT_EQ(ids(t->scan("STEP")), expected);
}

// A packed decimal (#) stores its decimals in the header's size byte but takes 17 bytes in the
// record: the fields after it must be found at their real places, and a table holding one must
// not be taken for a damaged one.
TEST(IndexWriter, FieldsAfterAPackedDecimalAreIndexedAtTheirPlace) {
    test::TempDir dir("mkbase-bcd");
    const std::string path = (dir / "PRICE.DB").string();
    createParadoxTable(path, {{"ID", FieldType::Long, 0}, {"SUM", FieldType::BCD, 2},
                              {"GRP", FieldType::Long, 0}, {"CODE", FieldType::Alpha, 8}});
    {
        auto t = openParadoxTable(path, OpenMode::ReadWrite);
        for (int i = 1; i <= 40; ++i) {
            Record r = {Value::integer(i), Value::real(i * 1.25), Value::integer(i % 4), Value::string(i % 2 ? "шифр" : "ШИФР")};
            t->append(r);
        }
    }
    writePrimaryIndex(path, 1);
    writeSecondaryIndexes(path, {{"GRP", {"GRP"}, false}, {"BYCODE", {"CODE", "GRP"}, true}});
    auto t = openParadoxTable(path, OpenMode::ReadOnly);
    auto ids = [&](const std::vector<RecordLoc>& locs) {
        std::vector<int64_t> out;
        for (auto& l : locs) out.push_back(t->readField(l, 0).asInteger());
        return out;
    };
    const std::vector<int64_t> group3 = {3, 7, 11, 15, 19, 23, 27, 31, 35, 39};
    EXPECT_EQ(ids(t->lookup("GRP", {Value::integer(3)})), group3);
    EXPECT_EQ(ids(t->lookup("BYCODE", {Value::string("Шифр"), Value::integer(3)})), group3);
    EXPECT_EQ(ids(t->lookup("", {Value::integer(17)})), std::vector<int64_t>{17});
}

// Tables the writer must refuse, each with an error naming the file or the field.
TEST(IndexWriter, RefusesWhatItCannotIndex) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> prepare;
        std::function<void(const std::string& path)> act;
        const char* messagePart;
    };
    const std::vector<FieldDef> fields = {{"ID", FieldType::Long, 0}, {"NOTE", FieldType::Memo, 20}, {"K", FieldType::Long, 0}};
    auto fill = [&](const std::string& path, std::vector<int> ids) {
        createParadoxTable(path, fields);
        auto t = openParadoxTable(path, OpenMode::ReadWrite);
        for (int id : ids) {
            Record r = {Value::integer(id), Value::string("x"), Value::integer(id % 3)};
            t->append(r);
        }
    };
    const std::vector<Case> cases = {
        {"records out of key order", [&](auto& p) { fill(p, {1, 3, 2}); },
         [](auto& p) { writePrimaryIndex(p, 1); }, "не упорядочены"},
        {"a repeated key", [&](auto& p) { fill(p, {1, 2, 2}); },
         [](auto& p) { writePrimaryIndex(p, 1); }, "не упорядочены"},
        {"a memo in the key", [&](auto& p) { fill(p, {1, 2}); },
         [](auto& p) { writePrimaryIndex(p, 2); }, "NOTE"},
        {"an unknown index field", [&](auto& p) { fill(p, {1, 2}); writePrimaryIndex(p, 1); },
         [](auto& p) { writeSecondaryIndexes(p, {{"NOPE", {"NOPE"}, false}}); }, "NOPE"},
        {"a secondary index on an unkeyed table", [&](auto& p) { fill(p, {1, 2}); },
         [](auto& p) { writeSecondaryIndexes(p, {{"K", {"K"}, false}}); }, "без первичного ключа"},
        {"a missing table", [](auto&) {},
         [](auto& p) { writePrimaryIndex(p, 1); }, "не найдена"},
        {"a truncated table", [&](auto& p) { fill(p, {1, 2}); fs::resize_file(p, 100); },
         [](auto& p) { writePrimaryIndex(p, 1); }, "повреждён"},
        {"a block chain that loops", [&](auto& p) {
             fill(p, {1, 2});
             std::string b = readAll(p);
             size_t block1 = u16(b, 2);
             b[block1] = 1;  // block 1 points to itself
             writeAll(p, b);
         },
         [](auto& p) { writePrimaryIndex(p, 1); }, "зациклена"},
        {"a text file named .DB", [](auto& p) { writeAll(p, std::string(3000, 'a')); },
         [](auto& p) { writePrimaryIndex(p, 1); }, "повреждён"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir("mkbase-bad");
        std::string path = (dir / "T.DB").string();
        c.prepare(path);
        try {
            c.act(path);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find(c.messagePart), std::string::npos) << msg;
            EXPECT_TRUE(msg.find("T.DB") != std::string::npos || msg.find("NOTE") != std::string::npos ||
                        msg.find("NOPE") != std::string::npos) << msg;
        }
    }
}

// An empty table gets index files without blocks, and the reader finds nothing through them.
TEST(IndexWriter, EmptyTableGetsEmptyIndexes) {
    test::TempDir dir("mkbase-ix");
    const std::string path = (dir / "EMPTY.DB").string();
    createParadoxTable(path, {{"ID", FieldType::Long, 0}, {"IDRAB", FieldType::Long, 0}});
    writePrimaryIndex(path, 1);
    writeSecondaryIndexes(path, {{"IDRAB", {"IDRAB"}, false}});
    for (auto* f : {"EMPTY.PX", "EMPTY.X02", "EMPTY.Y02"}) {
        std::string b = readAll(dir / f);
        EXPECT_EQ(u16(b, 0x0C), 0) << f << ": no blocks";
        EXPECT_EQ(b.size(), size_t(u16(b, 0x02))) << f << ": the header only";
    }
    auto t = openParadoxTable(path, OpenMode::ReadOnly);
    EXPECT_EQ(t->recordCount(), 0u);
    EXPECT_EQ(t->indexes().size(), 2u);
    EXPECT_TRUE(t->lookup("IDRAB", {Value::integer(1)}).empty());
    EXPECT_TRUE(t->lookup("", {Value::integer(1)}).empty());
    EXPECT_TRUE(t->scan("IDRAB").empty());
}
