#include "storage/TableView.h"

#include "common/Error.h"

#include <algorithm>

namespace talvira::storage {

void TableView::setFile(const TableFile* file) {
    file_ = file;
    clearCache();
}

void TableView::setOrder(bool indexed, std::string index) {
    indexed_ = indexed;
    index_ = std::move(index);
}

void TableView::setFilter(Filter filter) { filter_ = std::move(filter); }

void TableView::clearCache() const {
    for (auto& k : kept_) k.valid = false;
    lastPlace_.reset();
}

void TableView::clear() {
    clearCache();
    locs_.clear();
    ords_.clear();
    filteredPhysical_ = false;
}

bool TableView::shown(RecordLoc loc) const {
    return filter_.matches([&](int c) { return file_->readField(loc, c); });
}

void TableView::takeAll() {
    clear();
    if (indexed_) locs_ = file_->scan(index_);
    narrow();
}

void TableView::takeKey(const std::optional<std::vector<Value>>& key) {
    clear();
    if (key) locs_ = file_->lookup(index_, *key);
    narrow();
}

void TableView::narrow() {
    if (filter_.empty()) return;
    if (indexed_) {
        std::erase_if(locs_, [&](RecordLoc l) { return !shown(l); });
        return;
    }
    filteredPhysical_ = true;
    uint32_t ord = 0;
    for (auto l = file_->first(); l; l = file_->next(*l), ++ord)
        if (shown(*l)) ords_.push_back(ord);
}

int TableView::count() const {
    if (!file_) return 0;
    if (indexed_) return static_cast<int>(locs_.size());
    if (filteredPhysical_) return static_cast<int>(ords_.size());
    return static_cast<int>(file_->recordCount());
}

uint32_t TableView::ordinalOf(int row) const {
    return filteredPhysical_ ? ords_[size_t(row)] : uint32_t(row);
}

RecordLoc TableView::locOf(int row) const {
    if (indexed_) return locs_[size_t(row)];
    const uint32_t ord = ordinalOf(row);
    // A walk row by row goes on from the place found last instead of counting from the start.
    std::optional<RecordLoc> loc;
    if (lastPlace_ && lastPlace_->first == ord) return lastPlace_->second;
    if (lastPlace_ && lastPlace_->first + 1 == ord) loc = file_->next(lastPlace_->second);
    else if (lastPlace_ && ord + 1 == lastPlace_->first) loc = file_->prior(lastPlace_->second);
    if (!loc) loc = file_->locate(ord);
    if (!loc) notFound(ord);
    lastPlace_ = {ord, *loc};
    return *loc;
}

void TableView::notFound(uint32_t ord) const {
    throw Error("Таблица «" + file_->info().path + "»: запись " + std::to_string(ord + 1) + " не найдена.");
}

const Record& TableView::recordAt(int row) const {
    const RecordLoc loc = locOf(row);
    Kept& k = kept_[(size_t(loc.block) * 131u + loc.slot) % kept_.size()];
    if (!k.valid || !(k.loc == loc)) {
        k.rec = file_->read(loc);
        k.loc = loc;
        k.valid = true;
    }
    return k.rec;
}

int TableView::rowOfPlace(RecordLoc loc) const {
    const auto it = std::find(locs_.begin(), locs_.end(), loc);
    return it == locs_.end() ? -1 : static_cast<int>(it - locs_.begin());
}

int TableView::rowOfOrdinal(uint32_t ord, int* following) const {
    if (filteredPhysical_) {
        const auto it = std::lower_bound(ords_.begin(), ords_.end(), ord);
        const int at = static_cast<int>(it - ords_.begin());
        if (it != ords_.end() && *it == ord) return at;
        if (following) *following = at;
        return -1;
    }
    return int(ord) < count() ? int(ord) : -1;
}

}  // namespace talvira::storage
