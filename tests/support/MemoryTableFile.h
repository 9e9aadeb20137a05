#pragma once
/**
 * In-memory tables for tests: a storage::TableFile over records held in memory, and a provider
 * that table handles open them through while it is alive.
 *
 *   talvira::test::MemoryTables mem;                       // handles now open memory tables
 *   mem.add("/base/OGL.DB", {{"ID", FieldType::Long, 0}, {"IDREESTR", FieldType::Long, 0}},
 *           {primaryIndex({"ID"}), secondaryIndex("IDREESTR", {"IDREESTR"})}, records);
 *
 * Caveats: places behave like a stored table's: records sit in blocks of `recordsPerBlock`, and
 * removing a record moves every later record one place up, so places taken before a write are
 * stale after it. Paths are matched case-insensitively (Latin and Cyrillic letters). Index
 * order is the index fields, then the primary key, then the physical order.
 */
#include "common/TextFold.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace talvira::test {

/** What a memory table holds; shared by every file opened on it. */
struct MemoryTableData {
    storage::TableInfo info;
    std::vector<storage::FieldDef> fields;
    std::vector<storage::IndexInfo> indexes;
    std::vector<storage::Record> records;  // physical order
    int64_t lastAutoInc = 0;
    uint32_t recordsPerBlock = 4;
    /** Counters for tests that check how much a handle reads and writes. */
    mutable uint64_t reads = 0;
    mutable uint64_t lookups = 0;
    uint64_t writes = 0;
    /** Set to make the next write fail with talvira::Error (a full disk, a lock). */
    bool failWrites = false;
    /** Files open on it at the moment. As on disk, a writer excludes everyone else. */
    int writers = 0;
    int readers = 0;
};

class MemoryTableFile : public storage::TableFile {
public:
    MemoryTableFile(std::shared_ptr<MemoryTableData> data, storage::OpenMode mode);
    ~MemoryTableFile() override;

    const storage::TableInfo& info() const override;
    const std::vector<storage::FieldDef>& fields() const override;
    int fieldIndex(std::string_view name) const override;
    uint32_t recordCount() const override;
    const std::vector<storage::IndexInfo>& indexes() const override;

    std::optional<storage::RecordLoc> first() const override;
    std::optional<storage::RecordLoc> last() const override;
    std::optional<storage::RecordLoc> next(storage::RecordLoc loc) const override;
    std::optional<storage::RecordLoc> prior(storage::RecordLoc loc) const override;
    std::optional<storage::RecordLoc> locate(uint32_t ordinal) const override;
    uint32_t ordinalOf(storage::RecordLoc loc) const override;

    storage::Record read(storage::RecordLoc loc) const override;
    storage::Value readField(storage::RecordLoc loc, int field) const override;

    std::vector<storage::RecordLoc> lookup(std::string_view index, const std::vector<storage::Value>& key) const override;
    std::vector<storage::RecordLoc> scan(std::string_view index) const override;

    storage::RecordLoc append(storage::Record& rec) override;
    storage::RecordLoc update(storage::RecordLoc loc, const storage::Record& rec) override;
    std::optional<storage::RecordLoc> remove(storage::RecordLoc loc) override;
    storage::RecordLoc insert(uint32_t ordinal, storage::Record& rec) override;

    MemoryTableData& data() { return *data_; }

private:
    storage::RecordLoc locOf(size_t ordinal) const;
    size_t ordinalChecked(storage::RecordLoc loc) const;
    const storage::IndexInfo& findIndex(std::string_view name) const;
    std::vector<size_t> ordered(const storage::IndexInfo& ix) const;
    void checkWritable() const;

    std::shared_ptr<MemoryTableData> data_;
    storage::OpenMode mode_;
};

/** A primary index on `fields` (unique). */
storage::IndexInfo primaryIndex(std::vector<std::string> fields);
/** A secondary index named `name` on `fields`. */
storage::IndexInfo secondaryIndex(std::string name, std::vector<std::string> fields, bool caseInsensitive = false);

/** A set of memory tables by path; table handles open them while the object lives. Paths it
 *  does not hold go to the provider that was in use before (the Paradox files), so a test can
 *  link a memory master to a table on disk. */
class MemoryTables : public storage::TableFileProvider {
public:
    MemoryTables();
    ~MemoryTables() override;
    MemoryTables(const MemoryTables&) = delete;
    MemoryTables& operator=(const MemoryTables&) = delete;

    MemoryTableData& add(const std::string& path, std::vector<storage::FieldDef> fields,
                         std::vector<storage::IndexInfo> indexes = {}, std::vector<storage::Record> records = {});
    /** The table at `path` (case-insensitive), or nullptr. */
    MemoryTableData* find(const std::string& path);
    void erase(const std::string& path);
    /** Directories that exist; while the list is empty every directory exists. */
    void addDirectory(const std::string& dir) { dirs_.push_back(dir); }

    std::optional<std::string> resolve(const std::string& dir, const std::string& fileName) const override;
    std::unique_ptr<storage::TableFile> open(const std::string& path, storage::OpenMode mode) override;
    void create(const std::string& path, const std::vector<storage::FieldDef>& fields) override;

private:
    std::map<std::string, std::shared_ptr<MemoryTableData>> tables_;  // key: folded path
    std::vector<std::string> dirs_;
    storage::TableFileProvider* previous_ = nullptr;
    storage::TableFileProvider* fallback_ = nullptr;
};

using talvira::foldCase;

}  // namespace talvira::test
