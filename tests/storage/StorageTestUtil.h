#pragma once
// Helpers shared by the storage tests: fixture paths, copies into scratch folders, dumps.
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace talvira::test {

inline std::filesystem::path paradoxDir() { return fixture("real/paradox"); }
inline std::filesystem::path normbaseDir() { return fixture("normbase-pxlib/Base"); }

/** Every table written by other software: the real Paradox tables and the pxlib norm base. */
inline std::vector<std::filesystem::path> allFixtureTables() {
    std::vector<std::filesystem::path> out = realParadoxTables();
    const auto base = filesUnder(normbaseDir(), ".db");
    out.insert(out.end(), base.begin(), base.end());
    return out;
}

/** Copies the files of a table family (same stem, any extension) into `dir`; writable copies. */
inline void copyFamily(const std::filesystem::path& db, const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::string stem = db.stem().string();
    for (auto& e : fs::directory_iterator(db.parent_path())) {
        if (e.path().stem().string() != stem) continue;
        fs::path to = dir / e.path().filename();
        fs::copy_file(e.path(), to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    }
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << data;
}

/** All records in physical order. */
inline std::vector<storage::Record> allRecords(const storage::TableFile& t) {
    std::vector<storage::Record> out;
    for (auto l = t.first(); l; l = t.next(*l)) out.push_back(t.read(*l));
    return out;
}

}  // namespace talvira::test
