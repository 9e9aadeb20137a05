#pragma once
/**
 * The local estimate by the base-index method of the open estimate, kept up to date while its
 * positions and side data change, for the totals window: a stored edit of one position
 * recomputes that position (with the materials of its rate) alone and corrects the sums by type
 * of work exactly (model::Local421Sums); anything else computes the estimate anew.
 *
 *   editing::Local421Follower f(model::nrSpTables());
 *   f.rebuild(rows, side);                 // opened, side data changed, positions added or removed
 *   f.rowChanged(rows, side, 12);          // position 12 stored anew
 *   show(f.result().total.current.total);
 *
 * Caveats: `rows` are the positions in table order with their COUNT and code; `side` must stay
 * the same object, unchanged, until the next rebuild() (the follower points into it). The
 * result's `positions` is left empty (positionOf() gives each one); nothing is computed for an
 * estimate by the template.
 */
#include "editing/EstimateSide.h"
#include "estimate/model/Local421.h"

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace talvira::editing {

class Local421Follower {
public:
    explicit Local421Follower(const model::NrSpTables& tables) : tables_(tables) {}

    /** Computes the estimate anew. */
    void rebuild(const std::vector<model::PositionRow>& rows, const EstimateSide& side);
    /** The position at `row` was stored anew, nothing else changed. */
    void rowChanged(const std::vector<model::PositionRow>& rows, const EstimateSide& side, size_t row);
    /** Nothing to show (no estimate open). */
    void clear();

    /** Whether the estimate is computed by the base-index method (else nothing is computed). */
    bool active() const { return active_; }
    /** The totals by type of work and of the estimate, and every problem (positions first, in
     *  table order, then the missing indices). */
    const model::Local421& result() const { return result_; }
    /** The computed position the row belongs to (a material: its rate's), nullptr when none. */
    const model::PositionResult* positionOf(size_t row) const;

private:
    void finish();

    const model::NrSpTables& tables_;
    bool active_ = false;
    model::EstimateParams params_;
    std::unordered_map<int32_t, const model::PositionExtra*> byCount_;
    std::vector<const model::PositionExtra*> extraOfRow_;
    std::vector<size_t> owner_;
    std::vector<std::vector<size_t>> materials_;  // by the row of their rate
    std::vector<model::PositionResult> results_;  // by row; those of owners only
    model::Local421Sums sums_;
    model::Local421 result_;
};

}  // namespace talvira::editing
