#include "storage/BlockChain.h"

#include "common/Error.h"

#include <algorithm>

namespace talvira::storage {

void BlockChain::build(const RawFile& f, const ParadoxHeader& h, const std::string& kind) {
    reset();
    auto bad = [&](const std::string& why) { return Error(kind + " «" + f.path() + "» повреждён: " + why); };
    const uint64_t hs = static_cast<uint64_t>(h.headerSize);
    const uint64_t inFile = f.size() > hs ? (f.size() - hs + h.blockSize - 1) / h.blockSize : 0;
    const uint32_t perBlock = (h.blockSize - 6) / static_cast<uint32_t>(h.recordSize);
    posOf_.assign(static_cast<size_t>(std::min<uint64_t>(inFile, 0xFFFF)) + 1, kNone);
    uint32_t b = h.firstBlock;
    while (b != 0) {
        if (b > inFile) throw bad("блок " + std::to_string(b) + " за пределами файла");
        if (posOf_[b] != kNone) throw bad("цепочка блоков зациклена");
        const uint64_t off = hs + uint64_t(b - 1) * h.blockSize;
        // Each block's header is read alone: a page of every block mapped in for six bytes
        // costs more than the reads (and would stay in memory).
        uint8_t p[6];
        if (!f.readInto(off, p, sizeof p)) throw bad("блок " + std::to_string(b) + " обрезан");
        const int16_t add = static_cast<int16_t>(le16(p + 4));
        uint32_t count = 0;
        if (add >= 0) {
            if (add % h.recordSize != 0) throw bad("неверная длина данных блока " + std::to_string(b));
            count = static_cast<uint32_t>(add / h.recordSize) + 1;
            if (count > perBlock) throw bad("в блоке " + std::to_string(b) + " больше записей, чем помещается");
            if (off + 6 + uint64_t(count) * static_cast<uint64_t>(h.recordSize) > f.size())
                throw bad("блок " + std::to_string(b) + " обрезан");
        }
        posOf_[b] = static_cast<uint32_t>(blocks_.size());
        blocks_.push_back({b, count, total_});
        total_ += count;
        b = le16(p);
    }
    built_ = true;
}

void BlockChain::recount() {
    total_ = 0;
    for (auto& c : blocks_) {
        c.before = total_;
        total_ += c.count;
    }
}

void BlockChain::setCount(uint32_t block, uint32_t count) {
    int64_t p = position(block);
    if (p < 0) return;
    ChainBlock& b = blocks_[static_cast<size_t>(p)];
    if (static_cast<size_t>(p) + 1 == blocks_.size()) {  // the last block (every append): nothing after it moves
        total_ = total_ - b.count + count;
        b.count = count;
        return;
    }
    b.count = count;
    recount();
}

void BlockChain::appendBlock(uint32_t block, uint32_t count) {
    if (block >= posOf_.size()) posOf_.resize(block + 1, kNone);
    posOf_[block] = static_cast<uint32_t>(blocks_.size());
    blocks_.push_back({block, count, total_});
    total_ += count;
}

void BlockChain::insertBlockAfter(uint32_t after, uint32_t block, uint32_t count) {
    const int64_t p = position(after);
    if (p < 0) return;
    if (block >= posOf_.size()) posOf_.resize(block + 1, kNone);
    blocks_.insert(blocks_.begin() + p + 1, ChainBlock{block, count, 0});
    for (size_t i = static_cast<size_t>(p) + 1; i < blocks_.size(); ++i) posOf_[blocks_[i].block] = static_cast<uint32_t>(i);
    recount();
}

std::optional<RecordLoc> BlockChain::locate(uint64_t n) const {
    if (n >= total_) return std::nullopt;
    auto it = std::partition_point(blocks_.begin(), blocks_.end(),
                                   [n](const ChainBlock& c) { return c.before + c.count <= n; });
    if (it == blocks_.end()) return std::nullopt;
    return RecordLoc{it->block, static_cast<uint32_t>(n - it->before)};
}

std::optional<RecordLoc> BlockChain::first() const { return locate(0); }

std::optional<RecordLoc> BlockChain::last() const {
    if (total_ == 0) return std::nullopt;
    return locate(total_ - 1);
}

std::optional<RecordLoc> BlockChain::next(RecordLoc l) const {
    int64_t p = position(l.block);
    if (p < 0) return std::nullopt;
    const ChainBlock& c = blocks_[static_cast<size_t>(p)];
    if (l.slot + 1 < c.count) return RecordLoc{l.block, l.slot + 1};
    for (size_t i = static_cast<size_t>(p) + 1; i < blocks_.size(); ++i)
        if (blocks_[i].count) return RecordLoc{blocks_[i].block, 0};
    return std::nullopt;
}

std::optional<RecordLoc> BlockChain::prior(RecordLoc l) const {
    int64_t p = position(l.block);
    if (p < 0) return std::nullopt;
    const uint32_t here = blocks_[static_cast<size_t>(p)].count;
    if (l.slot > 0 && here > 0) return RecordLoc{l.block, std::min(l.slot, here) - 1};
    for (int64_t i = p - 1; i >= 0; --i)
        if (blocks_[static_cast<size_t>(i)].count) return RecordLoc{blocks_[static_cast<size_t>(i)].block, blocks_[static_cast<size_t>(i)].count - 1};
    return std::nullopt;
}

uint64_t BlockChain::ordinalOf(RecordLoc l) const {
    int64_t p = position(l.block);
    return p < 0 ? 0 : blocks_[static_cast<size_t>(p)].before + l.slot;
}

}  // namespace talvira::storage
