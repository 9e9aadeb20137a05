#pragma once
/**
 * The chain of data blocks of a .DB or .X file, walked once from its first block: every block
 * with its record count and the records before it, so that the n-th record, the place of a
 * record and the next and prior records are found without reading any record.
 *
 *   BlockChain c;
 *   c.build(file, header, "Файл таблицы");
 *   RecordLoc l = c.locate(1000);
 *
 * Caveats: the walk checks every block number and count against the file: a chain that leaves
 * the file, loops or holds impossible counts gives talvira::Error naming the file. Empty
 * blocks stay in the chain with count 0.
 */
#include "storage/ParadoxFormat.h"
#include "storage/RawFile.h"
#include "storage/TableFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvira::storage {

struct ChainBlock {
    uint32_t block = 0;   // 1-based block number
    uint32_t count = 0;   // records in it
    uint64_t before = 0;  // records in the blocks before it
};

class BlockChain {
public:
    void build(const RawFile& f, const ParadoxHeader& h, const std::string& kind);
    bool built() const { return built_; }
    void reset() { built_ = false; blocks_.clear(); posOf_.clear(); total_ = 0; }

    uint64_t total() const { return total_; }
    const std::vector<ChainBlock>& blocks() const { return blocks_; }
    /** Position of a block in the chain, -1 when it is not in it. */
    int64_t position(uint32_t block) const {
        return block < posOf_.size() && posOf_[block] != kNone ? static_cast<int64_t>(posOf_[block]) : -1;
    }
    uint32_t countOf(uint32_t block) const {
        int64_t p = position(block);
        return p < 0 ? 0 : blocks_[static_cast<size_t>(p)].count;
    }
    std::optional<RecordLoc> locate(uint64_t ordinal) const;
    std::optional<RecordLoc> first() const;
    std::optional<RecordLoc> last() const;
    std::optional<RecordLoc> next(RecordLoc l) const;
    std::optional<RecordLoc> prior(RecordLoc l) const;
    uint64_t ordinalOf(RecordLoc l) const;  // l must be valid

    // Changes made by the writer, kept in step with the file.
    void setCount(uint32_t block, uint32_t count);
    void appendBlock(uint32_t block, uint32_t count);
    /** A block linked in right after `after` (which is in the chain). */
    void insertBlockAfter(uint32_t after, uint32_t block, uint32_t count);

private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    void recount();
    std::vector<ChainBlock> blocks_;
    std::vector<uint32_t> posOf_;
    uint64_t total_ = 0;
    bool built_ = false;
};

}  // namespace talvira::storage
