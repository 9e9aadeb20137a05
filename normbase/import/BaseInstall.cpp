#include "normbase/BaseInfo.h"
#include "normbase/NormBaseFormat.h"
#include "normbase/import/OfficialImport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace talvira::normimport {

namespace fs = std::filesystem;

namespace {

// Earlier bases kept beside the working one: <base>.old, <base>.old-2 ... <base>.old-N.
constexpr int kKeptBases = 3;

bool processAlive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

void removeAll(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

/** A file of the base the import writes itself: a table's family (the table, its memo file and
 *  indexes), the base's note and the origin note. Never carried over from the old base: a stale
 *  index would mislead the new table, a stale note would tell of the wrong files. */
bool writtenByImport(const fs::path& file) {
    const std::string name = upper(file.filename().string());
    if (name == upper(kOriginFile) || name == upper(normbase::kBaseInfoFile)) return true;
    const std::string stem = upper(file.stem().string());
    for (normbase::NormTable t : normbase::kNormTables)
        if (stem == upper(fs::path(normbase::normTableFile(t)).stem().string())) return true;
    return false;
}

fs::path keptBase(const fs::path& baseDir, int n) {
    return fs::path(baseDir.string() + (n == 1 ? ".old" : ".old-" + std::to_string(n)));
}

/** Makes room for the base about to be replaced: each earlier base moves one place back, the
 *  oldest goes; returns the name it had (empty when there was none). */
std::string shiftKeptBases(const fs::path& baseDir) {
    std::error_code ec;
    std::string removed;
    if (fs::exists(keptBase(baseDir, kKeptBases), ec)) {
        removed = keptBase(baseDir, kKeptBases).filename().string();
        removeAll(keptBase(baseDir, kKeptBases));
    }
    for (int n = kKeptBases - 1; n >= 1; --n) {
        if (!fs::exists(keptBase(baseDir, n), ec)) continue;
        fs::rename(keptBase(baseDir, n), keptBase(baseDir, n + 1), ec);
        if (ec) throw Error("Не удалось переименовать прежнюю копию базы «" + keptBase(baseDir, n).string() + "»: " + ec.message());
    }
    if (fs::exists(keptBase(baseDir, 1), ec)) throw Error("Не удалось освободить место для копии базы «" + keptBase(baseDir, 1).string() + "»");
    return removed;
}

std::vector<std::string> keptBases(const fs::path& baseDir) {
    std::vector<std::string> kept;
    std::error_code ec;
    for (int n = 1; n <= kKeptBases; ++n)
        if (fs::is_directory(keptBase(baseDir, n), ec)) kept.push_back(keptBase(baseDir, n).filename().string());
    return kept;
}

}  // namespace

fs::path stagingDirFor(const fs::path& baseDir) {
    const fs::path parent = baseDir.parent_path().empty() ? fs::path(".") : baseDir.parent_path();
    const std::string prefix = baseDir.filename().string() + ".import-";
    std::error_code ec;
    // Folders left by an import that was killed: their process is gone.
    for (auto it = fs::directory_iterator(parent, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end && *end == '\0' && !processAlive(pid)) removeAll(it->path());
    }
    const fs::path dir = parent / (prefix + std::to_string(::getpid()));
    removeAll(dir);
    return dir;
}

InstalledBase installBase(const fs::path& stagingDir, const fs::path& baseDir) {
    std::error_code ec;
    const fs::path old = keptBase(baseDir, 1);
    const bool hadBase = fs::is_directory(baseDir, ec);
    std::string removed;
    if (hadBase) {
        // What the import does not write (the template 1.xls, the user's own files) goes along.
        for (const auto& e : fs::directory_iterator(baseDir)) {
            const std::string name = e.path().filename().string();
            if (writtenByImport(e.path()) || fs::exists(stagingDir / name, ec)) continue;
            fs::copy(e.path(), stagingDir / name, fs::copy_options::recursive, ec);
            if (ec) throw Error("Не удалось перенести «" + name + "» в новую нормативную базу: " + ec.message());
        }
        removed = shiftKeptBases(baseDir);
        // One step: the new base and the old one change places.
        if (::renameat2(AT_FDCWD, stagingDir.c_str(), AT_FDCWD, baseDir.c_str(), RENAME_EXCHANGE) == 0) {
            fs::rename(stagingDir, old, ec);
            if (ec) removeAll(stagingDir);
            return {keptBases(baseDir), removed};
        }
        // A file system without the exchange: two renames, the old base put back on failure.
        fs::rename(baseDir, old, ec);
        if (ec) throw Error("Не удалось заменить нормативную базу «" + baseDir.string() + "»: " + ec.message());
    }
    fs::rename(stagingDir, baseDir, ec);
    if (ec) {
        const std::string why = ec.message();
        if (hadBase) fs::rename(old, baseDir, ec);
        throw Error("Не удалось заменить нормативную базу «" + baseDir.string() + "»: " + why);
    }
    if (!hadBase) return {};
    return {keptBases(baseDir), removed};
}

}  // namespace talvira::normimport
