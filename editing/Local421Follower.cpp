#include "editing/Local421Follower.h"

namespace talvira::editing {

void Local421Follower::clear() {
    active_ = false;
    byCount_.clear();
    extraOfRow_.clear();
    owner_.clear();
    materials_.clear();
    results_.clear();
    sums_ = {};
    result_ = {};
}

void Local421Follower::rebuild(const std::vector<model::PositionRow>& rows, const EstimateSide& side) {
    clear();
    params_ = side.params;
    active_ = side.params.method == model::Method::BaseIndex421;
    if (!active_) return;
    byCount_.reserve(side.extras.size());
    for (const model::PositionExtra& e : side.extras) byCount_[e.count] = &e;
    extraOfRow_ = model::extrasByRow(rows, side.extras);
    owner_ = model::positionOwners(rows, extraOfRow_);
    materials_.resize(rows.size());
    results_.resize(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        if (owner_[i] != i) materials_[owner_[i]].push_back(i);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (owner_[i] != i) continue;
        results_[i] = model::computePosition(rows, extraOfRow_, i, materials_[i], params_, tables_);
        sums_.add(results_[i]);
    }
    finish();
}

void Local421Follower::rowChanged(const std::vector<model::PositionRow>& rows, const EstimateSide& side, size_t row) {
    if (!active_) return;
    if (rows.size() != owner_.size() || row >= rows.size()) return rebuild(rows, side);
    // A changed code may give the row another entry (or none), and with it another rate.
    const auto at = byCount_.find(rows[row].count);
    const model::PositionExtra* extra = at != byCount_.end() ? at->second : nullptr;
    if (extra && !extra->code.empty() && extra->code != rows[row].code) extra = nullptr;
    if (extra != extraOfRow_[row]) return rebuild(rows, side);
    const size_t o = owner_[row];
    sums_.remove(results_[o]);
    results_[o] = model::computePosition(rows, extraOfRow_, o, materials_[o], params_, tables_);
    sums_.add(results_[o]);
    finish();
}

void Local421Follower::finish() {
    result_.problems.clear();
    for (size_t i = 0; i < results_.size(); ++i)
        if (owner_[i] == i && !results_[i].problems.empty())
            result_.problems.insert(result_.problems.end(), results_[i].problems.begin(), results_[i].problems.end());
    sums_.finish(params_, result_);
}

const model::PositionResult* Local421Follower::positionOf(size_t row) const {
    if (!active_ || row >= owner_.size()) return nullptr;
    return &results_[owner_[row]];
}

}  // namespace talvira::editing
