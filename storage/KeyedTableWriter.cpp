#include "storage/KeyedTableWriter.h"

#include "storage/ParadoxTable.h"
#include "storage/TableFile.h"

namespace talvira::storage {

namespace {
// Records held before they are stored: some hundred kilobytes of blocks per write.
constexpr size_t kBatch = 512;
}  // namespace

KeyedTableWriter::KeyedTableWriter(std::string path, const std::vector<FieldDef>& fields,
                                   std::vector<SecondaryIndexDef> indexes)
    : path_(std::move(path)), indexes_(std::move(indexes)) {
    createParadoxTable(path_, fields);
    table_ = std::make_unique<ParadoxTable>(path_, OpenMode::ReadWrite, 0);
    batch_.reserve(kBatch);
}

KeyedTableWriter::~KeyedTableWriter() = default;

void KeyedTableWriter::add(Record rec) {
    batch_.push_back(std::move(rec));
    ++count_;
    if (batch_.size() >= kBatch) flush();
}

void KeyedTableWriter::flush() {
    if (batch_.empty()) return;
    table_->appendBatch(batch_);
    batch_.clear();
}

uint32_t KeyedTableWriter::finish() {
    flush();
    table_.reset();
    writePrimaryIndex(path_, 1);
    if (!indexes_.empty()) writeSecondaryIndexes(path_, indexes_);
    return count_;
}

}  // namespace talvira::storage
