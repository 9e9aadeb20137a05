#pragma once
/** Where tests find their data, and scratch directories that clean up after themselves. */
#include <filesystem>
#include <map>
#include <string>

namespace talvira::test {

/** ../shared/fixtures (TALVIRA_FIXTURES in the environment, set by ctest). */
std::filesystem::path fixturesDir();

/** tests/data of the repository (TALVIRA_TEST_DATA). */
std::filesystem::path testDataDir();

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
