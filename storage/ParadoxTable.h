#pragma once
/**
 * A Paradox table on disk (.DB with its .MB and index files), levels 3 to 7, as a TableFile.
 * Opening reads the headers only; the block chain, the index chains and the orders of
 * unmaintained indexes are built on first use.
 *
 *   auto t = openParadoxTable("/base/RABMAT.DB", OpenMode::ReadOnly);
 *   for (RecordLoc l : t->lookup("IDOGL", {Value::integer(104)})) use(t->read(l));
 *
 * Indexes: a keyed table is searched by halving its block chain (records lie in key order);
 * a maintained secondary index by halving its .X file, whose entries name the table block
 * and key of each record. Unkeyed tables and unmaintained indexes that lag behind the table
 * are ordered in memory on first use, as the engine rebuilds them. A secondary index's fields
 * are matched to the table's by the names its header carries (letter case ignored; numbers
 * only where it has none), then type and size. An index that cannot be matched, or whose file
 * is damaged, is set aside: the table opens and works without it, one warning goes to the
 * warning sink, and only asking for that index gives talvira::Error naming the index file.
 *
 * Caveats: tables with index files are read-only here (their indexes would go stale); keyed
 * tables without index files accept appends in ascending key order only.
 */
#include "common/Error.h"
#include "storage/BlockChain.h"
#include "storage/BlockWriter.h"
#include "storage/MemoFile.h"
#include "storage/ParadoxFormat.h"
#include "storage/RawFile.h"
#include "storage/TableFile.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace talvira::storage {

class ParadoxTable final : public TableFile {
public:
    ParadoxTable(const std::string& path, OpenMode mode, int codePage);
    ~ParadoxTable() override;

    const TableInfo& info() const override { return info_; }
    const std::vector<FieldDef>& fields() const override { return fields_; }
    int fieldIndex(std::string_view name) const override;
    uint32_t recordCount() const override;
    const std::vector<IndexInfo>& indexes() const override { return ix_.all; }

    std::optional<RecordLoc> first() const override;
    std::optional<RecordLoc> last() const override;
    std::optional<RecordLoc> next(RecordLoc loc) const override;
    std::optional<RecordLoc> prior(RecordLoc loc) const override;
    std::optional<RecordLoc> locate(uint32_t ordinal) const override;
    uint32_t ordinalOf(RecordLoc loc) const override;

    Record read(RecordLoc loc) const override;
    Value readField(RecordLoc loc, int field) const override;

    std::vector<RecordLoc> lookup(std::string_view index, const std::vector<Value>& key) const override;
    std::vector<RecordLoc> scan(std::string_view index) const override;
    void releasePages() const override;
    void scanRecords(const std::function<void(RecordLoc, const FieldReader&)>& each) const override;

    RecordLoc append(Record& rec) override;
    /** Appends `recs` after the last record as append does one by one, but fills whole blocks
     *  and writes them in one go, the header once: for building a large table. The records of
     *  a keyed table must come in ascending key order. A refused record leaves the records
     *  before it stored. */
    void appendBatch(std::span<Record> recs);
    RecordLoc update(RecordLoc loc, const Record& rec) override;
    std::optional<RecordLoc> remove(RecordLoc loc) override;
    RecordLoc insert(uint32_t ordinal, Record& rec) override;

    /** With `on`, append stores a non-empty autoincrement value as given (the counter follows
     *  it) instead of numbering the record: for a table rebuilt from records read before. */
    void keepGivenNumbers(bool on) { numbering_.keepGiven = on; }

    /** The lengths of the blobs the records keep in the memo file (those longer than their
     *  field's in-record part), in record order. */
    std::vector<uint32_t> memoBlobLengths() const;

    /** The raw bytes of a record (for checks and tests). */
    std::string rawRecord(RecordLoc loc) const;
    /** Field types and stored sizes as the header gives them. */
    const ParadoxHeader& header() const { return h_; }

    struct Secondary;

private:
    // ---- opening (ParadoxTable.cpp) -----------------------------------------------------
    void guessCodePage(int forced);
    [[noreturn]] void corrupt(const std::string& why) const;

    // ---- records in chain order (ParadoxTable.cpp) ---------------------------------------
    const BlockChain& chain() const;
    uint32_t blockCount(uint32_t block) const;
    uint64_t recordOffset(RecordLoc loc) const;
    const uint8_t* recordPtr(RecordLoc loc) const;

    // ---- field values to and from record bytes (ParadoxRecordCodec.cpp) -----------------
    Value decodeField(const uint8_t* rec, int field) const;
    /** Encodes `rec` into `out` (recordSize bytes, zero on entry); `old`: the bytes it replaces. */
    void encodeRecord(const Record& rec, const uint8_t* old, std::vector<BlobRef>& newBlobs, uint8_t* out);
    void freeBlobs(const uint8_t* rec);

    // ---- writing (ParadoxTable.cpp) -----------------------------------------------------
    void checkWritable() const;
    /** The block writer over this table's file, header and chain. */
    BlockWriter blocks() { return BlockWriter(files_.db, h_, chain_, path_); }
    void writeHeaderCounters();
    size_t keyBytes() const;
    /** A keyed table's records rise strictly by key: `bytes` must follow `before` (nullptr: none). */
    void checkKeyOrder(const uint8_t* before, const uint8_t* rec) const;
    /** The autoincrement value `rec` is stored with (given or the next one), the counter
     *  checked against the stored numbers once; 0 without such a field. */
    int32_t numberFor(const Record& rec, bool keepGiven);
    /** Writes the autoincrement counter as it stands, before the records numbered from it land. */
    void storeCounter();
    /** The bytes of a new record into `out` (recordSize bytes, zero on entry), its number taken
     *  (numberFor, written into `rec` and counted), its blobs written. */
    void encodeNew(Record& rec, bool keepGiven, std::vector<BlobRef>& newBlobs, uint8_t* out);
    /** Stores `recs` after the last record (append, appendBatch, insert at the end). */
    RecordLoc appendRecords(std::span<Record> recs, bool keepGiven);

    // ---- indexes (ParadoxIndexRead.cpp) --------------------------------------------------
    void findIndexes();
    std::unique_ptr<Secondary> readSecondary(const std::string& xp) const;
    IndexInfo setAsideInfo(const std::string& xp) const;
    int matchIndexField(const ParadoxHeader& xh, int i, const std::function<Error(const std::string&)>& bad) const;
    const Secondary* findIndex(std::string_view name, bool& primary) const;
    std::string encodeKey(const std::vector<int>& fields, const std::vector<Value>& key, bool ci, bool& ok) const;
    int compareKey(const uint8_t* rec, const std::vector<int>& recFields, const std::vector<int>& keyFields,
                   const std::string& key, int nKey, bool caseInsensitive, const std::vector<bool>* desc) const;
    std::vector<RecordLoc> primaryRange(const std::string& key, int nKey) const;
    std::optional<std::vector<RecordLoc>> primaryByTree(const std::string& key) const;
    const std::vector<RecordLoc>& memoryOrder(const Secondary& s) const;
    RecordLoc resolve(const Secondary& s, const uint8_t* xrec) const;
    RecordLoc findByHint(const Secondary& s, const uint8_t* xrec) const;

    /** The files of the table and how they are held. */
    struct Files {
        RawFile db;
        MemoFile mb;
        std::unique_ptr<TableLock> lock;
        bool readWrite = false;
    };
    /** The autoincrement field and how new records are numbered. */
    struct Numbering {
        int field = -1;
        bool checked = false;    // the counter was compared with the stored numbers
        bool keepGiven = false;  // keepGivenNumbers
    };
    /** The indexes found beside the table. */
    struct Indexes {
        std::vector<IndexInfo> all;
        std::vector<std::unique_ptr<Secondary>> secondary;
        std::vector<IndexInfo> setAside;  // index files that cannot be used (in `all` too, last)
        bool haveFiles = false;
        // The primary index (.PX), opened at the first look-up by key; unusable when it fails a check.
        mutable std::unique_ptr<RawFile> primaryFile;
        mutable bool primaryTried = false;
    };

    std::string path_;
    Files files_;
    // What the header describes.
    ParadoxHeader h_;
    TableInfo info_;
    std::vector<FieldDef> fields_;
    bool hasBlobFields_ = false;
    bool asciiOrder_ = true;
    // The records.
    mutable BlockChain chain_;
    Numbering numbering_;
    Indexes ix_;
};

}  // namespace talvira::storage
