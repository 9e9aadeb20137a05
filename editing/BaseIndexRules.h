#pragma once
/**
 * The rules the estimate window and the command-line tool apply to an estimate by the
 * base-index method, without any widget: the materials that follow their rate's quantity, what
 * a new estimate starts from on a given base, the kept НР/СП percentages compared with the
 * shipped tables, the territory changed, and the calc data derived for an estimate made by the
 * template.
 *
 *   auto changes = editing::followingQuantities(rows, state, params, rateRow);   // the rate's KOLVO stored
 *   editing::applyQuantities(smeta, changes);
 *   editing::EstimateStart s = editing::estimateStart(normbase::readBaseInfo(baseDir), ',');
 *
 * Caveats: rows are the table's positions in its physical order (editing::readPositionRows);
 * a template estimate is never changed by these rules.
 */
#include "editing/KeptCalc.h"
#include "estimate/RateFacts.h"
#include "model/EstimateRows.h"
#include "model/BaseIndexState.h"
#include "normbase/BaseInfo.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvira::editing {

// ---------------------------------------------------------------------------------------------
// Materials follow their rate
// ---------------------------------------------------------------------------------------------

/** The quantity a position's KOLVO is to hold (nothing: empty). */
struct QuantityChange {
    size_t row = 0;
    std::optional<double> quantity;
    bool operator==(const QuantityChange&) const = default;
};

/** The quantity of a material of a rate: its consumption per unit × the rate's quantity, kept
 *  to seven decimals; empty while the rate has no quantity (empty or 0). */
std::optional<double> materialQuantity(Dec7 perUnit, double rateQuantity);

/** In an estimate by the base-index method (`params`), the materials of the rate at `rateRow`
 *  (as `state`, following `rows`, owns them) whose stored quantity is not materialQuantity of
 *  the rate's: each with the quantity it is to hold. Nothing for a template estimate or a row
 *  that is no rate with materials. */
std::vector<QuantityChange> followingQuantities(const std::vector<model::PositionRow>& rows,
                                                const model::BaseIndexState& state, const model::EstimateParams& params,
                                                size_t rateRow);
/** Every material of `rows` (as `state` owns them) whose stored quantity is not its rate's times
 *  its consumption (after a switch of method). */
std::vector<QuantityChange> followingQuantities(const std::vector<model::PositionRow>& rows,
                                                const model::BaseIndexState& state);

/** Stores each quantity in its position (each posted on its own, as a typed edit is); the
 *  cursor comes back to the position it was on. */
void applyQuantities(storage::TableHandle& smeta, const std::vector<QuantityChange>& changes);

// ---------------------------------------------------------------------------------------------
// What the estimator types
// ---------------------------------------------------------------------------------------------

/** Whether `field` of the stored position `row` is a price the norm base gave a rate, which the
 *  computation by the base-index method takes as it stands (a change typed there would be a
 *  norm of one's own, or, for STOIM, ignored): STOIM, OSNZP, MATER, EXPLMASH and ZPMASH of a
 *  rate, i.e. of a position with wages, machines or labour. A material's price (a material of a
 *  rate, or a position of its own with a price only) is the estimator's to type. */
bool isRatePrice(const model::PositionRow& row, std::string_view field);

// ---------------------------------------------------------------------------------------------
// A new estimate
// ---------------------------------------------------------------------------------------------

/** What a new estimate starts from. */
struct EstimateStart {
    model::EstimateParams params;
    model::EstimateTexts texts;
    /** Whether the calc file is to be written with it (false: the estimate is as it always was). */
    bool writeCalc = false;
};

/**
 * On a base imported from the official files: the base-index method at the base's price level,
 * and, for the texts of the template, a factor into current prices of "1" and VAT "20" (the
 * template's "2,18" and "18" belong to 2001 prices and a VAT long gone: on a 2022-level base they
 * would make the estimate 2.18 times too high without a word). On any other base (the demo
 * base, a base of other software): the template and its defaults exactly.
 */
EstimateStart estimateStart(const normbase::BaseInfo& base, char decimalSep);

// ---------------------------------------------------------------------------------------------
// Kept percentages and the shipped tables
// ---------------------------------------------------------------------------------------------

/** A position whose kept НР or СП percentage is not the shipped tables' for its row (in the
 *  estimate's territory), or whose row the tables no longer have. */
struct PercentDifference {
    size_t row = 0;            // its table row
    int32_t number = 0;        // COUNT
    bool overhead = true;      // НР (else СП)
    std::string reference;     // "Пр/812-011.0-1"
    Dec7 kept;
    std::optional<Dec7> table;  // nothing: the row is not in the tables
    /** «Позиция 3: НР по Пр/812-011.0-1 — в смете 110 %, в таблицах 112 %». */
    std::string text() const;
};

std::vector<PercentDifference> percentDifferences(const std::vector<model::PositionRow>& rows, const KeptCalc& calc,
                                                  const model::NrSpTables& tables);

/** Takes the tables' percentages for the differences given (those the estimator accepted). */
void takeTablePercents(KeptCalc& calc, const std::vector<PercentDifference>& accepted);

/** Changes the territory; a position whose kept НР percentage is the tables' for the old
 *  territory takes the tables' for the new one (one that differed stays, and is told). */
void setTerritory(KeptCalc& calc, model::Territory territory, const model::NrSpTables& tables);

// ---------------------------------------------------------------------------------------------
// An estimate made by the template, computed by the base-index method
// ---------------------------------------------------------------------------------------------

struct DerivedCalc {
    std::vector<model::PositionData> positions;  // for the positions that had none
    std::vector<QuantityChange> quantities;     // materials whose KOLVO now follows their rate
};

/**
 * The calc data of the positions that have none, as Add would have given them:
 * - a material, recognised as Add writes one: after a rate (or after another material of it),
 *   no wages, machines or labour, STOIM equal to MATER. With a base, its code must be among the
 *   rate's unaccounted materials and its KOLVO their consumption per unit; without one, KOLVO is
 *   taken as that. A material whose KOLVO the estimator changed stays a position of its own,
 *   with its quantity. Its KOLVO then follows the rate (`quantities`).
 * - a rate: the НР/СП rows its norm names when `lookup` finds its code (one chosen when it
 *   names one), the machinists' labour, the type of work of its book or collection.
 * A material whose data the template's Add kept (`parent`) keeps them when its KOLVO is still
 * its consumption per unit; one whose KOLVO the estimator typed becomes a position of its own.
 * `lookup` may be empty (no base).
 */
DerivedCalc deriveCalc(const std::vector<model::PositionRow>& rows, const KeptCalc& calc, const estimate::RateLookup& lookup,
                       const model::NrSpTables& tables);

}  // namespace talvira::editing
