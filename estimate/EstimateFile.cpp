#include "estimate/EstimateFile.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "model/EstimateRows.h"
#include "storage/FieldValue.h"
#include "storage/FileNames.h"
#include "storage/TableBuilder.h"
#include "storage/TableFamily.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    // A new estimate starts from the default texts, also in place of an older one of its name;
    // a file of the user's that bears the name stays as it is.
    std::error_code ec;
    if (keptTextsKind(smeta.tablePath()) == KeptTextsKind::Ours) fs::remove(keptTextsPath(smeta.tablePath()), ec);
    if (keptCalcIsOurs(smeta.tablePath())) fs::remove(keptCalcPath(smeta.tablePath()), ec);
    smeta.open();
}

void writeEstimateTable(const std::string& dbPath, const std::string& shownPath,
                        const std::vector<model::PositionRow>& rows) {
    const std::vector<storage::FieldDef>& defs = estimateFieldDefs();
    const auto at = [&](const char* name) {
        return size_t(std::find_if(defs.begin(), defs.end(), [&](const storage::FieldDef& d) { return d.name == name; }) -
                      defs.begin());
    };
    const size_t tab = at(fld::TAB), name = at(fld::NAME), izm = at(fld::IZM), kolvo = at(fld::KOLVO),
                 stoim = at(fld::STOIM), osnzp = at(fld::OSNZP), mater = at(fld::MATER),
                 explmash = at(fld::EXPLMASH), zpmash = at(fld::ZPMASH), trud = at(fld::TRUD);
    storage::TableBuilder b = storage::TableBuilder::exactlyAt(dbPath, shownPath, defs);
    storage::Record rec;
    // The value as the handle's field would take it, refused as the handle refuses it.
    const auto put = [&](size_t field, const storage::Value& v) {
        try {
            rec[field] = storage::coerceToField(v, defs[field]);
        } catch (const storage::FieldValueError& e) {
            throw Error("Таблица «" + shownPath + "»: поле «" + defs[field].name + "»: " + e.what() + ".");
        }
    };
    for (const model::PositionRow& r : rows) {
        rec.assign(defs.size(), storage::Value());
        put(tab, storage::Value::string(r.code));
        put(name, storage::Value::string(r.name));
        put(izm, storage::Value::string(r.unit));
        put(kolvo, storage::Value::real(r.quantity));
        put(stoim, storage::Value::real(r.cost));
        put(osnzp, storage::Value::real(r.baseWages));
        put(mater, storage::Value::real(r.materials));
        put(explmash, storage::Value::real(r.machines));
        put(zpmash, storage::Value::real(r.machineWages));
        put(trud, storage::Value::real(r.labour));
        b.add(std::move(rec));
    }
    b.finish();
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

fs::path keptTextsPath(const fs::path& tablePath) { return besideTable(tablePath, ".txt"); }

fs::path keptCalcPath(const fs::path& tablePath) { return besideTable(tablePath, ".calc"); }

const std::string kKeptCalcHeader = "# Тальвира: параметры расчета и данные позиций сметы, формат ";

bool keptCalcIsOurs(const fs::path& tablePath) {
    std::ifstream in(keptCalcPath(tablePath), std::ios::binary);
    if (!in) return false;
    std::string head(kKeptCalcHeader.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return head.empty() || head == kKeptCalcHeader;
}

const std::string kKeptTextsHeader = "# Тальвира 1.0: шапка и ставки сметы (ПОЛЕ=текст до конца строки, UTF-8)";

KeptTextsKind keptTextsKind(const fs::path& tablePath) {
    const fs::path file = keptTextsPath(tablePath);
    std::error_code ec;
    if (!fs::exists(file, ec)) return KeptTextsKind::Missing;
    // Twelve short texts; anything bigger is not ours.
    constexpr uintmax_t kLargest = 1 << 20;
    const uintmax_t size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || size > kLargest || !in) return KeptTextsKind::Foreign;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return KeptTextsKind::Foreign;
    const std::string content = text.str();
    if (content.rfind(kKeptTextsHeader, 0) == 0) return KeptTextsKind::Ours;
    // Otherwise ours only when every line is blank, a comment or "NAME=..." with a plain name
    // (a later version's edits are passed over), at least one of them an edit we know; the
    // first other line makes it the user's.
    const std::vector<std::string_view> known = model::EstimateTexts::controlNames();
    bool anyKnown = false, anyText = false;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        anyText = true;
        if (line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return KeptTextsKind::Foreign;
        const std::string name = line.substr(0, eq);
        const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        });
        if (!plain) return KeptTextsKind::Foreign;
        anyKnown = anyKnown || std::find(known.begin(), known.end(), name) != known.end();
    }
    return anyKnown || !anyText ? KeptTextsKind::Ours : KeptTextsKind::Foreign;
}

}  // namespace talvira::estimate
