#include "storage/MemoFile.h"

#include "common/Error.h"
#include "storage/ParadoxFormat.h"

#include <algorithm>
#include <vector>

namespace talvira::storage {

namespace {
constexpr uint32_t kUnit = 4096;
constexpr uint32_t kSlotTable = 0x0C;   // 64 slots of 5 bytes
constexpr uint32_t kFirstChunk = 0x15;  // data chunks start at 0x150
constexpr uint32_t kChunks = 256;
constexpr uint32_t kSmallLimit = 2048;  // larger blobs get a block of their own
enum : uint8_t { kHeaderBlock = 0, kSingleBlock = 2, kSubBlock = 3, kFreeBlock = 4 };
}  // namespace

MemoFile::MemoFile(const std::string& path, bool writable) : file_(path, writable, "Файл мемо-полей") {}

void MemoFile::createEmpty(const std::string& path) {
    // Header block as the Borland engine and pxlib write it.
    std::vector<uint8_t> h(kUnit, 0);
    h[0] = kHeaderBlock;
    put16(&h[1], 1);
    put16(&h[3], 1);  // modification count
    const uint8_t magic[] = {0x82, 0x73, 0x02, 0x00, 0x29, 0x00};
    std::copy(std::begin(magic), std::end(magic), &h[5]);
    put16(&h[0x0B], 0x1000);
    put16(&h[0x0D], 0x1000);
    h[0x10] = 0x10;
    put16(&h[0x11], 0x0040);
    put16(&h[0x13], 0x0800);
    RawFile f = RawFile::create(path);
    f.write(0, h.data(), h.size());
}

uint64_t MemoFile::newFileSize(const std::vector<uint32_t>& blobLengths) {
    // As write() places them: a large blob in blocks of its own at the end, a small one in the
    // sub-allocated block filled last, a new one when a slot or the chunks run out.
    uint64_t size = kUnit;
    uint32_t used = kChunks, slots = 64;  // no sub-allocated block yet
    for (const uint32_t length : blobLengths) {
        if (length > kSmallLimit) {
            size += (uint64_t(length) + 9 + kUnit - 1) / kUnit * kUnit;
            continue;
        }
        const uint32_t chunks = (length + 15) / 16;
        if (slots == 64 || used + chunks > kChunks) {
            size += kUnit;
            used = kFirstChunk;
            slots = 0;
        }
        used += chunks;
        ++slots;
    }
    return size;
}

void MemoFile::bad(const std::string& field, const std::string& why) const {
    throw Error("Файл мемо-полей «" + file_.path() + "» повреждён: " + why + " (поле «" + field + "»)");
}

std::string MemoFile::read(const BlobRef& ref, bool graphic, const std::string& field) const {
    const uint32_t index = ref.pointer & 0xFF;
    const uint64_t block = ref.pointer & ~0xFFu;
    if (block == 0) bad(field, "ссылка на заголовок файла");
    const uint8_t* b = file_.at(block, 12);
    if (!b) bad(field, "ссылка за пределы файла");
    const uint32_t skip = graphic ? 8 : 0;
    if (ref.length < skip) bad(field, "неверная длина");
    if (index == 0xFF) {
        if (b[0] != kSingleBlock) bad(field, "ссылка не на блок мемо");
        const uint32_t len = le32(b + 3);
        if (len < ref.length) bad(field, "длина мемо не совпадает с записью");
        const uint8_t* d = file_.at(block + 9 + skip, ref.length - skip);
        if (!d) bad(field, "мемо обрезано");
        return std::string(reinterpret_cast<const char*>(d), ref.length - skip);
    }
    if (index >= 64) bad(field, "неверный номер ячейки");
    if (b[0] != kSubBlock) bad(field, "ссылка не на блок мемо");
    const uint8_t* blk = file_.at(block, kUnit);
    if (!blk) bad(field, "блок обрезан");
    const uint8_t* s = blk + kSlotTable + 5 * index;
    const uint32_t off = s[0], chunks = s[1], last = s[4];
    if (off == 0 || chunks == 0 || last == 0 || last > 16) bad(field, "ссылка на пустую ячейку");
    const uint32_t len = (chunks - 1) * 16 + last;
    if (len != ref.length) bad(field, "длина мемо не совпадает с записью");
    if (off * 16 + len > kUnit) bad(field, "мемо выходит за пределы блока");
    return std::string(reinterpret_cast<const char*>(blk + off * 16 + skip), len - skip);
}

uint16_t MemoFile::nextModNr() {
    uint16_t m = 0;
    if (batch_ && modNr_ >= 0) {
        m = static_cast<uint16_t>(modNr_ + 1);
    } else {
        const uint8_t* h = file_.at(0, 5);
        m = h ? static_cast<uint16_t>(le16(h + 3) + 1) : 1;
    }
    if (m == 0) m = 1;
    if (batch_) {
        modNr_ = m;  // written by flush()
        return m;
    }
    uint8_t b[2];
    put16(b, m);
    file_.write(3, b, 2);
    return m;
}

void MemoFile::beginBatch() { batch_ = file_.writable(); }

void MemoFile::flush() {
    if (!batch_) return;
    batch_ = false;
    if (!held_.empty()) file_.write(heldAt_, held_.data(), held_.size());
    held_.clear();
    if (modNr_ >= 0) {
        uint8_t b[2];
        put16(b, static_cast<uint16_t>(modNr_));
        file_.write(3, b, 2);
    }
    modNr_ = -1;
}

const uint8_t* MemoFile::block(uint64_t at) {
    if (!batch_) return file_.at(at, kUnit);
    if (held_.empty() || heldAt_ != at) {
        if (!held_.empty()) file_.write(heldAt_, held_.data(), held_.size());
        held_.clear();
        const uint8_t* b = file_.at(at, kUnit);
        if (!b) return nullptr;
        held_.assign(b, b + kUnit);
        heldAt_ = at;
    }
    return held_.data();
}

void MemoFile::writeIn(uint64_t at, const void* p, size_t n) {
    if (batch_ && !held_.empty() && at >= heldAt_ && at + n <= heldAt_ + kUnit) {
        std::copy_n(static_cast<const uint8_t*>(p), n, held_.begin() + static_cast<ptrdiff_t>(at - heldAt_));
        return;
    }
    file_.write(at, p, n);
}

BlobRef MemoFile::write(const std::string& data) {
    if (!file_.writable()) throw Error("Файл мемо-полей «" + file_.path() + "» открыт только для чтения");
    if (data.size() > 0x7FFFFFF0u) throw Error("Мемо слишком длинное для файла «" + file_.path() + "»");
    BlobRef ref;
    ref.length = static_cast<uint32_t>(data.size());
    uint64_t end = (file_.size() + kUnit - 1) / kUnit * kUnit;
    if (end > 0xFFFFFF00u) throw Error("Файл мемо-полей «" + file_.path() + "» переполнен");
    if (data.size() > kSmallLimit) {
        ref.modNr = nextModNr();
        const uint64_t units = (data.size() + 9 + kUnit - 1) / kUnit;
        std::vector<uint8_t> blk(static_cast<size_t>(units * kUnit), 0);
        blk[0] = kSingleBlock;
        put16(&blk[1], static_cast<uint16_t>(units));
        put32(&blk[3], ref.length);
        put16(&blk[7], ref.modNr);
        std::copy(data.begin(), data.end(), blk.begin() + 9);
        file_.write(end, blk.data(), blk.size());
        ref.pointer = static_cast<uint32_t>(end) | 0xFF;
        return ref;
    }
    // Small blob: a free slot and enough free chunks in the current sub-allocated block.
    const uint32_t chunks = static_cast<uint32_t>((data.size() + 15) / 16);
    auto tryBlock = [&](uint64_t at) -> bool {
        const uint8_t* blk = block(at);
        if (!blk || blk[0] != kSubBlock) return false;
        int freeSlot = -1;
        uint32_t used = kFirstChunk;
        for (int i = 63; i >= 0; --i) {
            const uint8_t* s = blk + kSlotTable + 5 * i;
            if (s[0] == 0) {
                if (freeSlot < 0) freeSlot = i;
            } else {
                used = std::max<uint32_t>(used, s[0] + s[1]);
            }
        }
        if (freeSlot < 0 || used + chunks > kChunks) return false;
        ref.modNr = nextModNr();
        std::vector<uint8_t> body(chunks * 16, 0);
        std::copy(data.begin(), data.end(), body.begin());
        writeIn(at + used * 16, body.data(), body.size());
        uint8_t slot[5];
        slot[0] = static_cast<uint8_t>(used);
        slot[1] = static_cast<uint8_t>(chunks);
        put16(slot + 2, ref.modNr);
        slot[4] = static_cast<uint8_t>(data.size() - (chunks - 1) * 16);
        writeIn(at + kSlotTable + 5 * freeSlot, slot, 5);  // the slot last: it publishes the blob
        ref.pointer = static_cast<uint32_t>(at) | static_cast<uint32_t>(freeSlot);
        return true;
    };
    if (subBlock_ < 0) {
        // Look for the last sub-allocated block once per session.
        subBlock_ = 0;
        uint64_t at = kUnit;
        int guard = 0;
        while (at + 3 <= file_.size() && ++guard < 1000000) {
            const uint8_t* b = file_.at(at, 3);
            if (!b || (b[0] != kSingleBlock && b[0] != kSubBlock && b[0] != kFreeBlock)) break;
            uint16_t n = le16(b + 1);
            if (n == 0) break;
            if (b[0] == kSubBlock) subBlock_ = static_cast<int64_t>(at);
            at += uint64_t(n) * kUnit;
        }
    }
    if (subBlock_ > 0 && tryBlock(static_cast<uint64_t>(subBlock_))) return ref;
    std::vector<uint8_t> blk(kUnit, 0);
    blk[0] = kSubBlock;
    put16(&blk[1], 1);
    file_.write(end, blk.data(), blk.size());
    subBlock_ = static_cast<int64_t>(end);
    if (!tryBlock(end)) throw Error("Не удалось записать мемо в файл «" + file_.path() + "»");
    return ref;
}

void MemoFile::free(const BlobRef& ref) {
    if (ref.pointer == 0 || !file_.writable()) return;
    const uint32_t index = ref.pointer & 0xFF;
    const uint64_t at = ref.pointer & ~0xFFu;
    const uint8_t* b = batch_ && !held_.empty() && at == heldAt_ ? held_.data() : file_.at(at, kUnit);
    if (!b || at == 0) return;
    if (index == 0xFF) {
        if (b[0] == kSingleBlock) {
            uint8_t t = kFreeBlock;
            file_.write(at, &t, 1);
        }
    } else if (index < 64 && b[0] == kSubBlock) {
        uint8_t zero[5] = {};
        writeIn(at + kSlotTable + 5 * index, zero, 5);
    }
}

}  // namespace talvira::storage
