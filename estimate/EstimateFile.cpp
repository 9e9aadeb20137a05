#include "estimate/EstimateFile.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "storage/FileNames.h"

#include <filesystem>

namespace talvira::estimate {

namespace fs = std::filesystem;

namespace {

bool endsWithDb(const std::string& name) { return name.size() >= 3 && storage::sameName(name.substr(name.size() - 3), ".db"); }

}  // namespace

std::string estimatesDirectory(const std::string& startDir) { return startDir + "/Smeti"; }

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
    smeta.open();
}

void bindForOpening(storage::TableHandle& smeta, const std::string& dir, const std::string& fileName) {
    smeta.setDatabaseName(dir);
    smeta.setTableName(fileName);
    smeta.setBoundFields(estimateBoundFields());
}

}  // namespace talvira::estimate
