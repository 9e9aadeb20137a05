#pragma once
/**
 * The rows a table handle shows: the records of its table in an index's order (all of them, or
 * those of one key when a master link gives it) or in physical order, narrowed by a filter, and
 * numbered from 0. The records of the rows last read are kept, and a walk over the physical
 * order finds each next record from the one before, so that a grid painting its rows reads
 * each record once.
 *
 *   TableView v;
 *   v.setFile(file.get());  v.setOrder(true, "IDOGL");  v.takeKey({Value::integer(104)});
 *   for (int r = 0; r < v.count(); ++r) use(v.recordAt(r));
 *
 * Caveats: the rows are taken when asked (take*) and not again: after a write to the table the
 * owner takes them anew (a place named before a write may hold another record after it).
 * clearCache() drops the kept records when the file is swapped for another over the same table.
 */
#include "storage/Filter.h"
#include "storage/TableFile.h"
#include "storage/Value.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvira::storage {

class TableView {
public:
    /** The file the rows are read from (nullptr: none); no rows until they are taken. */
    void setFile(const TableFile* file);
    /** Follows the index `index` ("" the primary one) when `indexed`, else the physical order. */
    void setOrder(bool indexed, std::string index);
    bool indexed() const { return indexed_; }
    /** Shows only the records `filter` matches (bound to the file's fields; empty: all). */
    void setFilter(Filter filter);
    bool filtered() const { return !filter_.empty(); }

    /** Takes the rows anew: every record of the table. */
    void takeAll();
    /** Takes the rows anew: the records whose index fields start with `key`; none without one
     *  (a master with no current record, or an empty link value). */
    void takeKey(const std::optional<std::vector<Value>>& key);
    /** No rows (the table closed). */
    void clear();

    int count() const;
    /** The place of the record at `row` (0 <= row < count()); talvira::Error naming the table
     *  when the place cannot be found. */
    RecordLoc locOf(int row) const;
    /** The record at `row`, as read last (kept until clearCache or the next take). */
    const Record& recordAt(int row) const;
    /** The physical ordinal of the record at `row` of a view in physical order. */
    uint32_t ordinalOf(int row) const;
    /** The row of the record at `loc` (indexed views), -1 when it is not shown. */
    int rowOfPlace(RecordLoc loc) const;
    /** The row of the record with physical ordinal `ord` (views in physical order), -1 when it is
     *  not shown; a filtered view then puts into `following` the row of the first shown record
     *  after it. */
    int rowOfOrdinal(uint32_t ord, int* following = nullptr) const;
    void clearCache() const;

private:
    bool shown(RecordLoc loc) const;
    void narrow();
    [[noreturn]] void notFound(uint32_t ord) const;

    const TableFile* file_ = nullptr;
    bool indexed_ = false;
    std::string index_;
    Filter filter_;
    std::vector<RecordLoc> locs_;  // indexed view
    std::vector<uint32_t> ords_;   // physical view under a filter
    bool filteredPhysical_ = false;

    // The kept records (direct-mapped by place) and the last physical place found.
    struct Kept {
        bool valid = false;
        RecordLoc loc;
        Record rec;
    };
    mutable std::array<Kept, 64> kept_;
    mutable std::optional<std::pair<uint32_t, RecordLoc>> lastPlace_;
};

}  // namespace talvira::storage
