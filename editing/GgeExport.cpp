#include "editing/GgeExport.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/LsrExport.h"
#include "export/GgeWrite.h"
#include "normbase/BaseInfo.h"

#include <ctime>

namespace talvira::editing {

namespace fs = std::filesystem;

namespace {

/** The base the estimate's positions came from: the one in use, else the one it remembers. */
normbase::BaseInfo baseOf(const EstimateDocument& doc) {
    const fs::path dir = !doc.normBaseDirectory().empty() ? doc.normBaseDirectory() : fs::path(doc.calc().base);
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec)) return {};
    return normbase::readBaseInfo(dir);
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
    data.checks = gge::checkGge(data.input(), gge::shippedCheckTexts());
    return data;
}

fs::path writeGgeFile(const GgeData& data, const fs::path& out, bool keepExisting, const sheet::Progress& progress) {
    return gge::writeGge(gge::planGge(data.input()), out, keepExisting, progress);
}

}  // namespace talvira::editing
