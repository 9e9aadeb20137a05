// The export's sequence of spreadsheet and table operations, recorded.
#include "tests/export/RecordingSpreadsheet.h"

#include <gtest/gtest.h>

#include "common/NumberText.h"

#include <algorithm>

namespace talvira::test {
namespace {

struct ExportRun {
    CallLog log;
    std::map<std::string, std::string> cells;
    int finalPosition = -1;
    std::string error;
};

ExportRun runExport(std::vector<Position> rows, xls::EstimateTexts texts = xls::EstimateTexts::defaults(','), int current = 0,
              char sep = ',') {
    ExportRun run;
    RecordingSpreadsheet sheet(run.log);
    RecordingTable table(run.log, std::move(rows), current);
    try {
        xls::exportEstimate(table, texts, sheet, "/base/1.xls", sep);
    } catch (const Error& e) {
        run.error = e.what();
    }
    run.cells = sheet.cells;
    run.finalPosition = table.position();
    return run;
}

size_t indexOf(const CallLog& log, const std::string& call) {
    auto it = std::find(log.calls.begin(), log.calls.end(), call);
    return it == log.calls.end() ? SIZE_MAX : static_cast<size_t>(it - log.calls.begin());
}

TEST(ExportSequence, WorkedExampleWithThreePositions) {
    ExportRun run = runExport(threePositions());
    ASSERT_EQ(run.error, "");
    struct { const char* cell; const char* content; } expected[] = {
        {"A2", "text Генеральный директор "}, {"O2", "text Генеральный директор "},
        {"C5", "text "}, {"P5", "text "}, {"E3", "text Локальная смета №1"},
        {"A12", "int 1"}, {"B12", "text ТЕР01-01-001-01"}, {"D12", "text 1000 м3"},
        {"E12", "double 2"}, {"F12", "double 100"}, {"G12", "double 250"}, {"H12", "double 20"},
        {"I12", "double 10"}, {"J12", "double 50"}, {"K12", "formula =E12*F12"},
        {"L12", "formula =E12*G12"}, {"M12", "formula =E12*H12"}, {"N12", "formula =E12*I12"},
        {"O12", "formula =E12*J12"}, {"P12", "double 1.5"}, {"Q12", "formula =E12*P12"},
        {"A13", "int 2"}, {"C13", "text Бетонная подготовка\nпод фундаменты"},
        {"A14", "int 3"}, {"E14", "double 0"}, {"K14", "formula =E14*F14"},
        {"C15", "text Итого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) "},
        {"K15", "formula =СУММ(K12:K14)"}, {"L15", "formula =СУММ(L12:L14)"},
        {"M15", "formula =СУММ(M12:M14)"}, {"N15", "formula =СУММ(N12:N14)"},
        {"O15", "formula =СУММ(O12:O14)"}, {"Q15", "formula =СУММ(Q12:Q14)"},
        {"C16", "text Накладные расходы (от з/п основной и машиниста)"}, {"D16", "typed 105"},
        {"E16", "text %"}, {"K16", "formula =D16/100*(L15+O15)"},
        {"C17", "text Итого"}, {"K17", "formula =K16+K15"},
        {"C18", "text Плановые накопления (от з/п основной и машиниста)"}, {"D18", "typed 90"},
        {"K18", "formula =D18/100*(L15+O15)"}, {"K19", "formula =K18+K17"},
        {"C20", "text Стесненные условия (от з/п основной и машиниста)"}, {"D20", "typed 12"},
        {"K20", "formula =D20/100*(L15+O15)"}, {"K21", "formula =K20+K19"},
        {"C22", "text Зимнее удорожание"}, {"D22", "typed 20"}, {"K22", "formula =K21/100*D22"},
        {"K23", "formula =K22+K21"},
        {"C24", "text Затраты на временные здания и сооружения"}, {"D24", "typed 10"},
        {"K24", "formula =K23/100*D24"}, {"K25", "formula =K24+K23"},
        {"C26", "text С коэффициентом перехода в текущие цены"}, {"D26", "text K="},
        {"E26", "double 2.18"}, {"K26", "formula =K25*E26"},
        {"C27", "text НДС"}, {"D27", "typed 18"}, {"E27", "text %"}, {"K27", "formula =K26/100*D27"},
        {"C28", "text Итого с НДС"}, {"K28", "formula =K27+K26"},
        {"B31", "text Заказчик"}, {"C31", "text ________"},
        {"O31", "text Подрядчик"}, {"P31", "text ________"},
    };
    for (const auto& e : expected) EXPECT_EQ(run.cells[e.cell], e.content) << e.cell;
    // untouched: P of the totals row, the rows between the block and the signatures
    for (const char* cell : {"P15", "D17", "E17", "A29", "K29", "K30", "A31", "D31", "N31", "Q31"})
        EXPECT_EQ(run.cells.count(cell), 0u) << cell;
    EXPECT_EQ(run.log.calls.back(), "disconnect");
    EXPECT_EQ(run.finalPosition, 0);
}

TEST(ExportSequence, OrderOfOperations) {
    ExportRun run = runExport(threePositions(), xls::EstimateTexts::defaults(','), 2);
    const auto& c = run.log.calls;
    ASSERT_GE(c.size(), 8u);
    EXPECT_EQ(c[0], "connect");
    EXPECT_EQ(c[1], "add /base/1.xls");
    EXPECT_EQ(c[2], "table disable");
    EXPECT_EQ(c[3], "table remember");
    // header cells in the order A2, O2, C5, P5, E3
    const std::vector<std::string> head(c.begin() + 4, c.begin() + 14);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "range A2", "text A2 Генеральный директор ", "range O2", "text O2 Генеральный директор ",
                        "range C5", "text C5 ", "range P5", "text P5 ", "range E3", "text E3 Локальная смета №1"}));
    // a position row: one look-up, seventeen writes and sixteen moves
    const size_t row12 = indexOf(run.log, "range A12"), row13 = indexOf(run.log, "range A13");
    ASSERT_LT(row12, row13);
    EXPECT_EQ(row13 - row12, 34u);
    EXPECT_EQ(std::count(c.begin() + static_cast<long>(row12), c.begin() + static_cast<long>(row13), "next"), 16);
    // the table returns before its display resumes, then the frame, show, disconnect
    const size_t ret = indexOf(run.log, "table return");
    EXPECT_GT(ret, indexOf(run.log, "text P31 ________"));
    EXPECT_EQ(c[ret + 1], "table enable");
    EXPECT_EQ(c[ret + 2], "borders A10:Q14 1");
    EXPECT_EQ(c[ret + 3], "show");
    EXPECT_EQ(c[ret + 4], "disconnect");
    EXPECT_EQ(c.size(), ret + 5);
    EXPECT_EQ(run.finalPosition, 2);
}

TEST(ExportSequence, EstimateSizes) {
    struct Case {
        const char* name;
        size_t positions;
        int totalsRow;
        const char* sumK;
        const char* frame;
        const char* signatureCell;
        bool header;
    } cases[] = {
        {"none", 0, 12, "formula =0", "borders A10:Q11 1", "B28", false},
        {"one", 1, 13, "formula =СУММ(K12:K12)", "borders A10:Q12 1", "B29", true},
        {"three", 3, 15, "formula =СУММ(K12:K14)", "borders A10:Q14 1", "B31", true},
    };
    for (const Case& tc : cases) {
        std::vector<Position> rows = threePositions();
        rows.resize(tc.positions);
        ExportRun run = runExport(rows);
        ASSERT_EQ(run.error, "") << tc.name;
        const std::string T = std::to_string(tc.totalsRow);
        EXPECT_EQ(run.cells["K" + T], tc.sumK) << tc.name;
        EXPECT_EQ(run.cells["K" + std::to_string(tc.totalsRow + 1)],
                  "formula =D" + std::to_string(tc.totalsRow + 1) + "/100*(L" + T + "+O" + T + ")")
            << tc.name;
        EXPECT_NE(indexOf(run.log, tc.frame), SIZE_MAX) << tc.name;
        EXPECT_EQ(run.cells[tc.signatureCell], "text Заказчик") << tc.name;
        for (const char* cell : {"A2", "O2", "C5", "P5", "E3"})
            EXPECT_EQ(run.cells.count(cell), tc.header ? 1u : 0u) << tc.name << " " << cell;
    }
}

TEST(ExportSequence, TextsAreWrittenAsTyped) {
    xls::EstimateTexts texts = xls::EstimateTexts::defaults(',');
    texts.approverPost = "Директор ООО «Стройка»";
    texts.approverName = "Иванов И.И.";
    texts.overheadsPercent = "";
    texts.savingsPercent = "девяносто";
    texts.crampedPercent = "12,5";
    ExportRun run = runExport(threePositions(), texts);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.cells["A2"], "text Директор ООО «Стройка»");
    EXPECT_EQ(run.cells["C5"], "text Иванов И.И.");
    EXPECT_EQ(run.cells["D16"], "typed ");
    EXPECT_EQ(run.cells["D18"], "typed девяносто");
    EXPECT_EQ(run.cells["D20"], "typed 12,5");
}

TEST(ExportSequence, CoefficientThatIsNoNumberStopsAfterCAndDOfItsRow) {
    struct Case { const char* koef; char sep; const char* message; } cases[] = {
        {"2.18", ',', "'2.18' is not a valid floating point value"},
        {"2,18", '.', "'2,18' is not a valid floating point value"},
        {"", ',', "'' is not a valid floating point value"},
    };
    for (const Case& tc : cases) {
        xls::EstimateTexts texts = xls::EstimateTexts::defaults(',');
        texts.currentPriceFactor = tc.koef;
        ExportRun run = runExport(threePositions(), texts, 1, tc.sep);
        EXPECT_EQ(run.error, tc.message);
        const auto& c = run.log.calls;
        const size_t k = indexOf(run.log, "text D26 K=");
        ASSERT_NE(k, SIZE_MAX) << tc.koef;
        EXPECT_NE(indexOf(run.log, "formula K25 =K24+K23"), SIZE_MAX);
        // the move to E, then the failure: the table returns and the display resumes
        ASSERT_EQ(c.size(), k + 4) << tc.koef;
        EXPECT_EQ(c[k + 1], "next");
        EXPECT_EQ(c[k + 2], "table return");
        EXPECT_EQ(c[k + 3], "table enable");
        EXPECT_EQ(run.cells.count("E26"), 0u);
        EXPECT_EQ(run.finalPosition, 1);
    }
}

/** A table whose reads fail at a given position. */
class FailingTable : public RecordingTable {
public:
    FailingTable(CallLog& log, int failAt) : RecordingTable(log, threePositions(), 2), failAt_(failAt) {}
    std::string fieldText(int place) const override {
        if (position() == failAt_) throw Error("Таблица «Дом.db» повреждена");
        return RecordingTable::fieldText(place);
    }

private:
    int failAt_;
};

TEST(ExportSequence, TableFailureReturnsAndResumesAndSkipsTheEnding) {
    CallLog log;
    RecordingSpreadsheet sheet(log);
    FailingTable table(log, 1);
    EXPECT_THROW(xls::exportEstimate(table, xls::EstimateTexts::defaults(','), sheet, "/base/1.xls", ','), Error);
    ASSERT_GE(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[log.calls.size() - 2], "table return");
    EXPECT_EQ(log.calls.back(), "table enable");
    EXPECT_EQ(indexOf(log, "show"), SIZE_MAX);
    EXPECT_EQ(table.position(), 2);
}

TEST(ExportTexts, DefaultsUnderEitherDecimalSeparatorAndControlNames) {
    struct Case { char sep; const char* factor; } cases[] = {{',', "2,18"}, {'.', "2.18"}};
    for (const Case& c : cases) {
        xls::EstimateTexts t = xls::EstimateTexts::defaults(c.sep);
        EXPECT_EQ(t.approverPost, "Генеральный директор ");
        EXPECT_EQ(t.contractorPost, "Генеральный директор ");
        EXPECT_EQ(t.approverName, "");
        EXPECT_EQ(t.contractorName, "");
        EXPECT_EQ(t.title, "Локальная смета №1");
        const std::pair<const char*, const char*> rates[] = {{"NREdit", "105"}, {"PNEdit", "90"},
            {"SUEdit", "12"}, {"ZUEdit", "20"}, {"VZSEdit", "10"}, {"KoefEdit", c.factor}, {"NDSEdit", "18"}};
        for (auto [name, text] : rates) {
            ASSERT_NE(t.byControlName(name), nullptr) << name;
            EXPECT_EQ(*t.byControlName(name), text) << name << " " << c.sep;
        }
        // the default factor reads as a number under the separator it was written with
        EXPECT_DOUBLE_EQ(static_cast<double>(strToFloat(t.currentPriceFactor, c.sep)), 2.18);
    }
    xls::EstimateTexts t = xls::EstimateTexts::defaults(',');
    const std::pair<const char*, std::string xls::EstimateTexts::*> names[] = {
        {"UTVEdit", &xls::EstimateTexts::approverPost}, {"FUEdit", &xls::EstimateTexts::approverName},
        {"SOGLEdit", &xls::EstimateTexts::contractorPost}, {"FSEdit", &xls::EstimateTexts::contractorName},
        {"NAMEEdit", &xls::EstimateTexts::title}, {"NREdit", &xls::EstimateTexts::overheadsPercent},
        {"PNEdit", &xls::EstimateTexts::savingsPercent}, {"SUEdit", &xls::EstimateTexts::crampedPercent},
        {"ZUEdit", &xls::EstimateTexts::winterPercent}, {"VZSEdit", &xls::EstimateTexts::temporaryPercent},
        {"KoefEdit", &xls::EstimateTexts::currentPriceFactor}, {"NDSEdit", &xls::EstimateTexts::vatPercent}};
    for (auto [name, member] : names) EXPECT_EQ(t.byControlName(name), &(t.*member)) << name;
    EXPECT_EQ(t.byControlName("Edit1"), nullptr);
    EXPECT_EQ(t.byControlName("nredit"), nullptr);
}

}  // namespace
}  // namespace talvira::test
