#include "editing/GgeExport.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/LsrExport.h"
#include "export/GgeWrite.h"
#include "normbase/BaseInfo.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableHandle.h"
#include "storage/Warnings.h"

#include <ctime>
#include <unordered_map>

namespace talvira::editing {

namespace fs = std::filesystem;

namespace {

fs::path baseDirOf(const EstimateDocument& doc) {
    return !doc.normBaseDirectory().empty() ? doc.normBaseDirectory() : fs::path(doc.calc().base);
}

/** The base the estimate's positions came from: the one in use, else the one it remembers. */
normbase::BaseInfo baseOf(const EstimateDocument& doc) {
    const fs::path dir = baseDirOf(doc);
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec)) return {};
    return normbase::readBaseInfo(dir);
}

/** The base's name of each row's code (rates, then resources), "" where the base has none: the
 *  expert compares names with the base's letter for letter. Read once; a base that cannot be
 *  read gives none (a warning), the check is then not made. */
std::vector<std::string> baseNamesOf(const fs::path& baseDir, const std::vector<model::PositionRow>& rows) {
    namespace nb = normbase::fld;
    std::vector<std::string> names(rows.size());
    std::error_code ec;
    if (baseDir.empty() || !fs::is_directory(baseDir, ec)) return names;
    try {
        std::unordered_map<std::string, int64_t> nameIdOf;  // code → 000_NAME ID
        for (const model::PositionRow& r : rows) nameIdOf.emplace(r.code, -1);
        for (const char* table : {normbase::tbl::RABMAT, normbase::tbl::RESURS}) {
            storage::TableHandle t("GgeNames");
            t.setDatabaseName(baseDir.string());
            t.setTableName(table);
            t.setReadOnly(true);
            t.open();
            const int tab = t.fieldIndex(nb::TAB), idName = t.fieldIndex(nb::IDNAME);
            if (tab < 0 || idName < 0) continue;
            for (int r = 0; r < t.recordCount(); ++r) {
                const auto it = nameIdOf.find(t.valueAt(r, tab).asString());
                if (it != nameIdOf.end() && it->second < 0) it->second = t.valueAt(r, idName).asInteger();
            }
        }
        std::unordered_map<int64_t, std::string> nameOf;
        for (const auto& [code, id] : nameIdOf)
            if (id >= 0) nameOf.emplace(id, std::string());
        storage::TableHandle t("GgeNames");
        t.setDatabaseName(baseDir.string());
        t.setTableName(normbase::tbl::NAME);
        t.setReadOnly(true);
        t.open();
        const int id = t.fieldIndex(nb::ID), name = t.fieldIndex(nb::NAME);
        for (int r = 0; id >= 0 && name >= 0 && r < t.recordCount(); ++r)
            if (const auto it = nameOf.find(t.valueAt(r, id).asInteger()); it != nameOf.end())
                it->second = t.valueAt(r, name).asString();
        for (size_t i = 0; i < rows.size(); ++i)
            if (const int64_t nameId = nameIdOf[rows[i].code]; nameId >= 0) names[i] = nameOf[nameId];
    } catch (const Error& e) {
        storage::warn(std::string("Наименования позиций не сверены с нормативной базой: ") + e.what());
        return std::vector<std::string>(rows.size());
    }
    return names;
}

}  // namespace

std::string dateTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);  // …+0300
    const std::string s = text;
    if (s.size() < 5) return s;
    return s.substr(0, s.size() - 2) + ":" + s.substr(s.size() - 2);  // …+03:00
}

GgeData prepareGge(EstimateDocument& doc, const model::EstimateTexts& texts, std::string exportDateTime) {
    if (!doc.baseIndex())
        throw Error("Файл для экспертизы составляется для сметы, рассчитанной базисно-индексным методом (421/пр); "
                    "эта смета рассчитана по шаблону. Выберите метод в параметрах сметы.");
    // The GUID is made once and kept: every export of the estimate carries the same one.
    if (doc.calc().params.gge.guid.empty()) {
        model::EstimateParams p = doc.calc().params;
        p.gge.guid = model::newGuid();
        doc.setParams(p);
    }
    const normbase::BaseInfo base = baseOf(doc);
    const lsr::FormFacts form = formFactsOf(texts, fs::path(doc.table().tablePath()).stem().string(), lsrFactsOf(base));
    const model::BaseIndexResult* computed = doc.baseIndex();
    GgeData data;
    data.result = *computed;
    data.rows = readPositionRows(doc.table());
    data.params = doc.calc().params;
    if (data.params.gge.estimateNum.empty()) data.params.gge.estimateNum = form.number;
    data.chargeTitles = chargeTitles(data.result, doc.tables());
    data.facts.edition = base.edition;
    data.facts.orders = base.orders;
    data.facts.estimateName = form.worksName;
    data.facts.guid = data.params.gge.guid;
    data.facts.exportDateTime = exportDateTime.empty() ? dateTimeNow() : std::move(exportDateTime);
    data.checks = gge::checkGge(data.input(), gge::shippedCheckTexts(), baseNamesOf(baseDirOf(doc), data.rows));
    return data;
}

fs::path writeGgeFile(const GgeData& data, const fs::path& out, bool keepExisting, const sheet::Progress& progress) {
    return gge::writeGge(gge::planGge(data.input()), out, keepExisting, progress);
}

}  // namespace talvira::editing
