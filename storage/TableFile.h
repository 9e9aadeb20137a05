#pragma once
/**
 * What the table handle needs from a stored table: its fields and indexes, the records in
 * physical (chain) order addressed by place, look-ups through an index, and the writes.
 * ParadoxTable implements it over real files; tests may implement it in memory.
 *
 *   auto t = openParadoxTable("/base/RESURS.DB", OpenMode::ReadOnly);
 *   for (auto loc = t->first(); loc; loc = t->next(*loc)) use(t->read(*loc));
 *
 * Caveats: a RecordLoc names a place, not a record. Deleting a record moves the records after it
 * within its block, so places taken before a write may be stale after it; the writes return the
 * places the caller needs next. Every write is on disk (in the operating system's hands) when
 * the call returns.
 */
#include "storage/FieldDef.h"
#include "storage/ParadoxIndexWriter.h"
#include "storage/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::storage {

/** Physical place of a record: data block (1-based) and slot in the block (0-based). */
struct RecordLoc {
    uint32_t block = 0;
    uint32_t slot = 0;
    bool operator==(const RecordLoc&) const = default;
};

/** Facts of the table header, for `talvira-cli table info` and checks. */
struct TableInfo {
    std::string path;
    int version = 0;         // file version byte: 3 (3.0), 4 (3.5), 5..9 (4.x), 10/11 (5.x), 12 (7.x)
    int codePage = 0;        // the code page the text is read in (after detection / forcing)
    int headerCodePage = 0;  // what the header says (0 when it says nothing)
    uint32_t recordCount = 0;
    uint32_t blockSize = 0;  // bytes
    uint32_t recordSize = 0; // bytes
    int keyFields = 0;       // fields of the primary key (0: unkeyed)
    int64_t autoIncrement = 0;
    bool hasMemoFile = false;
};

class TableFile {
public:
    virtual ~TableFile() = default;

    virtual const TableInfo& info() const = 0;
    virtual const std::vector<FieldDef>& fields() const = 0;
    /** Field number by name, case-insensitive; -1 when absent. */
    virtual int fieldIndex(std::string_view name) const = 0;
    virtual uint32_t recordCount() const = 0;
    /** Primary index (if any) first, then the secondary indexes found beside the table. */
    virtual const std::vector<IndexInfo>& indexes() const = 0;

    // ---- physical order -------------------------------------------------------------
    virtual std::optional<RecordLoc> first() const = 0;
    virtual std::optional<RecordLoc> last() const = 0;
    virtual std::optional<RecordLoc> next(RecordLoc loc) const = 0;
    virtual std::optional<RecordLoc> prior(RecordLoc loc) const = 0;
    /** The n-th record (0-based) in physical order; nothing past the end. */
    virtual std::optional<RecordLoc> locate(uint32_t ordinal) const = 0;
    /** Position (0-based) of a record in physical order. */
    virtual uint32_t ordinalOf(RecordLoc loc) const = 0;

    virtual Record read(RecordLoc loc) const = 0;
    virtual Value readField(RecordLoc loc, int field) const = 0;
    /** A field of the record at hand in scanRecords(), by number. */
    using FieldReader = std::function<Value(int field)>;
    /** Calls `each` for every record in physical order with its place and a reader of its
     *  fields (valid during the call), for a pass over a big table that keeps none of it in
     *  memory: the records come block by block through a buffer of the pass's own. `each` may
     *  read the table but not write it; what it throws ends the pass. */
    virtual void scanRecords(const std::function<void(RecordLoc, const FieldReader&)>& each) const {
        for (auto l = first(); l; l = next(*l)) each(*l, [&](int field) { return readField(*l, field); });
    }

    // ---- indexes ----------------------------------------------------------------------
    /** Places of the records whose index fields equal `key` (a prefix of the index fields
     *  may be given), in the order the index holds them (ties in primary-key order).
     *  `index` is an index name from indexes(); "" or the primary key's name means the
     *  primary index. Unknown index: talvira::Error naming table and index. */
    virtual std::vector<RecordLoc> lookup(std::string_view index, const std::vector<Value>& key) const = 0;
    /** Every record in the order of the index. */
    virtual std::vector<RecordLoc> scan(std::string_view index) const = 0;

    // ---- writes (talvira::Error when opened read-only or held by another program) -------
    /** Stores a new record after the last one; numbers the autoincrement field (the stored
     *  value is written back into `rec`). Returns its place. */
    virtual RecordLoc append(Record& rec) = 0;
    /** Replaces the record at `loc` (the autoincrement value is kept). Returns its place. */
    virtual RecordLoc update(RecordLoc loc, const Record& rec) = 0;
    /** Removes the record at `loc`; returns the place of the record that followed it. */
    virtual std::optional<RecordLoc> remove(RecordLoc loc) = 0;

    /** Gives back the memory of the file pages read so far; they are read again when needed.
     *  For a long read whose pages are not needed twice. */
    virtual void releasePages() const {}
    /** Stores `rec` as the record at place `ordinal` (0-based) of the physical order, the
     *  records from there on following it; at or past the end it is appended. A record coming
     *  back keeps its autoincrement value (an empty one is numbered; the stored value is
     *  written back into `rec`). Only records near the place move. Returns its place. */
    virtual RecordLoc insert(uint32_t ordinal, Record& rec) = 0;
};

enum class OpenMode { ReadOnly, ReadWrite };

/** Opens T.DB with its .MB and index files. `codePage` 0: from the header, or guessed from the
 *  text when the header names none or one the text does not fit. */
std::unique_ptr<TableFile> openParadoxTable(const std::string& path, OpenMode mode, int codePage = 0);

/** How a new table is made: a primary key over its first `keyFields` fields (records must then
 *  come in ascending key order) and the code page of its text (1251 or 866); with a key and
 *  `indexFiles`, the primary index file (.PX) and the secondary `indexes` are written when the
 *  table is complete (storage/TableBuilder.h), without them the key lives in the header only
 *  and the table stays writable here. `keepGivenNumbers`: records keep the autoincrement
 *  values they carry (an empty one is numbered), for a table rebuilt from records read before. */
struct CreateOptions {
    int keyFields = 0;
    int codePage = 1251;
    bool indexFiles = false;
    std::vector<SecondaryIndexDef> indexes;
    bool keepGivenNumbers = false;
};

/** Creates (or replaces) a Paradox 7 table with these fields in order and no records (code page
 *  1251 and no key unless `options` say otherwise); a .MB is written when a field needs one. An
 *  old table of the same name is replaced with its whole family, atomically
 *  (storage/TableFamily.h): a refused replacement leaves it as it was. A table with records:
 *  storage::TableBuilder. */
void createParadoxTable(const std::string& path, const std::vector<FieldDef>& fields, const CreateOptions& options = {});

}  // namespace talvira::storage
