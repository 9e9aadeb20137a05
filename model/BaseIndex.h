#pragma once
/**
 * The local estimate by the base-index method (Методика 421/пр): overhead (НР) and profit (СП)
 * per position by the type of work its norm names, coefficients per position on named
 * elements, current prices by the quarterly indices per element of direct costs. One module,
 * no Qt, exact decimal arithmetic (Decimal.h); the windows, the command-line tool, the totals
 * and the printed form only show what computeBaseIndex returns.
 *
 *   model::EstimateParams p;  p.method = model::Method::BaseIndex;  p.indexOt = Dec7::parse("52.21");
 *   model::BaseIndexResult r = model::computeBaseIndex(rows, extras, p, model::nrSpTables());
 *   show(r.total.current.total);                                   // Money
 *
 * Terms, per unit of a rate in base prices: ОТ workers' wages (OSNZP), ЭМ machines (EXPLMASH)
 * including ОТМ machinists' wages (ZPMASH), М priced materials (MATER), ЗТ / ЗТМ labour of
 * workers / machinists (TRUD / PositionData::machinistLabour). ПЗ = ОТ + ЭМ + М, ФОТ = ОТ + ОТМ + Д.
 *
 *   ОТ  = r(Q × ОТ₁ × K_ОТ)      ОТМ = r(Q × ОТМ₁ × K_ОТМ)      М = r(Q × М₁ × K_М)
 *   ЭМ  = r(Q × ((ЭМ₁ − ОТМ₁) × K_ЭМ + ОТМ₁ × K_ОТМ)) + Д
 *   Д   = r(Q × ОТМ₁ × (K_ОТ − K_ОТМ)) when K_ОТ > K_ОТМ, else 0: the machinists' extra pay
 *   НР  = r(ФОТ × Н_нр × k_нр / 100)      СП = r(ФОТ × Н_сп × k_сп / 100)
 *   total = ПЗ + НР + СП, ПЗ counting the materials priced within the position, each r(qty × price)
 *   current, per position: ОТ, ОТМ, Д by I_ОТ, ФОТ, НР, СП from them;
 *   current, per type of work: ЭМ by I_ЭМ (without Д, which goes by I_ОТ), М by I_М (оборудование
 *   by I_оборудования) on its sums; a position's own index (PositionData::indices) and a line's
 *   own index (freight) give their current amounts, added as they are.
 *
 * Capital repair (EstimateParams::capitalRepair) multiplies НР by 0.9 and СП by 0.85 for the rows
 * of new-construction norms (sections I-III of the tables); the repair norms' own rows (IV, V)
 * and the other works (VI) keep theirs. A position with only a price (no wages, machines or
 * labour) is a material or equipment of its own: its cost is М, it bears no НР or СП; so does a
 * position of the type оборудование.
 *
 * Caveats: a position that cannot be computed (no НР/СП row where ФОТ is not 0, a row the
 * tables lack, a negative quantity, a coefficient of 0) is left out of every sum and listed in
 * `problems` with the reason; a missing index makes the current prices of what needs it absent
 * (`BaseIndexResult::currentComplete` false) and is listed too. The template method is not computed
 * here: its block is the template workbook's own formulas (export/EstimateTotals).
 */
#include "common/Decimal.h"
#include "model/BaseIndexResult.h"
#include "model/EstimateRows.h"
#include "model/NrSpTables.h"
#include "model/Params.h"
#include "model/PositionData.h"

#include <array>
#include <cstdint>
#include <vector>

namespace talvira::model {

/**
 * Computes the estimate. `rows` are the positions in table order (PositionRow::count = COUNT);
 * `extras` the data kept beside the table (any order; a position without an entry is a rate
 * with no НР/СП row and no coefficients, or a material of its own when it has only a price).
 */
BaseIndexResult computeBaseIndex(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
                         const EstimateParams& params, const NrSpTables& tables);

// ---------------------------------------------------------------------------------------------
// Building blocks: the totals that follow edits recompute only the positions an edit touched
// ---------------------------------------------------------------------------------------------

/** For each row, the extra kept for its COUNT (nullptr when none, or when it was written for
 *  another code). */
std::vector<const PositionData*> dataByRow(const std::vector<PositionRow>& rows,
                                              const std::vector<PositionData>& extras);

/** For each row, the row of the position it belongs to: itself for a rate or a position of its
 *  own, its rate's row for a material whose rate (`parent`) is in the estimate. */
std::vector<size_t> positionOwners(const std::vector<PositionRow>& rows,
                                   const std::vector<const PositionData*>& dataOfRow);

/** One position: the rate or position of its own at `row`, with the materials of the rate at
 *  `materialRows` (table order). */
PositionResult computePosition(const std::vector<PositionRow>& rows,
                               const std::vector<const PositionData*>& dataOfRow, size_t row,
                               const std::vector<size_t>& materialRows, const EstimateParams& params,
                               const NrSpTables& tables);

/** The sums by type of work that the totals are made of: positions are added and taken away
 *  exactly (whole kopecks), so an edit costs the positions it touched and five types. */
class BaseIndexSums {
public:
    void add(const PositionResult& p) { apply(p, +1); }
    void remove(const PositionResult& p) { apply(p, -1); }
    /** `workTypes`, `total` and `currentComplete` of `out` from the sums; the missing indices
     *  are appended to `out.problems`. */
    void finish(const EstimateParams& params, BaseIndexResult& out) const;

private:
    struct Type {
        int64_t positions = 0, undefined = 0;    // computed positions, those without current prices
        Elements base, current;                 // current: ot, otm, fot, nr, sp; em, m by own indices
        Money emRest, mRest;                    // base ЭМ (without Д), М indexed on the sums
    };
    void apply(const PositionResult& p, int sign);
    std::array<Type, kWorkTypes> types_{};
};

}  // namespace talvira::model
