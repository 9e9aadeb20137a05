// The totals and charges block without a workbook: the worked example, how rate texts read,
// how an error runs down the block, the factor's failure, sums in row order, overflow.
#include "export/EstimateTotals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace talvira::xls {
namespace {

using Kind = BlockAmount::Kind;
using model::EstimateTexts;
using model::PositionRow;

PositionRow row(double kolvo, double stoim, double osnzp, double mater, double explmash, double zpmash, double trud) {
    PositionRow p;
    p.quantity = kolvo;
    p.cost = stoim;
    p.baseWages = osnzp;
    p.materials = mater;
    p.machines = explmash;
    p.machineWages = zpmash;
    p.labour = trud;
    return p;
}

/** Base wages total 1000, machinist wages total 200 (the third position has no quantity). */
std::vector<PositionRow> threePositions() {
    return {row(2, 100, 250, 20, 10, 50, 1.5), row(4, 80, 125, 10, 5, 25, 2), row(0, 500, 0, 500, 0, 0, 0)};
}

TEST(EstimateTotals, WorkedExampleWithTheDefaultRates) {
    const EstimateTotals t = computeTotals(threePositions(), EstimateTexts::defaults(','), ',');
    const double k[14] = {520,    1260,   1780,      1080,      2860,       144,         3004,
                          600.8, 3604.8, 360.48,    3965.28,   8644.3104, 1555.975872, 10200.286272};
    for (int i = 0; i < 14; ++i) {
        ASSERT_EQ(t.lines[size_t(i)].amount.kind, Kind::Number) << i;
        EXPECT_NEAR(t.lines[size_t(i)].amount.value, k[i], 1e-9 * k[i]) << i;
        EXPECT_EQ(t.lines[size_t(i)].row->offset, i);
    }
    const double sums[6] = {520, 1000, 80, 40, 200, 11};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(t.totals.sums[size_t(c)].value, sums[c]) << c;
    EXPECT_EQ(t.lines[1].rateText, "105");
    EXPECT_EQ(t.lines[11].rateText, "2,18");
    EXPECT_EQ(t.lines[0].rateText, "");
    EXPECT_STREQ(t.lines[13].row->caption, "Итого с НДС");
}

TEST(EstimateTotals, TheFormulasInTheSpreadsheetsOrder) {
    // Each amount is computed as the cell's formula reads, left to right: 7/100*(L+O) is not
    // (7*(L+O))/100 in double precision.
    std::vector<PositionRow> rows = {row(1, 0.1, 0.7, 0, 0, 0.3, 0)};
    EstimateTexts texts = EstimateTexts::defaults('.');
    texts.overheadsPercent = "7";
    texts.winterPercent = "3.3";
    texts.currentPriceFactor = "1.1";
    const EstimateTotals t = computeTotals(rows, texts, '.');
    const double base = 0.7 + 0.3;
    const double k1 = 7.0 / 100 * base;
    const double k2 = k1 + 0.1;
    EXPECT_EQ(t.lines[1].amount.value, k1);
    EXPECT_EQ(t.lines[2].amount.value, k2);
    const double k6 = t.lines[6].amount.value;
    EXPECT_EQ(t.lines[7].amount.value, k6 / 100 * 3.3);
    EXPECT_EQ(t.lines[11].amount.value, t.lines[10].amount.value * 1.1);
}

TEST(EstimateTotals, RateTextsReadAsTheSpreadsheetReadsTheTypedCell) {
    struct Case {
        const char* text;
        char sep;
        std::optional<double> rate;  // nothing: #VALUE!
    };
    const Case cases[] = {
        {"105", ',', 105},      {" 105 ", ',', 105},    {"\t12,5", ',', 12.5},  {"12.5", '.', 12.5},
        {"", ',', 0},           {"1e1", ',', 10},       {"-5", ',', -5},        {"12.5", ',', std::nullopt},
        {"12,5", '.', std::nullopt}, {"abc", ',', std::nullopt}, {" ", ',', std::nullopt},
        {"1 000", ',', std::nullopt}, {"1e400", ',', std::nullopt},
    };
    for (const Case& c : cases) {
        EstimateTexts texts = EstimateTexts::defaults(c.sep);
        texts.overheadsPercent = c.text;
        const EstimateTotals t = computeTotals(threePositions(), texts, c.sep);
        if (c.rate) {
            ASSERT_EQ(t.lines[1].amount.kind, Kind::Number) << "«" << c.text << "»";
            EXPECT_EQ(t.lines[1].amount.value, *c.rate / 100 * 1200) << "«" << c.text << "»";
        } else {
            EXPECT_EQ(t.lines[1].amount.kind, Kind::Error) << "«" << c.text << "»";
            EXPECT_EQ(t.lines[1].amount.error, CellError::Value) << "«" << c.text << "»";
        }
        EXPECT_EQ(t.lines[1].rateText, c.text);  // shown as typed
    }
}

TEST(EstimateTotals, AnErrorRunsDownFromItsRow) {
    const std::pair<std::string EstimateTexts::*, int> rates[] = {
        {&EstimateTexts::overheadsPercent, 1}, {&EstimateTexts::savingsPercent, 3},
        {&EstimateTexts::crampedPercent, 5},   {&EstimateTexts::winterPercent, 7},
        {&EstimateTexts::temporaryPercent, 9}, {&EstimateTexts::vatPercent, 12},
    };
    for (const auto& [rate, from] : rates) {
        EstimateTexts texts = EstimateTexts::defaults(',');
        texts.*rate = "x";
        const EstimateTotals t = computeTotals(threePositions(), texts, ',');
        for (int i = 0; i < 14; ++i) {
            // the charges of wages take the totals row, not the running total: an error in one
            // of them reaches the running totals, never the other charges of wages
            const bool otherWagesCharge = (i == 1 || i == 3 || i == 5) && i != from;
            const bool error = i >= from && !otherWagesCharge;
            EXPECT_EQ(t.lines[size_t(i)].amount.kind, error ? Kind::Error : Kind::Number) << from << " " << i;
        }
        EXPECT_EQ(errorName(t.lines[13].amount.error, true), "#ЗНАЧ!");
        EXPECT_EQ(errorName(t.lines[13].amount.error, false), "#VALUE!");
    }
}

TEST(EstimateTotals, AFactorThatIsNoNumberIsTheExportsFailure) {
    for (const auto& [factor, sep] : {std::pair<const char*, char>{"2.18", ','}, {"2,18", '.'}, {"", ','}, {"K", ','}}) {
        EstimateTexts texts = EstimateTexts::defaults(sep);
        texts.currentPriceFactor = factor;
        texts.overheadsPercent = "x";  // an error above does not hide the failure
        const EstimateTotals t = computeTotals(threePositions(), texts, sep);
        EXPECT_EQ(t.lines[11].amount.kind, Kind::Failure) << factor;
        EXPECT_EQ(t.lines[11].amount.message, "'" + std::string(factor) + "' is not a valid floating point value");
        EXPECT_EQ(t.lines[10].amount.kind, Kind::Error);
        EXPECT_EQ(t.lines[12].amount.kind, Kind::None);
        EXPECT_EQ(t.lines[13].amount.kind, Kind::None);
    }
}

TEST(EstimateTotals, SumsAddInRowOrder) {
    // 1e16 + 1 is 1e16 in double precision: the spreadsheet's order gives 0, not 1.
    const std::vector<PositionRow> rows = {row(1, 1e16, 0, 0, 0, 0, 0), row(1, 1, 0, 0, 0, 0, 0),
                                           row(1, -1e16, 0, 0, 0, 0, 0)};
    const PositionSums s = sumPositions(rows);
    EXPECT_EQ(s[TotalColumn::Cost].value, 0.0);
    EXPECT_EQ(s.positions, 3);
    const PositionSums none = sumPositions({});
    for (const BlockAmount& a : none.sums) {
        EXPECT_EQ(a.kind, Kind::Number);
        EXPECT_EQ(a.value, 0.0);
    }
}

TEST(EstimateTotals, BeyondTheDoubleRangeIsNum) {
    const std::vector<PositionRow> rows = {row(1e300, 1e300, 0, 0, 0, 0, 0), row(1, 5, 2, 0, 0, 0, 0)};
    const EstimateTotals t = computeTotals(rows, EstimateTexts::defaults(','), ',');
    EXPECT_EQ(t.totals[TotalColumn::Cost].kind, Kind::Error);
    EXPECT_EQ(t.totals[TotalColumn::Cost].error, CellError::Num);
    EXPECT_EQ(t.totals[TotalColumn::BaseWages].value, 2);
    EXPECT_EQ(t.lines[1].amount.kind, Kind::Number);  // of wages: untouched
    EXPECT_EQ(t.lines[2].amount.error, CellError::Num);
    EXPECT_EQ(errorName(CellError::Num, true), "#ЧИСЛО!");
}

}  // namespace
}  // namespace talvira::xls
