// The totals and charges block computed in the program against the workbook that the export
// writes for the same estimate and texts: the results the workbook carries for its formulas
// (bit for bit), Gnumeric's recalculation (ssconvert --recalc) and LibreOffice's (headless,
// flat ODF), to 1e-9 relative. What may differ: nothing but the last bits of sums, since
// LibreOffice adds with a compensated summation.
#include "tests/e2e/Workbook.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/TotalsFollower.h"
#include "editing/EstimateRows.h"
#include "estimate/EstimateFile.h"
#include "export/EstimateExport.h"
#include "export/EstimateTotals.h"
#include "export/XlsRecords.h"
#include "export/XlsWorkbook.h"

#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using storage::TableHandle;
using storage::Value;
using xls::BlockAmount;

/** A position as typed; nothing means the field stays empty. */
struct Typed {
    std::optional<double> kolvo, stoim, osnzp, mater, explmash, zpmash, trud;
};

struct Case {
    std::string name;
    std::vector<Typed> positions;
    std::map<std::string, std::string> texts;  // control name -> text, over the defaults
    char sep = ',';
};

std::vector<Case> cases() {
    const std::vector<Typed> three = {
        {2, 100, 250, 20, 10, 50, 1.5},
        {4, 80, 125, 10, 5, 25, 2},
        {0, 500, 0, 500, 0, 0, 0},
    };
    return {
        {"worked-example", three, {}, ','},
        {"worked-example-point", three, {{"KoefEdit", "2.18"}}, '.'},
        {"no-positions", {}, {}, ','},
        {"empty-and-zero-quantities",
         {{std::nullopt, 10, 5, 3, 2, 1, 0.5}, {0, 20, 7, 1, 1, 1, 1}, {3, std::nullopt, 4, std::nullopt, 1, 2, std::nullopt},
          {1.5, 2, 3, 4, 5, 6, 7}},
         {},
         ','},
        {"negative-values",
         {{-2, 150.5, 40, 10, -3, 7, 1.25}, {3, -20, -15.75, 4, 2, -1.5, -0.5}, {1, 1000, 300, 50, 25, 12, 3}},
         {{"NREdit", "-10"}},
         ','},
        {"fifteen-digits",
         {{123456.789012345, 987.654321098765, 12.3456789012345, 0.123456789012345, 9876.54321098765,
           1.23456789012345, 45.6789012345678},
          {0.000123456789012345, 123456789012.345, 98765.4321098765, 1.11111111111111, 2.22222222222222,
           3.33333333333333, 4.44444444444444},
          {7.77777777777777, 0.1, 0.2, 0.3, 0.7, 0.9, 1.1}},
         {{"KoefEdit", "2,18181818181818"}, {"NDSEdit", "18,3333333333333"}},
         ','},
        {"rates-with-blanks",
         three,
         {{"NREdit", " 105"}, {"PNEdit", "90  "}, {"SUEdit", "  12,5  "}, {"KoefEdit", " 2,18 "}, {"NDSEdit", "\t18"}},
         ','},
        {"empty-rate", three, {{"PNEdit", ""}, {"ZUEdit", ""}}, ','},
        {"rate-not-a-number", three, {{"ZUEdit", "двадцать"}}, ','},
        {"first-rate-not-a-number", three, {{"NREdit", "abc"}}, '.'},
    };
}

void fill(TableHandle& smeta, const Case& c) {
    estimate::bindEstimate(smeta, "/mem/Smeti", c.name);
    estimate::createAndOpen(smeta);
    for (const Typed& p : c.positions) {
        smeta.append();
        smeta.setFieldValue("TAB", Value::string("T"));
        const std::pair<const char*, std::optional<double>> fields[] = {
            {"KOLVO", p.kolvo},   {"STOIM", p.stoim},   {"OSNZP", p.osnzp}, {"MATER", p.mater},
            {"EXPLMASH", p.explmash}, {"ZPMASH", p.zpmash}, {"TRUD", p.trud}};
        for (const auto& [name, v] : fields)
            if (v) smeta.setFieldValue(name, Value::real(*v));
        smeta.post();
    }
    smeta.first();
}

model::EstimateTexts textsOf(const Case& c) {
    model::EstimateTexts t = model::EstimateTexts::defaults(c.sep);
    for (const auto& [control, text] : c.texts) *t.byControlName(control) = text;
    return t;
}

/** The stored positions as the totals read them. */
std::vector<model::PositionRow> positionRows(TableHandle& smeta) {
    editing::TotalsFollower f(smeta, model::nrSpTables());
    f.setFollowing(true);
    return f.rows();
}

fs::path templatePath() { return fixture("templates/1.xls"); }

/** The export of the estimate's positions, as the window's "Excel" walks them, into `out`; the
 *  results the workbook carries for its formula cells, by A1 name. */
std::map<std::string, BlockAmount> exportWorkbook(TableHandle& smeta, const model::EstimateTexts& texts, char sep,
                                                  const fs::path& out) {
    xls::XlsWorkbook wb = xls::XlsWorkbook::open(templatePath(), sep);
    xls::writeEstimate(wb, editing::readPositionRows(smeta), texts, sep);
    wb.saveTo(out);
    // FORMULA records of the workbook stream: rw, col, ixfe, then the 8-byte result, which
    // holds a double unless its last two bytes are FFFF (then byte 0 tells the kind: 2 error).
    const std::vector<uint8_t> s = wb.workbookStream();
    std::map<std::string, BlockAmount> cached;
    size_t i = 0;
    while (i + 4 <= s.size()) {
        const uint16_t id = uint16_t(s[i] | s[i + 1] << 8);
        const uint16_t len = uint16_t(s[i + 2] | s[i + 3] << 8);
        const uint8_t* d = s.data() + i + 4;
        if (id == 0x0006 && len >= 14 && i + 4 + len <= s.size()) {
            const int row = d[0] | d[1] << 8, col = d[2] | d[3] << 8;
            BlockAmount a;
            if (d[12] == 0xFF && d[13] == 0xFF) {
                a = d[6] == 2 ? BlockAmount::errorValue(static_cast<xls::CellError>(d[8])) : BlockAmount{};
            } else {
                double v;
                std::memcpy(&v, d + 6, 8);
                a = BlockAmount::number(v);
            }
            cached[xls::cellName(row, col)] = a;
        }
        i += 4 + len;
    }
    return cached;
}

std::string describe(const BlockAmount& a) {
    switch (a.kind) {
    case BlockAmount::Kind::Number: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", a.value);
        return buf;
    }
    case BlockAmount::Kind::Error: return xls::errorName(a.error, false);
    case BlockAmount::Kind::Failure: return "failure: " + a.message;
    case BlockAmount::Kind::None: return "none";
    }
    return "?";
}

/** What a spreadsheet shows in a cell: a number or an error name. */
::testing::AssertionResult sameAmount(const BlockAmount& ours, const QString& theirs, const std::string& where) {
    if (ours.kind == BlockAmount::Kind::Error) {
        if (theirs == QString::fromStdString(xls::errorName(ours.error, false))) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << where << ": ours " << describe(ours) << ", theirs «"
                                             << theirs.toStdString() << "»";
    }
    bool ok = false;
    const double v = theirs.toDouble(&ok);
    if (ours.kind != BlockAmount::Kind::Number || !ok)
        return ::testing::AssertionFailure() << where << ": ours " << describe(ours) << ", theirs «"
                                             << theirs.toStdString() << "»";
    const double scale = std::max(std::fabs(ours.value), std::fabs(v));
    if (std::fabs(ours.value - v) <= 1e-9 * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << where << ": ours " << describe(ours) << ", theirs " << theirs.toStdString();
}

/** The columns of the block: K for every row, L..O and Q for the totals row. */
const std::pair<int, const char*> kSumColumns[] = {{1, "L"}, {2, "M"}, {3, "N"}, {4, "O"}, {5, "Q"}};

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

/** Everything made once for all cases: the workbooks and both spreadsheets' readings. */
struct Made {
    Case c;
    model::EstimateTexts texts;
    xls::EstimateTotals totals, walked;
    std::map<std::string, BlockAmount> cached;
    fs::path workbook;
    std::string exportError;
};

class TotalsCross : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir("talvira-totals-cross");
        made_ = new std::vector<Made>;
        fs::create_directories(dir_->path() / "xls");
        MemoryTables mem;
        for (const Case& c : cases()) {
            Made m;
            m.c = c;
            m.texts = textsOf(c);
            TableHandle smeta("SmetaTable");
            fill(smeta, c);
            // the window's reading of the positions; the export and talvira-cli walk the table
            m.totals = xls::computeTotals(positionRows(smeta), m.texts, c.sep);
            m.walked = xls::computeTotals(editing::readPositionRows(smeta), m.texts, c.sep);
            m.workbook = dir_->path() / "xls" / (c.name + ".xls");
            try {
                m.cached = exportWorkbook(smeta, m.texts, c.sep, m.workbook);
            } catch (const std::exception& e) {
                m.exportError = e.what();
            }
            made_->push_back(std::move(m));
        }
        sheetName_ = new std::string(xls::XlsWorkbook::open(templatePath(), ',').activeSheetName());
        if (haveTool("soffice")) {
            // one start of LibreOffice for all workbooks, in a locale that surely exists
            const std::string lo = "LC_ALL=C.UTF-8 LANG=C.UTF-8 timeout 300 soffice --headless --norestore "
                                   "-env:UserInstallation=file://" + (dir_->path() / "lo-profile").string() +
                                   " --convert-to fods --outdir " + quoted(dir_->path() / "lo") + " " +
                                   quoted(dir_->path() / "xls") + "/*.xls >/dev/null 2>&1";
            haveLo_ = std::system(lo.c_str()) == 0;
        }
        if (haveTool("ssconvert")) {
            haveGnm_ = true;
            for (const Made& m : *made_) {
                if (!m.exportError.empty()) continue;
                const std::string cmd = "LC_ALL=C.UTF-8 LANG=C.UTF-8 timeout 60 ssconvert --recalc "
                                        "-T Gnumeric_stf:stf_assistant -O 'sheet=\"" + *sheetName_ +
                                        "\" format=raw' " + quoted(m.workbook) + " " +
                                        quoted(dir_->path() / (m.c.name + ".csv")) + " >/dev/null 2>&1";
                haveGnm_ = haveGnm_ && std::system(cmd.c_str()) == 0;
            }
        }
    }
    static void TearDownTestSuite() {
        delete made_;
        delete sheetName_;
        delete dir_;
    }

    /** Row T of the sheet: the row whose column C holds the totals caption. */
    static int totalsRow(const std::vector<QStringList>& rows) {
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].size() > 2 && rows[i][2].startsWith(QStringLiteral("Итого по смете"))) return int(i);
        return -1;
    }

    static TempDir* dir_;
    static std::vector<Made>* made_;
    static std::string* sheetName_;
    static bool haveLo_, haveGnm_;
};

TempDir* TotalsCross::dir_ = nullptr;
std::vector<Made>* TotalsCross::made_ = nullptr;
std::string* TotalsCross::sheetName_ = nullptr;
bool TotalsCross::haveLo_ = false;
bool TotalsCross::haveGnm_ = false;

TEST_F(TotalsCross, TheWorkbookCarriesTheSameResultsBitForBit) {
    for (const Made& m : *made_) {
        ASSERT_EQ(m.exportError, "") << m.c.name;
        for (size_t i = 0; i < m.totals.lines.size(); ++i)
            EXPECT_EQ(describe(m.walked.lines[i].amount), describe(m.totals.lines[i].amount)) << m.c.name << " " << i;
        const int T = 12 + int(m.c.positions.size());
        for (const xls::BlockLine& line : m.totals.lines) {
            const std::string ref = "K" + std::to_string(T + line.row->offset);
            ASSERT_TRUE(m.cached.count(ref)) << m.c.name << " " << ref;
            EXPECT_EQ(describe(m.cached.at(ref)), describe(line.amount)) << m.c.name << " " << ref;
        }
        for (auto [c, col] : kSumColumns) {
            const std::string ref = col + std::to_string(T);
            EXPECT_EQ(describe(m.cached.at(ref)), describe(m.totals.totals.sums[size_t(c)])) << m.c.name << " " << ref;
        }
    }
}

TEST_F(TotalsCross, GnumericRecalculatesTheSameBlock) {
    if (!haveGnm_) GTEST_SKIP() << "ssconvert is not installed or failed";
    for (const Made& m : *made_) {
        QFile f(QString::fromStdString((dir_->path() / (m.c.name + ".csv")).string()));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << m.c.name;
        const std::vector<QStringList> rows = e2e::parseCsv(QString::fromUtf8(f.readAll()));
        const int t = totalsRow(rows);
        ASSERT_GE(t, 0) << m.c.name;
        ASSERT_GE(int(rows.size()), t + 14) << m.c.name;
        for (const xls::BlockLine& line : m.totals.lines) {
            const QStringList& row = rows[size_t(t + line.row->offset)];
            EXPECT_EQ(row.value(2).toStdString(), line.row->caption) << m.c.name;
            EXPECT_TRUE(sameAmount(line.amount, row.value(10), m.c.name + " K" + std::to_string(line.row->offset)));
        }
        for (auto [c, col] : kSumColumns) {
            const int column = col[0] - 'A';
            EXPECT_TRUE(sameAmount(m.totals.totals.sums[size_t(c)], rows[size_t(t)].value(column),
                                   m.c.name + " " + col + "T"));
        }
    }
}

TEST_F(TotalsCross, LibreOfficeRecalculatesTheSameBlock) {
    if (!haveLo_) GTEST_SKIP() << "soffice is not installed or failed";
    for (const Made& m : *made_) {
        const auto sheets = e2e::readFods(QString::fromStdString((dir_->path() / "lo" / (m.c.name + ".fods")).string()));
        const e2e::Sheet* sheet = nullptr;
        for (const e2e::Sheet& s : sheets)
            if (s.name == QString::fromStdString(*sheetName_)) sheet = &s;
        ASSERT_TRUE(sheet) << m.c.name;
        const int T = 12 + int(m.c.positions.size());
        auto shown = [&](const std::string& ref) {
            const e2e::Cell* cell = sheet->at(QString::fromStdString(ref));
            if (!cell) return QStringLiteral("(empty)");
            if (cell->type == QLatin1String("float")) return QString::number(cell->value, 'g', 17);
            return cell->text;
        };
        for (const xls::BlockLine& line : m.totals.lines) {
            const std::string ref = "K" + std::to_string(T + line.row->offset);
            const e2e::Cell* caption = sheet->at(QString::fromStdString("C" + std::to_string(T + line.row->offset)));
            ASSERT_TRUE(caption) << m.c.name;
            EXPECT_EQ(caption->text.toStdString(), line.row->caption) << m.c.name;
            EXPECT_TRUE(sameAmount(line.amount, shown(ref), m.c.name + " " + ref));
        }
        for (auto [c, col] : kSumColumns) {
            const std::string ref = col + std::to_string(T);
            EXPECT_TRUE(sameAmount(m.totals.totals.sums[size_t(c)], shown(ref), m.c.name + " " + ref));
        }
    }
}

TEST(Totals, AFactorThatIsNoNumberFailsAsTheExportDoes) {
    MemoryTables mem;
    for (const auto& [factor, sep] : {std::pair<const char*, char>{"2.18", ','}, {"2,18", '.'}, {"", ','}, {"К", ','}}) {
        Case c{"factor", {{2, 100, 250, 20, 10, 50, 1.5}}, {{"KoefEdit", factor}}, sep};
        TableHandle smeta("SmetaTable");
        fill(smeta, c);
        const model::EstimateTexts texts = textsOf(c);
        const xls::EstimateTotals totals = xls::computeTotals(positionRows(smeta), texts, sep);
        TempDir dir("talvira-totals-factor");
        std::string exportError;
        try {
            exportWorkbook(smeta, texts, sep, dir.path() / "x.xls");
        } catch (const Error& e) {
            exportError = e.what();
        }
        EXPECT_EQ(exportError, "'" + std::string(factor) + "' is not a valid floating point value");
        EXPECT_EQ(totals.lines[11].amount.kind, BlockAmount::Kind::Failure) << factor;
        EXPECT_EQ(totals.lines[11].amount.message, exportError) << factor;
        // The rows above stand as with any factor; nothing below is written.
        c.texts["KoefEdit"] = "1";
        const xls::EstimateTotals good = xls::computeTotals(positionRows(smeta), textsOf(c), sep);
        for (int r = 0; r <= 10; ++r)
            EXPECT_EQ(describe(totals.lines[size_t(r)].amount), describe(good.lines[size_t(r)].amount)) << r;
        EXPECT_EQ(totals.lines[12].amount.kind, BlockAmount::Kind::None);
        EXPECT_EQ(totals.lines[13].amount.kind, BlockAmount::Kind::None);
    }
}

}  // namespace
}  // namespace talvira::test
