#pragma once
/**
 * The official form of the open estimate: its rows read as the totals read them, the data kept
 * beside the table, the computation by the base-index method, the wording of НР and СП from the
 * shipped tables, and the form written beside the estimate ("<имя> ЛСР.xlsx").
 *
 *   editing::LsrFacts facts = editing::lsrFactsOf(normbase::readBaseInfo(startDir / "Base"));
 *   fs::path out = editing::exportLsrForm(doc, texts, facts, lsr::lsrPlaceFor(doc.table().tablePath()).path, true);
 *
 *   // the window: read and computed on its thread, written on a worker (the form owns its data)
 *   auto form = std::make_shared<editing::LsrFormData>(editing::prepareLsrForm(doc, texts, facts));
 *   job.start([form, out](const sheet::Progress& p) { return editing::writeLsrForm(*form, out, true, p); }, …);
 *
 * Caveats: an estimate «по шаблону» is refused (kNeedsBaseIndexMethod); so is one with positions the
 * computation could not take, naming them. The form shows the document's result as it follows
 * the stored positions (nothing is computed again): what is typed and not stored is stored first
 * by the caller. The table is back at its position afterwards.
 */
#include "editing/EstimateDocument.h"
#include "model/EstimateRows.h"
#include "model/BaseIndexResult.h"
#include "model/NrSpTables.h"
#include "export/LsrForm.h"
#include "normbase/BaseInfo.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <string>
#include <vector>

namespace talvira::editing {

/** The message for an estimate computed by the template (the form cannot be made for it). */
extern const char* const kNeedsBaseIndexMethod;

/** The program and the base's facts the header prints. */
struct LsrFacts {
    std::string program = "Тальвира 1.0";
    std::string edition;
    std::vector<std::string> orders;
};
LsrFacts lsrFactsOf(const normbase::BaseInfo& base);

/** The form's texts from the title block: «Локальная смета №1» gives the number "1"; the works
 *  are named by the estimate's name. */
lsr::FormFacts formFactsOf(const model::EstimateTexts& texts, const std::string& estimateName, const LsrFacts& facts);

/** The wording of each position's НР/СП row («Полы»), from `tables`. */
std::vector<std::string> chargeTitles(const model::BaseIndexResult& result, const model::NrSpTables& tables);

/** Everything the form is made of, owned: it may be written on another thread while the
 *  estimate goes on changing. */
struct LsrFormData {
    std::vector<model::PositionRow> rows;
    model::EstimateTexts texts;
    model::EstimateParams params;
    model::BaseIndexResult result;
    lsr::FormFacts facts;
    std::vector<std::string> chargeTitles;
    lsr::FormInput input() const { return {rows, texts, params, result, facts, chargeTitles}; }
};

/** The form of the estimate `doc` holds, from its result (nothing is computed again), with the
 *  rows' names and units read from its table: the form as it will be written, owned. What is
 *  typed and not stored is stored first by the caller. talvira::Error with the Russian text when
 *  it cannot be made. */
LsrFormData prepareLsrForm(EstimateDocument& doc, const model::EstimateTexts& texts, const LsrFacts& facts);

/** Writes the form prepared (on any thread); returns the path written. `progress` may stop it
 *  (sheet::WriteStopped, nothing left behind). */
std::filesystem::path writeLsrForm(const LsrFormData& form, const std::filesystem::path& out, bool keepExisting,
                                   const sheet::Progress& progress = {});

/** prepareLsrForm, then writeLsrForm; returns the path written. */
std::filesystem::path exportLsrForm(EstimateDocument& doc, const model::EstimateTexts& texts, const LsrFacts& facts,
                                    const std::filesystem::path& out, bool keepExisting);

}  // namespace talvira::editing
