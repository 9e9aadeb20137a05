#include "storage/BlockWriter.h"

#include "common/Error.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace talvira::storage {

namespace {
// A block header: u16 next, u16 prior, s16 (records - 1) * record size.
constexpr int kNext = 0, kPrior = 2, kAddDataSize = 4, kBlockHeader = 6;
}  // namespace

// ==== the block layout =========================================================================

uint64_t BlockWriter::offsetOf(uint32_t block) const {
    return static_cast<uint64_t>(h_.headerSize) + uint64_t(block - 1) * h_.blockSize;
}

uint64_t BlockWriter::blocksInFile() const {
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    return db_.size() > hs ? (db_.size() - hs + h_.blockSize - 1) / h_.blockSize : 0;
}

uint32_t BlockWriter::newBlocks(uint64_t count) const {
    const uint64_t first = std::max<uint64_t>(h_.fileBlocks, blocksInFile()) + 1;
    if (first + count - 1 > 0xFFFF) throw Error("Таблица «" + path_ + "» переполнена: больше 65535 блоков");
    return static_cast<uint32_t>(first);
}

void BlockWriter::putCount(uint8_t* block, uint32_t count) const {
    // An empty block says -recordSize.
    const int add = (static_cast<int>(count) - 1) * static_cast<int>(recordSize());
    put16(block + kAddDataSize, static_cast<uint16_t>(static_cast<int16_t>(add)));
}

void BlockWriter::putHeader(uint8_t* block, uint32_t next, uint32_t prior, uint32_t count) const {
    put16(block + kNext, static_cast<uint16_t>(next));
    put16(block + kPrior, static_cast<uint16_t>(prior));
    putCount(block, count);
}

void BlockWriter::setLink(uint32_t block, int which, uint32_t to) {
    uint8_t b[2];
    put16(b, static_cast<uint16_t>(to));
    db_.write(offsetOf(block) + static_cast<uint64_t>(which), b, 2);
}

std::vector<uint8_t> BlockWriter::readBlock(uint32_t block, uint32_t count) const {
    const size_t used = kBlockHeader + size_t(count) * recordSize();
    const uint8_t* cur = db_.at(offsetOf(block), used);
    if (!cur) corrupt("блок обрезан");
    std::vector<uint8_t> b(h_.blockSize, 0);
    std::memcpy(b.data(), cur, used);
    return b;
}

void BlockWriter::corrupt(const std::string& why) const {
    throw Error("Файл таблицы «" + path_ + "» повреждён: " + why);
}

// ==== the writes ===============================================================================

RecordLoc BlockWriter::append(std::string_view bytes) {
    const uint32_t rs = recordSize(), per = perBlock();
    const size_t n = bytes.size() / rs;
    const ChainBlock* last = chain_.blocks().empty() ? nullptr : &chain_.blocks().back();
    const uint32_t room = last ? per - std::min(per, last->count) : 0;
    const size_t inLast = std::min<size_t>(room, n);
    // The block numbers are checked before anything is written.
    const uint64_t blocks = (n - inLast + per - 1) / per;
    const uint32_t first = blocks > 0 ? newBlocks(blocks) : 0;
    RecordLoc loc{first, 0};
    if (inLast > 0) {
        // The free slots of the last block, published by its count after the records land.
        const uint32_t b = last->block, have = last->count;
        db_.write(offsetOf(b) + kBlockHeader + uint64_t(have) * rs, bytes.data(), inLast * rs);
        uint8_t head[kBlockHeader];
        putCount(head, have + static_cast<uint32_t>(inLast));
        db_.write(offsetOf(b) + kAddDataSize, head + kAddDataSize, 2);
        chain_.setCount(b, have + static_cast<uint32_t>(inLast));
        loc = {b, have};
    }
    if (blocks > 0) appendBlocks(first, bytes.substr(inLast * rs));
    return loc;
}

void BlockWriter::appendBlocks(uint32_t first, std::string_view bytes) {
    const uint32_t rs = recordSize(), per = perBlock();
    const size_t n = bytes.size() / rs;
    const uint32_t count = static_cast<uint32_t>((n + per - 1) / per);
    const uint32_t prevLast = chain_.blocks().empty() ? 0 : chain_.blocks().back().block;
    // Each block is its header, its records straight from `bytes` and zeros to its end, all
    // of them gathered into one write.
    static const std::vector<uint8_t> zeros(0x8000, 0);
    std::vector<std::array<uint8_t, kBlockHeader>> heads(count);
    std::vector<RawFile::Piece> pieces;
    pieces.reserve(size_t(count) * 3);
    std::vector<uint32_t> counts(count);
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t b = first + k;
        counts[k] = static_cast<uint32_t>(std::min<size_t>(per, n - size_t(k) * per));
        putHeader(heads[k].data(), k + 1 < count ? b + 1 : 0, k == 0 ? prevLast : b - 1, counts[k]);
        const size_t data = size_t(counts[k]) * rs;
        pieces.push_back({heads[k].data(), kBlockHeader});
        pieces.push_back({bytes.data() + size_t(k) * per * rs, data});
        for (size_t tail = h_.blockSize - kBlockHeader - data; tail > 0;) {
            const size_t z = std::min(tail, zeros.size());
            pieces.push_back({zeros.data(), z});
            tail -= z;
        }
    }
    db_.write(offsetOf(first), pieces);
    if (prevLast) setLink(prevLast, kNext, first);  // links them in
    for (uint32_t k = 0; k < count; ++k) chain_.appendBlock(first + k, counts[k]);
    h_.fileBlocks = static_cast<uint16_t>(first + count - 1);
}

RecordLoc BlockWriter::insert(RecordLoc at, std::string_view record) {
    const uint32_t rs = recordSize(), per = perBlock();
    const int64_t pos = chain_.position(at.block);
    // The first record of a block whose predecessor has room: the new one ends that block.
    if (at.slot == 0 && pos > 0 && chain_.blocks()[size_t(pos - 1)].count < per) {
        const ChainBlock& prior = chain_.blocks()[size_t(pos - 1)];
        at = {prior.block, prior.count};
    }
    const uint32_t n = chain_.countOf(at.block);
    std::vector<uint8_t> blk = readBlock(at.block, n);
    if (n >= per) {
        split(at, blk, record);
        return at;
    }
    // Room in the block: the records after the place move one slot on, in one write.
    uint8_t* slot = &blk[kBlockHeader + size_t(at.slot) * rs];
    std::memmove(slot + rs, slot, size_t(n - at.slot) * rs);
    std::memcpy(slot, record.data(), rs);
    putCount(blk.data(), n + 1);
    db_.write(offsetOf(at.block), blk.data(), kBlockHeader + size_t(n + 1) * rs);
    chain_.setCount(at.block, n + 1);
    return at;
}

void BlockWriter::split(RecordLoc at, std::vector<uint8_t>& blk, std::string_view record) {
    // The records from the place on go to a new block linked after it, written first while
    // nothing points at it; the one write of the old block (the record in the freed slot, its
    // count, its link) then puts both in.
    const uint32_t rs = recordSize(), n = chain_.countOf(at.block), moved = n - at.slot;
    const uint32_t fresh = newBlocks(1);
    const uint32_t following = le16(&blk[kNext]);
    std::vector<uint8_t> tail(h_.blockSize, 0);
    putHeader(tail.data(), following, at.block, moved);
    std::memcpy(&tail[kBlockHeader], &blk[kBlockHeader + size_t(at.slot) * rs], size_t(moved) * rs);
    db_.write(offsetOf(fresh), tail.data(), tail.size());
    h_.fileBlocks = static_cast<uint16_t>(fresh);
    std::memcpy(&blk[kBlockHeader + size_t(at.slot) * rs], record.data(), rs);
    std::memset(&blk[kBlockHeader + size_t(at.slot + 1) * rs], 0, size_t(moved - 1) * rs);
    putHeader(blk.data(), fresh, le16(&blk[kPrior]), at.slot + 1);
    db_.write(offsetOf(at.block), blk.data(), blk.size());
    if (following != 0) setLink(following, kPrior, fresh);
    chain_.setCount(at.block, at.slot + 1);
    chain_.insertBlockAfter(at.block, fresh, moved);
}

void BlockWriter::remove(RecordLoc at) {
    const uint32_t rs = recordSize(), n = chain_.countOf(at.block);
    std::vector<uint8_t> blk = readBlock(at.block, n);
    uint8_t* slot = &blk[kBlockHeader + size_t(at.slot) * rs];
    std::memmove(slot, slot + rs, size_t(n - at.slot - 1) * rs);
    std::memset(&blk[kBlockHeader + size_t(n - 1) * rs], 0, rs);
    putCount(blk.data(), n - 1);
    db_.write(offsetOf(at.block), blk.data(), kBlockHeader + size_t(n) * rs);  // never seen half-moved
    chain_.setCount(at.block, n - 1);
}

void BlockWriter::writeCounters() {
    const uint8_t* cur = db_.at(0, hdr::Fixed);
    if (!cur) corrupt("заголовок обрезан");
    uint8_t b[hdr::Fixed];
    std::memcpy(b, cur, sizeof b);
    // Blocks a killed writer left beyond the counters are counted again.
    h_.fileBlocks = static_cast<uint16_t>(std::min<uint64_t>(std::max<uint64_t>(h_.fileBlocks, blocksInFile()), 0xFFFF));
    const auto& blocks = chain_.blocks();
    put32(b + hdr::NumRecords, static_cast<uint32_t>(chain_.total()));
    put16(b + hdr::NextBlock, h_.fileBlocks);
    put16(b + hdr::FileBlocks, h_.fileBlocks);
    put16(b + hdr::FirstBlock, blocks.empty() ? 0 : static_cast<uint16_t>(blocks.front().block));
    put16(b + hdr::LastBlock, blocks.empty() ? 0 : static_cast<uint16_t>(blocks.back().block));
    put16(b + hdr::MaxBlocks, h_.fileBlocks);
    put32(b + hdr::AutoInc, static_cast<uint32_t>(h_.autoInc));
    b[hdr::ModifiedFlags1] = 0;
    db_.write(0, b, sizeof b);
    h_.numRecords = static_cast<int32_t>(chain_.total());
}

}  // namespace talvira::storage
