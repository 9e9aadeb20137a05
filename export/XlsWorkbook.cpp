#include "export/XlsWorkbook.h"

#include "common/Error.h"
#include "export/XlsContainer.h"
#include "export/XlsRecords.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <unordered_map>

namespace talvira::xls {

using namespace biff;

/* ------------------------------------------------------------------------------------- */
/*  Record framing                                                                       */
/* ------------------------------------------------------------------------------------- */

void biff::writeRecord(std::vector<uint8_t>& out, uint16_t id, const uint8_t* data, size_t size) {
    size_t done = 0;
    bool firstPart = true;
    do {
        const size_t n = std::min(size - done, kMaxRecordData);
        add16(out, firstPart ? id : CONTINUE);
        add16(out, static_cast<uint16_t>(n));
        out.insert(out.end(), data + done, data + done + n);
        done += n;
        firstPart = false;
    } while (done < size);
}

/* ------------------------------------------------------------------------------------- */
/*  Private types and helpers                                                            */
/* ------------------------------------------------------------------------------------- */

namespace {

constexpr uint16_t FILEPASS = 0x002F;
constexpr uint16_t COLINFO = 0x007D;
constexpr uint16_t kDefaultXf = 15;
constexpr uint8_t ptgExp = 0x01, ptgTbl = 0x02;

/** A record of the template stream: id, and where its data lies. */
struct Rec {
    uint16_t id;
    uint32_t pos;  // offset of the data (the header is the 4 bytes before)
    uint32_t len;
};

struct SstString {
    std::u16string chars;
    bool high = false;
    std::vector<uint8_t> runs;  // 4 bytes per formatting run
    std::vector<uint8_t> ext;   // phonetic data
};

enum class CellKind : uint8_t { Raw, Blank, Number, Sst, Formula };

struct Cell {
    uint16_t col = 0;
    uint16_t colLast = 0;  // beyond col only for the template's MULBLANK / MULRK records
    CellKind kind = CellKind::Blank;
    uint16_t xf = kDefaultXf;
    uint32_t ref = 0;  // Raw: record bytes; Sst: string; Formula: formula
    double num = 0;
};

struct Formula {
    uint32_t tokOff = 0, tokLen = 0;
    uint8_t state = 0;  // 0 not evaluated, 1 being evaluated, 2 done
    FormulaValue value;
};

struct Row {
    bool hasRec = false;
    std::array<uint8_t, 16> rec{};
    std::vector<Cell> cells;  // sorted by column
};

struct ColInfo {
    uint16_t first, last, xf;
};

bool isCellRecord(uint16_t id) {
    switch (id) {
    case BLANK: case NUMBER: case LABEL: case BOOLERR: case FORMULA: case RK: case MULRK:
    case MULBLANK: case LABELSST: case RSTRING:
        return true;
    default:
        return false;
    }
}

bool isCellTableRecord(uint16_t id) {
    return isCellRecord(id) || id == ROW || id == DBCELL || id == STRING || id == SHRFMLA ||
           id == ARRAY || id == TABLE;
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

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        int extra = 0;
        if (c < 0x80) { cp = c; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { out += u'\uFFFD'; ++i; continue; }
        if (i + static_cast<size_t>(extra) >= s.size()) {
            out += u'\uFFFD';
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((d & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!ok) { out += u'\uFFFD'; ++i; continue; }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

/** Reads bytes across an SST record and its CONTINUE records. */
class SstReader {
public:
    SstReader(std::vector<std::pair<const uint8_t*, size_t>> segs, const std::string& file)
        : segs_(std::move(segs)), file_(file) {}

    bool atEnd() {
        while (seg_ < segs_.size() && pos_ >= segs_[seg_].second) { ++seg_; pos_ = 0; }
        return seg_ >= segs_.size();
    }
    uint8_t byte() {
        if (atEnd()) damaged();
        return segs_[seg_].first[pos_++];
    }
    uint16_t word() { uint8_t a = byte(); return static_cast<uint16_t>(a | (byte() << 8)); }
    uint32_t dword() { uint32_t a = word(); return a | (static_cast<uint32_t>(word()) << 16); }
    void bytes(size_t n, std::vector<uint8_t>& out) {
        for (size_t i = 0; i < n; ++i) out.push_back(byte());
    }
    /** Characters of a string; a new record in the middle starts with its own flags byte. */
    void chars(size_t n, bool high, SstString& s) {
        s.chars.reserve(n);
        while (n > 0) {
            if (seg_ < segs_.size() && pos_ >= segs_[seg_].second) {
                ++seg_;
                pos_ = 0;
                if (seg_ >= segs_.size()) damaged();
                high = (byte() & 1) != 0;
                if (high) s.high = true;
            }
            if (seg_ >= segs_.size()) damaged();
            if (high) {
                if (pos_ + 2 > segs_[seg_].second) damaged();
                s.chars += static_cast<char16_t>(u16(segs_[seg_].first + pos_));
                pos_ += 2;
            } else {
                s.chars += static_cast<char16_t>(segs_[seg_].first[pos_++]);
            }
            --n;
        }
    }
    [[noreturn]] void damaged() const {
        throw Error("Книга «" + file_ + "» повреждена: таблица строк (SST) оборвана");
    }

private:
    std::vector<std::pair<const uint8_t*, size_t>> segs_;
    std::string file_;
    size_t seg_ = 0, pos_ = 0;
};

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
        for (uint8_t b : s.ext) {
            need(1);
            buf_.push_back(b);
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

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  The workbook                                                                         */
/* ------------------------------------------------------------------------------------- */

struct XlsWorkbook::Impl {
    std::string name;
    char sep = ',';
    CompoundFile file;
    std::string streamName;
    std::vector<uint8_t> s;  // the template's workbook stream

    std::vector<Rec> globals;
    struct Sub { uint32_t begin, end; };
    std::vector<Sub> subs;  // sheet substreams, BOF header to end of EOF
    uint32_t trailing = 0;  // bytes after the last substream, carried over as they are
    std::vector<size_t> boundRecs;    // indexes into globals
    std::vector<int> subOfBound;      // substream of each BOUNDSHEET, -1 when none
    std::vector<std::string> sheetNames;
    int active = 0;
    size_t activeSub = 0;

    // active sheet
    std::vector<Rec> sheet;
    size_t cellBegin = 0, cellEnd = 0;  // the cell table within `sheet`
    std::vector<Row> rows;
    std::vector<std::vector<uint8_t>> raws;
    std::vector<uint8_t> orphans;  // records in the cell table that belong to no cell
    std::vector<ColInfo> colInfos;
    uint16_t defaultRowHeight = 0x00FF;

    // globals
    std::vector<std::array<uint8_t, 20>> xfs;
    size_t templateXfs = 0;
    size_t lastXfRec = SIZE_MAX;
    std::map<uint16_t, uint16_t> borderXf;
    std::vector<SstString> sst;
    int64_t sstTotal = 0;
    bool sstIndexed = false;
    std::unordered_map<std::string, uint32_t> sstIndex;

    std::vector<uint8_t> tokens;
    std::vector<Formula> formulas;

    [[noreturn]] void damaged(const std::string& what) const {
        throw Error("Книга «" + name + "» повреждена: " + what);
    }

    // ---- reading -----------------------------------------------------------------------
    void load(const std::vector<uint8_t>& bytes);
    void loadStream();
    void splitStream();
    void readGlobals();
    void readSst(size_t at);
    void readActiveSheet();

    // ---- cells -------------------------------------------------------------------------
    Row& rowAt(int r) {
        if (static_cast<size_t>(r) >= rows.size()) rows.resize(static_cast<size_t>(r) + 1);
        return rows[static_cast<size_t>(r)];
    }
    Cell* find(int r, int c);
    Cell& cellFor(int r, int c);
    void explode(Row& row, size_t i, int r);
    uint16_t defaultXf(int r, int c) const;
    uint16_t xfOf(const Cell& c) const;
    void setXf(Cell& c, uint16_t xf);
    void release(Cell& c, int r);
    bool unshareFrom(int r, int c, const std::vector<uint8_t>& host, size_t at);
    uint32_t stringIndex(const std::string& utf8, CellRef at);
    uint16_t borderedXf(uint16_t xf);
    CellValue valueOf(int r, int c);
    FormulaValue evaluate(uint32_t f);

    // ---- writing -----------------------------------------------------------------------
    std::vector<uint8_t> build();
    void writeGlobals(std::vector<uint8_t>& out, std::vector<size_t>& boundPos);
    void writeSst(std::vector<uint8_t>& out);
    void writeSheet(std::vector<uint8_t>& out);
    void copySheet(std::vector<uint8_t>& out, const Sub& sub) const;
    void writeCell(std::vector<uint8_t>& out, int r, const Cell& c);
    void raw(std::vector<uint8_t>& out, const Rec& r) const {
        out.insert(out.end(), s.begin() + r.pos - 4, s.begin() + r.pos + r.len);
    }
};

/* ---- reading ------------------------------------------------------------------------- */

void XlsWorkbook::Impl::load(const std::vector<uint8_t>& bytes) {
    file = readCompoundFile(bytes, name);
    const CompoundEntry* wb = nullptr;
    for (const CompoundEntry& e : file.root.children) {
        if (e.storage) continue;
        std::string lower = e.name;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (lower == "workbook") { wb = &e; break; }
    }
    if (!wb) {
        for (const CompoundEntry& e : file.root.children)
            if (!e.storage && (e.name == "Book" || e.name == "BOOK" || e.name == "book"))
                throw Error("Шаблон «" + name + "» записан в формате Excel 5.0/95 (BIFF5); нужна книга "
                            "Excel 97–2003 (BIFF8): сохраните шаблон в этом формате");
        throw Error("Файл «" + name + "» не является книгой Excel 97–2003: в нём нет потока Workbook");
    }
    streamName = wb->name;
    s = wb->data;
    loadStream();
}

void XlsWorkbook::Impl::loadStream() {
    splitStream();
    readGlobals();
    readActiveSheet();
}

void XlsWorkbook::Impl::splitStream() {
    const size_t n = s.size();
    auto readRec = [&](size_t pos, Rec& r) {
        if (pos + 4 > n) return false;
        r.id = u16(&s[pos]);
        r.len = u16(&s[pos + 2]);
        r.pos = static_cast<uint32_t>(pos + 4);
        if (pos + 4 + r.len > n) return false;
        return true;
    };
    if (n > 0xFFFFFFF0u) damaged("слишком большой поток книги");
    size_t pos = 0;
    Rec r{};
    if (!readRec(0, r)) damaged("поток книги пуст");
    if (r.id == BOF_BIFF2 || r.id == BOF_BIFF3 || r.id == BOF_BIFF4 || (r.id == BOF && r.len >= 2 && u16(&s[r.pos]) != kBiff8Version) ||
        (r.id == BOF && r.len < 2))
        throw Error("Шаблон «" + name + "» записан в старом формате Excel; нужна книга Excel 97–2003 (BIFF8): "
                    "сохраните шаблон в этом формате");
    if (r.id != BOF || r.len < 4 || u16(&s[r.pos + 2]) != kDtGlobals)
        damaged("поток книги начинается не с заголовка книги");
    // globals: BOF .. EOF
    for (;;) {
        if (!readRec(pos, r)) damaged("запись за концом потока");
        globals.push_back(r);
        pos = r.pos + r.len;
        if (r.id == EOF_) break;
        if (r.id == FILEPASS)
            throw Error("Шаблон «" + name + "» защищён паролем; снимите защиту книги");
    }
    // sheets: BOF .. matching EOF, nested substreams included
    while (pos + 4 <= n) {
        if (!readRec(pos, r) || r.id != BOF) break;
        const uint32_t begin = static_cast<uint32_t>(pos);
        int depth = 0;
        for (;;) {
            if (!readRec(pos, r)) damaged("лист оборван (нет записи конца листа)");
            pos = r.pos + r.len;
            if (r.id == BOF) ++depth;
            else if (r.id == EOF_ && --depth == 0) break;
        }
        subs.push_back({begin, static_cast<uint32_t>(pos)});
        if (subs.size() > 65535) damaged("слишком много листов");
    }
    trailing = static_cast<uint32_t>(pos);
}

void XlsWorkbook::Impl::readGlobals() {
    int itabCur = 0;
    for (size_t i = 0; i < globals.size(); ++i) {
        const Rec& r = globals[i];
        const uint8_t* d = &s[r.pos];
        switch (r.id) {
        case WINDOW1:
            if (r.len >= 12) itabCur = u16(d + 10);
            break;
        case BOUNDSHEET: {
            if (r.len < 8) damaged("запись листа (BOUNDSHEET) короче положенного");
            boundRecs.push_back(i);
            const uint32_t at = u32(d);
            int sub = -1;
            for (size_t k = 0; k < subs.size(); ++k)
                if (subs[k].begin == at) sub = static_cast<int>(k);
            subOfBound.push_back(sub);
            // ShortXLUnicodeString: cch, flags, characters
            const size_t cch = d[6];
            const bool high = d[7] & 1;
            std::u16string nm;
            for (size_t k = 0; k < cch; ++k) {
                const size_t off = 8 + k * (high ? 2 : 1);
                if (off + (high ? 2 : 1) > r.len) break;
                nm += high ? static_cast<char16_t>(u16(d + off)) : static_cast<char16_t>(d[off]);
            }
            sheetNames.push_back(utf16ToUtf8(nm));
            break;
        }
        case XF:
            if (r.len < 20) damaged("запись формата ячейки (XF) короче положенного");
            xfs.emplace_back();
            std::copy(d, d + 20, xfs.back().begin());
            lastXfRec = i;
            break;
        case SST:
            readSst(i);
            break;
        default:
            break;
        }
    }
    templateXfs = xfs.size();
    if (boundRecs.empty()) damaged("в книге нет листов");
    // A sheet whose recorded offset does not match takes the substream of its place.
    for (size_t k = 0; k < subOfBound.size(); ++k)
        if (subOfBound[k] < 0 && k < subs.size()) subOfBound[k] = static_cast<int>(k);
    if (itabCur < 0 || static_cast<size_t>(itabCur) >= boundRecs.size())
        damaged("активный лист (WINDOW1) указывает на несуществующий лист");
    active = itabCur;
    const Rec& bs = globals[boundRecs[static_cast<size_t>(active)]];
    const int sub = subOfBound[static_cast<size_t>(active)];
    if (sub < 0) damaged("не найдено начало активного листа");
    activeSub = static_cast<size_t>(sub);
    const uint8_t dt = s[bs.pos + 5];
    const Sub& sb = subs[activeSub];
    const uint16_t bofDt = (u16(&s[sb.begin + 2]) >= 4) ? u16(&s[sb.begin + 4 + 2]) : 0;
    if (dt != 0 || bofDt != kDtWorksheet)
        throw Error("Активный лист «" + sheetNames[static_cast<size_t>(active)] + "» шаблона «" + name +
                    "» не является листом с ячейками (это диаграмма или макрос)");
}

void XlsWorkbook::Impl::readSst(size_t at) {
    std::vector<std::pair<const uint8_t*, size_t>> segs;
    segs.push_back({&s[globals[at].pos], globals[at].len});
    for (size_t k = at + 1; k < globals.size() && globals[k].id == CONTINUE; ++k)
        segs.push_back({&s[globals[k].pos], globals[k].len});
    SstReader rd(std::move(segs), name);
    sstTotal = rd.dword();
    const uint32_t unique = rd.dword();
    for (uint32_t i = 0; i < unique && !rd.atEnd(); ++i) {
        SstString str;
        const uint16_t cch = rd.word();
        const uint8_t flags = rd.byte();
        str.high = flags & 1;
        uint16_t runs = 0;
        uint32_t ext = 0;
        if (flags & 0x08) runs = rd.word();
        if (flags & 0x04) ext = rd.dword();
        rd.chars(cch, str.high, str);
        rd.bytes(4u * runs, str.runs);
        if (ext > s.size()) rd.damaged();
        rd.bytes(ext, str.ext);
        sst.push_back(std::move(str));
    }
}

void XlsWorkbook::Impl::readActiveSheet() {
    const Sub& sb = subs[activeSub];
    size_t pos = sb.begin;
    int depth = 0;
    while (pos < sb.end) {
        Rec r{u16(&s[pos]), static_cast<uint32_t>(pos + 4), u16(&s[pos + 2])};
        sheet.push_back(r);
        pos = r.pos + r.len;
        if (r.id == BOF) ++depth;
        else if (r.id == EOF_) --depth;
        (void)depth;
    }
    // The cell table: from the first ROW or cell record to the last cell-table record, at the
    // sheet's own level (records of embedded charts never count).
    size_t first = SIZE_MAX, last = 0;
    depth = 0;
    for (size_t i = 0; i < sheet.size(); ++i) {
        const Rec& r = sheet[i];
        if (r.id == BOF) { ++depth; continue; }
        if (r.id == EOF_) { --depth; continue; }
        if (depth != 1) continue;
        const uint8_t* d = &s[r.pos];
        if (r.id == COLINFO && r.len >= 8) colInfos.push_back({u16(d), u16(d + 2), u16(d + 6)});
        if (r.id == DEFAULTROWHEIGHT && r.len >= 4) defaultRowHeight = u16(d + 2);
        if (first == SIZE_MAX && (r.id == ROW || isCellRecord(r.id))) first = i;
        if (first != SIZE_MAX && isCellTableRecord(r.id)) last = i;
    }
    if (first == SIZE_MAX) {
        // No cells yet: the table goes after DIMENSIONS, else before WINDOW2, else before EOF.
        size_t at = sheet.size() - 1;
        for (size_t i = 0; i < sheet.size(); ++i) {
            if (sheet[i].id == DIMENSIONS) { at = i + 1; break; }
            if (sheet[i].id == WINDOW2) { at = i; break; }
        }
        cellBegin = cellEnd = at;
        return;
    }
    cellBegin = first;
    cellEnd = last + 1;

    Cell* current = nullptr;
    int currentRow = -1;
    for (size_t i = cellBegin; i < cellEnd; ++i) {
        const Rec& r = sheet[i];
        const uint8_t* d = &s[r.pos];
        if (r.id == ROW) {
            if (r.len < 16) damaged("запись строки (ROW) короче положенного");
            Row& row = rowAt(u16(d));
            row.hasRec = true;
            std::copy(d, d + 16, row.rec.begin());
            current = nullptr;
        } else if (r.id == DBCELL) {
            current = nullptr;
        } else if (isCellRecord(r.id)) {
            if (r.len < 6) damaged("запись ячейки короче положенного");
            Cell c;
            c.col = c.colLast = u16(d + 2);
            if (r.id == MULBLANK || r.id == MULRK) {
                const size_t per = r.id == MULBLANK ? 2 : 6;
                if (r.len < 6 + per) damaged("запись ячеек (MULBLANK/MULRK) короче положенного");
                c.colLast = u16(d + r.len - 2);
                if (c.colLast < c.col || 6 + per * (c.colLast - c.col + 1u) != r.len)
                    damaged("запись ячеек (MULBLANK/MULRK) не сходится по длине");
            }
            if (c.col >= kMaxCols || c.colLast >= kMaxCols) damaged("ячейка за пределами листа");
            c.kind = CellKind::Raw;
            c.ref = static_cast<uint32_t>(raws.size());
            raws.emplace_back(s.begin() + r.pos - 4, s.begin() + r.pos + r.len);
            currentRow = u16(d);
            Row& row = rowAt(currentRow);
            row.cells.push_back(c);
            current = &row.cells.back();
        } else {
            // STRING, SHRFMLA, ARRAY, TABLE, CONTINUE and strays travel with the cell before them.
            std::vector<uint8_t>& to = current ? raws[current->ref] : orphans;
            to.insert(to.end(), s.begin() + r.pos - 4, s.begin() + r.pos + r.len);
        }
    }
    (void)currentRow;
    for (Row& row : rows)
        std::stable_sort(row.cells.begin(), row.cells.end(),
                         [](const Cell& a, const Cell& b) { return a.col < b.col; });
}

/* ---- cells --------------------------------------------------------------------------- */

Cell* XlsWorkbook::Impl::find(int r, int c) {
    if (static_cast<size_t>(r) >= rows.size()) return nullptr;
    std::vector<Cell>& cells = rows[static_cast<size_t>(r)].cells;
    auto it = std::lower_bound(cells.begin(), cells.end(), c,
                               [](const Cell& x, int col) { return x.colLast < col; });
    if (it != cells.end() && it->col <= c) return &*it;
    return nullptr;
}

void XlsWorkbook::Impl::explode(Row& row, size_t i, int r) {
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

Cell& XlsWorkbook::Impl::cellFor(int r, int c) {
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

uint16_t XlsWorkbook::Impl::defaultXf(int r, int c) const {
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

uint16_t XlsWorkbook::Impl::xfOf(const Cell& c) const {
    if (c.kind == CellKind::Raw) return u16(raws[c.ref].data() + 8);
    return c.xf;
}

void XlsWorkbook::Impl::setXf(Cell& c, uint16_t xf) {
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
bool XlsWorkbook::Impl::unshareFrom(int r, int c, const std::vector<uint8_t>& host, size_t at) {
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
void XlsWorkbook::Impl::release(Cell& c, int r) {
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

uint32_t XlsWorkbook::Impl::stringIndex(const std::string& utf8, CellRef at) {
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

uint16_t XlsWorkbook::Impl::borderedXf(uint16_t xf) {
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

CellValue XlsWorkbook::Impl::valueOf(int r, int c) {
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

FormulaValue XlsWorkbook::Impl::evaluate(uint32_t f) {
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

/* ---- writing ------------------------------------------------------------------------- */

void XlsWorkbook::Impl::writeSst(std::vector<uint8_t>& out) {
    SstWriter w(out);
    const size_t n = sst.size();
    const size_t bucket = std::max<size_t>(8, (n + 127) / 128);
    w.setBucket(bucket);
    w.header(static_cast<uint32_t>(std::max<int64_t>(sstTotal, 0)), static_cast<uint32_t>(n));
    for (const SstString& str : sst) w.string(str);
    w.finish();
    std::vector<uint8_t> ext;
    add16(ext, static_cast<uint16_t>(bucket));
    for (const SstWriter::Mark& m : w.marks()) {
        add32(ext, m.abs);
        add16(ext, m.rel);
        add16(ext, 0);
    }
    writeRecord(out, EXTSST, ext);
}

void XlsWorkbook::Impl::writeGlobals(std::vector<uint8_t>& out, std::vector<size_t>& boundPos) {
    bool sstDone = false;
    for (size_t i = 0; i < globals.size(); ++i) {
        const Rec& r = globals[i];
        if (r.id == SST) {
            writeSst(out);
            sstDone = true;
            while (i + 1 < globals.size() && globals[i + 1].id == CONTINUE) ++i;
        } else if (r.id == EXTSST) {
            if (!sstDone) raw(out, r);  // (an EXTSST before its SST is left as it was)
        } else if (r.id == BOUNDSHEET) {
            boundPos.push_back(out.size() + 4);
            raw(out, r);
        } else if (r.id == RECALCID && r.len >= 8) {
            // build 0 asks the reading application to recalculate every formula on loading
            const size_t at = out.size();
            raw(out, r);
            put32(&out[at + 4 + 4], 0);
        } else if (r.id == EOF_ && i + 1 == globals.size()) {
            if (!sstDone) writeSst(out);
            raw(out, r);
        } else {
            raw(out, r);
        }
        if (i == lastXfRec)
            for (size_t k = templateXfs; k < xfs.size(); ++k) writeRecord(out, XF, xfs[k].data(), 20);
    }
}

void XlsWorkbook::Impl::writeCell(std::vector<uint8_t>& out, int r, const Cell& c) {
    std::vector<uint8_t> d;
    d.reserve(32);
    add16(d, static_cast<uint16_t>(r));
    add16(d, c.col);
    add16(d, c.xf);
    switch (c.kind) {
    case CellKind::Raw:
        out.insert(out.end(), raws[c.ref].begin(), raws[c.ref].end());
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
        const Formula& f = formulas[c.ref];
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
        d.insert(d.end(), tokens.begin() + f.tokOff, tokens.begin() + f.tokOff + f.tokLen);
        writeRecord(out, FORMULA, d);
        return;
    }
    }
}

void XlsWorkbook::Impl::writeSheet(std::vector<uint8_t>& out) {
    // extent of the cells, for DIMENSIONS, INDEX and the ROW records
    int firstRow = -1, lastRow = -1, firstCol = kMaxCols, lastCol = -1;
    std::vector<int> used;  // rows that get a ROW record
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
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
        const uint8_t* d = &s[r.pos];
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
            raw(out, r);
        }
    };
    for (size_t i = 0; i < cellBegin; ++i) head(sheet[i]);
    out.insert(out.end(), orphans.begin(), orphans.end());

    // the cell table in blocks of 32 rows: ROW records, their cells, a DBCELL
    std::vector<uint32_t> dbcells;
    std::vector<size_t> cellStarts;
    for (size_t i = 0; i < used.size();) {
        size_t j = i;
        while (j < used.size() && used[j] / 32 == used[i] / 32) ++j;
        const size_t blockStart = out.size();
        for (size_t k = i; k < j; ++k) {
            const Row& row = rows[static_cast<size_t>(used[k])];
            std::array<uint8_t, 16> rec = row.rec;
            if (!row.hasRec) {
                rec.fill(0);
                put16(&rec[0], static_cast<uint16_t>(used[k]));
                put16(&rec[6], defaultRowHeight);
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
            for (const Cell& c : rows[static_cast<size_t>(r)].cells) writeCell(out, r, c);
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
    for (size_t i = cellEnd; i < sheet.size(); ++i) raw(out, sheet[i]);

    if (indexAt != SIZE_MAX) {
        uint8_t* d = &out[indexAt + 4];
        put32(d, 0);
        put32(d + 4, firstRow < 0 ? 0 : static_cast<uint32_t>(firstRow));
        put32(d + 8, firstRow < 0 ? 0 : static_cast<uint32_t>(lastRow + 1));
        put32(d + 12, defColAt == SIZE_MAX ? 0 : static_cast<uint32_t>(defColAt));
        for (size_t k = 0; k < dbcells.size(); ++k) put32(d + 16 + 4 * k, dbcells[k]);
    }
}

/** Another sheet, byte for byte but for its INDEX record, whose stream offsets (of
 *  DEFCOLWIDTH and of the DBCELL records) move with the sheet. */
void XlsWorkbook::Impl::copySheet(std::vector<uint8_t>& out, const Sub& sub) const {
    const size_t at = out.size();
    out.insert(out.end(), s.begin() + sub.begin, s.begin() + sub.end);
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

std::vector<uint8_t> XlsWorkbook::Impl::build() {
    for (uint32_t f = 0; f < formulas.size(); ++f) evaluate(f);
    std::vector<uint8_t> out;
    out.reserve(s.size() + rows.size() * 400);
    std::vector<size_t> boundPos;
    writeGlobals(out, boundPos);
    std::vector<uint32_t> starts(subs.size());
    for (size_t k = 0; k < subs.size(); ++k) {
        starts[k] = static_cast<uint32_t>(out.size());
        if (k == activeSub) writeSheet(out);
        else copySheet(out, subs[k]);
    }
    out.insert(out.end(), s.begin() + trailing, s.end());
    for (size_t i = 0; i < boundPos.size() && i < subOfBound.size(); ++i)
        if (subOfBound[i] >= 0) put32(&out[boundPos[i]], starts[static_cast<size_t>(subOfBound[i])]);
    return out;
}

/* ------------------------------------------------------------------------------------- */
/*  Public interface                                                                     */
/* ------------------------------------------------------------------------------------- */

XlsWorkbook::XlsWorkbook(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
XlsWorkbook::~XlsWorkbook() = default;
XlsWorkbook::XlsWorkbook(XlsWorkbook&&) noexcept = default;
XlsWorkbook& XlsWorkbook::operator=(XlsWorkbook&&) noexcept = default;

XlsWorkbook::XlsWorkbook(const std::vector<uint8_t>& fileBytes, const std::string& displayName,
                         char decimalSep)
    : impl_(std::make_unique<Impl>()) {
    impl_->name = displayName;
    impl_->sep = decimalSep;
    impl_->load(fileBytes);
}

XlsWorkbook XlsWorkbook::fromStream(const std::vector<uint8_t>& stream, const std::string& displayName,
                                    char decimalSep) {
    auto impl = std::make_unique<Impl>();
    impl->name = displayName;
    impl->sep = decimalSep;
    impl->file.root.name = "Root Entry";
    impl->file.root.storage = true;
    impl->file.root.children.push_back({"Workbook", false, {}, {}, {}});
    impl->streamName = "Workbook";
    impl->s = stream;
    impl->loadStream();
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

std::vector<uint8_t> XlsWorkbook::workbookStream() { return impl_->build(); }

void XlsWorkbook::saveTo(const std::filesystem::path& path) {
    // the built stream takes the template's place for the write, then gives it back
    CompoundEntry* wb = impl_->file.find(impl_->streamName);
    std::vector<uint8_t> built = impl_->build();
    std::swap(wb->data, built);
    try {
        writeCompoundFile(impl_->file, path);
    } catch (...) {
        std::swap(wb->data, built);
        throw;
    }
    std::swap(wb->data, built);
}

std::vector<uint8_t> XlsWorkbook::save() {
    CompoundFile out = impl_->file;
    CompoundEntry* wb = out.find(impl_->streamName);
    wb->data = impl_->build();
    return writeCompoundFile(out);
}

}  // namespace talvira::xls
