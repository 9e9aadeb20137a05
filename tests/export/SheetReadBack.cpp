#include "tests/export/SheetReadBack.h"

#include "export/XlsFormula.h"
#include "export/XlsRecords.h"

#include <QString>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace talvira::test {

using namespace xls::biff;

std::vector<BiffRecord> biffRecords(const Bytes& s) {
    std::vector<BiffRecord> out;
    size_t p = 0;
    while (p + 4 <= s.size()) {
        const uint16_t len = u16(&s[p + 2]);
        if (p + 4 + len > s.size()) {
            ADD_FAILURE() << "record at " << p << " runs past the end of the stream";
            break;
        }
        out.push_back({u16(&s[p]), Bytes(s.begin() + static_cast<long>(p) + 4,
                                         s.begin() + static_cast<long>(p) + 4 + len), p});
        p += 4 + len;
    }
    // writers pad the stream (with zeros, or with bytes of no meaning): nothing to check there
    return out;
}

namespace {

std::string utf8(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())).toStdString();
}

std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "number %.15g", v);
    return buf;
}

std::string hexOf(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        s += buf;
    }
    return s;
}

double rk(uint32_t v) {
    double d;
    if (v & 2) {
        d = static_cast<double>(static_cast<int32_t>(v) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(v & 0xFFFFFFFCu) << 32;
        std::memcpy(&d, &bits, 8);
    }
    return (v & 1) ? d / 100 : d;
}

/** The strings of SST and its CONTINUE records; a continued character array starts its
 *  record with a flags byte of its own. */
std::vector<std::string> readStrings(const std::vector<BiffRecord>& recs, size_t at) {
    std::vector<const Bytes*> segs{&recs[at].data};
    for (size_t k = at + 1; k < recs.size() && recs[k].id == CONTINUE; ++k) segs.push_back(&recs[k].data);
    size_t seg = 0, pos = 0;
    bool fault = false;
    auto byte = [&]() -> uint8_t {
        while (seg < segs.size() && pos >= segs[seg]->size()) { ++seg; pos = 0; }
        if (seg >= segs.size()) { fault = true; return 0; }
        return (*segs[seg])[pos++];
    };
    auto word = [&] { const uint8_t a = byte(); return static_cast<uint16_t>(a | (byte() << 8)); };
    auto dword = [&] { const uint32_t a = word(); return a | (static_cast<uint32_t>(word()) << 16); };
    dword();
    const uint32_t unique = dword();
    std::vector<std::string> out;
    for (uint32_t i = 0; i < unique && !fault; ++i) {
        const uint16_t cch = word();
        const uint8_t flags = byte();
        bool high = flags & 1;
        const uint16_t runs = (flags & 8) ? word() : 0;
        const uint32_t ext = (flags & 4) ? dword() : 0;
        std::u16string chars;
        for (uint16_t k = 0; k < cch && !fault; ++k) {
            if (seg < segs.size() && pos >= segs[seg]->size()) {
                ++seg;
                pos = 0;
                high = byte() & 1;
            }
            chars += high ? static_cast<char16_t>(word()) : static_cast<char16_t>(byte());
        }
        for (uint32_t k = 0; k < 4u * runs + ext && !fault; ++k) byte();
        out.push_back(utf8(chars));
    }
    EXPECT_FALSE(fault) << "the string table ends inside a string";
    return out;
}

}  // namespace

SheetReadBack readBack(const Bytes& stream) {
    SheetReadBack s;
    const std::vector<BiffRecord> recs = biffRecords(stream);
    std::vector<uint32_t> sheetAt;
    std::vector<std::string> names;
    size_t active = 0, i = 0;
    for (; i < recs.size(); ++i) {
        const BiffRecord& r = recs[i];
        if (r.id == WINDOW1 && r.data.size() >= 12) active = u16(&r.data[10]);
        if (r.id == XF && r.data.size() >= 20) {
            std::array<uint8_t, 20> x{};
            std::copy(r.data.begin(), r.data.begin() + 20, x.begin());
            s.xfs.push_back(x);
        }
        if (r.id == SST) s.strings = readStrings(recs, i);
        if (r.id == BOUNDSHEET && r.data.size() >= 8) {
            sheetAt.push_back(u32(&r.data[0]));
            std::u16string n;
            const bool high = r.data[7] & 1;
            for (size_t k = 0; k < r.data[6]; ++k)
                n += high ? static_cast<char16_t>(u16(&r.data[8 + 2 * k])) : static_cast<char16_t>(r.data[8 + k]);
            names.push_back(utf8(n));
        }
        if (r.id == EOF_) break;
    }
    if (active >= sheetAt.size()) {
        ADD_FAILURE() << "no active sheet";
        return s;
    }
    s.activeSheet = names[active];
    size_t k = 0;
    while (k < recs.size() && recs[k].offset != sheetAt[active]) ++k;
    if (k == recs.size() || recs[k].id != BOF) {
        ADD_FAILURE() << "the active sheet's offset " << sheetAt[active] << " is not a BOF";
        return s;
    }
    int depth = 0;
    for (; k < recs.size(); ++k) {
        const BiffRecord& r = recs[k];
        if (r.id == BOF) ++depth;
        if (r.id == EOF_ && --depth == 0) break;
        if (depth != 1 || r.data.size() < 6) continue;
        const uint8_t* d = r.data.data();
        const int row = u16(d), col = u16(d + 2);
        auto put = [&](int c, uint16_t xf, std::string content) {
            SheetCell& cell = s.cells[xls::cellName(row, c)];
            EXPECT_TRUE(cell.content.empty()) << "two records for " << xls::cellName(row, c);
            cell.content = std::move(content);
            cell.xf = xf;
            return &cell;
        };
        switch (r.id) {
        case LABELSST: {
            const uint32_t isst = u32(d + 6);
            EXPECT_LT(isst, s.strings.size());
            put(col, u16(d + 4), "text " + (isst < s.strings.size() ? s.strings[isst] : std::string("?")));
            break;
        }
        case NUMBER: put(col, u16(d + 4), number(f64(d + 6))); break;
        case RK: put(col, u16(d + 4), number(rk(u32(d + 6)))); break;
        case BLANK: put(col, u16(d + 4), "blank"); break;
        case MULBLANK:
            for (size_t c = 0; c < (r.data.size() - 6) / 2; ++c)
                put(col + static_cast<int>(c), u16(d + 4 + 2 * c), "blank");
            break;
        case MULRK:
            for (size_t c = 0; c < (r.data.size() - 6) / 6; ++c)
                put(col + static_cast<int>(c), u16(d + 4 + 6 * c), number(rk(u32(d + 6 + 6 * c))));
            break;
        case BOOLERR:
            put(col, u16(d + 4), std::string(d[7] ? "error " : "bool ") + std::to_string(d[6]));
            break;
        case FORMULA: {
            const size_t cce = u16(d + 20);
            SheetCell* c = put(col, u16(d + 4), "formula " + hexOf(d + 22, std::min(cce, r.data.size() - 22)));
            c->cached = f64(d + 6);
            break;
        }
        default:
            break;
        }
    }
    return s;
}

std::string SheetReadBack::content(const std::string& ref) const {
    auto it = cells.find(ref);
    return it == cells.end() ? std::string() : it->second.content;
}

bool SheetReadBack::framed(const std::string& ref) const {
    auto it = cells.find(ref);
    if (it == cells.end() || it->second.xf >= xfs.size()) return false;
    return (u32(&xfs[it->second.xf][10]) & 0xFFFFu) == 0x1111u;
}

std::string formulaOf(const std::string& text, char decimalSep) {
    const Bytes rgce = xls::compileFormula(text, decimalSep);
    return "formula " + hexOf(rgce.data(), rgce.size());
}

Bytes emptyWorkbookStream(const Bytes& extraGlobals) {
    Bytes g;
    auto rec = [](Bytes& out, uint16_t id, const Bytes& data) { writeRecord(out, id, data); };
    Bytes bof(16, 0);
    put16(&bof[0], kBiff8Version);
    put16(&bof[2], kDtGlobals);
    rec(g, BOF, bof);
    rec(g, WINDOW1, Bytes(18, 0));
    for (int i = 0; i < 16; ++i) {
        Bytes xf(20, 0);
        put16(&xf[4], i < 15 ? 0xFFF5 : 0x0001);  // style formats, then the default cell format
        rec(g, XF, xf);
    }
    g.insert(g.end(), extraGlobals.begin(), extraGlobals.end());
    Bytes sheet{0, 0, 0, 0, 0, 0, 6, 0, 'S', 'h', 'e', 'e', 't', '1'};
    const size_t boundAt = g.size() + 4;
    rec(g, BOUNDSHEET, sheet);
    rec(g, EOF_, {});
    put32(&g[boundAt], static_cast<uint32_t>(g.size()));
    put16(&bof[2], kDtWorksheet);
    rec(g, BOF, bof);
    rec(g, DIMENSIONS, Bytes(14, 0));
    rec(g, WINDOW2, Bytes(18, 0));
    rec(g, EOF_, {});
    return g;
}

uint32_t xfCrcOf(const std::vector<std::array<uint8_t, 20>>& xfs) {
    uint32_t crc = 0;
    for (const auto& x : xfs)
        for (uint8_t b : x) {
            uint32_t v = ((crc >> 24) ^ b) << 24;
            for (int bit = 0; bit < 8; ++bit) v = (v & 0x80000000u) ? (v << 1) ^ 0xAFu : v << 1;
            crc = (crc << 8) ^ v;
        }
    return crc;
}

std::vector<std::string> sstFramingFaults(const std::vector<BiffRecord>& recs) {
    std::vector<std::string> faults;
    size_t at = 0;
    while (at < recs.size() && recs[at].id != SST) ++at;
    if (at == recs.size()) return faults;
    std::vector<const Bytes*> segs{&recs[at].data};
    for (size_t k = at + 1; k < recs.size() && recs[k].id == CONTINUE; ++k) segs.push_back(&recs[k].data);
    size_t seg = 0, pos = 8;
    auto left = [&] { return segs[seg]->size() - pos; };
    auto fault = [&](uint32_t i, const std::string& what) {
        faults.push_back("string " + std::to_string(i) + ": " + what + " (record " + std::to_string(seg) + ")");
    };
    // moves to the next record when this one is used up; false at the end of the table
    auto nextRecord = [&] {
        while (seg < segs.size() && pos >= segs[seg]->size()) {
            if (seg + 1 == segs.size()) return false;
            ++seg;
            pos = 0;
        }
        return true;
    };
    const uint32_t unique = segs[0]->size() >= 8 ? u32(segs[0]->data() + 4) : 0;
    for (uint32_t i = 0; i < unique; ++i) {
        if (!nextRecord()) {
            fault(i, "the table ends before it");
            break;
        }
        if (left() < 3) { fault(i, "header cut"); break; }
        const uint8_t* d = segs[seg]->data() + pos;
        const size_t cch = u16(d);
        const uint8_t flags = d[2];
        bool high = flags & 1;
        const size_t head = 3 + ((flags & 8) ? 2 : 0) + ((flags & 4) ? 4 : 0);
        if (left() < head + (cch ? (high ? 2 : 1) : 0)) { fault(i, "header and first character apart"); break; }
        const size_t runs = (flags & 8) ? u16(d + 3) : 0;
        const size_t ext = (flags & 4) ? u32(d + 3 + ((flags & 8) ? 2 : 0)) : 0;
        pos += head;
        for (size_t k = 0; k < cch; ++k) {
            if (left() == 0) {
                if (!nextRecord()) { fault(i, "characters cut off"); return faults; }
                const uint8_t f = (*segs[seg])[pos++];
                if (f & ~1u) fault(i, "continued characters' flags byte is not 0 or 1");
                high = f & 1;
            }
            const size_t size = high ? 2 : 1;
            if (left() < size) { fault(i, "a character cut"); return faults; }
            pos += size;
        }
        for (size_t k = 0; k < runs; ++k) {
            if (left() == 0 && !nextRecord()) { fault(i, "runs cut off"); return faults; }
            if (left() < 4) { fault(i, "a formatting run cut"); return faults; }
            pos += 4;
        }
        if (ext > 0) {
            if (left() == 0 && !nextRecord()) { fault(i, "phonetic block cut off"); return faults; }
            if (left() < ext) { fault(i, "phonetic block cut after " + std::to_string(left()) + " bytes"); return faults; }
            pos += ext;
        }
    }
    return faults;
}

}  // namespace talvira::test
