#pragma once
/** Where tests find their data, and scratch directories that clean up after themselves.
 *
 *  Every file a test reads is in the repository under tests/data, except the vendor's sample
 *  Paradox tables (dbdemos), which may not be copied there: they are looked for beside the
 *  checkout, and the tests that need them are skipped, saying why, when they are absent. */
#include <filesystem>
#include <optional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::test {

/** tests/data of the repository. */
std::filesystem::path testDataDir();

/** A file or folder of tests/data by its path there ("templates/1.xls"). Being part of the
 *  repository, a missing one is a fault: std::runtime_error naming it (a failed test, not an
 *  empty read further on). */
std::filesystem::path fixture(std::string_view relative);

/** Empty when fixture(relative) is there, else the message it would throw; for QtTest, which
 *  ends the whole program on an exception. */
std::string missingFixture(std::string_view relative);

/** The files under `dir` (and its subfolders) whose extension is `ext` (".db") in any letter
 *  case, sorted. */
std::vector<std::filesystem::path> filesUnder(const std::filesystem::path& dir, std::string_view ext);

/** The vendor's sample tables (../shared/fixtures/real/paradox/dbdemos beside the checkout), or
 *  nothing when that folder is absent. */
std::optional<std::filesystem::path> dbdemosDir();

/** Why a test that needs dbdemos is skipped: GTEST_SKIP() << dbdemosMissing(). */
std::string dbdemosMissing();

/** The tables written by other Paradox software: tests/data/real/paradox, and dbdemos when
 *  it is there. */
std::vector<std::filesystem::path> realParadoxTables();
/** Every file under `dir` (relative path) with its bytes: what a step must leave unchanged. */
std::map<std::string, std::string> directoryBytes(const std::filesystem::path& dir);

/** A fresh empty directory under the system temporary folder, removed with the object. */
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "talvira-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace talvira::test
