#include "export/XlsSheetWriter.h"

#include <algorithm>
#include <cmath>

namespace talvira::xls {

using namespace biff;

/* ------------------------------------------------------------------------------------- */
/*  Record writers                                                                       */
/* ------------------------------------------------------------------------------------- */

namespace {

/** The sizes of the fields of a phonetic block (ExtRst) in order: reserved and cb, phs, the
 *  phonetic string's crun and cch, its character count, each character, each PhRuns. What does
 *  not parse as that layout is taken in pieces of what one record holds. */
std::vector<size_t> extRstFields(const std::vector<uint8_t>& ext) {
    std::vector<size_t> f;
    size_t left = ext.size();
    auto take = [&](size_t n) {
        f.push_back(n);
        left -= n;
    };
    if (left >= 14) {
        const size_t cch = u16(&ext[12]), crun = u16(&ext[8]);
        if (14 + 2 * cch + 6 * crun <= left) {
            take(4);
            take(4);
            take(4);
            take(2);
            for (size_t i = 0; i < cch; ++i) take(2);
            for (size_t i = 0; i < crun; ++i) take(6);
        }
    }
    while (left > 0) take(std::min(left, kMaxRecordData));
    return f;
}

/** Writes strings into SST and CONTINUE records under the splitting rules of the format. */
class SstWriter {
public:
    explicit SstWriter(std::vector<uint8_t>& out) : out_(out), recStart_(out.size()) {}

    void header(uint32_t total, uint32_t unique) {
        add32(buf_, total);
        add32(buf_, unique);
    }
    /** Absolute stream offset and in-record offset of the next byte written. */
    uint32_t absPos() const { return static_cast<uint32_t>(recStart_ + 4 + buf_.size()); }
    uint16_t recPos() const { return static_cast<uint16_t>(4 + buf_.size()); }

    /** Ensures room for `n` bytes in the current record, starting a new one when needed. */
    void need(size_t n) {
        if (kMaxRecordData - buf_.size() < n) flush();
    }
    void string(const SstString& s) {
        const bool rich = !s.runs.empty();
        const bool ext = !s.ext.empty();
        const size_t charSize = s.high ? 2 : 1;
        const size_t head = 3 + (rich ? 2 : 0) + (ext ? 4 : 0);
        need(head + (s.chars.empty() ? 0 : charSize));
        if (strings_++ % bucket_ == 0) marks_.push_back({absPos(), recPos()});
        add16(buf_, static_cast<uint16_t>(s.chars.size()));
        add8(buf_, static_cast<uint8_t>((s.high ? 0x01 : 0) | (ext ? 0x04 : 0) | (rich ? 0x08 : 0)));
        if (rich) add16(buf_, static_cast<uint16_t>(s.runs.size() / 4));
        if (ext) add32(buf_, static_cast<uint32_t>(s.ext.size()));
        for (size_t i = 0; i < s.chars.size(); ++i) {
            if (kMaxRecordData - buf_.size() < charSize) {
                flush();
                add8(buf_, s.high ? 1 : 0);  // the continued characters' flags
            }
            if (s.high) add16(buf_, s.chars[i]);
            else add8(buf_, static_cast<uint8_t>(s.chars[i]));
        }
        for (size_t i = 0; i + 4 <= s.runs.size(); i += 4) {
            need(4);
            buf_.insert(buf_.end(), s.runs.begin() + static_cast<long>(i), s.runs.begin() + static_cast<long>(i) + 4);
        }
        // The phonetic block (ExtRst) is never cut inside a field: only the character array
        // may go on in the next record. It goes whole into one record; a block larger than a
        // record is split between its fields.
        if (!s.ext.empty()) {
            if (s.ext.size() <= kMaxRecordData) {
                need(s.ext.size());
                buf_.insert(buf_.end(), s.ext.begin(), s.ext.end());
            } else {
                size_t at = 0;
                for (size_t field : extRstFields(s.ext)) {
                    need(field);
                    buf_.insert(buf_.end(), s.ext.begin() + static_cast<long>(at),
                                s.ext.begin() + static_cast<long>(at + field));
                    at += field;
                }
            }
        }
    }
    void finish() { flush(); }
    void setBucket(size_t n) { bucket_ = n; }
    struct Mark { uint32_t abs; uint16_t rel; };
    const std::vector<Mark>& marks() const { return marks_; }

private:
    void flush() {
        add16(out_, first_ ? SST : CONTINUE);
        add16(out_, static_cast<uint16_t>(buf_.size()));
        out_.insert(out_.end(), buf_.begin(), buf_.end());
        buf_.clear();
        first_ = false;
        recStart_ = out_.size();
    }
    std::vector<uint8_t>& out_;
    std::vector<uint8_t> buf_;
    size_t recStart_;
    bool first_ = true;
    size_t strings_ = 0;
    size_t bucket_ = 8;
    std::vector<Mark> marks_;
};

void writeSst(const WorkbookData& w, std::vector<uint8_t>& out) {
    SstWriter sw(out);
    const size_t n = w.sst.size();
    const size_t bucket = std::max<size_t>(8, (n + 127) / 128);
    sw.setBucket(bucket);
    sw.header(static_cast<uint32_t>(std::max<int64_t>(w.sstTotal, 0)), static_cast<uint32_t>(n));
    for (const SstString& str : w.sst) sw.string(str);
    sw.finish();
    std::vector<uint8_t> ext;
    add16(ext, static_cast<uint16_t>(bucket));
    for (const SstWriter::Mark& m : sw.marks()) {
        add32(ext, m.abs);
        add16(ext, m.rel);
        add16(ext, 0);
    }
    writeRecord(out, EXTSST, ext);
}

void writeGlobals(const WorkbookData& w, std::vector<uint8_t>& out, std::vector<size_t>& boundPos) {
    bool sstDone = false;
    for (size_t i = 0; i < w.globals.size(); ++i) {
        const Rec& r = w.globals[i];
        if (r.id == SST) {
            writeSst(w, out);
            sstDone = true;
            while (i + 1 < w.globals.size() && w.globals[i + 1].id == CONTINUE) ++i;
        } else if (r.id == EXTSST) {
            if (!sstDone) w.raw(out, r);  // (an EXTSST before its SST is left as it was)
        } else if (r.id == BOUNDSHEET) {
            boundPos.push_back(out.size() + 4);
            w.raw(out, r);
        } else if (r.id == RECALCID && r.len >= 8) {
            // build 0 asks the reading application to recalculate every formula on loading
            const size_t at = out.size();
            w.raw(out, r);
            put32(&out[at + 4 + 4], 0);
        } else if (r.id == XFCRC && r.len >= 20) {
            // count and checksum of the XF records as written, new formats included, so that
            // a reader keeps the template's XFExt records (theme and extended colours)
            const size_t at = out.size();
            w.raw(out, r);
            uint32_t crc = 0;
            for (const auto& x : w.xfs) crc = xfChecksum(x.data(), x.size(), crc);
            put16(&out[at + 4 + 14], static_cast<uint16_t>(w.xfs.size()));
            put32(&out[at + 4 + 16], crc);
        } else if (r.id == EOF_ && i + 1 == w.globals.size()) {
            if (!sstDone) writeSst(w, out);
            w.raw(out, r);
        } else {
            w.raw(out, r);
        }
        if (i == w.lastXfRec)
            for (size_t k = w.templateXfs; k < w.xfs.size(); ++k) writeRecord(out, XF, w.xfs[k].data(), 20);
    }
}

void writeCell(const WorkbookData& w, std::vector<uint8_t>& out, int r, const Cell& c) {
    std::vector<uint8_t> d;
    d.reserve(32);
    add16(d, static_cast<uint16_t>(r));
    add16(d, c.col);
    add16(d, c.xf);
    switch (c.kind) {
    case CellKind::Raw:
        out.insert(out.end(), w.raws[c.ref].begin(), w.raws[c.ref].end());
        return;
    case CellKind::Blank:
        writeRecord(out, BLANK, d);
        return;
    case CellKind::Number: {
        const double v = c.num;
        if (v == std::floor(v) && v >= -(1 << 29) && v < (1 << 29) && !(v == 0 && std::signbit(v))) {
            add32(d, (static_cast<uint32_t>(static_cast<int32_t>(v)) << 2) | 2u);
            writeRecord(out, RK, d);
        } else {
            addF64(d, v);
            writeRecord(out, NUMBER, d);
        }
        return;
    }
    case CellKind::Sst:
        add32(d, c.ref);
        writeRecord(out, LABELSST, d);
        return;
    case CellKind::Formula: {
        const Formula& f = w.formulas[c.ref];
        if (f.value.isError) {
            add8(d, 2);
            add8(d, 0);
            add8(d, static_cast<uint8_t>(f.value.error));
            add8(d, 0); add8(d, 0); add8(d, 0);
            add16(d, 0xFFFF);
        } else {
            addF64(d, f.value.number);
        }
        add16(d, 0x0001);  // fAlwaysCalc: recalculated whenever the workbook is
        add32(d, 0);
        add16(d, static_cast<uint16_t>(f.tokLen));
        d.insert(d.end(), w.tokens.begin() + f.tokOff, w.tokens.begin() + f.tokOff + f.tokLen);
        writeRecord(out, FORMULA, d);
        return;
    }
    }
}

void writeSheet(const WorkbookData& w, std::vector<uint8_t>& out) {
    // extent of the cells, for DIMENSIONS, INDEX and the ROW records
    int firstRow = -1, lastRow = -1, firstCol = kMaxCols, lastCol = -1;
    std::vector<int> used;  // w.rows that get a ROW record
    for (size_t r = 0; r < w.rows.size(); ++r) {
        const Row& row = w.rows[r];
        if (!row.hasRec && row.cells.empty()) continue;
        used.push_back(static_cast<int>(r));
        if (row.cells.empty()) continue;
        if (firstRow < 0) firstRow = static_cast<int>(r);
        lastRow = static_cast<int>(r);
        firstCol = std::min<int>(firstCol, row.cells.front().col);
        lastCol = std::max<int>(lastCol, row.cells.back().colLast);
    }
    size_t blocks = 0;
    for (size_t i = 0; i < used.size(); ++i)
        if (i == 0 || used[i] / 32 != used[i - 1] / 32) ++blocks;

    size_t indexAt = SIZE_MAX, defColAt = SIZE_MAX;
    auto head = [&](const Rec& r) {
        const uint8_t* d = &w.s[r.pos];
        if (r.id == INDEX && r.len >= 16) {
            indexAt = out.size();
            std::vector<uint8_t> idx(16 + 4 * blocks, 0);
            writeRecord(out, INDEX, idx);
        } else if (r.id == DIMENSIONS && r.len >= 14) {
            uint32_t r1 = u32(d), r2 = u32(d + 4);
            uint16_t c1 = u16(d + 8), c2 = u16(d + 10);
            const bool had = r2 > r1 && c2 > c1;
            if (firstRow >= 0) {
                r1 = had ? std::min<uint32_t>(r1, static_cast<uint32_t>(firstRow)) : static_cast<uint32_t>(firstRow);
                r2 = had ? std::max<uint32_t>(r2, static_cast<uint32_t>(lastRow + 1)) : static_cast<uint32_t>(lastRow + 1);
                c1 = had ? std::min<uint16_t>(c1, static_cast<uint16_t>(firstCol)) : static_cast<uint16_t>(firstCol);
                c2 = had ? std::max<uint16_t>(c2, static_cast<uint16_t>(lastCol + 1)) : static_cast<uint16_t>(lastCol + 1);
            }
            std::vector<uint8_t> dim(d, d + r.len);
            put32(&dim[0], r1);
            put32(&dim[4], r2);
            put16(&dim[8], c1);
            put16(&dim[10], c2);
            writeRecord(out, DIMENSIONS, dim);
        } else {
            if (r.id == DEFCOLWIDTH) defColAt = out.size();
            w.raw(out, r);
        }
    };
    for (size_t i = 0; i < w.cellBegin; ++i) head(w.sheet[i]);
    out.insert(out.end(), w.orphans.begin(), w.orphans.end());

    // the cell table in blocks of 32 w.rows: ROW records, their cells, a DBCELL
    std::vector<uint32_t> dbcells;
    std::vector<size_t> cellStarts;
    for (size_t i = 0; i < used.size();) {
        size_t j = i;
        while (j < used.size() && used[j] / 32 == used[i] / 32) ++j;
        const size_t blockStart = out.size();
        for (size_t k = i; k < j; ++k) {
            const Row& row = w.rows[static_cast<size_t>(used[k])];
            std::array<uint8_t, 16> rec = row.rec;
            if (!row.hasRec) {
                rec.fill(0);
                put16(&rec[0], static_cast<uint16_t>(used[k]));
                put16(&rec[6], w.defaultRowHeight);
                put32(&rec[12], 0x000F0100u);  // reserved bit 8 set; default format 15
            }
            if (!row.cells.empty()) {
                const uint16_t c1 = row.cells.front().col;
                const uint16_t c2 = static_cast<uint16_t>(row.cells.back().colLast + 1);
                const bool had = u16(&rec[4]) > u16(&rec[2]);
                if (!had || c1 < u16(&rec[2])) put16(&rec[2], c1);
                if (!had || c2 > u16(&rec[4])) put16(&rec[4], c2);
            }
            writeRecord(out, ROW, rec.data(), rec.size());
        }
        cellStarts.clear();
        for (size_t k = i; k < j; ++k) {
            cellStarts.push_back(out.size());
            const int r = used[k];
            for (const Cell& c : w.rows[static_cast<size_t>(r)].cells) writeCell(w, out, r, c);
        }
        const size_t dbAt = out.size();
        std::vector<uint8_t> db;
        add32(db, static_cast<uint32_t>(dbAt - blockStart));
        for (size_t k = 0; k < cellStarts.size(); ++k) {
            const size_t from = k == 0 ? blockStart + 20 : cellStarts[k - 1];
            add16(db, static_cast<uint16_t>(std::min<size_t>(cellStarts[k] - from, 0xFFFF)));
        }
        writeRecord(out, DBCELL, db);
        dbcells.push_back(static_cast<uint32_t>(dbAt));
        i = j;
    }
    for (size_t i = w.cellEnd; i < w.sheet.size(); ++i) w.raw(out, w.sheet[i]);

    if (indexAt != SIZE_MAX) {
        uint8_t* d = &out[indexAt + 4];
        put32(d, 0);
        put32(d + 4, firstRow < 0 ? 0 : static_cast<uint32_t>(firstRow));
        put32(d + 8, firstRow < 0 ? 0 : static_cast<uint32_t>(lastRow + 1));
        put32(d + 12, defColAt == SIZE_MAX ? 0 : static_cast<uint32_t>(defColAt));
        for (size_t k = 0; k < dbcells.size(); ++k) put32(d + 16 + 4 * k, dbcells[k]);
    }
}

/** Another w.sheet, byte for byte but for its INDEX record, whose stream offsets (of
 *  DEFCOLWIDTH and of the DBCELL records) move with the w.sheet. */
void copySheet(const WorkbookData& w, std::vector<uint8_t>& out, const WorkbookData::Sub& sub) {
    const size_t at = out.size();
    out.insert(out.end(), w.s.begin() + sub.begin, w.s.begin() + sub.end);
    const int64_t delta = static_cast<int64_t>(at) - static_cast<int64_t>(sub.begin);
    if (delta == 0) return;
    auto shift = [&](uint8_t* p) {
        const uint32_t v = u32(p);
        if (v != 0) put32(p, static_cast<uint32_t>(static_cast<int64_t>(v) + delta));
    };
    int depth = 0;
    for (size_t p = at; p + 4 <= out.size();) {
        const uint16_t id = u16(&out[p]);
        const size_t len = u16(&out[p + 2]);
        if (id == BOF) ++depth;
        if (id == INDEX && depth == 1 && len >= 16) {
            shift(&out[p + 4 + 12]);
            for (size_t k = 16; k + 4 <= len; k += 4) shift(&out[p + 4 + k]);
        }
        if (id == EOF_ && --depth == 0) break;
        p += 4 + len;
    }
}

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Public functions                                                                     */
/* ------------------------------------------------------------------------------------- */

std::vector<uint8_t> writeWorkbookStream(const WorkbookData& w) {
    std::vector<uint8_t> out;
    out.reserve(w.s.size() + w.rows.size() * 400);
    std::vector<size_t> boundPos;
    writeGlobals(w, out, boundPos);
    std::vector<uint32_t> starts(w.subs.size());
    for (size_t k = 0; k < w.subs.size(); ++k) {
        starts[k] = static_cast<uint32_t>(out.size());
        if (k == w.activeSub) writeSheet(w, out);
        else copySheet(w, out, w.subs[k]);
    }
    out.insert(out.end(), w.s.begin() + w.trailing, w.s.end());
    for (size_t i = 0; i < boundPos.size() && i < w.subOfBound.size(); ++i)
        if (w.subOfBound[i] >= 0) put32(&out[boundPos[i]], starts[static_cast<size_t>(w.subOfBound[i])]);
    return out;
}

}  // namespace talvira::xls
