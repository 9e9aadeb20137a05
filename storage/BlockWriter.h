#pragma once
/**
 * The one writer of the data blocks of a .DB file: a run of records stored after the last one
 * (the free slots of the last block, then new blocks past every block in the file), one record
 * put in at a place of the chain, one taken out, and the header counters that describe the
 * chain afterwards. Block headers (next, prior, record count) are laid out here and nowhere
 * else.
 *
 *   BlockWriter w(db, header, chain, path);
 *   RecordLoc first = w.append(bytes);   // whole records of header.recordSize bytes
 *   w.writeCounters();
 *
 * Caveats: every step leaves the file readable: new blocks are written whole before the chain
 * links them in, and a block's count, which publishes its records, is written with or after
 * them. The chain must be built and is kept in step with the file. A table holds at most 65 535
 * blocks: a write that needs more gives talvira::Error naming the table, with nothing written.
 * The writer holds references only; make one for each write.
 */
#include "storage/BlockChain.h"
#include "storage/ParadoxFormat.h"
#include "storage/RawFile.h"
#include "storage/TableFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::storage {

class BlockWriter {
public:
    BlockWriter(RawFile& db, ParadoxHeader& header, BlockChain& chain, const std::string& path)
        : db_(db), h_(header), chain_(chain), path_(path) {}

    /** Stores the records of `bytes` after the last record; returns the place of the first. */
    RecordLoc append(std::string_view bytes);
    /** Stores one record at `at` (a place in the chain; the records from there on follow it):
     *  in its block when it has room (or at the end of the block before, when `at` opens its
     *  block), else the block is split. Only that block and a new one are written. Returns
     *  where the record went. */
    RecordLoc insert(RecordLoc at, std::string_view record);
    /** Takes out the record at `at`, the records after it in its block moving up, in one
     *  write. An emptied block stays in the chain. */
    void remove(RecordLoc at);
    /** Writes the header's record count, block numbers and autoincrement counter as the chain
     *  and the header hold them, counting again blocks a killed writer left past the counters. */
    void writeCounters();

private:
    uint32_t recordSize() const { return static_cast<uint32_t>(h_.recordSize); }
    uint32_t perBlock() const { return (h_.blockSize - 6) / recordSize(); }
    uint64_t offsetOf(uint32_t block) const;
    /** Blocks the file holds past its header, whatever the counters say. */
    uint64_t blocksInFile() const;
    /** The number of the first of `count` new blocks, past every block in the file. */
    uint32_t newBlocks(uint64_t count) const;
    /** Block header: the next and prior block of the chain (0: none) and its record count. */
    void putHeader(uint8_t* block, uint32_t next, uint32_t prior, uint32_t count) const;
    void putCount(uint8_t* block, uint32_t count) const;
    /** The block's header and its first `count` records, in a buffer of a whole block. */
    std::vector<uint8_t> readBlock(uint32_t block, uint32_t count) const;
    /** New blocks `first`, `first`+1, ... holding `bytes`, written as one piece and then
     *  linked in after the chain's last block. */
    void appendBlocks(uint32_t first, std::string_view bytes);
    /** Splits the full block `at.block` (read into `block`): the records from `at` on go to a
     *  new block linked after it, the record takes the freed slot. */
    void split(RecordLoc at, std::vector<uint8_t>& block, std::string_view record);
    void setLink(uint32_t block, int which, uint32_t to);
    [[noreturn]] void corrupt(const std::string& why) const;

    RawFile& db_;
    ParadoxHeader& h_;
    BlockChain& chain_;
    const std::string& path_;
};

}  // namespace talvira::storage
