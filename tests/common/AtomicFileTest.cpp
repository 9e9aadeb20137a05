// The one writer of whole files: names never replace an earlier file when asked not to, a failure
// leaves the old file and no temporary, a writer killed anywhere leaves the old or the new file
// whole, and whatever a gone writer left beside the target goes with the next write of it.
#include "common/AtomicFile.h"

#include "common/Error.h"
#include "tests/support/KilledChild.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

/** The names in `dir`, sorted. */
std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

/** The number of a process that has ended (and been reaped). */
long goneProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(AtomicFile, NamesNeverReplaceAnEarlierFileWhenAskedNotTo) {
    TempDir dir("talvira-atomic");
    EXPECT_EQ(writeFileAtomically(dir / "Смета Дом.xls", "1", true, "книгу"), dir / "Смета Дом.xls");
    EXPECT_EQ(writeFileAtomically(dir / "Смета Дом.xls", "2", true, "книгу"), dir / "Смета Дом (2).xls");
    EXPECT_EQ(contentOf(dir / "Смета Дом.xls"), "1");
    EXPECT_EQ(writeFileAtomically(dir / "Смета Дом.xls", "3", false, "книгу"), dir / "Смета Дом.xls");
    EXPECT_EQ(contentOf(dir / "Смета Дом.xls"), "3");
    // nothing half-written
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"Смета Дом.xls", "Смета Дом (2).xls"}));
    EXPECT_THROW(writeFileAtomically(dir / "нет" / "x.xls", "1", true, "книгу"), Error);
}

TEST(AtomicFile, AFailureLeavesTheOldFileAndNoTemporary) {
    const struct {
        const char* name;
        const char* target;                       // in the scratch folder
        std::function<void(const fs::path&)> write;
        const char* message;                      // a piece of it
    } rows[] = {
        {"the content cannot be made", "a.txt", [](const fs::path&) { throw Error("нет данных"); }, "нет данных"},
        {"the folder is missing", "нет/a.txt", [](const fs::path& t) { put(t, "new"); },
         "Не удалось записать файл «"},
        {"a folder has the name", "folder", [](const fs::path& t) { put(t, "new"); },
         "Не удалось записать файл «"},
        {"the writer's own error", "a.txt", [](const fs::path& t) { writeFailed(t, ENOSPC, "файл"); },
         "на диске нет места"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir("talvira-atomic-fail");
        put(dir / "a.txt", "old");
        fs::create_directory(dir / "folder");
        const std::set<std::string> before = namesIn(dir.path());
        try {
            writeFileAtomically(dir / r.target, r.write, false, "файл");
            ADD_FAILURE() << "written";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(namesIn(dir.path()), before);
        EXPECT_EQ(contentOf(dir / "a.txt"), "old");
        EXPECT_TRUE(fs::is_directory(dir / "folder"));
    }
}

TEST(AtomicFile, WhatGoneWritersLeftGoesWithTheNextWriteOfThatFile) {
    TempDir dir("talvira-atomic-left");
    const std::string gone = std::to_string(goneProcess());
    const std::string self = std::to_string(::getpid());
    const struct {
        const char* name;
        std::string file;
        bool removed;
    } rows[] = {
        {"of a process that is gone", ".a.txt.part-" + gone + "-0", true},
        {"empty, of a process that is gone", ".a.txt.part-" + gone + "-17", true},
        {"of this process, not being written (a process before had its number)", ".a.txt.part-" + self + "-9", true},
        {"of a running process", ".a.txt.part-1-0", false},
        {"of another file", ".b.txt.part-" + gone + "-0", false},
        {"of a file whose name starts alike", ".a.txt.bak.part-" + gone + "-0", false},
        {"not numbered", ".a.txt.part-" + gone + "-x", false},
        {"without its number", ".a.txt.part-" + gone + "-", false},
        {"the user's own file", "a.txt.part-" + gone + "-0", false},
    };
    for (const auto& r : rows) put(dir / r.file, "left");
    fs::create_directory(dir / (".a.txt.part-" + gone + "-5"));  // a folder is never removed
    writeFileAtomically(dir / "a.txt", "new", false, "файл");
    EXPECT_EQ(contentOf(dir / "a.txt"), "new");
    for (const auto& r : rows) EXPECT_EQ(fs::exists(dir / r.file), !r.removed) << r.name;
    EXPECT_TRUE(fs::is_directory(dir / (".a.txt.part-" + gone + "-5")));
}

TEST(AtomicFile, AWriterKilledAnywhereLeavesTheOldOrTheNewFileAndTheNextWriteTidies) {
    TempDir dir("talvira-atomic-kill");
    const fs::path target = dir / "Смета.side";
    // Two contents the child writes in turn, each large enough that a kill lands inside a write.
    const std::string a(1 << 19, 'a'), b(1 << 19, 'b'), first = "first";
    put(target, first);
    const auto t0 = std::chrono::steady_clock::now();
    writeFileAtomically(target, a, false, "файл");
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    auto cycle = [&] {
        for (;;) {
            writeFileAtomically(target, b, false, "файл");
            writeFileAtomically(target, a, false, "файл");
        }
    };
    std::mt19937 rng(20261214);
    int leftBehind = 0;
    // 24 kills, and more (up to 400) until one landed inside a write and left its temporary.
    for (int attempt = 0; attempt < 400 && (attempt < 24 || leftBehind == 0); ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        ASSERT_TRUE(killedWhileRunning(cycle, std::chrono::microseconds(rng() % uint32_t(4 * span.count() + 1000))))
            << "the child stopped by itself (a failed write?)";
        const std::string now = contentOf(target);
        ASSERT_TRUE(now == a || now == b) << "a torn file of " << now.size() << " bytes";
        const std::set<std::string> names = namesIn(dir.path());
        leftBehind += names.size() > 1;
        for (const std::string& n : names)
            if (n != target.filename().string()) {
                EXPECT_TRUE(n.starts_with(".Смета.side.part-")) << n;
            }
        // The next write takes the temporary away with it.
        writeFileAtomically(target, a, false, "файл");
        EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{target.filename().string()});
    }
    EXPECT_GT(leftBehind, 0) << "no kill landed inside a write";
}

}  // namespace
}  // namespace talvira::test
