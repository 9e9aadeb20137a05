#include "editing/EstimateCommands.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "storage/TableFile.h"

#include <atomic>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

#include <unistd.h>

namespace talvira::editing {

namespace fs = std::filesystem;
using storage::TableHandle;
using storage::Value;

namespace {

bool isZeroOrEmpty(const Value& v) { return v.isEmpty() || v.asFloat() == 0.0; }

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

/** The file beside `table` with extension `ext` (".MB", ".PX", ...), in whichever case exists;
 *  empty when there is none. */
fs::path sibling(const fs::path& table, const std::string& ext) {
    std::error_code ec;
    for (const std::string& e : {ext, lower(ext)}) {
        fs::path p = table;
        p.replace_extension(fs::path(e));
        if (fs::exists(p, ec)) return p;
    }
    return {};
}

/** Index and validity files a Paradox table may carry beside it; they belong to the old
 *  contents and go when the table is replaced. */
bool isStaleCompanion(const std::string& stem, const fs::path& p) {
    if (p.stem().string() != stem) return false;
    const std::string ext = lower(p.extension().string());
    if (ext == ".px" || ext == ".val") return true;
    if (ext.size() == 4 && (ext[1] == 'x' || ext[1] == 'y')) return true;  // .Xnn .Ynn .XGn .YGn
    return false;
}

std::string tempStem() {
    static std::atomic<unsigned> counter{0};
    return "talvira-clear-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

void checkWritable(const fs::path& p) {
    // The permission bits count even for a user whom the system would let write anyway.
    std::error_code ec;
    const fs::perms perms = fs::status(p, ec).permissions();
    const bool noWriteBits =
        !ec && (perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
    if (noWriteBits || ::access(p.c_str(), W_OK) != 0)
        throw Error("Смету «" + p.string() + "» нельзя очистить: файл открыт только для чтения или недоступен.");
}

/** Builds the empty estimate beside `table` and puts it in its place. */
void replaceByEmpty(const fs::path& table) {
    const fs::path dir = table.parent_path();
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw Error("Папка «" + dir.string() + "» не найдена: смету нельзя очистить.");

    // The old table must be ours to replace: writable, and not held by another program.
    const fs::path oldMemo = sibling(table, ".MB");
    if (fs::exists(table, ec)) {
        checkWritable(table);
        if (!oldMemo.empty()) checkWritable(oldMemo);
        storage::tableFileProvider().open(table.string(), storage::OpenMode::ReadWrite).reset();
    }
    if (::access(dir.c_str(), W_OK) != 0)
        throw Error("Смету «" + table.string() + "» нельзя очистить: папка «" + dir.string() +
                    "» закрыта для записи.");

    const std::string stem = tempStem();
    const fs::path tmpTable = dir / (stem + table.extension().string());
    struct TempCleanup {
        fs::path dir;
        std::string stem;
        ~TempCleanup() {
            std::error_code e;
            for (const auto& entry : fs::directory_iterator(dir, e))
                if (entry.path().stem().string() == stem) fs::remove(entry.path(), e);
        }
    } cleanup{dir, stem};

    storage::tableFileProvider().create(tmpTable.string(), estimate::estimateFieldDefs());
    const fs::path newMemo = sibling(tmpTable, ".MB");

    // The table first: an old memo file beside a new empty table holds nothing anyone reads,
    // while a new memo file beside the old records would lose their texts.
    fs::rename(tmpTable, table, ec);
    if (ec) throw Error("Смету «" + table.string() + "» не удалось заменить пустой: " + ec.message());
    fs::path memoTarget = oldMemo;
    if (memoTarget.empty() && !newMemo.empty()) {
        memoTarget = table;
        memoTarget.replace_extension(newMemo.extension());
    }
    if (!newMemo.empty()) {
        fs::rename(newMemo, memoTarget, ec);
        if (ec) throw Error("Файл «" + memoTarget.string() + "» не удалось заменить: " + ec.message());
    } else if (!oldMemo.empty()) {
        fs::remove(oldMemo, ec);
    }
    const std::string oldStem = table.stem().string();
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (isStaleCompanion(oldStem, entry.path())) {
            std::error_code e;
            fs::remove(entry.path(), e);
        }
}

}  // namespace

bool isIncomplete(const Value& kolvo, const Value& stoim) {
    return isZeroOrEmpty(kolvo) || isZeroOrEmpty(stoim);
}

std::string boundTablePath(const TableHandle& smeta) {
    if (const storage::TableFile* f = smeta.file(); f && !f->info().path.empty()) return f->info().path;
    return smeta.tablePath();
}

void clearEstimate(TableHandle& smeta) {
    storage::ControlsSuspended suspended(smeta);
    // Only a table that opens as an estimate is ever replaced.
    if (!smeta.active()) smeta.open();
    const fs::path table = fs::path(boundTablePath(smeta));
    smeta.close();
    try {
        replaceByEmpty(table);
    } catch (...) {
        try {
            smeta.open();
        } catch (...) {
        }
        throw;
    }
    smeta.setFieldDefs(estimate::estimateFieldDefs());
    smeta.open();
}

void deletePosition(TableHandle& smeta) {
    if (smeta.state() == TableHandle::State::Browse || smeta.state() == TableHandle::State::Inactive) smeta.edit();
    smeta.remove();
}

void storePendingEdit(TableHandle& smeta) {
    switch (smeta.state()) {
    case TableHandle::State::Insert:
        if (smeta.modified()) smeta.post();
        else smeta.cancel();
        break;
    case TableHandle::State::Edit:
        if (smeta.modified()) smeta.post();
        else smeta.cancel();
        break;
    default: break;
    }
}

}  // namespace talvira::editing
