#include "export/XlsTemplateReader.h"

#include "common/TextFold.h"

#include <algorithm>

namespace talvira::xls {

using namespace biff;

/* ------------------------------------------------------------------------------------- */
/*  Private functions                                                                    */
/* ------------------------------------------------------------------------------------- */

namespace {

constexpr uint16_t FILEPASS = 0x002F;
constexpr uint16_t COLINFO = 0x007D;

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

void splitStream(WorkbookData& w) {
    const size_t n = w.s.size();
    auto readRec = [&](size_t pos, Rec& r) {
        if (pos + 4 > n) return false;
        r.id = u16(&w.s[pos]);
        r.len = u16(&w.s[pos + 2]);
        r.pos = static_cast<uint32_t>(pos + 4);
        if (pos + 4 + r.len > n) return false;
        return true;
    };
    if (n > 0xFFFFFFF0u) w.damaged("слишком большой поток книги");
    size_t pos = 0;
    Rec r{};
    if (!readRec(0, r)) w.damaged("поток книги пуст");
    if (r.id == BOF && r.len >= 2 && u16(&w.s[r.pos]) == kBiff5Version)
        throw Error("Шаблон «" + w.name + "» записан в старом формате Excel 5.0/95 (BIFF5); нужна книга "
                    "Excel 97–2003 (BIFF8): сохраните шаблон в этом формате");
    if (r.id == BOF_BIFF2 || r.id == BOF_BIFF3 || r.id == BOF_BIFF4 || (r.id == BOF && r.len >= 2 && u16(&w.s[r.pos]) != kBiff8Version) ||
        (r.id == BOF && r.len < 2))
        throw Error("Шаблон «" + w.name + "» записан в старом формате Excel; нужна книга Excel 97–2003 (BIFF8): "
                    "сохраните шаблон в этом формате");
    if (r.id != BOF || r.len < 4 || u16(&w.s[r.pos + 2]) != kDtGlobals)
        w.damaged("поток книги начинается не с заголовка книги");
    // w.globals: BOF .. EOF
    for (;;) {
        if (!readRec(pos, r)) w.damaged("запись за концом потока");
        w.globals.push_back(r);
        pos = r.pos + r.len;
        if (r.id == EOF_) break;
        if (r.id == FILEPASS)
            throw Error("Шаблон «" + w.name + "» защищён паролем; снимите защиту книги");
    }
    // sheets: BOF .. matching EOF, nested substreams included
    while (pos + 4 <= n) {
        if (!readRec(pos, r) || r.id != BOF) break;
        const uint32_t begin = static_cast<uint32_t>(pos);
        int depth = 0;
        for (;;) {
            if (!readRec(pos, r)) w.damaged("лист оборван (нет записи конца листа)");
            pos = r.pos + r.len;
            if (r.id == BOF) ++depth;
            else if (r.id == EOF_ && --depth == 0) break;
        }
        w.subs.push_back({begin, static_cast<uint32_t>(pos)});
        if (w.subs.size() > 65535) w.damaged("слишком много листов");
    }
    w.trailing = static_cast<uint32_t>(pos);
}

void readSst(WorkbookData& w, size_t at) {
    std::vector<std::pair<const uint8_t*, size_t>> segs;
    segs.push_back({&w.s[w.globals[at].pos], w.globals[at].len});
    for (size_t k = at + 1; k < w.globals.size() && w.globals[k].id == CONTINUE; ++k)
        segs.push_back({&w.s[w.globals[k].pos], w.globals[k].len});
    SstReader rd(std::move(segs), w.name);
    w.sstTotal = rd.dword();
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
        if (ext > w.s.size()) rd.damaged();
        rd.bytes(ext, str.ext);
        w.sst.push_back(std::move(str));
    }
}

void readGlobals(WorkbookData& w) {
    int itabCur = 0;
    for (size_t i = 0; i < w.globals.size(); ++i) {
        const Rec& r = w.globals[i];
        const uint8_t* d = &w.s[r.pos];
        switch (r.id) {
        case WINDOW1:
            if (r.len >= 12) itabCur = u16(d + 10);
            break;
        case BOUNDSHEET: {
            if (r.len < 8) w.damaged("запись листа (BOUNDSHEET) короче положенного");
            w.boundRecs.push_back(i);
            const uint32_t at = u32(d);
            int sub = -1;
            for (size_t k = 0; k < w.subs.size(); ++k)
                if (w.subs[k].begin == at) sub = static_cast<int>(k);
            w.subOfBound.push_back(sub);
            // ShortXLUnicodeString: cch, flags, characters
            const size_t cch = d[6];
            const bool high = d[7] & 1;
            std::u16string nm;
            for (size_t k = 0; k < cch; ++k) {
                const size_t off = 8 + k * (high ? 2 : 1);
                if (off + (high ? 2 : 1) > r.len) break;
                nm += high ? static_cast<char16_t>(u16(d + off)) : static_cast<char16_t>(d[off]);
            }
            w.sheetNames.push_back(utf16ToUtf8(nm));
            break;
        }
        case XF:
            if (r.len < 20) w.damaged("запись формата ячейки (XF) короче положенного");
            w.xfs.emplace_back();
            std::copy(d, d + 20, w.xfs.back().begin());
            w.lastXfRec = i;
            break;
        case SST:
            readSst(w, i);
            break;
        default:
            break;
        }
    }
    w.templateXfs = w.xfs.size();
    if (w.boundRecs.empty()) w.damaged("в книге нет листов");
    // A w.sheet whose recorded offset does not match takes the substream of its place.
    for (size_t k = 0; k < w.subOfBound.size(); ++k)
        if (w.subOfBound[k] < 0 && k < w.subs.size()) w.subOfBound[k] = static_cast<int>(k);
    if (itabCur < 0 || static_cast<size_t>(itabCur) >= w.boundRecs.size())
        w.damaged("активный лист (WINDOW1) указывает на несуществующий лист");
    w.active = itabCur;
    const Rec& bs = w.globals[w.boundRecs[static_cast<size_t>(w.active)]];
    const int sub = w.subOfBound[static_cast<size_t>(w.active)];
    if (sub < 0) w.damaged("не найдено начало активного листа");
    w.activeSub = static_cast<size_t>(sub);
    const uint8_t dt = w.s[bs.pos + 5];
    const WorkbookData::Sub& sb = w.subs[w.activeSub];
    const uint16_t bofDt = (u16(&w.s[sb.begin + 2]) >= 4) ? u16(&w.s[sb.begin + 4 + 2]) : 0;
    if (dt != 0 || bofDt != kDtWorksheet)
        throw Error("Активный лист «" + w.sheetNames[static_cast<size_t>(w.active)] + "» шаблона «" + w.name +
                    "» не является листом с ячейками (это диаграмма или макрос)");
}


void readActiveSheet(WorkbookData& w) {
    const WorkbookData::Sub& sb = w.subs[w.activeSub];
    size_t pos = sb.begin;
    int depth = 0;
    while (pos < sb.end) {
        Rec r{u16(&w.s[pos]), static_cast<uint32_t>(pos + 4), u16(&w.s[pos + 2])};
        w.sheet.push_back(r);
        pos = r.pos + r.len;
        if (r.id == BOF) ++depth;
        else if (r.id == EOF_) --depth;
        (void)depth;
    }
    // The cell table: from the first ROW or cell record to the last cell-table record, at the
    // w.sheet'w.s own level (records of embedded charts never count).
    size_t first = SIZE_MAX, last = 0;
    depth = 0;
    for (size_t i = 0; i < w.sheet.size(); ++i) {
        const Rec& r = w.sheet[i];
        if (r.id == BOF) { ++depth; continue; }
        if (r.id == EOF_) { --depth; continue; }
        if (depth != 1) continue;
        const uint8_t* d = &w.s[r.pos];
        if (r.id == COLINFO && r.len >= 8) w.colInfos.push_back({u16(d), u16(d + 2), u16(d + 6)});
        if (r.id == DEFAULTROWHEIGHT && r.len >= 4) w.defaultRowHeight = u16(d + 2);
        if (first == SIZE_MAX && (r.id == ROW || isCellRecord(r.id))) first = i;
        if (first != SIZE_MAX && isCellTableRecord(r.id)) last = i;
    }
    if (first == SIZE_MAX) {
        // No cells yet: the table goes after DIMENSIONS, else before WINDOW2, else before EOF.
        size_t at = w.sheet.size() - 1;
        for (size_t i = 0; i < w.sheet.size(); ++i) {
            if (w.sheet[i].id == DIMENSIONS) { at = i + 1; break; }
            if (w.sheet[i].id == WINDOW2) { at = i; break; }
        }
        w.cellBegin = w.cellEnd = at;
        return;
    }
    w.cellBegin = first;
    w.cellEnd = last + 1;

    Cell* current = nullptr;
    int currentRow = -1;
    for (size_t i = w.cellBegin; i < w.cellEnd; ++i) {
        const Rec& r = w.sheet[i];
        const uint8_t* d = &w.s[r.pos];
        if (r.id == ROW) {
            if (r.len < 16) w.damaged("запись строки (ROW) короче положенного");
            Row& row = w.rowAt(u16(d));
            row.hasRec = true;
            std::copy(d, d + 16, row.rec.begin());
            current = nullptr;
        } else if (r.id == DBCELL) {
            current = nullptr;
        } else if (isCellRecord(r.id)) {
            if (r.len < 6) w.damaged("запись ячейки короче положенного");
            Cell c;
            c.col = c.colLast = u16(d + 2);
            if (r.id == MULBLANK || r.id == MULRK) {
                const size_t per = r.id == MULBLANK ? 2 : 6;
                if (r.len < 6 + per) w.damaged("запись ячеек (MULBLANK/MULRK) короче положенного");
                c.colLast = u16(d + r.len - 2);
                if (c.colLast < c.col || 6 + per * (c.colLast - c.col + 1u) != r.len)
                    w.damaged("запись ячеек (MULBLANK/MULRK) не сходится по длине");
            }
            if (c.col >= kMaxCols || c.colLast >= kMaxCols) w.damaged("ячейка за пределами листа");
            c.kind = CellKind::Raw;
            c.ref = static_cast<uint32_t>(w.raws.size());
            w.raws.emplace_back(w.s.begin() + r.pos - 4, w.s.begin() + r.pos + r.len);
            currentRow = u16(d);
            Row& row = w.rowAt(currentRow);
            row.cells.push_back(c);
            current = &row.cells.back();
        } else {
            // STRING, SHRFMLA, ARRAY, TABLE, CONTINUE and strays travel with the cell before them.
            std::vector<uint8_t>& to = current ? w.raws[current->ref] : w.orphans;
            to.insert(to.end(), w.s.begin() + r.pos - 4, w.s.begin() + r.pos + r.len);
        }
    }
    (void)currentRow;
    for (Row& row : w.rows)
        std::stable_sort(row.cells.begin(), row.cells.end(),
                         [](const Cell& a, const Cell& b) { return a.col < b.col; });
}

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Public functions                                                                     */
/* ------------------------------------------------------------------------------------- */

void readTemplateFile(WorkbookData& w, const std::vector<uint8_t>& bytes) {
    w.file = readCompoundFile(bytes, w.name);
    // The workbook stream is "Workbook" (BIFF8) or "Book" (BIFF5, and some writers of BIFF8),
    // in any letter case; which format it holds is decided by its BOF record, not by its name.
    // A file with both carries a BIFF8 "Workbook" beside a BIFF5 copy: the first is the one.
    CompoundEntry* wb = nullptr;
    CompoundEntry* book = nullptr;
    for (CompoundEntry& e : w.file.root.children) {
        if (e.storage) continue;
        if (equalFolded(e.name, "workbook") && !wb) wb = &e;
        if (equalFolded(e.name, "book") && !book) book = &e;
    }
    if (!wb) wb = book;
    if (!wb) throw Error("Файл «" + w.name + "» не является книгой Excel 97–2003: в нём нет потока Workbook");
    // the workbook written from it always calls its stream "Workbook"
    wb->name = "Workbook";
    w.streamName = wb->name;
    w.s = wb->data;
    readTemplateStream(w);
}

void readTemplateStream(WorkbookData& w) {
    splitStream(w);
    readGlobals(w);
    readActiveSheet(w);
}

}  // namespace talvira::xls
