#include "tests/support/TestPaths.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace talvira::test {

namespace fs = std::filesystem;

fs::path testDataDir() { return TALVIRA_TEST_DATA_DIR; }

std::string missingFixture(std::string_view relative) {
    const fs::path p = testDataDir() / relative;
    if (fs::exists(p)) return {};
    return "tests/data/" + std::string(relative) + " is missing from the repository (looked for " + p.string() + ")";
}

fs::path fixture(std::string_view relative) {
    if (std::string why = missingFixture(relative); !why.empty()) throw std::runtime_error(why);
    return testDataDir() / relative;
}

std::vector<fs::path> filesUnder(const fs::path& dir, std::string_view ext) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && lower(e.path().extension().string()) == lower(std::string(ext)))
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<fs::path> dbdemosDir() {
    const fs::path dir = TALVIRA_DBDEMOS_DIR;
    if (!fs::is_directory(dir)) return std::nullopt;
    return dir;
}

std::string dbdemosMissing() {
    return "the vendor's sample tables (dbdemos) are not in the repository: put them into " +
           fs::path(TALVIRA_DBDEMOS_DIR).lexically_normal().string() + " to run this test";
}

std::vector<fs::path> realParadoxTables() {
    std::vector<fs::path> out = filesUnder(fixture("real/paradox"), ".db");
    if (const auto demos = dbdemosDir()) {
        const auto more = filesUnder(*demos, ".db");
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

std::map<std::string, std::string> directoryBytes(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        std::ostringstream bytes;
        bytes << std::ifstream(e.path(), std::ios::binary).rdbuf();
        files[fs::relative(e.path(), dir).string()] = bytes.str();
    }
    return files;
}

TempDir::TempDir(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                 std::to_string(rd() % 100000));
        std::error_code ec;
        if (fs::create_directories(path_, ec)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace talvira::test
