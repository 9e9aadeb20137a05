#include "model/BaseIndexState.h"

namespace talvira::model {

void BaseIndexState::reset(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
                           const EstimateParams& params) {
    const size_t n = rows.size();
    dataOfCount_.clear();
    dataOfCount_.reserve(extras.size());
    for (const PositionData& e : extras) dataOfCount_.emplace(e.count, &e);  // the first entry of a number
    rowOfCount_.clear();
    rowOfCount_.reserve(n);
    for (size_t i = 0; i < n; ++i) rowOfCount_.emplace(rows[i].count, i);
    dataOfRow_ = dataByRow(rows, extras);
    owner_ = positionOwners(rows, dataOfRow_);
    materials_.assign(n, {});
    place_.assign(n, SIZE_MAX);
    for (size_t i = 0; i < n; ++i)
        if (owner_[i] != i) materials_[owner_[i]].push_back(i);
    result_ = BaseIndexResult{};
    result_.positions.reserve(n);
    sums_ = BaseIndexSums{};
    for (size_t i = 0; i < n; ++i)
        if (owner_[i] == i) addPosition(rows, params, i);
    publish(params);
}

void BaseIndexState::addPosition(const std::vector<PositionRow>& rows, const EstimateParams& params, size_t row) {
    place_[row] = result_.positions.size();
    result_.positions.push_back(computePosition(rows, dataOfRow_, row, materials_[row], params, tables_));
    sums_.add(result_.positions.back());
}

void BaseIndexState::recompute(const std::vector<PositionRow>& rows, const EstimateParams& params, size_t row) {
    if (row >= owner_.size()) return;
    const size_t owner = owner_[row];
    PositionResult& slot = result_.positions[place_[owner]];
    sums_.remove(slot);
    slot = computePosition(rows, dataOfRow_, owner, materials_[owner], params, tables_);
    sums_.add(slot);
    publish(params);
}

bool BaseIndexState::append(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
                            const EstimateParams& params, size_t from) {
    for (size_t r = from; r < rows.size(); ++r) {
        const int32_t count = rows[r].count;
        if (!rowOfCount_.emplace(count, r).second) return false;  // a number twice
        for (const PositionData& e : extras)
            if (e.parent == count) return false;  // materials named it before it came
        const auto at = dataOfCount_.find(count);
        const PositionData* extra =
            at != dataOfCount_.end() && (at->second->code.empty() || at->second->code == rows[r].code) ? at->second
                                                                                                      : nullptr;
        // Its owner as positionOwners finds it: the rate it names, unless that is a material.
        size_t owner = r;
        if (extra && extra->parent != 0 && extra->parent != count) {
            const auto p = rowOfCount_.find(extra->parent);
            if (p != rowOfCount_.end() && !(dataOfRow_[p->second] && dataOfRow_[p->second]->parent != 0))
                owner = p->second;
        }
        dataOfRow_.push_back(extra);
        owner_.push_back(owner);
        materials_.emplace_back();
        place_.push_back(SIZE_MAX);
        if (owner != r) {
            materials_[owner].push_back(r);
            PositionResult& slot = result_.positions[place_[owner]];
            sums_.remove(slot);
            slot = computePosition(rows, dataOfRow_, owner, materials_[owner], params, tables_);
            sums_.add(slot);
        } else {
            addPosition(rows, params, r);
        }
    }
    publish(params);
    return true;
}

std::optional<size_t> BaseIndexState::rowOfCount(int32_t count) const {
    const auto at = rowOfCount_.find(count);
    if (at == rowOfCount_.end()) return std::nullopt;
    return at->second;
}

const PositionResult* BaseIndexState::positionOf(size_t row) const {
    if (row >= owner_.size() || owner_[row] >= place_.size()) return nullptr;
    const size_t at = place_[owner_[row]];
    return at < result_.positions.size() ? &result_.positions[at] : nullptr;
}

void BaseIndexState::publish(const EstimateParams& params) {
    result_.problems.clear();
    for (const PositionResult& p : result_.positions)
        result_.problems.insert(result_.problems.end(), p.problems.begin(), p.problems.end());
    sums_.finish(params, result_);
}

}  // namespace talvira::model
