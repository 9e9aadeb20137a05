#pragma once
/**
 * The one way a Paradox table comes to be: a new table of the fields given (with its primary
 * key and code page, storage::CreateOptions) takes its records a batch at a time, whole blocks
 * written at once, and gets its index files when it is complete. createParadoxTable, the
 * replacement of a table with records (storage/TableFamily.h) and the norm base's table writer
 * all build through it.
 *
 *   TableBuilder b("/base/RESURS.DB", fields, {.keyFields = 1, .indexFiles = true,
 *                                              .indexes = {{"IDRAB", {"IDRAB"}, false}}});
 *   b.add(record);  ...  b.finish();
 *
 * Caveats: the family of a table of the same name is replaced at once, atomically, by the new
 * empty table (storage/TableFamily.h); the records then go into it in place, so a builder
 * dropped without finish() leaves the records stored so far and no index files: build into a
 * folder that is put in place afterwards, or use replaceTable. The records of a keyed table come
 * in ascending key order. A table with index files is read-only here afterwards.
 */
#include "storage/FieldDef.h"
#include "storage/TableFile.h"
#include "storage/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvira::storage {

class ParadoxTable;

class TableBuilder {
public:
    /** Replaces the family of `dbPath` by a new empty table of `fields`. Refused fields or
     *  options: talvira::Error "Не удалось создать таблицу «…»: …", the old family untouched. */
    TableBuilder(std::string dbPath, std::vector<FieldDef> fields, CreateOptions options = {});
    /** Writes the new table exactly at `dbPath` (its .MB beside it when a field needs one),
     *  touching no other file, its messages naming `shownPath`: for a table built under a
     *  temporary name and put in place afterwards. */
    static TableBuilder exactlyAt(std::string dbPath, std::string shownPath, std::vector<FieldDef> fields,
                                  CreateOptions options = {});
    ~TableBuilder();
    TableBuilder(TableBuilder&&) noexcept;
    TableBuilder& operator=(TableBuilder&&) = delete;
    TableBuilder(const TableBuilder&) = delete;
    TableBuilder& operator=(const TableBuilder&) = delete;

    /** Takes the next record (a keyed table's: its key above the last one's); stored when a
     *  batch is full. The autoincrement value is numbered, or kept when the options say so.
     *  `rec` is left with the values of a record stored before, or empty: a caller that fills
     *  one record again and again keeps its room. */
    void add(Record&& rec);
    void add(const Record& rec) { add(Record(rec)); }
    void add(const std::vector<Record>& records);
    /** Stores what is left, closes the table and writes its index files (options.indexFiles);
     *  returns the record count. */
    uint32_t finish();
    uint32_t count() const { return count_; }

private:
    struct Exactly {};
    TableBuilder(Exactly, std::string dbPath, std::string shownPath, std::vector<FieldDef> fields,
                 CreateOptions options);
    /** The table being filled, opened at the first record. */
    ParadoxTable& table();
    void flush();
    /** Runs `step`, its messages naming the table as the user knows it. */
    template <class Step>
    void shown(Step&& step);

    std::string path_, shownPath_;
    CreateOptions options_;
    std::unique_ptr<ParadoxTable> table_;
    std::vector<Record> batch_;  // the first `used_` wait to be stored; the rest were stored
    size_t used_ = 0;
    uint32_t count_ = 0;
};

}  // namespace talvira::storage
