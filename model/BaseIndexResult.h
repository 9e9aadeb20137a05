#pragma once
/**
 * What the computation by the base-index method gives: per position, per type of work and for the
 * estimate, in base and current prices, with what could not be computed and why.
 */
#include "common/Decimal.h"
#include "model/PositionData.h"
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvira::model {

/** Elements of cost. In base prices every member is defined; in current prices ОТ, ОТМ, Д, ФОТ,
 *  НР and СП per position, and every member per type of work and for the estimate. */
struct Elements {
    Money ot, em, otm, m, pz, fot, nr, sp, total;
    /** Д, the machinists' extra pay: where the coefficient on ОТ exceeds the one on ОТМ the
     *  machinists are paid as the workers are, r(Q × ОТМ₁ × (K_ОТ − K_ОТМ)); it is in ЭМ, ФОТ (so
     *  in НР and СП) and the total; in current prices r(Д × I_ОТ). The expertise XML's
     *  MachinistSalaryExtra. */
    Money otmExtra;
    Dec7 zt, ztm;            // labour, чел.-ч (base only)
    bool operator==(const Elements&) const = default;
};

/** Adds `e` to `to` (`sign` −1: takes it away): every amount and both labours. */
inline void addElements(Elements& to, const Elements& e, int sign = 1) {
    for (auto [t, v] : {std::pair{&to.ot, e.ot}, {&to.em, e.em}, {&to.otm, e.otm}, {&to.m, e.m}, {&to.pz, e.pz},
                        {&to.fot, e.fot}, {&to.nr, e.nr}, {&to.sp, e.sp}, {&to.total, e.total},
                        {&to.otmExtra, e.otmExtra}})
        *t += sign > 0 ? v : -v;
    to.zt += sign > 0 ? e.zt : -e.zt;
    to.ztm += sign > 0 ? e.ztm : -e.ztm;
}

struct Problem {
    size_t row = 0;           // the table row concerned (SIZE_MAX: the whole estimate)
    int32_t number = 0;       // its COUNT (0: the whole estimate)
    std::string message;      // «Позиция 12: не выбран норматив НР и СП»
};

/** A material brought by a rate and priced in the estimate, shown as N.1, N.2 … of its rate. */
struct PricedMaterial {
    size_t row = 0;           // its row in the table (0-based)
    Dec7 perUnit;             // consumption per unit of the rate
    Dec7 quantity;            // perUnit × Q, or as stored
    Money price;              // per unit, base prices
    Money amount;             // r(quantity × price)
    bool priced = false;      // false: no price yet (printed without one, the position incomplete)
    /** Its own index (freight, a line priced apart: PositionData::indices.m of its row), and
     *  its current amount r(amount × index) by it; none: it goes with its position's М. */
    std::optional<Dec7> index;
    Money current;
};

struct PositionResult {
    size_t row = 0;           // the position's row in the table (0-based)
    int32_t number = 0;       // COUNT, shown as «№»
    enum class Kind { Rate, Standalone } kind = Kind::Rate;  // Standalone: a material or equipment of its own
    WorkType workType = WorkType::Construction;
    Dec7 quantity;
    // Per unit, base prices, as stored:
    Money ot1, em1, otm1, m1, pz1;
    Dec7 zt1, ztm1;
    /** The products of the coefficients aimed at each element (1 when none). */
    Dec7 kOt, kEm, kOtm, kM, kZt, kZtm;
    /** The factor of Д: K_ОТ − K_ОТМ, or the position's own (PositionData::extraPayFactor). */
    Dec7 kExtra;
    std::vector<Coefficient> coefficients;
    /** The rows used and their percentages: norm, the repair factor (1, 0.9, 0.85), resulting. */
    std::string nrRow, spRow;
    /** The same as the estimate writes them: "Пр/812-011.0-1" (the territory's column), "Пр/774-011.0". */
    std::string nrRef, spRef;
    Dec7 nrNorm, nrFactor, nrPercent, spNorm, spFactor, spPercent;
    std::vector<PricedMaterial> materials;
    Elements base;            // m and pz include the priced materials
    Elements current;         // ot, otm, fot, nr, sp; em, m, pz, total when currentFull
    /** False: the position could not be computed and is left out of every sum (its amounts
     *  are 0; `problems` says why). */
    bool computed = true;
    /** False: its current prices need the index of wages, which the estimate lacks. */
    bool currentDefined = true;
    /** The indices it applied (indexFor; none: missing): ОТ, ОТМ, ЭМ, М (оборудование for
     *  equipment). */
    std::optional<Dec7> indexOt, indexOtm, indexEm, indexM;
    /** True: `current` em, m, pz and total are defined too (every index they need is at hand). */
    bool currentFull = false;
    /** Its own index gave current ЭМ / М: the totals add those instead of indexing the sums. */
    bool ownEm = false, ownM = false;
    /** Of М, the lines with their own index: base and current (always added as they are). */
    Money mLinesBase, mLinesCurrent;
    /** Its own problems and those of its materials (a material that cannot be computed is left
     *  out of the position, the position stays). */
    std::vector<Problem> problems;
};

struct WorkTypeTotals {
    WorkType type = WorkType::Construction;
    Elements base, current;
    /** The indices this type of work used: ОТ (and ОТМ), ЭМ, М (оборудование for Equipment). */
    std::optional<Dec7> indexOt, indexEm, indexM;
    /** False: an index it needs is missing, and `current` is not complete. */
    bool currentDefined = true;
    /** Of ЭМ and М, what is not indexed on the sum (Д by the index of wages, positions and lines
     *  with their own index), in base and current prices: current = r(I × (base − apart)) + apart's. */
    Money emApart, emApartCurrent, mApart, mApartCurrent;
};

struct BaseIndexResult {
    std::vector<PositionResult> positions;  // in table order; materials of a rate folded into it
    std::vector<WorkTypeTotals> workTypes;  // only the types present, in WorkType order
    WorkTypeTotals total;                   // the estimate (type unused)
    std::vector<Problem> problems;
    bool currentComplete = true;            // false when an index needed is missing
};

}  // namespace talvira::model
