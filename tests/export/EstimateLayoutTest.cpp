// The estimate laid over a sheet, read back cell by cell from the records the writer produced.
// The template is an empty worksheet, so every cell record comes from the export.
#include "common/Error.h"
#include "common/NumberText.h"
#include "export/ChargeBlock.h"
#include "export/EstimateExport.h"
#include "tests/export/EstimatePositions.h"
#include "tests/export/SheetReadBack.h"

#include <gtest/gtest.h>

#include <limits>

namespace talvira::test {
namespace {

struct Layout {
    SheetReadBack sheet;
    std::string error;
};

Layout layOut(const std::vector<model::PositionRow>& rows,
              const model::EstimateTexts& texts = model::EstimateTexts::defaults(','), char sep = ',') {
    Layout out;
    xls::XlsWorkbook wb = xls::XlsWorkbook::fromStream(emptyWorkbookStream(), "пустой.xls", sep);
    try {
        xls::writeEstimate(wb, rows, texts, sep);
    } catch (const Error& e) {
        out.error = e.what();
        return out;
    }
    out.sheet = readBack(wb.workbookStream());
    return out;
}

std::string text(const std::string& t) { return "text " + t; }
std::string num(const char* v) { return std::string("number ") + v; }

TEST(EstimateLayout, WorkedExampleWithThreePositions) {
    const Layout run = layOut(threePositions());
    ASSERT_EQ(run.error, "");
    const SheetReadBack& s = run.sheet;
    const std::pair<const char*, std::string> expected[] = {
        {"A2", text("Генеральный директор ")}, {"O2", text("Генеральный директор ")},
        {"C5", "blank"}, {"P5", "blank"}, {"E3", text("Локальная смета №1")},
        {"A12", num("1")}, {"B12", text("ТЕР01-01-001-01")}, {"C12", text("Разработка грунта экскаватором")},
        {"D12", text("1000 м3")}, {"E12", num("2")}, {"F12", num("100")}, {"G12", num("250")},
        {"H12", num("20")}, {"I12", num("10")}, {"J12", num("50")}, {"K12", formulaOf("=E12*F12")},
        {"L12", formulaOf("=E12*G12")}, {"M12", formulaOf("=E12*H12")}, {"N12", formulaOf("=E12*I12")},
        {"O12", formulaOf("=E12*J12")}, {"P12", num("1.5")}, {"Q12", formulaOf("=E12*P12")},
        {"A13", num("2")}, {"C13", text("Бетонная подготовка\nпод фундаменты")},
        {"A14", num("3")}, {"E14", num("0")}, {"K14", formulaOf("=E14*F14")},
        {"C15", text("Итого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) ")},
        {"K15", formulaOf("=СУММ(K12:K14)")}, {"L15", formulaOf("=СУММ(L12:L14)")},
        {"M15", formulaOf("=СУММ(M12:M14)")}, {"N15", formulaOf("=СУММ(N12:N14)")},
        {"O15", formulaOf("=СУММ(O12:O14)")}, {"Q15", formulaOf("=СУММ(Q12:Q14)")},
        {"C16", text("Накладные расходы (от з/п основной и машиниста)")}, {"D16", num("105")},
        {"E16", text("%")}, {"K16", formulaOf("=D16/100*(L15+O15)")},
        {"C17", text("Итого")}, {"K17", formulaOf("=K16+K15")},
        {"C18", text("Плановые накопления (от з/п основной и машиниста)")}, {"D18", num("90")},
        {"K18", formulaOf("=D18/100*(L15+O15)")}, {"K19", formulaOf("=K18+K17")},
        {"C20", text("Стесненные условия (от з/п основной и машиниста)")}, {"D20", num("12")},
        {"K20", formulaOf("=D20/100*(L15+O15)")}, {"K21", formulaOf("=K20+K19")},
        {"C22", text("Зимнее удорожание")}, {"D22", num("20")}, {"K22", formulaOf("=K21/100*D22")},
        {"K23", formulaOf("=K22+K21")},
        {"C24", text("Затраты на временные здания и сооружения")}, {"D24", num("10")},
        {"K24", formulaOf("=K23/100*D24")}, {"K25", formulaOf("=K24+K23")},
        {"C26", text("С коэффициентом перехода в текущие цены")}, {"D26", text("K=")},
        {"E26", num("2.18")}, {"K26", formulaOf("=K25*E26")},
        {"C27", text("НДС")}, {"D27", num("18")}, {"E27", text("%")}, {"K27", formulaOf("=K26/100*D27")},
        {"C28", text("Итого с НДС")}, {"K28", formulaOf("=K27+K26")},
        {"B31", text("Заказчик")}, {"C31", text("________")},
        {"O31", text("Подрядчик")}, {"P31", text("________")},
    };
    for (const auto& [ref, content] : expected) EXPECT_EQ(s.content(ref), content) << ref;
    // untouched: P of the totals row, the rows between the block and the signatures
    for (const char* ref : {"P15", "D17", "E17", "A29", "K29", "K30", "A31", "D31", "N31", "Q31"})
        EXPECT_EQ(s.content(ref), "") << ref;
    // the stored results, as a reader that does not recalculate shows them
    const std::pair<const char*, double> cached[] = {
        {"K12", 200}, {"K15", 520}, {"L15", 1000}, {"O15", 200}, {"K16", 1260}, {"K26", 8644.3104},
        {"K28", 10200.286272}};
    for (auto [ref, v] : cached) EXPECT_NEAR(s.cells.at(ref).cached, v, 1e-9) << ref;
}

TEST(EstimateLayout, BlockRowsFollowTheSharedTable) {
    const Layout run = layOut(threePositions());
    ASSERT_EQ(run.error, "");
    const auto& rows = xls::chargeBlockRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].offset, static_cast<int>(i));
        EXPECT_EQ(run.sheet.content("C" + std::to_string(15 + rows[i].offset)), text(rows[i].caption)) << i;
        EXPECT_EQ(rows[i].rate != nullptr, rows[i].kind != xls::BlockRowKind::Totals &&
                                               rows[i].kind != xls::BlockRowKind::Running) << i;
    }
}

TEST(EstimateLayout, EstimateSizes) {
    struct Case {
        const char* name;
        size_t positions;
        int totalsRow;
        const char* sumK;
        const char* signatureCell;
        bool header;
    } cases[] = {
        {"none", 0, 12, "=0", "B28", false},
        {"one", 1, 13, "=СУММ(K12:K12)", "B29", true},
        {"three", 3, 15, "=СУММ(K12:K14)", "B31", true},
    };
    for (const Case& tc : cases) {
        std::vector<model::PositionRow> rows = threePositions();
        rows.resize(tc.positions);
        const Layout run = layOut(rows);
        ASSERT_EQ(run.error, "") << tc.name;
        const SheetReadBack& s = run.sheet;
        const std::string T = std::to_string(tc.totalsRow);
        EXPECT_EQ(s.content("K" + T), formulaOf(tc.sumK)) << tc.name;
        EXPECT_EQ(s.content("K" + std::to_string(tc.totalsRow + 1)),
                  formulaOf("=D" + std::to_string(tc.totalsRow + 1) + "/100*(L" + T + "+O" + T + ")"))
            << tc.name;
        EXPECT_EQ(s.content(tc.signatureCell), text("Заказчик")) << tc.name;
        for (const char* ref : {"A2", "O2", "C5", "P5", "E3"})
            EXPECT_EQ(s.content(ref).empty(), !tc.header) << tc.name << " " << ref;
        // the frame A10:Q<T-1>, a line on every edge of every cell, and nothing beyond it
        for (int r = 9; r <= tc.totalsRow + 1; ++r)
            for (int c = 0; c <= 17; ++c) {
                const std::string ref = xls::cellName(r - 1, c);
                const bool inFrame = r >= 10 && r < tc.totalsRow && c <= 16;
                EXPECT_EQ(s.framed(ref), inFrame) << tc.name << " " << ref;
            }
    }
}

TEST(EstimateLayout, RatesAreWrittenAsTyped) {
    struct Case {
        const char* name;
        char sep;
        const char* typed;
        std::string cell;  // D20, the cramped conditions' rate
    } cases[] = {
        {"comma number", ',', "12,5", num("12.5")},
        {"point number", '.', "12.5", num("12.5")},
        {"comma under a point", '.', "12,5", text("12,5")},
        {"words", ',', "двенадцать", text("двенадцать")},
        {"empty", ',', "", ""},
    };
    for (const Case& tc : cases) {
        model::EstimateTexts texts = model::EstimateTexts::defaults(tc.sep);
        texts.crampedPercent = tc.typed;
        texts.approverPost = "Директор ООО «Стройка»";
        texts.approverName = "Иванов И.И.";
        const Layout run = layOut(threePositions(), texts, tc.sep);
        ASSERT_EQ(run.error, "") << tc.name;
        EXPECT_EQ(run.sheet.content("D20"), tc.cell) << tc.name;
        EXPECT_EQ(run.sheet.content("A2"), text("Директор ООО «Стройка»")) << tc.name;
        EXPECT_EQ(run.sheet.content("C5"), text("Иванов И.И.")) << tc.name;
        EXPECT_EQ(run.sheet.content("E26"), num("2.18")) << tc.name;  // the default factor reads
    }
}

TEST(EstimateLayout, CoefficientThatIsNoNumberIsRefused) {
    struct Case { const char* koef; char sep; const char* message; } cases[] = {
        {"2.18", ',', "'2.18' is not a valid floating point value"},
        {"2,18", '.', "'2,18' is not a valid floating point value"},
        {"", ',', "'' is not a valid floating point value"},
    };
    for (const Case& tc : cases) {
        model::EstimateTexts texts = model::EstimateTexts::defaults(tc.sep);
        texts.currentPriceFactor = tc.koef;
        EXPECT_EQ(layOut(threePositions(), texts, tc.sep).error, tc.message) << tc.koef;
    }
}

TEST(EstimateLayout, AnEstimateThatDoesNotFitTheSheetNamesTheFirstRowBeyondIt) {
    struct Case { const char* name; size_t positions; const char* message; } cases[] = {
        {"the signature line is the last row", 65508, ""},
        {"the signature line falls off", 65509,
         "Смета не помещается на лист Excel: строка 65537 лежит за последней строкой листа (65536)"},
        {"positions fall off", 65530,
         "Смета не помещается на лист Excel: строка 65537 лежит за последней строкой листа (65536)"},
    };
    for (const Case& tc : cases) {
        const std::vector<model::PositionRow> rows(tc.positions, threePositions()[0]);
        xls::XlsWorkbook wb = xls::XlsWorkbook::fromStream(emptyWorkbookStream(), "пустой.xls", ',');
        std::string error;
        try {
            xls::writeEstimate(wb, rows, model::EstimateTexts::defaults(','), ',');
        } catch (const Error& e) {
            error = e.what();
        }
        EXPECT_EQ(error, tc.message) << tc.name;
    }
}

TEST(EstimateLayout, NumbersThatAreNotFiniteAreRefused) {
    std::vector<model::PositionRow> rows = threePositions();
    rows[1].cost = std::numeric_limits<double>::infinity();
    EXPECT_EQ(layOut(rows).error, "Число для ячейки F13 не является конечным");
}

TEST(ExportTexts, DefaultsUnderEitherDecimalSeparatorAndControlNames) {
    struct Case { char sep; const char* factor; } cases[] = {{',', "2,18"}, {'.', "2.18"}};
    for (const Case& c : cases) {
        model::EstimateTexts t = model::EstimateTexts::defaults(c.sep);
        EXPECT_EQ(t.approverPost, "Генеральный директор ");
        EXPECT_EQ(t.contractorPost, "Генеральный директор ");
        EXPECT_EQ(t.approverName, "");
        EXPECT_EQ(t.contractorName, "");
        EXPECT_EQ(t.title, "Локальная смета №1");
        const std::pair<const char*, const char*> rates[] = {{"NREdit", "105"}, {"PNEdit", "90"},
            {"SUEdit", "12"}, {"ZUEdit", "20"}, {"VZSEdit", "10"}, {"KoefEdit", c.factor}, {"NDSEdit", "18"}};
        for (auto [name, value] : rates) {
            ASSERT_NE(t.byControlName(name), nullptr) << name;
            EXPECT_EQ(*t.byControlName(name), value) << name << " " << c.sep;
        }
        // the default factor reads as a number under the separator it was written with
        EXPECT_DOUBLE_EQ(static_cast<double>(strToFloat(t.currentPriceFactor, c.sep)), 2.18);
    }
    model::EstimateTexts t = model::EstimateTexts::defaults(',');
    const std::pair<const char*, std::string model::EstimateTexts::*> names[] = {
        {"UTVEdit", &model::EstimateTexts::approverPost}, {"FUEdit", &model::EstimateTexts::approverName},
        {"SOGLEdit", &model::EstimateTexts::contractorPost}, {"FSEdit", &model::EstimateTexts::contractorName},
        {"NAMEEdit", &model::EstimateTexts::title}, {"NREdit", &model::EstimateTexts::overheadsPercent},
        {"PNEdit", &model::EstimateTexts::savingsPercent}, {"SUEdit", &model::EstimateTexts::crampedPercent},
        {"ZUEdit", &model::EstimateTexts::winterPercent}, {"VZSEdit", &model::EstimateTexts::temporaryPercent},
        {"KoefEdit", &model::EstimateTexts::currentPriceFactor}, {"NDSEdit", &model::EstimateTexts::vatPercent}};
    for (auto [name, member] : names) EXPECT_EQ(t.byControlName(name), &(t.*member)) << name;
    EXPECT_EQ(t.byControlName("Edit1"), nullptr);
    EXPECT_EQ(t.byControlName("nredit"), nullptr);
}

}  // namespace
}  // namespace talvira::test
