// The workbook writer at record level: formula tokens, references, cell records, the template
// checks, determinism and the output file names.
#include "common/AtomicFile.h"
#include "common/Error.h"
#include "export/EstimateExport.h"
#include "export/XlsContainer.h"
#include "export/XlsFormula.h"
#include "export/XlsRecords.h"
#include "export/XlsWorkbook.h"
#include "tests/export/EstimatePositions.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& h) {
    Bytes out;
    std::string digits;
    for (char c : h)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X", x);
        s += buf;
    }
    return s;
}

fs::path templ() { return fixture("templates/1.xls"); }

/* ---- formulas --------------------------------------------------------------------- */

TEST(XlsFormula, TokensOfTheEstimateFormulas) {
    struct Case { const char* text; char sep; const char* tokens; } cases[] = {
        {"=E12*F12", ',', "44 0B00 04C0 44 0B00 05C0 05"},
        {"=СУММ(K12:K14)", ',', "25 0B00 0D00 0AC0 0AC0 42 01 0400"},
        {"=сумм(K12:K14)", ',', "25 0B00 0D00 0AC0 0AC0 42 01 0400"},
        {"=SUM(K12:K14)", '.', "25 0B00 0D00 0AC0 0AC0 42 01 0400"},
        {"=D16/100*(L15+O15)", ',', "44 0F00 03C0 1E 6400 06 44 0E00 0BC0 44 0E00 0EC0 03 15 05"},
        {"=K16+K15", ',', "44 0F00 0AC0 44 0E00 0AC0 03"},
        {"=K21/100*D22", ',', "44 1400 0AC0 1E 6400 06 44 1500 03C0 05"},
        {"=K25*E26", ',', "44 1800 0AC0 44 1900 04C0 05"},
        {"=0", ',', "1E 0000"},
        {"=СУММ($A$1:B2;2,5)", ',', "25 0000 0100 0000 01C0 1F 0000000000000440 42 02 0400"},
        {"=SUM(A1,B$2)", '.', "24 0000 00C0 24 0100 0140 42 02 0400"},
        {"=-A1^2-1,5", ',', "44 0000 00C0 13 1E 0200 07 1F 000000000000F83F 04"},
        {"=СУММ(K14:K12)", ',', "25 0B00 0D00 0AC0 0AC0 42 01 0400"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toHex(xls::compileFormula(c.text, c.sep)), toHex(hex(c.tokens))) << c.text;
}

TEST(XlsFormula, RefusesWhatItDoesNotKnow) {
    for (const char* text : {"=", "=A1+", "=(A1", "=ФУНК(A1)", "=A65537", "=IW1", "=2.5", "=A1 B1", "=СУММ()"})
        EXPECT_THROW(xls::compileFormula(text, ','), Error) << text;
}

TEST(XlsFormula, CellReferences) {
    struct Case { const char* text; bool ok; int row, col; } cases[] = {
        {"A1", true, 0, 0}, {"K12", true, 11, 10}, {"Q14", true, 13, 16}, {"IV65536", true, 65535, 255},
        {"$B$3", true, 2, 1}, {"IW1", false, 0, 0}, {"A0", false, 0, 0}, {"A65537", false, 0, 0},
        {"12", false, 0, 0}, {"A", false, 0, 0}, {"A1B", false, 0, 0},
    };
    for (const Case& c : cases) {
        xls::CellRef r;
        EXPECT_EQ(xls::parseCellRef(c.text, r), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(r, (xls::CellRef{c.row, c.col})) << c.text;
        }
    }
    EXPECT_EQ(xls::cellName(11, 10), "K12");
    EXPECT_EQ(xls::cellName(0, 26), "AA1");
}

TEST(XlsFormula, Evaluation) {
    std::map<std::pair<int, int>, xls::CellValue> cells;
    auto num = [](double d) { xls::CellValue v; v.kind = xls::CellValue::Kind::Number; v.number = d; return v; };
    auto text = [](const char* t) { xls::CellValue v; v.kind = xls::CellValue::Kind::Text; v.text = t; return v; };
    cells[{0, 0}] = num(10);        // A1
    cells[{1, 0}] = text("2,5");    // A2
    cells[{2, 0}] = text("abc");    // A3
    xls::CellValue err;             // A5
    err.kind = xls::CellValue::Kind::Error;
    err.error = xls::CellError::NA;
    cells[{4, 0}] = err;
    auto lookup = [&](int r, int c) {
        auto it = cells.find({r, c});
        return it == cells.end() ? xls::CellValue{} : it->second;
    };
    struct Case { const char* f; bool isError; double value; xls::CellError error; } cases[] = {
        {"=A1*A2", false, 25, {}},
        {"=A1+A4", false, 10, {}},                       // an empty cell is 0
        {"=A1*A3", true, 0, xls::CellError::Value},      // text that is no number
        {"=СУММ(A1:A4)", false, 10, {}},                 // the sum skips text
        {"=A1/A4", true, 0, xls::CellError::Div0},
        {"=A5+1", true, 0, xls::CellError::NA},
        {"=A2/100*(A1+A1)", false, 0.5, {}},
        {"=-(A1-4)^2", false, 36, {}},             // the sign binds before the power
    };
    for (const Case& c : cases) {
        xls::FormulaValue v = xls::evaluateFormula(xls::compileFormula(c.f, ','), lookup, ',');
        EXPECT_EQ(v.isError, c.isError) << c.f;
        if (c.isError) {
            EXPECT_EQ(v.error, c.error) << c.f;
        } else {
            EXPECT_DOUBLE_EQ(v.number, c.value) << c.f;
        }
    }
}

/* ---- records ---------------------------------------------------------------------- */

struct Record {
    uint16_t id;
    Bytes data;
};

std::vector<Record> records(const Bytes& stream) {
    std::vector<Record> out;
    size_t p = 0;
    while (p + 4 <= stream.size()) {
        const uint16_t id = xls::biff::u16(&stream[p]);
        const uint16_t len = xls::biff::u16(&stream[p + 2]);
        if (p + 4 + len > stream.size()) break;
        out.push_back({id, Bytes(stream.begin() + static_cast<long>(p) + 4, stream.begin() + static_cast<long>(p) + 4 + len)});
        p += 4 + len;
    }
    return out;
}

/** The record of the cell (row, col), 0-based. */
const Record* cellRecord(const std::vector<Record>& recs, int row, int col) {
    for (const Record& r : recs)
        if ((r.id == xls::biff::LABELSST || r.id == xls::biff::NUMBER || r.id == xls::biff::RK ||
             r.id == xls::biff::FORMULA || r.id == xls::biff::BLANK) &&
            r.data.size() >= 6 && xls::biff::u16(&r.data[0]) == row && xls::biff::u16(&r.data[2]) == col)
            return &r;
    return nullptr;
}

TEST(XlsWorkbook, CellRecords) {
    xls::XlsWorkbook wb = xls::XlsWorkbook::open(templ(), ',');
    EXPECT_EQ(wb.activeSheetName(), "Смета");
    wb.setNumber({39, 4}, 7);       // E40
    wb.setNumber({39, 5}, 1.5);     // F40
    wb.setText({39, 2}, "Бетон");   // C40
    wb.setText({40, 2}, "Бетон");   // C41, the same string
    wb.setFormula({39, 10}, "=E40*F40");
    wb.setFormula({40, 10}, "=C40*2");
    const std::vector<Record> recs = records(wb.workbookStream());

    const Record* rk = cellRecord(recs, 39, 4);
    ASSERT_TRUE(rk);
    EXPECT_EQ(rk->id, xls::biff::RK);
    EXPECT_EQ(toHex(Bytes(rk->data.begin() + 6, rk->data.end())), "1E000000");  // 7 << 2 | 2

    const Record* number = cellRecord(recs, 39, 5);
    ASSERT_TRUE(number);
    EXPECT_EQ(number->id, xls::biff::NUMBER);
    EXPECT_EQ(xls::biff::f64(&number->data[6]), 1.5);

    const Record* a = cellRecord(recs, 39, 2);
    const Record* b = cellRecord(recs, 40, 2);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->id, xls::biff::LABELSST);
    EXPECT_EQ(Bytes(a->data.begin() + 6, a->data.end()), Bytes(b->data.begin() + 6, b->data.end()));

    const Record* f = cellRecord(recs, 39, 10);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->id, xls::biff::FORMULA);
    EXPECT_EQ(xls::biff::f64(&f->data[6]), 10.5);                  // the computed result
    EXPECT_EQ(xls::biff::u16(&f->data[14]), 0x0001);               // fAlwaysCalc
    EXPECT_EQ(toHex(Bytes(f->data.begin() + 20, f->data.end())), "0B00" "44270004C0442700" "05C005");

    const Record* bad = cellRecord(recs, 40, 10);                 // text that is no number
    ASSERT_TRUE(bad);
    EXPECT_EQ(toHex(Bytes(bad->data.begin() + 6, bad->data.begin() + 14)), "02000F000000FFFF");  // #VALUE!

    // one ROW per row, DIMENSIONS grown to the new cells
    int rows40 = 0;
    for (const Record& r : recs)
        if (r.id == xls::biff::ROW && xls::biff::u16(&r.data[0]) == 39) ++rows40;
    EXPECT_EQ(rows40, 1);
    for (const Record& r : recs)
        if (r.id == xls::biff::DIMENSIONS) {
            EXPECT_GE(xls::biff::u32(&r.data[4]), 41u);
        }
}

TEST(XlsWorkbook, BigStringTableGoesOnInContinueRecords) {
    xls::XlsWorkbook wb = xls::XlsWorkbook::open(templ(), ',');
    for (int i = 0; i < 3000; ++i) wb.setText({100 + i, 2}, "Строка номер " + std::to_string(i) + " сметы");
    const std::vector<Record> recs = records(wb.workbookStream());
    size_t sst = 0;
    while (sst < recs.size() && recs[sst].id != xls::biff::SST) ++sst;
    ASSERT_LT(sst, recs.size());
    size_t continues = 0;
    for (size_t i = sst + 1; i < recs.size() && recs[i].id == xls::biff::CONTINUE; ++i) {
        EXPECT_LE(recs[i].data.size(), xls::biff::kMaxRecordData);
        ++continues;
    }
    EXPECT_GE(continues, 10u);
    EXPECT_EQ(xls::biff::u32(&recs[sst].data[4]), 29u + 3000u);  // unique strings
    ASSERT_EQ(recs[sst + continues + 1].id, xls::biff::EXTSST);
}

TEST(XlsWorkbook, SameInputSameBytesAndOtherSheetsKept) {
    const fs::path many = fixture("real/xls/12843-1.xls");
    auto fill = [&](const fs::path& p) {
        xls::XlsWorkbook wb = xls::XlsWorkbook::open(p, ',');
        wb.setText({1, 0}, "Генеральный директор ");
        wb.setFormula({14, 10}, "=СУММ(K12:K14)");
        wb.addBorders({9, 0}, {13, 16});
        return wb;
    };
    xls::XlsWorkbook a = fill(many), b = fill(many);
    const Bytes fa = a.save();
    EXPECT_EQ(fa, b.save());
    // every sheet but the active one keeps its bytes
    const xls::CompoundFile in = xls::readCompoundFile(xls::readWholeFile(many, "x"), "in");
    const xls::CompoundFile out = xls::readCompoundFile(fa, "out");
    const Bytes& si = in.find("Workbook")->data;
    const Bytes& so = out.find("Workbook")->data;
    std::vector<size_t> starts;
    auto sheets = [&starts](const Bytes& s) {
        std::vector<Bytes> subs;
        size_t p = 0, begin = 0;
        int depth = 0;
        while (p + 4 <= s.size()) {
            const uint16_t id = xls::biff::u16(&s[p]), len = xls::biff::u16(&s[p + 2]);
            if (id == xls::biff::BOF && depth++ == 0) begin = p;
            p += 4 + len;
            if (id == xls::biff::EOF_ && --depth == 0) {
                subs.emplace_back(s.begin() + static_cast<long>(begin), s.begin() + static_cast<long>(p));
                starts.push_back(begin);
            }
            if (depth < 0) break;
        }
        return subs;
    };
    const auto si2 = sheets(si);
    const std::vector<size_t> startsIn = starts;
    starts.clear();
    const auto so2 = sheets(so);
    const std::vector<size_t> startsOut = starts;
    ASSERT_EQ(si2.size(), so2.size());
    ASSERT_GT(si2.size(), 24u);  // globals, 23 sheets and the charts' own substreams
    // The other sheets keep every byte but their INDEX, whose stream offsets follow the sheet.
    auto indexed = [](const Bytes& sub, size_t start) {
        std::vector<uint32_t> offsets;
        for (size_t p = 0; p + 4 <= sub.size(); p += 4 + xls::biff::u16(&sub[p + 2]))
            if (xls::biff::u16(&sub[p]) == xls::biff::INDEX)
                for (size_t k = 12; k + 4 <= xls::biff::u16(&sub[p + 2]); k += 4) {
                    const uint32_t v = xls::biff::u32(&sub[p + 4 + k]);
                    offsets.push_back(v == 0 ? 0 : v - static_cast<uint32_t>(start));
                }
        return offsets;
    };
    auto without = [](Bytes sub) {
        for (size_t p = 0; p + 4 <= sub.size(); p += 4 + xls::biff::u16(&sub[p + 2]))
            if (xls::biff::u16(&sub[p]) == xls::biff::INDEX)
                std::fill(sub.begin() + static_cast<long>(p) + 4 + 12,
                          sub.begin() + static_cast<long>(p) + 4 + xls::biff::u16(&sub[p + 2]), 0);
        return sub;
    };
    size_t changed = 0;
    for (size_t k = 1; k < si2.size(); ++k) {
        if (without(si2[k]) != without(so2[k])) {
            ++changed;
            continue;
        }
        EXPECT_EQ(indexed(si2[k], startsIn[k]), indexed(so2[k], startsOut[k])) << "sheet " << k;
    }
    EXPECT_EQ(changed, 1u);  // the active sheet alone
    // streams other than the workbook are carried over unchanged
    for (const auto& e : in.root.children)
        if (e.name != "Workbook" && !e.storage) {
            ASSERT_TRUE(out.find(e.name)) << e.name;
            EXPECT_EQ(out.find(e.name)->data, e.data) << e.name;
        }
}

/* ---- templates that cannot serve -------------------------------------------------- */

TEST(XlsWorkbook, UnusableTemplatesGiveClearErrors) {
    TempDir dir("talvira-xls");
    const fs::path garbage = dir / "garbage.xls";
    std::ofstream(garbage) << "это не книга";
    xls::CompoundFile biff5;
    biff5.root.storage = true;
    Bytes book = hex("0908 0800 0005 0500 0000 0000");  // BOF of a BIFF5 workbook
    book.resize(600, 0);
    biff5.root.children.push_back({"Book", false, {}, book, {}});
    const fs::path old = dir / "old.xls";
    {
        Bytes b = xls::writeCompoundFile(biff5);
        std::ofstream(old, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
    }
    xls::CompoundFile biff7 = biff5;
    biff7.root.children[0].name = "Workbook";
    biff7.root.children[0].data = hex("0908 1000 0005 1000 0000 0000 0000 0000 0000 0000");  // BOF version 5
    const fs::path old2 = dir / "old2.xls";
    {
        Bytes b = xls::writeCompoundFile(biff7);
        std::ofstream(old2, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
    }
    struct Case { fs::path path; const char* words; } cases[] = {
        {dir / "none.xls", "не найден"},
        {dir.path(), "папкой"},
        {garbage, "не является книгой Excel"},
        {old, "BIFF5"},
        {old2, "старом формате"},
    };
    for (const Case& c : cases) {
        try {
            xls::XlsWorkbook::open(c.path, ',');
            ADD_FAILURE() << c.path;
        } catch (const Error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(c.words), std::string::npos) << m;
            EXPECT_NE(m.find(c.path.string()), std::string::npos) << m;
        }
    }
}

TEST(XlsWorkbook, DamagedOrLockedStreamsGiveClearErrors) {
    const std::string bof = "0908 1000 0006 0500 0000 0000 0000 0000 0000 0000";  // BIFF8 globals
    struct Case { const char* name; std::string stream; const char* words; } cases[] = {
        {"empty", "", "поток книги пуст"},
        {"password", bof + " 2F00 0600 0100 0000 0000 0A00 0000", "защищён паролем"},
        {"no end", bof + " 4200 0200 B004", "запись за концом потока"},
        {"no sheets", bof + " 0A00 0000", "нет листов"},
        {"cut record", bof + " 4200 0800 B004", "запись за концом потока"},
    };
    for (const Case& c : cases) {
        try {
            xls::XlsWorkbook::fromStream(hex(c.stream), "шаблон.xls", ',');
            ADD_FAILURE() << c.name;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("шаблон.xls"), std::string::npos) << c.name;
        }
    }
}

/* ---- output files ----------------------------------------------------------------- */

TEST(XlsOutput, NamesNeverReplaceAnEarlierWorkbook) {
    TempDir dir("talvira-xls");
    EXPECT_EQ(xls::workbookPathFor("Дом", dir.path()), dir / "Смета Дом.xls");
    EXPECT_EQ(xls::workbookPathFor("a/b", dir.path()), dir / "Смета a_b.xls");
    EXPECT_EQ(writeFileAtomically(dir / "Смета Дом.xls", "1", true, "книгу"), dir / "Смета Дом.xls");
    // the free name is chosen by the write itself, in one step with it (tests/common/AtomicFileTest.cpp)
    EXPECT_EQ(xls::workbookPathFor("Дом", dir.path()), dir / "Смета Дом.xls");
}

TEST(XlsOutput, NothingIsWrittenWhenTheExportFails) {
    TempDir dir("talvira-xls");
    struct Case { const char* name; fs::path templ; const char* koef; const char* words; } cases[] = {
        {"missing template", dir / "нет.xls", "2,18", "не найден"},
        {"coefficient", templ(), "2.18", "'2.18' is not a valid floating point value"},
    };
    for (const Case& c : cases) {
        model::EstimateTexts texts = model::EstimateTexts::defaults(',');
        texts.currentPriceFactor = c.koef;
        bool opened = false;
        try {
            xls::exportEstimateToFile(threePositions(), texts, c.templ.string(), dir / "Смета.xls", ',',
                                      [&](const fs::path&) { opened = true; });
            ADD_FAILURE() << c.name;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_FALSE(opened) << c.name;
        EXPECT_TRUE(fs::is_empty(dir.path())) << c.name;
    }
}

TEST(XlsOutput, TheOpenerGetsTheFinishedFile) {
    TempDir dir("talvira-xls");
    fs::path seen;
    const fs::path written = xls::exportEstimateToFile(threePositions(), model::EstimateTexts::defaults(','), templ().string(), dir / "Смета Дом.xls", ',',
                                                       [&](const fs::path& p) { seen = p; });
    EXPECT_EQ(written, dir / "Смета Дом.xls");
    EXPECT_EQ(seen, written);
    EXPECT_NO_THROW(xls::XlsWorkbook::open(written, ','));  // a workbook that reads as a template again
}

}  // namespace
}  // namespace talvira::test
