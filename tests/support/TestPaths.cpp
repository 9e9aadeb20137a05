#include "tests/support/TestPaths.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <random>
#include <unistd.h>

namespace talvira::test {

namespace fs = std::filesystem;

fs::path fixturesDir() {
    if (const char* p = std::getenv("TALVIRA_FIXTURES")) return p;
    return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "shared" / "fixtures";
}

fs::path testDataDir() {
    if (const char* p = std::getenv("TALVIRA_TEST_DATA")) return p;
    return fs::path(__FILE__).parent_path().parent_path() / "data";
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
