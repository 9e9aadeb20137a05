#pragma once
/**
 * The computation by the base-index method as a state that follows edits: for each row the data
 * kept for it, the position it belongs to (a material: its rate's), each position's result and
 * the sums by type of work. The full computation (computeBaseIndex) builds it once; the totals
 * that follow the estimate table keep it and recompute only the positions an edit touched.
 *
 *   model::BaseIndexState s(tables);
 *   s.reset(rows, extras, params);           // every position
 *   rows[7].quantity = 3;  s.recompute(rows, params, 7);   // the position row 7 belongs to
 *   show(s.result().total.current.total);
 *
 * Caveats: the state points into `extras` (PositionData) as reset or append were given them:
 * they must stay where they are (changed in place at most) until the next reset. `rows` is the
 * caller's, passed to every call, in table order; a change of a row's number, code, owner or the
 * rows' order needs reset.
 */
#include "model/BaseIndex.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace talvira::model {

class BaseIndexState {
public:
    /** Computes with `tables`, which outlive it. */
    explicit BaseIndexState(const NrSpTables& tables) : tables_(tables) {}

    /** Every position computed anew. */
    void reset(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
               const EstimateParams& params);
    /** The position row `row` belongs to computed again (its row, a material's row or its data
     *  changed in place), the sums following. */
    void recompute(const std::vector<PositionRow>& rows, const EstimateParams& params, size_t row);
    /** Rows `from` .. end appended to `rows`: computed and added. False when they change more
     *  than themselves (a number twice, a material named before its rate came): then reset. */
    bool append(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
                const EstimateParams& params, size_t from);

    /** The rows the state knows. */
    size_t rowCount() const { return owner_.size(); }
    /** The row of the position row `row` belongs to: itself, or its rate's for a material. */
    size_t ownerOf(size_t row) const { return owner_[row]; }
    /** The materials following the position at `row` (none for a material). */
    const std::vector<size_t>& materialsOf(size_t row) const { return materials_[row]; }
    /** The data kept for row `row` (nullptr: none, or written for another code). */
    const PositionData* dataOf(size_t row) const { return dataOfRow_[row]; }
    /** The row of the position numbered `count`, nothing when none. */
    std::optional<size_t> rowOfCount(int32_t count) const;
    /** The computed position row `row` belongs to, nullptr when none. */
    const PositionResult* positionOf(size_t row) const;

    const BaseIndexResult& result() const { return result_; }
    BaseIndexResult& result() { return result_; }

private:
    /** Row `row` computed as a position and added to the result and sums. */
    void addPosition(const std::vector<PositionRow>& rows, const EstimateParams& params, size_t row);
    /** workTypes, total and problems of the result from the sums. */
    void publish(const EstimateParams& params);

    const NrSpTables& tables_;
    std::unordered_map<int32_t, const PositionData*> dataOfCount_;
    std::unordered_map<int32_t, size_t> rowOfCount_;
    std::vector<const PositionData*> dataOfRow_;
    std::vector<size_t> owner_;
    std::vector<std::vector<size_t>> materials_;  // of each position's row
    std::vector<size_t> place_;                   // in result_.positions (positions only)
    BaseIndexSums sums_;
    BaseIndexResult result_;
};

}  // namespace talvira::model
