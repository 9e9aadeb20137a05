#include "storage/TableFamily.h"

#include "common/Error.h"
#include "storage/FileNames.h"
#include "storage/MemoFile.h"
#include "storage/ParadoxTable.h"
#include "storage/RawFile.h"
#include "storage/TableBuilder.h"
#include "storage/TableFile.h"

#include <atomic>
#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <system_error>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvira::storage {

namespace fs = std::filesystem;

namespace {

std::string extensionOf(const fs::path& p) {
    const std::string e = p.extension().string();
    return e.size() > 1 ? foldCase(e.substr(1)) : std::string();
}

bool writableFile(const fs::path& p) {
    // The permission bits count even for a user whom the system would let write anyway.
    std::error_code ec;
    const fs::perms perms = fs::status(p, ec).permissions();
    if (ec) return false;
    const auto anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (perms & anyWrite) != fs::perms::none && ::access(p.c_str(), W_OK) == 0;
}

std::string tempStem() {
    static std::atomic<unsigned> counter{0};
    return "~talvira-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

/** Removes what is left of the temporary family and puts back renamed-over files on failure. */
struct Scratch {
    fs::path dir;
    std::string stem;
    std::vector<std::pair<fs::path, fs::path>> backups;  // backup link -> original name
    bool done = false;
    ~Scratch() {
        std::error_code ec;
        if (!done)
            for (auto it = backups.rbegin(); it != backups.rend(); ++it) fs::rename(it->first, it->second, ec);
        std::vector<fs::path> left;
        for (fs::directory_iterator i(dir, ec), end; !ec && i != end; i.increment(ec)) {
            const std::string s = i->path().stem().string();
            if (s == stem || s == stem + "-old") left.push_back(i->path());
        }
        for (const auto& p : left) fs::remove(p, ec);
    }
};

/** The note of the renames still due, written before the first of them: a program killed
 *  between the renames leaves it, and finishInterruptedReplace carries them out. The new
 *  table's inode number, then the names (all in one folder), each followed by a NUL. */
constexpr const char* kJournalExt = ".moves";

uint64_t inodeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

void syncFile(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void writeJournal(const fs::path& journal, const std::vector<std::pair<fs::path, fs::path>>& moves) {
    std::string text = std::to_string(inodeOf(moves.front().first)) + '\0';
    for (const auto& [from, to] : moves) {
        syncFile(from);  // the new files are whole on disk before they are promised
        text += from.filename().string() + '\0' + to.filename().string() + '\0';
    }
    fs::path part = journal;
    part += "-part";
    {
        RawFile f = RawFile::create(part.string());
        f.write(0, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    syncFile(part);
    std::error_code ec;
    fs::rename(part, journal, ec);
    if (ec) throw Error("Не удалось записать файл «" + journal.string() + "»: " + ec.message());
}

/** The process that wrote a journal named "~talvira-<pid>-<n>" is still at work. */
bool writerAlive(const std::string& stem) {
    const size_t a = stem.find('-'), b = stem.find('-', a + 1);
    if (a == std::string::npos || b == std::string::npos) return false;
    const long pid = std::strtol(stem.c_str() + a + 1, nullptr, 10);
    if (pid <= 0 || pid == ::getpid()) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

bool isFamilyExtension(std::string_view extAnyCase) {
    const std::string ext = foldCase(extAnyCase);
    for (const char* f : {"db", "mb", "px", "val", "tv", "fam"})
        if (ext == f) return true;
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (ext.size() == 3 && (ext[0] == 'x' || ext[0] == 'y') && ((hex(ext[1]) && hex(ext[2])) || (ext[1] == 'g' && hex(ext[2]))))
        return true;
    return false;
}

std::vector<fs::path> tableFamilyFiles(const fs::path& dbPath) {
    const fs::path dir = dbPath.parent_path().empty() ? fs::path(".") : dbPath.parent_path();
    const std::string stem = foldCase(dbPath.stem().string());
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& e = it->path();
        if (foldCase(e.stem().string()) == stem && isFamilyExtension(extensionOf(e)))
            out.push_back(dbPath.parent_path() / e.filename());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void replaceFamily(const fs::path& dbPath, const std::string& failPrefix, ReadOnlyFiles readOnly,
                   const std::function<void(const std::string&)>& build) {
    auto fail = [&](const std::string& why) { return Error(failPrefix + ": " + why); };
    const fs::path dir = dbPath.parent_path().empty() ? fs::path(".") : dbPath.parent_path();
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw fail("папка «" + dir.string() + "» не существует");

    // The old family, spelt as it is on disk; the table keeps its spelling.
    fs::path table = dbPath;
    if (auto found = findFileAnyCase(dbPath.parent_path(), dbPath.filename().string())) table = *found;
    const std::vector<fs::path> old = tableFamilyFiles(table);
    for (const fs::path& f : old)
        if (readOnly == ReadOnlyFiles::Refuse && !writableFile(f)) throw fail("файл «" + f.string() + "» открыт только для чтения или недоступен");
    if (::access(dir.c_str(), W_OK) != 0) throw fail("папка «" + dir.string() + "» закрыта для записи");
    std::unique_ptr<RawFile> oldFile;
    std::unique_ptr<TableLock> lock;  // held until the new family is in place
    if (fs::exists(table, ec)) {
        oldFile = std::make_unique<RawFile>(table.string(), false);
        lock = std::make_unique<TableLock>(table.string(), oldFile->fd(), true);  // another program: refused
    }

    Scratch scratch{dir, tempStem()};
    const fs::path tmpDb = dir / (scratch.stem + table.extension().string());
    build(tmpDb.string());

    // What the new family holds, and where each file goes.
    std::optional<fs::path> oldMemo, newMemo;
    for (const fs::path& f : old)
        if (extensionOf(f) == "mb") oldMemo = f;
    if (auto m = findFileAnyCase(dir, scratch.stem + ".mb")) newMemo = *m;
    fs::path memoTarget;
    if (newMemo) {
        memoTarget = oldMemo ? *oldMemo : fs::path(companionPath(table.string(), "MB"));
    }
    std::vector<std::pair<fs::path, fs::path>> moves = {{tmpDb, table}};
    if (newMemo) moves.emplace_back(*newMemo, memoTarget);

    // Links to the files about to be renamed over, so that a failed rename puts them back.
    for (const auto& [from, to] : moves) {
        if (!fs::exists(to, ec)) continue;
        const fs::path backup = dir / (scratch.stem + "-old" + to.extension().string());
        fs::create_hard_link(to, backup, ec);
        if (!ec) scratch.backups.emplace_back(backup, to);
    }
    // The table first: an old memo file beside a new empty table holds nothing anyone reads.
    // A new table with texts needs its own memo file too: the note of the renames lets the
    // next opening finish them if the program is killed in between.
    // (A memo file written through a second name of the old one is that file already.)
    size_t separateFiles = 0;
    for (const auto& [from, to] : moves) separateFiles += fs::equivalent(from, to, ec) ? 0 : 1;
    if (separateFiles > 1) writeJournal(dir / (scratch.stem + kJournalExt), moves);
    for (const auto& [from, to] : moves) {
        fs::rename(from, to, ec);
        if (ec) throw fail("файл «" + to.string() + "» не удалось заменить: " + ec.message());
    }
    scratch.done = true;
    lock.reset();
    oldFile.reset();
    // The rest of the old family (indexes, validity files, an unneeded memo file) goes.
    for (const fs::path& f : old) {
        bool kept = false;
        for (const auto& m : moves) kept = kept || f == m.second;
        if (!kept) fs::remove(f, ec);
    }
}

namespace {

/** Builds the new table at `tmp` with `records`, its texts in a memo file of its own or, when
 *  `sharedMemo` names the old one, in that file through a second name. */
void buildWithRecords(const std::string& tmp, const fs::path& dbPath, const std::vector<FieldDef>& fields,
                      const std::vector<Record>& records, const std::string& sharedMemo) {
    CreateOptions options;
    options.keepGivenNumbers = true;
    TableBuilder table = TableBuilder::exactlyAt(tmp, dbPath.string(), fields, options);
    // The memo file is swapped before the first record opens the table.
    if (const std::string fresh = findCompanion(tmp, ".MB"); !records.empty() && !fresh.empty() && !sharedMemo.empty()) {
        std::error_code ec;
        const fs::path shared = fs::path(fresh).replace_extension(fs::path(sharedMemo).extension());
        fs::remove(fresh, ec);
        fs::create_hard_link(sharedMemo, shared, ec);
        if (ec) MemoFile::createEmpty(shared.string());  // no second names here
    }
    table.add(records);
    table.finish();
}

}  // namespace

void replaceTable(const fs::path& dir, const std::string& name, const std::vector<FieldDef>& fields,
                  const std::vector<Record>& records) {
    const fs::path dbPath = dir / fs::path(name);
    // The family's files are renamed one after the other: a program killed between the .DB and
    // the .MB would leave the new records pointing into the old memo file. So the new table
    // writes its texts into the old table's own .MB, through a second name of it: new texts only
    // take new places there, the old records' texts stay where they are, and whichever .DB is in
    // place finds all of its texts. The memo file keeps the texts of the contents replaced until
    // an empty table starts a new one. Without second names (or without an old memo file) the
    // new table has a memo file of its own.
    const auto oldTable = findFileAnyCase(dir, name);
    const std::string oldMemo = oldTable && !records.empty() ? findCompanion(oldTable->string(), ".MB") : std::string();
    replaceFamily(dbPath, "Таблицу «" + dbPath.string() + "» не удалось заменить", ReadOnlyFiles::Refuse,
                  [&](const std::string& tmp) { buildWithRecords(tmp, dbPath, fields, records, oldMemo); });
}

void replaceWithEmptyTable(const fs::path& dir, const std::string& name, const std::vector<FieldDef>& fields) {
    replaceTable(dir, name, fields, {});
}

}  // namespace talvira::storage

namespace talvira::storage {

namespace {

/** Carries out the renames of the journal `stem` left in `dir`; false when they cannot be. */
bool applyJournal(const fs::path& dir, const std::string& stem) {
    std::string text;
    try {
        RawFile f((dir / (stem + kJournalExt)).string(), false);
        const uint8_t* bytes = f.at(0, f.size());
        if (bytes) text.assign(reinterpret_cast<const char*>(bytes), f.size());
    } catch (const Error&) {
        return false;
    }
    std::vector<std::string> names;
    for (size_t at = 0, nul; (nul = text.find('\0', at)) != std::string::npos; at = nul + 1)
        names.push_back(text.substr(at, nul - at));
    // Only while the new table is the one in place: before its rename the old family is whole,
    // and a table replaced since then is not to be touched.
    if (names.size() < 3 || names.size() % 2 == 0 || names[0] != std::to_string(inodeOf(dir / names[2]))) return true;
    std::error_code ec;
    for (size_t i = 1; i + 1 < names.size(); i += 2) {
        const fs::path from = dir / names[i];
        if (fs::exists(from, ec)) fs::rename(from, dir / names[i + 1], ec);
        if (ec) return false;
    }
    return true;
}

}  // namespace

void finishInterruptedReplace(const fs::path& dir) {
    // The scratch files of replacements whose program is gone: a journal is carried out, the
    // rest (a new table never put in place, backup links) goes.
    std::error_code ec;
    std::set<std::string> stems;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string stem = it->path().stem().string();
        if (stem.rfind("~talvira-", 0) != 0) continue;
        if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, "-old") == 0) stem.resize(stem.size() - 4);
        stems.insert(stem);
    }
    for (const std::string& stem : stems) {
        if (writerAlive(stem)) continue;
        if (fs::exists(dir / (stem + kJournalExt), ec) && !applyJournal(dir, stem)) continue;
        const Scratch leftovers{dir, stem, {}, true};
    }
}

namespace {

bool mostlyUnused(const ParadoxTable& t, const fs::path& dbPath) {
    const std::string memo = findCompanion(dbPath.string(), ".MB");
    std::error_code ec;
    const uint64_t size = memo.empty() ? 0 : fs::file_size(memo, ec);
    return !ec && MemoFile::newFileSize(t.memoBlobLengths()) * 2 < size;
}

}  // namespace

bool memoMostlyUnused(const fs::path& dbPath) {
    return mostlyUnused(ParadoxTable(dbPath.string(), OpenMode::ReadOnly, 0), dbPath);
}

bool compactMemo(const fs::path& dbPath) {
    std::vector<FieldDef> fields;
    std::vector<Record> records;
    {
        ParadoxTable t(dbPath.string(), OpenMode::ReadOnly, 0);
        if (!mostlyUnused(t, dbPath)) return false;
        fields = t.fields();
        for (auto loc = t.first(); loc; loc = t.next(*loc)) records.push_back(t.read(*loc));
    }
    replaceFamily(dbPath, "Таблицу «" + dbPath.string() + "» не удалось сжать", ReadOnlyFiles::Refuse,
                  [&](const std::string& tmp) { buildWithRecords(tmp, dbPath, fields, records, {}); });
    return true;
}

}  // namespace talvira::storage
