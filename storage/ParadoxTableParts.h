#pragma once
/**
 * The parts of ParadoxTable that its three sources share (ParadoxTable.cpp: opening, the block
 * chain and writes; ParadoxRecordCodec.cpp: field values to and from record bytes;
 * ParadoxIndexRead.cpp: the primary and secondary indexes). Private to storage/.
 *
 *   Layout l = {{0, 4, FieldType::Long}};
 *   int c = compareFields(a, l, b, l, 1, Collation{});
 */
#include "storage/ParadoxTable.h"

#include "storage/CodePage.h"

#include <cstring>

namespace talvira::storage {

inline bool isBlob(FieldType t) {
    return t == FieldType::Memo || t == FieldType::FmtMemo || t == FieldType::Blob || t == FieldType::Ole ||
           t == FieldType::Graphic;
}
inline bool isTextBlob(FieldType t) { return t == FieldType::Memo; }  // formatted memos are binary

/** Where one field of a key sits in a record of some file (.DB or .X) or in an encoded key. */
struct Slot {
    int offset = 0;
    int bytes = 0;
    FieldType type = FieldType::Alpha;
};
using Layout = std::vector<Slot>;

inline Layout packed(const Layout& l) {
    Layout r = l;
    int off = 0;
    for (auto& s : r) {
        s.offset = off;
        off += s.bytes;
    }
    return r;
}

struct Collation {
    int codePage = 1251;
    bool asciiOrder = true;
    bool caseInsensitive = false;
    const std::vector<bool>* desc = nullptr;
};

inline int compareAlpha(const uint8_t* a, const uint8_t* b, int n, const Collation& c) {
    if (!c.caseInsensitive && c.asciiOrder) return std::memcmp(a, b, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        uint8_t x = upperByte(a[i], c.codePage), y = upperByte(b[i], c.codePage);
        if (x != y) return x < y ? -1 : 1;
    }
    if (c.caseInsensitive) return 0;
    return std::memcmp(a, b, static_cast<size_t>(n));
}

/** Compares the first `n` key fields of two records. */
inline int compareFields(const uint8_t* a, const Layout& la, const uint8_t* b, const Layout& lb, size_t n, const Collation& c) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* x = a + la[i].offset;
        const uint8_t* y = b + lb[i].offset;
        int r = la[i].type == FieldType::Alpha ? compareAlpha(x, y, la[i].bytes, c)
                                               : std::memcmp(x, y, static_cast<size_t>(la[i].bytes));
        if (r != 0) {
            r = r < 0 ? -1 : 1;
            if (c.desc && i < c.desc->size() && (*c.desc)[i]) r = -r;
            return r;
        }
    }
    return 0;
}

/** Records [first, end) of a sorted chain whose key equals the key (binary search). */
template <class RecAt, class Cmp>
std::vector<RecordLoc> equalRange(const BlockChain& c, RecAt recAt, Cmp cmp) {
    uint64_t lo = 0, hi = c.total();
    while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (cmp(recAt(*c.locate(mid))) < 0) lo = mid + 1;
        else hi = mid;
    }
    std::vector<RecordLoc> out;
    for (auto l = c.locate(lo); l && cmp(recAt(*l)) == 0; l = c.next(*l)) out.push_back(*l);
    return out;
}

inline int64_t daysOf(const Value& v) {
    if (const DateTime* t = v.asDateTime()) return t->days;
    return v.asInteger();
}

struct ParadoxTable::Secondary {
    IndexInfo info;
    ParadoxHeader h;
    std::vector<int> dbFields;
    std::vector<bool> desc;
    bool incremental = false;
    Layout xLayout;   // index fields in the X record
    Layout dbLayout;  // the same fields in the table's record
    int pkOffset = 0, pkBytes = 0, hintOffset = 0;
    Layout pkLayout, pkPacked;  // the table's key fields in its records and packed as in the X record
    mutable std::unique_ptr<RawFile> file;
    mutable BlockChain chain;
    mutable bool checked = false;
    mutable bool inMemory = false;
    mutable std::vector<RecordLoc> order;
    mutable bool orderBuilt = false;
};

}  // namespace talvira::storage
