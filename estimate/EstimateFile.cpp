#include "estimate/EstimateFile.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "storage/FileNames.h"
#include "storage/TableFamily.h"

#include <filesystem>

namespace talvira::estimate {

namespace fs = std::filesystem;

namespace {

bool endsWithDb(const std::string& name) { return name.size() >= 3 && storage::sameName(name.substr(name.size() - 3), ".db"); }

}  // namespace

std::string estimatesDirectory(const std::string& startDir) { return (fs::path(startDir) / "Smeti").string(); }

void checkEstimateName(const std::string& name) {
    if (name.empty()) throw Error("Введите имя сметы.");
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
        throw Error("Имя сметы «" + name + "» не должно содержать знаков «/» и «\\»: смета создаётся в папке смет.");
    if (name.find('\0') != std::string::npos) throw Error("Имя сметы содержит недопустимый символ.");
    if (name == "." || name == "..") throw Error("«" + name + "» не может быть именем сметы.");
}

std::string estimateTableName(const std::string& name) { return endsWithDb(name) ? name : name + ".db"; }

std::string estimatePath(const std::string& dir, const std::string& name) {
    return dir + "/" + estimateTableName(name);
}

bool estimateExists(const std::string& dir, const std::string& name) {
    return storage::findFileAnyCase(fs::path(dir), estimateTableName(name)).has_value();
}

std::string replaceQuestion(const std::string& name) {
    return "Смета «" + name + "» уже существует. Заменить её пустой?";
}

void bindEstimate(storage::TableHandle& smeta, const std::string& dir, const std::string& name) {
    smeta.setDatabaseName(dir);
    smeta.setTableName(estimateTableName(name));
    smeta.setBoundFields(estimateBoundFields());
    smeta.setFieldDefs(estimateFieldDefs());
}

void createAndOpen(storage::TableHandle& smeta) {
    smeta.createTable();
    // A new estimate starts from the default texts, also in place of an older one of its name.
    std::error_code ec;
    fs::remove(companionPath(smeta.tablePath()), ec);
    fs::remove(sidePath(smeta.tablePath()), ec);
    smeta.open();
}

void bindForOpening(storage::TableHandle& smeta, const std::string& dir, const std::string& fileName) {
    smeta.setDatabaseName(dir);
    smeta.setTableName(fileName);
    smeta.setBoundFields(estimateBoundFields());
}

void openEstimate(storage::TableHandle& smeta) {
    const fs::path table = smeta.tablePath();
    try {
        storage::finishInterruptedReplace(table.has_parent_path() ? table.parent_path() : fs::path("."));
    } catch (const std::exception&) {
    }
    // Opened first, so that only a table that is an estimate is ever written anew.
    smeta.open();
    try {
        const fs::path opened = smeta.tablePath();
        if (storage::memoMostlyUnused(opened)) {
            smeta.close();
            storage::compactMemo(opened);
        }
    } catch (const std::exception&) {
        // Not written anew (read-only, held elsewhere): the estimate is used as it is.
    }
    if (!smeta.active()) smeta.open();
}

namespace {

fs::path besideTable(const fs::path& tablePath, const char* extension) {
    const std::string name = tablePath.stem().string() + extension;
    const fs::path dir = tablePath.has_parent_path() ? tablePath.parent_path() : fs::path(".");
    if (auto found = storage::findFileAnyCase(dir, name)) return *found;
    return dir / name;
}

}  // namespace

fs::path companionPath(const fs::path& tablePath) { return besideTable(tablePath, ".txt"); }

fs::path sidePath(const fs::path& tablePath) { return besideTable(tablePath, ".calc"); }

}  // namespace talvira::estimate
