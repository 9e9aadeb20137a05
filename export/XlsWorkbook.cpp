#include "export/XlsWorkbook.h"

#include "export/XlsSheetWriter.h"
#include "export/XlsTemplateReader.h"
#include "export/XlsWorkbookData.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talvira::xls {

using namespace biff;

namespace {

std::vector<uint8_t> built(WorkbookData& w) {
    w.evaluateAll();
    return writeWorkbookStream(w);
}

double rkValue(uint32_t rk) {
    double v;
    if (rk & 2) {
        v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, 8);
    }
    return (rk & 1) ? v / 100 : v;
}

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Cells                                                                                */
/* ------------------------------------------------------------------------------------- */

Cell* WorkbookData::find(int r, int c) {
    if (static_cast<size_t>(r) >= rows.size()) return nullptr;
    std::vector<Cell>& cells = rows[static_cast<size_t>(r)].cells;
    auto it = std::lower_bound(cells.begin(), cells.end(), c,
                               [](const Cell& x, int col) { return x.colLast < col; });
    if (it != cells.end() && it->col <= c) return &*it;
    return nullptr;
}

void WorkbookData::explode(Row& row, size_t i, int r) {
    const Cell m = row.cells[i];
    const std::vector<uint8_t> rec = raws[m.ref];
    const uint16_t id = u16(rec.data());
    const uint8_t* d = rec.data() + 4;
    std::vector<Cell> parts;
    for (int col = m.col; col <= m.colLast; ++col) {
        const size_t k = static_cast<size_t>(col - m.col);
        Cell c;
        c.col = c.colLast = static_cast<uint16_t>(col);
        if (id == MULBLANK) {
            c.kind = CellKind::Blank;
            c.xf = u16(d + 4 + 2 * k);
        } else {
            // one RK record per cell, value bytes unchanged
            std::vector<uint8_t> one;
            add16(one, RK);
            add16(one, 10);
            add16(one, static_cast<uint16_t>(r));
            add16(one, static_cast<uint16_t>(col));
            one.insert(one.end(), d + 4 + 6 * k, d + 4 + 6 * k + 6);
            c.kind = CellKind::Raw;
            c.ref = static_cast<uint32_t>(raws.size());
            raws.push_back(std::move(one));
        }
        parts.push_back(c);
    }
    // records that travelled with the multiple-cell record stay after its last cell
    const size_t recLen = 4 + u16(rec.data() + 2);
    if (rec.size() > recLen) {
        Cell& lastCell = parts.back();
        if (lastCell.kind != CellKind::Raw) {
            std::vector<uint8_t> one;
            add16(one, BLANK);
            add16(one, 6);
            add16(one, static_cast<uint16_t>(r));
            add16(one, lastCell.col);
            add16(one, lastCell.xf);
            lastCell.kind = CellKind::Raw;
            lastCell.ref = static_cast<uint32_t>(raws.size());
            raws.push_back(std::move(one));
        }
        std::vector<uint8_t>& to = raws[lastCell.ref];
        to.insert(to.end(), rec.begin() + static_cast<long>(recLen), rec.end());
    }
    row.cells.erase(row.cells.begin() + static_cast<long>(i));
    row.cells.insert(row.cells.begin() + static_cast<long>(i), parts.begin(), parts.end());
}

Cell& WorkbookData::cellFor(int r, int c) {
    Row& row = rowAt(r);
    for (;;) {
        auto it = std::lower_bound(row.cells.begin(), row.cells.end(), c,
                                   [](const Cell& x, int col) { return x.colLast < col; });
        if (it != row.cells.end() && it->col <= c) {
            if (it->colLast == it->col) return *it;
            explode(row, static_cast<size_t>(it - row.cells.begin()), r);
            continue;
        }
        Cell nc;
        nc.col = nc.colLast = static_cast<uint16_t>(c);
        nc.kind = CellKind::Blank;
        nc.xf = defaultXf(r, c);
        return *row.cells.insert(it, nc);
    }
}

uint16_t WorkbookData::defaultXf(int r, int c) const {
    if (static_cast<size_t>(r) < rows.size()) {
        const Row& row = rows[static_cast<size_t>(r)];
        if (row.hasRec) {
            const uint32_t flags = u32(row.rec.data() + 12);
            if (flags & 0x80) return static_cast<uint16_t>((flags >> 16) & 0x0FFF);
        }
    }
    for (const ColInfo& ci : colInfos)
        if (c >= ci.first && c <= ci.last) return ci.xf;
    return kDefaultXf;
}

uint16_t WorkbookData::xfOf(const Cell& c) const {
    if (c.kind == CellKind::Raw) return u16(raws[c.ref].data() + 8);
    return c.xf;
}

void WorkbookData::setXf(Cell& c, uint16_t xf) {
    if (c.kind == CellKind::Raw) put16(raws[c.ref].data() + 8, xf);
    else c.xf = xf;
}

namespace {

/** Size of the token at p[0] and its operands, 0 when unknown. */
size_t tokenSize(const uint8_t* p, size_t left) {
    const uint8_t id = p[0];
    if (id < 0x20) {
        switch (id) {
        case 0x01: case 0x02: return 5;                       // ptgExp, ptgTbl
        case 0x17: {                                          // ptgStr
            if (left < 3) return 0;
            return 3 + static_cast<size_t>(p[1]) * ((p[2] & 1) ? 2 : 1);
        }
        case 0x19: {                                          // ptgAttr
            if (left < 4) return 0;
            if (p[1] & 0x04) return 4 + 2 * (static_cast<size_t>(u16(p + 2)) + 1);  // tAttrChoose
            return 4;
        }
        case 0x1C: case 0x1D: return 2;                       // ptgErr, ptgBool
        case 0x1E: return 3;                                  // ptgInt
        case 0x1F: return 9;                                  // ptgNum
        default:
            return (id >= 0x03 && id <= 0x16) ? 1 : 0;        // operators, paren, missing arg
        }
    }
    switch (id & 0x1F) {
    case 0x00: return 8;   // ptgArray (values in the extra data)
    case 0x01: return 3;   // ptgFunc
    case 0x02: return 4;   // ptgFuncVar
    case 0x03: return 5;   // ptgName
    case 0x04: return 5;   // ptgRef
    case 0x05: return 9;   // ptgArea
    case 0x06: case 0x07: case 0x08: return 7;  // ptgMemArea, ptgMemErr, ptgMemNoMem
    case 0x09: return 3;   // ptgMemFunc
    case 0x0A: return 5;   // ptgRefErr
    case 0x0B: return 9;   // ptgAreaErr
    case 0x0C: return 5;   // ptgRefN
    case 0x0D: return 9;   // ptgAreaN
    case 0x19: return 7;   // ptgNameX
    case 0x1A: return 7;   // ptgRef3d
    case 0x1B: return 11;  // ptgArea3d
    case 0x1C: return 7;   // ptgRefErr3d
    case 0x1D: return 11;  // ptgAreaErr3d
    default: return 0;
    }
}

/** One relative address of a shared formula made absolute for the cell (r, c). */
bool absolute(uint16_t& row, uint16_t& col, int r, int c) {
    int rr = row, cc = col & 0xFF;
    if (col & 0x8000) rr = r + static_cast<int16_t>(row);
    if (col & 0x4000) cc = c + static_cast<int8_t>(static_cast<uint8_t>(col & 0xFF));
    if (rr < 0 || rr >= kMaxRows || cc < 0 || cc >= kMaxCols) return false;
    row = static_cast<uint16_t>(rr);
    col = static_cast<uint16_t>((col & 0xC000) | cc);
    return true;
}

/** The tokens of a shared formula as a formula of its own in cell (r, c); false when a
 *  token is unknown or an address falls off the sheet. */
bool unshare(const uint8_t* p, size_t n, int r, int c, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        const size_t sz = tokenSize(p + i, n - i);
        if (sz == 0 || i + sz > n) return false;
        const uint8_t id = p[i];
        const size_t at = out.size();
        out.insert(out.end(), p + i, p + i + sz);
        if (id >= 0x20 && (id & 0x1F) == 0x0C) {         // ptgRefN → ptgRef
            uint16_t row = u16(p + i + 1), col = u16(p + i + 3);
            if (!absolute(row, col, r, c)) return false;
            out[at] = static_cast<uint8_t>((id & 0x60) | 0x04);
            put16(&out[at + 1], row);
            put16(&out[at + 3], col);
        } else if (id >= 0x20 && (id & 0x1F) == 0x0D) {  // ptgAreaN → ptgArea
            uint16_t r1 = u16(p + i + 1), r2 = u16(p + i + 3), c1 = u16(p + i + 5), c2 = u16(p + i + 7);
            if (!absolute(r1, c1, r, c) || !absolute(r2, c2, r, c)) return false;
            out[at] = static_cast<uint8_t>((id & 0x60) | 0x05);
            put16(&out[at + 1], r1);
            put16(&out[at + 3], r2);
            put16(&out[at + 5], c1);
            put16(&out[at + 7], c2);
        }
        i += sz;
    }
    return true;
}

}  // namespace

/** Gives every other cell of the shared formula anchored at (r, c) a formula of its own, so
 *  that the anchor can take another content. False when that cannot be done. */
bool WorkbookData::unshareFrom(int r, int c, const std::vector<uint8_t>& host, size_t at) {
    const uint8_t* sh = host.data() + at + 4;
    const size_t len = u16(host.data() + at + 2);
    if (len < 10) return false;
    const int r1 = u16(sh), r2 = u16(sh + 2), c1 = sh[4], c2 = sh[5];
    const size_t cce = u16(sh + 8);
    if (10 + cce > len) return false;
    const uint8_t* rgce = sh + 10;
    const uint8_t* extra = sh + 10 + cce;
    const size_t extraLen = len - 10 - cce;
    for (int rr = r1; rr <= r2; ++rr)
        for (int cc = c1; cc <= c2; ++cc) {
            if (rr == r && cc == c) continue;
            Cell* m = find(rr, cc);
            if (!m || m->kind != CellKind::Raw || m->colLast != m->col) continue;
            std::vector<uint8_t>& rec = raws[m->ref];
            const size_t mlen = u16(rec.data() + 2);
            if (u16(rec.data()) != FORMULA || mlen < 27 || rec[4 + 22] != ptgExp) continue;
            if (u16(rec.data() + 4 + 23) != r || u16(rec.data() + 4 + 25) != c) continue;
            std::vector<uint8_t> own;
            if (!unshare(rgce, cce, rr, cc, own)) return false;
            std::vector<uint8_t> d(rec.begin() + 4, rec.begin() + 4 + 20);
            put16(&d[14], static_cast<uint16_t>(u16(&d[14]) & ~0x0008u));  // no longer fShrFmla
            add16(d, static_cast<uint16_t>(own.size()));
            d.insert(d.end(), own.begin(), own.end());
            d.insert(d.end(), extra, extra + extraLen);
            if (d.size() > kMaxRecordData) return false;
            std::vector<uint8_t> whole;
            writeRecord(whole, FORMULA, d);
            whole.insert(whole.end(), rec.begin() + 4 + static_cast<long>(mlen), rec.end());  // e.g. STRING
            rec = std::move(whole);
        }
    return true;
}

/** Prepares a cell for a new value: its format stays, its old content goes. The anchor of a
 *  shared formula first hands its formula to the other cells of the range; a cell of an
 *  array formula or a data table is refused, as it cannot change alone. */
void WorkbookData::release(Cell& c, int r) {
    if (c.kind == CellKind::Raw) {
        const int col = c.col;
        const uint32_t ref = c.ref;
        const std::vector<uint8_t> rec = raws[ref];
        const uint16_t id = u16(rec.data());
        const size_t len = u16(rec.data() + 2);
        if (id == FORMULA) {
            auto refuse = [&] {
                throw Error("Ячейка " + cellName(r, col) + " шаблона «" + name +
                            "» входит в формулу массива или таблицу данных; освободите её в шаблоне");
            };
            if (len > 22 && rec[4 + 22] == ptgTbl) refuse();
            if (len >= 27 && rec[4 + 22] == ptgExp) {
                // the anchor of this cell's formula: a shared formula may lose a member,
                // an array may not
                const int hr = u16(rec.data() + 4 + 23), hc = u16(rec.data() + 4 + 25);
                const Cell* host = (hr == r && hc == col) ? &c : find(hr, hc);
                if (host && host->kind == CellKind::Raw) {
                    const std::vector<uint8_t>& h = raws[host->ref];
                    for (size_t p = 4 + u16(h.data() + 2); p + 4 <= h.size(); p += 4 + u16(h.data() + p + 2)) {
                        const uint16_t aid = u16(h.data() + p);
                        if (aid == ARRAY || aid == TABLE) refuse();
                    }
                }
            }
            for (size_t p = 4 + len; p + 4 <= rec.size(); p += 4 + u16(rec.data() + p + 2)) {
                const uint16_t aid = u16(rec.data() + p);
                if (aid == ARRAY || aid == TABLE) refuse();
                if (aid == SHRFMLA && !unshareFrom(r, col, rec, p))
                    throw Error("Ячейка " + cellName(r, col) + " шаблона «" + name +
                                "» начинает общую формулу, которую не удаётся разделить; освободите её в шаблоне");
            }
        }
        if (id == LABELSST) --sstTotal;
        c.xf = u16(rec.data() + 8);
    } else if (c.kind == CellKind::Sst) {
        --sstTotal;
    }
}

uint32_t WorkbookData::stringIndex(const std::string& utf8, CellRef at) {
    if (!sstIndexed) {
        for (size_t i = 0; i < sst.size(); ++i)
            if (sst[i].runs.empty() && sst[i].ext.empty())
                sstIndex.emplace(utf16ToUtf8(sst[i].chars), static_cast<uint32_t>(i));
        sstIndexed = true;
    }
    auto it = sstIndex.find(utf8);
    if (it != sstIndex.end()) return it->second;
    SstString str;
    str.chars = utf8ToUtf16(utf8);
    if (str.chars.size() > static_cast<size_t>(kMaxCellChars))
        throw Error("Текст ячейки " + cellName(at.row, at.col) + " длиннее " + std::to_string(kMaxCellChars) +
                    " знаков и в книгу Excel не помещается");
    for (char16_t ch : str.chars)
        if (ch > 0xFF) { str.high = true; break; }
    const uint32_t idx = static_cast<uint32_t>(sst.size());
    sst.push_back(std::move(str));
    sstIndex.emplace(utf8, idx);
    return idx;
}

uint16_t WorkbookData::borderedXf(uint16_t xf) {
    auto it = borderXf.find(xf);
    if (it != borderXf.end()) return it->second;
    if (xfs.empty()) throw Error("В шаблоне «" + name + "» нет форматов ячеек (записей XF)");
    std::array<uint8_t, 20> x = xfs[xf < xfs.size() ? xf : 0];
    // offset 10: left, right, top, bottom line styles (4 bits each), then left and right colours
    uint32_t b1 = u32(&x[10]);
    b1 = (b1 & 0xC0000000u) | 0x1111u | (0x40u << 16) | (0x40u << 23);
    put32(&x[10], b1);
    // offset 14: top and bottom colours (7 bits each)
    uint32_t b2 = u32(&x[14]);
    b2 = (b2 & ~0x3FFFu) | 0x40u | (0x40u << 7);
    put32(&x[14], b2);
    x[9] = static_cast<uint8_t>(x[9] | 0x20);  // border attributes are this format's own
    // an existing format that already is exactly this is used as it is
    for (size_t i = 0; i < xfs.size(); ++i)
        if (xfs[i] == x) return borderXf[xf] = static_cast<uint16_t>(i);
    if (xfs.size() >= static_cast<size_t>(kMaxXf))
        throw Error("В шаблоне «" + name + "» слишком много форматов ячеек (не более " +
                    std::to_string(kMaxXf) + ")");
    xfs.push_back(x);
    return borderXf[xf] = static_cast<uint16_t>(xfs.size() - 1);
}

CellValue WorkbookData::valueOf(int r, int c) {
    CellValue v;
    const Cell* cell = find(r, c);
    if (!cell) return v;
    switch (cell->kind) {
    case CellKind::Blank:
        return v;
    case CellKind::Number:
        v.kind = CellValue::Kind::Number;
        v.number = cell->num;
        return v;
    case CellKind::Sst:
        v.kind = CellValue::Kind::Text;
        v.text = utf16ToUtf8(sst[cell->ref].chars);
        return v;
    case CellKind::Formula: {
        FormulaValue f = evaluate(cell->ref);
        if (f.isError) { v.kind = CellValue::Kind::Error; v.error = f.error; }
        else { v.kind = CellValue::Kind::Number; v.number = f.number; }
        return v;
    }
    case CellKind::Raw:
        break;
    }
    const std::vector<uint8_t>& rec = raws[cell->ref];
    const uint16_t id = u16(rec.data());
    const size_t len = u16(rec.data() + 2);
    const uint8_t* d = rec.data() + 4;
    switch (id) {
    case NUMBER:
        if (len >= 14) { v.kind = CellValue::Kind::Number; v.number = f64(d + 6); }
        break;
    case RK:
        if (len >= 10) { v.kind = CellValue::Kind::Number; v.number = rkValue(u32(d + 6)); }
        break;
    case MULRK: {
        const size_t k = static_cast<size_t>(c - cell->col);
        if (10 + 6 * k <= len) { v.kind = CellValue::Kind::Number; v.number = rkValue(u32(d + 6 + 6 * k)); }
        break;
    }
    case LABELSST:
        if (len >= 10 && u32(d + 6) < sst.size()) {
            v.kind = CellValue::Kind::Text;
            v.text = utf16ToUtf8(sst[u32(d + 6)].chars);
        }
        break;
    case BOOLERR:
        if (len >= 8) {
            if (d[7]) { v.kind = CellValue::Kind::Error; v.error = static_cast<CellError>(d[6]); }
            else { v.kind = CellValue::Kind::Bool; v.number = d[6] ? 1 : 0; }
        }
        break;
    case LABEL: case RSTRING:
        v.kind = CellValue::Kind::Text;  // read as text that is no number
        v.text = "\x01";
        break;
    case FORMULA:
        if (len >= 14) {
            if (u16(d + 12) != 0xFFFF) { v.kind = CellValue::Kind::Number; v.number = f64(d + 6); }
            else if (d[6] == 1) { v.kind = CellValue::Kind::Bool; v.number = d[8] ? 1 : 0; }
            else if (d[6] == 2) { v.kind = CellValue::Kind::Error; v.error = static_cast<CellError>(d[8]); }
            else { v.kind = CellValue::Kind::Text; v.text = "\x01"; }
        }
        break;
    default:
        break;
    }
    return v;
}

FormulaValue WorkbookData::evaluate(uint32_t f) {
    Formula& fm = formulas[f];
    if (fm.state == 2) return fm.value;
    if (fm.state == 1) return FormulaValue{};  // a circular reference counts as 0
    fm.state = 1;
    const uint32_t off = fm.tokOff, len = fm.tokLen;
    FormulaValue v = evaluateFormula(tokens.data() + off, len,
                                     [this](int r, int c) { return valueOf(r, c); }, sep);
    Formula& again = formulas[f];
    again.value = v;
    again.state = 2;
    return v;
}

/* ------------------------------------------------------------------------------------- */
/*  Public interface                                                                     */
/* ------------------------------------------------------------------------------------- */

XlsWorkbook::XlsWorkbook(std::unique_ptr<WorkbookData> impl) : impl_(std::move(impl)) {}
XlsWorkbook::~XlsWorkbook() = default;
XlsWorkbook::XlsWorkbook(XlsWorkbook&&) noexcept = default;
XlsWorkbook& XlsWorkbook::operator=(XlsWorkbook&&) noexcept = default;

XlsWorkbook::XlsWorkbook(const std::vector<uint8_t>& fileBytes, const std::string& displayName,
                         char decimalSep)
    : impl_(std::make_unique<WorkbookData>()) {
    impl_->name = displayName;
    impl_->sep = decimalSep;
    readTemplateFile(*impl_, fileBytes);
}

XlsWorkbook XlsWorkbook::fromStream(const std::vector<uint8_t>& stream, const std::string& displayName,
                                    char decimalSep) {
    auto impl = std::make_unique<WorkbookData>();
    impl->name = displayName;
    impl->sep = decimalSep;
    impl->file.root.name = "Root Entry";
    impl->file.root.storage = true;
    impl->file.root.children.push_back({"Workbook", false, {}, {}, {}});
    impl->streamName = "Workbook";
    impl->s = stream;
    readTemplateStream(*impl);
    return XlsWorkbook(std::move(impl));
}

XlsWorkbook XlsWorkbook::open(const std::filesystem::path& path, char decimalSep) {
    std::vector<uint8_t> bytes = readWholeFile(path, "Шаблон книги");
    return XlsWorkbook(bytes, path.string(), decimalSep);
}

int XlsWorkbook::activeSheet() const { return impl_->active; }
std::string XlsWorkbook::activeSheetName() const { return impl_->sheetNames[static_cast<size_t>(impl_->active)]; }

void XlsWorkbook::setText(CellRef at, const std::string& utf8) {
    const uint32_t idx = impl_->stringIndex(utf8, at);
    Cell& c = impl_->cellFor(at.row, at.col);
    impl_->release(c, at.row);
    c.kind = CellKind::Sst;
    c.ref = idx;
    ++impl_->sstTotal;
}

void XlsWorkbook::setNumber(CellRef at, double value) {
    Cell& c = impl_->cellFor(at.row, at.col);
    impl_->release(c, at.row);
    c.kind = CellKind::Number;
    c.num = value;
}

void XlsWorkbook::setBlank(CellRef at) {
    Cell& c = impl_->cellFor(at.row, at.col);
    impl_->release(c, at.row);
    c.kind = CellKind::Blank;
}

void XlsWorkbook::setFormula(CellRef at, const std::string& text) {
    std::vector<uint8_t> rgce;
    try {
        rgce = compileFormula(text, impl_->sep);
    } catch (const Error& e) {
        throw Error(std::string(e.what()) + " (ячейка " + cellName(at.row, at.col) + ")");
    }
    Cell& c = impl_->cellFor(at.row, at.col);
    impl_->release(c, at.row);
    Formula f;
    f.tokOff = static_cast<uint32_t>(impl_->tokens.size());
    f.tokLen = static_cast<uint32_t>(rgce.size());
    impl_->tokens.insert(impl_->tokens.end(), rgce.begin(), rgce.end());
    c.kind = CellKind::Formula;
    c.ref = static_cast<uint32_t>(impl_->formulas.size());
    impl_->formulas.push_back(f);
}

void XlsWorkbook::addBorders(CellRef from, CellRef to) {
    const int r1 = std::min(from.row, to.row), r2 = std::max(from.row, to.row);
    const int c1 = std::min(from.col, to.col), c2 = std::max(from.col, to.col);
    for (int r = r1; r <= r2; ++r)
        for (int c = c1; c <= c2; ++c) {
            Cell& cell = impl_->cellFor(r, c);
            impl_->setXf(cell, impl_->borderedXf(impl_->xfOf(cell)));
        }
}

std::vector<uint8_t> XlsWorkbook::workbookStream() { return built(*impl_); }

void XlsWorkbook::saveTo(const std::filesystem::path& path) {
    // the built stream takes the template's place for the write, then gives it back
    CompoundEntry* wb = impl_->file.find(impl_->streamName);
    std::vector<uint8_t> stream = built(*impl_);
    std::swap(wb->data, stream);
    try {
        writeCompoundFile(impl_->file, path);
    } catch (...) {
        std::swap(wb->data, stream);
        throw;
    }
    std::swap(wb->data, stream);
}

std::vector<uint8_t> XlsWorkbook::save() {
    CompoundFile out = impl_->file;
    CompoundEntry* wb = out.find(impl_->streamName);
    wb->data = built(*impl_);
    return writeCompoundFile(out);
}

}  // namespace talvira::xls
