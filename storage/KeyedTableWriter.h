#pragma once
/**
 * Builds a new Paradox table keyed on its first field, with its indexes, in one pass: the table
 * is created, takes its records in ascending key order a batch at a time (whole blocks written
 * at once) and, at finish(), gets its primary index and the secondary indexes named.
 *
 *   KeyedTableWriter w("/base/RESURS.DB", fields, {{"IDRAB", {"IDRAB"}, false}});
 *   w.add(record);  ...  w.finish();
 *
 * Caveats: a table of the same name is replaced as a whole (createParadoxTable). Records are
 * kept in memory only until a batch is full. A writer dropped without finish() leaves the table
 * written so far without its indexes: build into a folder that is put in place afterwards.
 */
#include "storage/FieldDef.h"
#include "storage/ParadoxIndexWriter.h"
#include "storage/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvira::storage {

class ParadoxTable;

class KeyedTableWriter {
public:
    KeyedTableWriter(std::string path, const std::vector<FieldDef>& fields, std::vector<SecondaryIndexDef> indexes);
    ~KeyedTableWriter();
    KeyedTableWriter(const KeyedTableWriter&) = delete;
    KeyedTableWriter& operator=(const KeyedTableWriter&) = delete;

    /** Takes the next record (its key above the last one's). */
    void add(Record rec);
    /** Stores what is left, closes the table and writes its indexes; returns the record count. */
    uint32_t finish();
    uint32_t count() const { return count_; }

private:
    void flush();

    std::string path_;
    std::vector<SecondaryIndexDef> indexes_;
    std::unique_ptr<ParadoxTable> table_;
    std::vector<Record> batch_;
    uint32_t count_ = 0;
};

}  // namespace talvira::storage
