#pragma once
/**
 * The open estimate as the state-expertise file (.gge): its result and rows as the printed form
 * takes them (nothing is computed again), the parameters with the expertise facts, the base's
 * edition and orders where the estimator gave no act, a GUID made at the first export and kept
 * with the estimate, and the expert's checks; then, on any thread, the file written and checked
 * against the shipped schema.
 *
 *   editing::GgeData data = editing::prepareGge(doc, texts);      // the window's thread
 *   for (const gge::GgeCheck& c : data.checks) show(c);           // blocks? then stop here
 *   fs::path out = editing::writeGgeFile(data, "Смета.gge", true, progress);
 *
 * Caveats: an estimate «по шаблону» is refused (the method is the base-index one). What is typed
 * and not stored is stored first by the caller. prepareGge stores the GUID when the estimate had
 * none (the calc file changes once).
 */
#include "editing/EstimateDocument.h"
#include "export/GgeChecks.h"
#include "export/GgePlan.h"
#include "export/XlsxRenderer.h"
#include "model/EstimateRows.h"

#include <filesystem>
#include <string>
#include <vector>

namespace talvira::editing {

/** Everything the file is made of, owned: it may be written on another thread. */
struct GgeData {
    std::vector<model::PositionRow> rows;
    model::EstimateParams params;
    model::BaseIndexResult result;
    std::vector<std::string> chargeTitles;
    gge::GgeFacts facts;
    std::vector<gge::GgeCheck> checks;
    gge::GgeInput input() const { return {rows, params, result, facts, chargeTitles}; }
};

/** The local time now as xs:dateTime with its zone: «2025-08-18T11:19:01+03:00». */
std::string dateTimeNow();

/** The file of the estimate `doc` holds, checked; talvira::Error when it cannot be made (the
 *  template method, the shipped texts of the checks unreadable). `exportDateTime` empty: now. */
GgeData prepareGge(EstimateDocument& doc, const model::EstimateTexts& texts, std::string exportDateTime = {});

/** Writes the prepared file (on any thread), whatever its checks say: the caller has shown them.
 *  talvira::Error for a violation of the schema (nothing written). */
std::filesystem::path writeGgeFile(const GgeData& data, const std::filesystem::path& out, bool keepExisting,
                                   const sheet::Progress& progress = {});

}  // namespace talvira::editing
