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
 *  indexes) and the origin note. Never carried over from the old base: a stale index would
 *  mislead the new table, a stale note would tell of the wrong files. */
bool writtenByImport(const fs::path& file) {
    const std::string name = upper(file.filename().string());
    if (name == upper(kOriginFile)) return true;
    const std::string stem = upper(file.stem().string());
    for (normbase::NormTable t : normbase::kNormTables)
        if (stem == upper(fs::path(normbase::normTableFile(t)).stem().string())) return true;
    return false;
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

void installBase(const fs::path& stagingDir, const fs::path& baseDir) {
    std::error_code ec;
    const fs::path old = fs::path(baseDir.string() + ".old");
    const bool hadBase = fs::is_directory(baseDir, ec);
    if (hadBase) {
        // What the import does not write (the template 1.xls, the user's own files) goes along.
        for (const auto& e : fs::directory_iterator(baseDir)) {
            const std::string name = e.path().filename().string();
            if (writtenByImport(e.path()) || fs::exists(stagingDir / name, ec)) continue;
            fs::copy(e.path(), stagingDir / name, fs::copy_options::recursive, ec);
            if (ec) throw Error("Не удалось перенести «" + name + "» в новую нормативную базу: " + ec.message());
        }
        removeAll(old);
        if (fs::exists(old, ec)) throw Error("Не удалось удалить прежнюю копию базы «" + old.string() + "»");
        // One step: the new base and the old one change places.
        if (::renameat2(AT_FDCWD, stagingDir.c_str(), AT_FDCWD, baseDir.c_str(), RENAME_EXCHANGE) == 0) {
            fs::rename(stagingDir, old, ec);
            if (ec) removeAll(stagingDir);
            return;
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

}

}  // namespace talvira::normimport
