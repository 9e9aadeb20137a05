// Whole workbooks made from every template under the fixtures, read back by two independent
// readers: LibreOffice (headless, flat ODF) and Gnumeric (ssconvert, with and without
// recalculation). What may legitimately differ from the template: the cells the export writes
// and the borders of the frame A10:Q14.
#include "export/EstimateExport.h"
#include "export/XlsFormula.h"
#include "export/XlsContainer.h"
#include "export/XlsTemplateReader.h"
#include "export/XlsWorkbook.h"
#include "tests/export/EstimatePositions.h"
#include "tests/export/SheetReadBack.h"
#include "tests/support/TestPaths.h"

#include <QFile>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <regex>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

/* ---- flat ODF as LibreOffice writes it ---------------------------------------------- */

struct OdsCell {
    std::string content;  // value or text
    std::string formula;
    std::string style;
    int colSpan = 1, rowSpan = 1;
    bool covered = false;
};

struct OdsSheet {
    std::map<std::pair<int, int>, OdsCell> cells;  // (row, col), 0-based
    std::map<std::string, std::string> borders;    // style → "left|right|top|bottom"
    std::map<int, std::string> columnStyles;
    bool found = false;

    std::string borderOf(int r, int c) const {
        std::string style;
        auto it = cells.find({r, c});
        if (it != cells.end()) style = it->second.style;
        if (style.empty()) {
            auto cs = columnStyles.find(c);
            if (cs != columnStyles.end()) style = cs->second;
        }
        auto b = borders.find(style);
        return b == borders.end() ? "none|none|none|none" : b->second;
    }
};

constexpr int kMaxRows = 400, kMaxCols = 40;

OdsSheet readFods(const fs::path& file, const std::string& sheetName) {
    OdsSheet sheet;
    QFile f(QString::fromStdString(file.string()));
    if (!f.open(QIODevice::ReadOnly)) return sheet;
    QXmlStreamReader x(&f);
    struct StyleInfo { std::string parent; std::map<std::string, std::string> props; };
    std::map<std::string, StyleInfo> styles;
    std::string currentStyle;
    bool inTable = false;
    int row = -1, col = 0, rowRepeat = 1;
    OdsCell* cell = nullptr;
    std::string text;
    int depthP = 0, paragraphs = 0;
    while (!x.atEnd()) {
        x.readNext();
        const auto name = x.qualifiedName().toString().toStdString();
        if (x.isStartElement()) {
            auto attr = [&](const char* a) { return x.attributes().value(QString(a)).toString().toStdString(); };
            if (name == "style:style") {
                currentStyle = attr("style:name");
                styles[currentStyle].parent = attr("style:parent-style-name");
            } else if (name == "style:table-cell-properties") {
                for (const char* a : {"fo:border", "fo:border-left", "fo:border-right", "fo:border-top", "fo:border-bottom"})
                    if (x.attributes().hasAttribute(QString(a))) styles[currentStyle].props[a] = attr(a);
            } else if (name == "table:table") {
                inTable = attr("table:name") == sheetName;
                sheet.found = sheet.found || inTable;
                row = -1;
            } else if (inTable && name == "table:table-column") {
                const int n = std::max(1, std::atoi(attr("table:number-columns-repeated").c_str()));
                const std::string st = attr("table:default-cell-style-name");
                for (int i = 0; i < n && col < kMaxCols; ++i) sheet.columnStyles[col++] = st;
            } else if (inTable && name == "table:table-row") {
                row += rowRepeat;
                rowRepeat = std::max(1, std::atoi(attr("table:number-rows-repeated").c_str()));
                col = 0;
            } else if (inTable && (name == "table:table-cell" || name == "table:covered-table-cell")) {
                const int n = std::max(1, std::atoi(attr("table:number-columns-repeated").c_str()));
                OdsCell c;
                c.covered = name == "table:covered-table-cell";
                c.style = attr("table:style-name");
                c.formula = attr("table:formula");
                c.content = attr("office:value");
                if (!attr("table:number-columns-spanned").empty()) c.colSpan = std::atoi(attr("table:number-columns-spanned").c_str());
                if (!attr("table:number-rows-spanned").empty()) c.rowSpan = std::atoi(attr("table:number-rows-spanned").c_str());
                cell = nullptr;
                for (int rr = 0; rr < std::min(rowRepeat, 2); ++rr)
                    for (int i = 0; i < n && col + i < kMaxCols; ++i)
                        if (row + rr < kMaxRows) {
                            sheet.cells[{row + rr, col + i}] = c;
                            if (rr == 0 && i == 0) cell = &sheet.cells[{row, col}];
                        }
                col += n;
                text.clear();
                depthP = 0;
                paragraphs = 0;
            } else if (cell && name == "text:p") {
                if (paragraphs++ > 0) text += "\n";
                ++depthP;
            } else if (cell && name == "text:s") {
                text += std::string(std::max(1, std::atoi(attr("text:c").c_str())), ' ');
            } else if (cell && name == "text:line-break") {
                text += "\n";
            } else if (cell && name == "text:tab") {
                text += "\t";
            }
        } else if (x.isCharacters() && cell && depthP > 0) {
            text += x.text().toString().toStdString();
        } else if (x.isEndElement()) {
            if (name == "table:table") inTable = false;
            if (name == "text:p" && depthP > 0) --depthP;
            if (cell && (name == "table:table-cell" || name == "table:covered-table-cell")) {
                if (cell->content.empty()) cell->content = text;
                cell = nullptr;
            }
        }
        if (row > kMaxRows) inTable = false;
    }
    // borders of every cell style, parents followed
    for (const auto& [nm, st] : styles) {
        std::string sides[4];
        const char* names[4] = {"fo:border-left", "fo:border-right", "fo:border-top", "fo:border-bottom"};
        for (int i = 0; i < 4; ++i) {
            std::string s = nm;
            for (int hop = 0; hop < 8 && !s.empty(); ++hop) {
                const auto& p = styles[s].props;
                if (p.count(names[i])) { sides[i] = p.at(names[i]); break; }
                if (p.count("fo:border")) { sides[i] = p.at("fo:border"); break; }
                s = styles[s].parent;
            }
            if (sides[i].empty()) sides[i] = "none";
        }
        sheet.borders[nm] = sides[0] + "|" + sides[1] + "|" + sides[2] + "|" + sides[3];
    }
    return sheet;
}

/* ---- CSV as Gnumeric writes it --------------------------------------------------- */

std::vector<std::vector<std::string>> readCsv(const fs::path& p) {
    const std::string s = slurp(p);
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool inQuotes = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < s.size() && s[i + 1] == '"') { field += '"'; ++i; }
            else if (c == '"') inQuotes = false;
            else field += c;
        } else if (c == '"') {
            inQuotes = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.empty()) rows.back().push_back(field);
    return rows;
}

/** A cell of the CSV by its sheet reference. Gnumeric leaves out empty rows above the first
 *  used one, so the rows are found from the caption of the totals row (C15). */
std::string csvCell(const std::vector<std::vector<std::string>>& g, const char* ref) {
    xls::CellRef r;
    if (!xls::parseCellRef(ref, r)) return "?";
    int shift = 0;
    for (size_t i = 0; i < g.size(); ++i)
        if (g[i].size() > 2 && g[i][2].rfind("Итого по смете", 0) == 0) {
            shift = 14 - static_cast<int>(i);
            break;
        }
    r.row -= shift;
    if (r.row < 0) return "";
    if (static_cast<size_t>(r.row) >= g.size() || static_cast<size_t>(r.col) >= g[static_cast<size_t>(r.row)].size()) return "";
    return g[static_cast<size_t>(r.row)][static_cast<size_t>(r.col)];
}

/** ssconvert's messages without process ids and times. */
std::set<std::string> messages(const fs::path& log) {
    std::set<std::string> out;
    std::istringstream in(slurp(log));
    std::string line;
    while (std::getline(in, line)) {
        // "(ssconvert:123): gnumeric:read-WARNING **: 17:39:52.666: text" → "text"
        static const std::regex stamp(R"(^.*\*\*: [0-9:.]+: )");
        line = std::regex_replace(line, stamp, "");
        if (!line.empty()) out.insert(line);
    }
    return out;
}

/* ---- the exports ------------------------------------------------------------------ */

struct Made {
    fs::path templ, out;
    std::string sheet;
    std::string error;
};

class ExportFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir("talvira-export-file");
        // what the export writes, by cell: laid over an empty sheet, every cell but the
        // frame's empty ones (rows 10 and 11) is the export's own
        xls::XlsWorkbook empty = xls::XlsWorkbook::fromStream(emptyWorkbookStream(), "пустой.xls", ',');
        xls::writeEstimate(empty, threePositions(), model::EstimateTexts::defaults(','), ',');
        written_ = new std::map<std::string, std::string>;
        for (const auto& [ref, cell] : readBack(empty.workbookStream()).cells) {
            xls::CellRef at;
            xls::parseCellRef(ref, at);
            if (cell.content == "blank" && at.row >= 9 && at.row <= 10) continue;
            (*written_)[ref] = cell.content;
        }

        made_ = new std::vector<Made>;
        std::vector<fs::path> templates;
        for (const char* sub : {"templates", "real/xls"})
            for (const fs::path& t : filesUnder(fixture(sub), ".xls")) templates.push_back(t);
        fs::create_directories(dir_->path() / "out");
        for (const fs::path& t : templates) {
            Made m;
            m.templ = t;
            m.out = dir_->path() / "out" / (t.parent_path().filename().string() + "-" + t.filename().string());
            try {
                xls::exportEstimateToFile(threePositions(), model::EstimateTexts::defaults(','), t.string(), m.out, ',', {}, false);
                xls::XlsWorkbook wb = xls::XlsWorkbook::open(t, ',');
                m.sheet = wb.activeSheetName();
            } catch (const std::exception& e) {
                m.error = e.what();
            }
            made_->push_back(m);
        }
        haveLo_ = haveTool("soffice");
        haveGnm_ = haveTool("ssconvert");
        if (haveLo_) {
            // two batches, one start of LibreOffice each (ssconvert below runs under C.UTF-8: in a
            // decimal-comma locale it writes "600,8" into its CSV)
            std::string in, out;
            for (const Made& m : *made_)
                if (m.error.empty()) {
                    in += " " + quoted(m.templ);
                    out += " " + quoted(m.out);
                }
            const std::string lo = "timeout 300 soffice --headless -env:UserInstallation=file://" +
                                   (dir_->path() / "lo-profile").string() + " --convert-to fods --outdir ";
            std::system((lo + quoted(dir_->path() / "lo-in") + in + " >/dev/null 2>&1").c_str());
            std::system((lo + quoted(dir_->path() / "lo-out") + out + " >/dev/null 2>&1").c_str());
        }
        if (haveGnm_) {
            for (const Made& m : *made_) {
                if (m.error.empty() == false) continue;
                const std::string opts = " -T Gnumeric_stf:stf_assistant -O 'sheet=\"" + m.sheet + "\" format=raw' ";
                const std::string stem = m.out.stem().string();
                std::system(("LC_ALL=C.UTF-8 LANG=C.UTF-8 timeout 60 ssconvert --recalc" + opts + quoted(m.out) + " " +
                             quoted(dir_->path() / (stem + ".recalc.csv")) + " 2>" +
                             quoted(dir_->path() / (stem + ".out.log")) + " >/dev/null").c_str());
                std::system(("LC_ALL=C.UTF-8 LANG=C.UTF-8 timeout 60 ssconvert" + opts + quoted(m.out) + " " +
                             quoted(dir_->path() / (stem + ".cached.csv")) + " 2>/dev/null >/dev/null").c_str());
                std::system(("LC_ALL=C.UTF-8 LANG=C.UTF-8 timeout 60 ssconvert --recalc" + opts + quoted(m.templ) + " " +
                             quoted(dir_->path() / (stem + ".templ.csv")) + " 2>" +
                             quoted(dir_->path() / (stem + ".templ.log")) + " >/dev/null").c_str());
            }
        }
    }
    static void TearDownTestSuite() {
        delete made_;
        delete written_;
        delete dir_;
    }

    static TempDir* dir_;
    static std::vector<Made>* made_;
    static std::map<std::string, std::string>* written_;
    static bool haveLo_, haveGnm_;
};

TempDir* ExportFile::dir_ = nullptr;
std::vector<Made>* ExportFile::made_ = nullptr;
std::map<std::string, std::string>* ExportFile::written_ = nullptr;
bool ExportFile::haveLo_ = false;
bool ExportFile::haveGnm_ = false;

/** Expected recalculated values with three positions and the default rates. */
const std::pair<const char*, double> kValues[] = {
    {"K12", 200}, {"L12", 500}, {"O12", 100}, {"Q12", 3}, {"K13", 320}, {"Q13", 8},
    {"K14", 0}, {"L14", 0}, {"M14", 0}, {"N14", 0}, {"O14", 0}, {"Q14", 0},
    {"K15", 520}, {"L15", 1000}, {"M15", 80}, {"N15", 40}, {"O15", 200}, {"Q15", 11},
    {"D16", 105}, {"K16", 1260}, {"K17", 1780}, {"K18", 1080}, {"K19", 2860}, {"K20", 144},
    {"K21", 3004}, {"K22", 600.8}, {"K23", 3604.8}, {"K24", 360.48}, {"K25", 3965.28},
    {"E26", 2.18}, {"K26", 8644.3104}, {"D27", 18}, {"K27", 1555.975872}, {"K28", 10200.286272},
};

TEST_F(ExportFile, EveryTemplateGivesAWorkbook) {
    ASSERT_GE(made_->size(), 19u);
    for (const Made& m : *made_) {
        EXPECT_EQ(m.error, "") << m.templ;
        EXPECT_TRUE(fs::exists(m.out)) << m.out;
    }
}

TEST_F(ExportFile, GnumericReadsTheValuesRecalculatedAndCached) {
    if (!haveGnm_) GTEST_SKIP() << "ssconvert is not installed";
    for (const Made& m : *made_) {
        if (!m.error.empty()) continue;
        const std::string stem = m.out.stem().string();
        const auto recalc = readCsv(dir_->path() / (stem + ".recalc.csv"));
        const auto cached = readCsv(dir_->path() / (stem + ".cached.csv"));
        for (auto [ref, v] : kValues) {
            const std::string r = csvCell(recalc, ref), c = csvCell(cached, ref);
            EXPECT_NEAR(std::atof(r.c_str()), v, 1e-6) << stem << " " << ref << " «" << r << "»";
            EXPECT_NEAR(std::atof(c.c_str()), v, 1e-6) << stem << " cached " << ref << " «" << c << "»";
        }
        EXPECT_EQ(csvCell(recalc, "C13"), "Бетонная подготовка\nпод фундаменты") << stem;
        EXPECT_EQ(csvCell(recalc, "A2"), "Генеральный директор ") << stem;
        EXPECT_EQ(csvCell(recalc, "C5"), "") << stem;  // the empty name empties the cell
        EXPECT_EQ(csvCell(recalc, "O31"), "Подрядчик") << stem;
        // no complaint that the template itself does not draw
        const std::set<std::string> before = messages(dir_->path() / (stem + ".templ.log"));
        for (const std::string& msg : messages(dir_->path() / (stem + ".out.log")))
            EXPECT_TRUE(before.count(msg)) << stem << ": " << msg;
    }
}

TEST_F(ExportFile, LibreOfficeReadsFormulasBordersAndTheTemplateUnchanged) {
    if (!haveLo_) GTEST_SKIP() << "soffice is not installed";
    const std::pair<const char*, const char*> formulas[] = {
        {"K12", "of:=[.E12]*[.F12]"}, {"Q12", "of:=[.E12]*[.P12]"}, {"K15", "of:=SUM([.K12:.K14])"},
        {"Q15", "of:=SUM([.Q12:.Q14])"}, {"K16", "of:=[.D16]/100*([.L15]+[.O15])"},
        {"K17", "of:=[.K16]+[.K15]"}, {"K22", "of:=[.K21]/100*[.D22]"}, {"K26", "of:=[.K25]*[.E26]"},
        {"K28", "of:=[.K27]+[.K26]"},
    };
    for (const Made& m : *made_) {
        if (!m.error.empty()) continue;
        const OdsSheet in = readFods(dir_->path() / "lo-in" / (m.templ.stem().string() + ".fods"), m.sheet);
        const OdsSheet out = readFods(dir_->path() / "lo-out" / (m.out.stem().string() + ".fods"), m.sheet);
        ASSERT_TRUE(in.found && out.found) << m.templ;
        auto at = [&](const OdsSheet& s, const char* ref) {
            xls::CellRef r;
            xls::parseCellRef(ref, r);
            auto it = s.cells.find({r.row, r.col});
            return it == s.cells.end() ? OdsCell{} : it->second;
        };
        const std::string name = m.templ.filename().string();
        for (auto [ref, f] : formulas) EXPECT_EQ(at(out, ref).formula, f) << name << " " << ref;
        for (auto [ref, v] : kValues)
            EXPECT_NEAR(std::atof(at(out, ref).content.c_str()), v, 1e-6) << name << " " << ref;
        EXPECT_EQ(at(out, "A2").content, "Генеральный директор ") << name;
        EXPECT_EQ(at(out, "C13").content, "Бетонная подготовка\nпод фундаменты") << name;

        for (int r = 0; r < kMaxRows; ++r)
            for (int c = 0; c < kMaxCols; ++c) {
                const std::string ref = xls::cellName(r, c);
                const bool inFrame = r >= 9 && r <= 13 && c <= 16;
                auto ic = in.cells.find({r, c});
                auto oc = out.cells.find({r, c});
                const OdsCell a = ic == in.cells.end() ? OdsCell{} : ic->second;
                const OdsCell b = oc == out.cells.end() ? OdsCell{} : oc->second;
                // merges stay; template content stays where the export writes nothing
                EXPECT_EQ(a.colSpan, b.colSpan) << name << " " << ref;
                EXPECT_EQ(a.rowSpan, b.rowSpan) << name << " " << ref;
                if (!written_->count(ref)) {
                    // a template formula over cells the export fills may compute another value
                    if (a.formula.empty()) {
                        EXPECT_EQ(a.content, b.content) << name << " " << ref;
                    }
                    EXPECT_EQ(a.formula, b.formula) << name << " " << ref;
                }
                // the frame has a line on every edge; elsewhere borders are the template's
                const std::string border = out.borderOf(r, c);
                if (inFrame) {
                    if (!b.covered) {
                        EXPECT_EQ(border.find("none"), std::string::npos) << name << " " << ref << " " << border;
                    }
                } else {
                    EXPECT_EQ(border, in.borderOf(r, c)) << name << " " << ref;
                }
            }
    }
}


TEST(BundledTemplate, TheCodeColumnHoldsThePrefixedCodesWhole) {
    // "ФЕР08-01-00…": 2.2 cm held twelve characters. The longest prefixed code,
    // "ГЭСНмр01-01-002-05", is 96.9 pt wide in the template's 10-point Arial (Liberation Sans),
    // 17.9 times its "0" (5.41 pt); a column is measured in "0"s, with a few pixels' margin.
    const fs::path file = testDataDir().parent_path().parent_path() / "data" / "template" / "1.xls";
    xls::WorkbookData w;
    w.name = file.string();
    xls::readTemplateFile(w, xls::readWholeFile(file, "Шаблон"));
    std::optional<double> codeWidth;  // column B, in "0"s
    for (const xls::Rec& r : w.sheet) {
        if (r.id != 0x007D || r.len < 8) continue;  // COLINFO: first, last, width in 1/256 of a "0"
        const auto u16 = [&](size_t at) { return unsigned(w.s[r.pos + at]) | unsigned(w.s[r.pos + at + 1]) << 8; };
        if (u16(0) <= 1 && 1 <= u16(2)) codeWidth = u16(4) / 256.0;
    }
    ASSERT_TRUE(codeWidth);
    EXPECT_GE(*codeWidth, 19.0);
}

}  // namespace
}  // namespace talvira::test
