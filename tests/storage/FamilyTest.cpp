// Replacing a table as a whole family: the new table built beside the old one and renamed into
// place, companions found in any letter case, and every refused replacement leaving the old
// family byte for byte as it was.
#include "common/Error.h"
#include "storage/TableFamily.h"
#include "storage/TableFile.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

const std::vector<FieldDef> kFields = {{"COUNT", FieldType::AutoInc, 0},
                                       {"TAB", FieldType::Alpha, 20},
                                       {"NAME", FieldType::Memo, 10},
                                       {"KOLVO", FieldType::Number, 0}};

/** Every file of the folder with its bytes. */
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = readFile(e.path());
    return out;
}

/** A table "Дом.db" with two records (one memo in the .MB), its .MB spelt "Дом.MB", and stale
 *  index files in capitals beside it. */
void makeOld(const fs::path& dir) {
    createParadoxTable((dir / "Дом.db").string(), kFields);
    {
        auto t = openParadoxTable((dir / "Дом.db").string(), OpenMode::ReadWrite);
        Record a = {{}, Value::string("T1"), Value::string(std::string(400, 'a')), Value::real(1.5)};
        Record b = {{}, Value::string("T2"), Value::string("short"), Value::real(2)};
        t->append(a);
        t->append(b);
    }
    fs::rename(dir / "Дом.mb", dir / "Дом.MB");
    writeFile(dir / "ДОМ.X02", "stale");
    writeFile(dir / "Дом.Y02", "stale");
    writeFile(dir / "дом.VAL", "stale");
    writeFile(dir / "Домик.X02", "another table's");
}

TEST(Family, CompanionsAreFoundInAnyLetterCase) {
    TempDir dir;
    makeOld(dir.path());
    auto family = tableFamilyFiles(dir / "ДОМ.DB");
    std::vector<std::string> names;
    for (const auto& f : family) names.push_back(f.filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> want = {"Дом.MB", "Дом.Y02", "Дом.db", "ДОМ.X02", "дом.VAL"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);
}

TEST(Family, ReplacedTableHoldsTheGivenRecordsAndNothingOfTheOld) {
    TempDir dir;
    makeOld(dir.path());
    const std::string memo(5000, 'm');
    std::vector<Record> recs = {{Value::integer(7), Value::string("A"), Value::string(memo), Value::real(3)},
                                {Value::integer(3), Value::string("B"), {}, {}},
                                {{}, Value::string("C"), Value::string("x"), {}}};
    replaceTable(dir.path(), "ДОМ.DB", kFields, recs);  // the name in another case finds the table

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    // The table keeps its spelling and its memo file's; indexes and validity file are gone.
    std::vector<std::string> want = {"Домик.X02", "Дом.MB", "Дом.db"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);

    auto t = openParadoxTable((dir / "Дом.db").string(), OpenMode::ReadWrite);
    auto got = allRecords(*t);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][0], Value::integer(7));  // autoincrement values as given
    EXPECT_EQ(got[1][0], Value::integer(3));
    EXPECT_EQ(got[2][0], Value::integer(8));  // an empty one numbered after the highest
    EXPECT_EQ(got[0][2], Value::string(memo));
    EXPECT_EQ(got[1][1], Value::string("B"));
    EXPECT_TRUE(got[1][2].isEmpty());
    Record next = {{}, Value::string("D"), {}, {}};
    t->append(next);
    EXPECT_EQ(next[0], Value::integer(9));

    t.reset();
    replaceWithEmptyTable(dir.path(), "Дом.db", kFields);
    auto e = openParadoxTable((dir / "Дом.db").string(), OpenMode::ReadOnly);
    EXPECT_EQ(e->recordCount(), 0u);
    EXPECT_EQ(e->fields(), kFields);
}

TEST(Family, AMissingTableIsCreated) {
    TempDir dir;
    replaceTable(dir.path(), "Новая.db", kFields, {{{}, Value::string("A"), Value::string(std::string(300, 'z')), {}}});
    auto t = openParadoxTable((dir / "Новая.db").string(), OpenMode::ReadOnly);
    EXPECT_EQ(t->recordCount(), 1u);
    EXPECT_TRUE(fs::exists(dir / "Новая.mb"));
}

TEST(Family, RefusedReplacementLeavesTheOldFamilyAsItWas) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::vector<Record> records;
    };
    const Case cases[] = {
        {"read-only table", [](const fs::path& d) { fs::permissions(d / "Дом.db", fs::perms::owner_read, fs::perm_options::replace); }, {}},
        {"read-only memo file", [](const fs::path& d) { fs::permissions(d / "Дом.MB", fs::perms::owner_read, fs::perm_options::replace); }, {}},
        {"read-only index file", [](const fs::path& d) { fs::permissions(d / "ДОМ.X02", fs::perms::owner_read, fs::perm_options::replace); }, {}},
        {"a record the new table refuses", [](const fs::path&) {},
         {{{}, Value::string("ok"), {}, {}}, {{}, Value::string("bad"), {}, Value::string("not a number")}}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        makeOld(dir.path());
        c.spoil(dir.path());
        const auto before = snapshot(dir.path());
        try {
            replaceTable(dir.path(), "Дом.db", kFields, c.records);
            ADD_FAILURE() << c.what;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("Дом.db"), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("~talvira"), std::string::npos) << e.what();
        }
        EXPECT_EQ(snapshot(dir.path()), before) << c.what;  // nothing changed, nothing left behind
        for (const auto& e : fs::directory_iterator(dir.path())) fs::permissions(e.path(), fs::perms::owner_all);
    }
}

TEST(Family, VanishedFolderIsReported) {
    TempDir dir;
    try {
        replaceWithEmptyTable(dir / "нет", "Дом.db", kFields);
        ADD_FAILURE() << "replaced";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("не существует"), std::string::npos) << e.what();
    }
}

TEST(Family, ReadOnlyFolderRefusesUnlessTheSystemLetsTheUserWrite) {
    TempDir dir;
    makeOld(dir.path());
    const auto before = snapshot(dir.path());
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    const bool systemLets = ::access(dir.path().c_str(), W_OK) == 0;
    if (systemLets) {
        EXPECT_NO_THROW(replaceWithEmptyTable(dir.path(), "Дом.db", kFields));
    } else {
        EXPECT_THROW(replaceWithEmptyTable(dir.path(), "Дом.db", kFields), Error);
        EXPECT_EQ(snapshot(dir.path()), before);
    }
    fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST(Family, TableHeldByAnotherProgramIsLeftIntact) {
    TempDir dir;
    makeOld(dir.path());
    const auto before = snapshot(dir.path());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = ::open((dir / "Дом.db").c_str(), O_RDONLY);
        ::flock(fd, LOCK_SH);
        char x = 1;
        (void)!::write(ready[1], &x, 1);
        ::sleep(5);
        _exit(0);
    }
    char x;
    ASSERT_EQ(::read(ready[0], &x, 1), 1);
    try {
        replaceWithEmptyTable(dir.path(), "Дом.db", kFields);
        ADD_FAILURE() << "replaced";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("занята другой программой"), std::string::npos) << e.what();
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(snapshot(dir.path()), before);
}

}  // namespace

namespace {

std::vector<std::string> memoTexts(const fs::path& db) {
    std::vector<std::string> out;
    auto t = openParadoxTable(db.string(), OpenMode::ReadOnly);
    for (auto loc = t->first(); loc; loc = t->next(*loc)) out.push_back(t->read(*loc)[2].asString());
    return out;
}

}  // namespace

TEST(Family, MemoFileMostlyUnusedIsWrittenAnewWithTheSameRecords) {
    TempDir dir;
    makeOld(dir.path());
    const fs::path db = dir / "Дом.db", mb = dir / "Дом.MB";
    EXPECT_FALSE(compactMemo(db)) << "a memo file in use is left alone";
    std::vector<Record> records;
    for (int i = 0; i < 30; ++i)
        records.push_back({Value::integer(i + 1), Value::string("T"), Value::string(std::string(100 + i, 'x')), {}});
    for (int step = 0; step < 20; ++step) replaceTable(dir.path(), "Дом.db", kFields, records);  // as undo writes
    const auto before = memoTexts(db);
    const auto grown = fs::file_size(mb);
    EXPECT_TRUE(compactMemo(db));
    EXPECT_LT(fs::file_size(mb) * 2, grown);
    EXPECT_EQ(memoTexts(db), before);
    EXPECT_FALSE(compactMemo(db)) << "once compact, it stays as it is";
    EXPECT_TRUE(fs::exists(dir / "Домик.X02"));
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '~');
}

TEST(Family, RenamesLeftHalfDoneByAKilledProgramAreFinished) {
    // The new table is in place, its memo file still under the temporary name.
    TempDir dir, other;
    makeOld(dir.path());
    replaceTable(other.path(), "Дом.db", kFields, {{Value::integer(7), Value::string("N"), Value::string(std::string(300, 'n')), {}}});
    const std::string stem = "~talvira-999999999-3";
    fs::copy_file(other / "Дом.db", dir / "Дом.db", fs::copy_options::overwrite_existing);
    fs::copy_file(other / "Дом.mb", dir / (stem + ".mb"));
    auto note = [&](const fs::path& table) {
        struct stat st {};
        ::stat(table.c_str(), &st);
        writeFile(dir / (stem + ".moves"), std::to_string(st.st_ino) + '\0' + stem + ".db" + '\0' + "Дом.db" + '\0' +
                                               stem + ".mb" + '\0' + "Дом.MB" + '\0');
    };
    note(dir / "Дом.db");
    finishInterruptedReplace(dir.path());
    EXPECT_EQ(memoTexts(dir / "Дом.db"), std::vector<std::string>{std::string(300, 'n')});
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '~');

    // A table replaced since then keeps its own memo file; the stale note and files go, and
    // so does a new table a killed program never put in place.
    note(other / "Дом.db");
    writeFile(dir / "~talvira-999999999-4.db", "half written");
    fs::copy_file(other / "Дом.mb", dir / (stem + ".mb"));
    replaceTable(dir.path(), "Дом.db", kFields, {{Value::integer(1), Value::string("L"), Value::string(std::string(99, 'l')), {}}});
    finishInterruptedReplace(dir.path());
    EXPECT_EQ(memoTexts(dir / "Дом.db"), std::vector<std::string>{std::string(99, 'l')});
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '~');
}
