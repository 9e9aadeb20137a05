// The Add command over a norm base held in memory: which positions it appends, with which
// values, in which order, and what it leaves behind.
#include "tests/estimate/MemoryNormBase.h"

#include "common/Error.h"
#include "estimate/AddPositions.h"
#include "estimate/RateFacts.h"

#include <gtest/gtest.h>

namespace talvira::test {
namespace {

using storage::Value;

// Places in the bound field list.
enum { COUNT, TAB, NAME, IZM, KOLVO, STOIM, OSNZP, MATER, EXPLMASH, ZPMASH, U_STOIM, U_OSNZP, U_MATER,
       U_EXPLMASH, U_ZPMASH, TRUD, U_TRUD, BOUND_COUNT };

const std::vector<NameRow> kNames = {{100, "Кладка стен кирпичных"}, {200, "Кирпич керамический"},
                                     {201, "Раствор\r\nкладочный"}, {202, "Доски"}};
const std::vector<NameRow> kUnits = {{1, "м3"}, {2, "1000 шт"}, {3, "т"}};

// Rate 10 with three lines, only the second unaccounted; resources 20, 21, 22.
const std::vector<RateRow> kRates = {
    {10, 100, 1, "08-02-001-01", 153.88, 11.81, 33.64, 5.48, 108.43, 5.4},
    {11, 999, 9999, "08-02-001-02", 1.5, {}, {}, {}, 1.5, 0.2},  // name and unit records missing
    {12, 100, 1, "08-02-001-03", 7.0, 0.0, 0.0, 0.0, 7.0, 1.0},  // no resource lines
    {20, 200, 2, "404-0005", 1709.3, 1709.3, {}, {}, {}, {}},
    {21, 201, 1, "402-0004", 519.8, 519.8, {}, {}, {}, {}},
    {22, 202, 1, "102-0061", 1100, 1100, {}, {}, {}, {}},
    {13, 100, 1, "08-02-001-04", 1, 1, 1, 1, 1, 1},  // lines with VIDNR 0, 2 and empty
    {14, 100, 1, "08-02-001-05", 1, 1, 1, 1, 1, 1},  // an unaccounted line without KOLL, resource missing
};
const std::vector<LineRow> kLines = {
    {1001, 10, 22, 0.6, 0},   {1002, 10, 20, 0.394, 1}, {1003, 10, 21, 0.016, {}},
    {1301, 13, 20, 1.0, 0},   {1302, 13, 21, 2.0, 2},   {1303, 13, 22, 3.0, {}},
    {1401, 14, 777, {}, 1},
};

class AddPositionsTest : public ::testing::Test {
protected:
    MemoryNormBase nb{kRates, kLines, kNames, kUnits};
    void SetUp() override { nb.open(); }
};

TEST_F(AddPositionsTest, RateWithOneUnaccountedLineOfThreeAppendsRateThenThatResource) {
    nb.goToRate(10);
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 2u);
    const auto& rate = pos[0];
    ASSERT_EQ(rate.size(), size_t(BOUND_COUNT));
    EXPECT_EQ(rate[TAB], Value::string("08-02-001-01"));
    EXPECT_EQ(rate[NAME], Value::string("Кладка стен кирпичных"));
    EXPECT_EQ(rate[IZM], Value::string("м3"));
    EXPECT_TRUE(rate[KOLVO].isEmpty());
    EXPECT_EQ(rate[STOIM], Value::real(153.88));
    EXPECT_EQ(rate[OSNZP], Value::real(108.43));
    EXPECT_EQ(rate[MATER], Value::real(11.81));
    EXPECT_EQ(rate[EXPLMASH], Value::real(33.64));
    EXPECT_EQ(rate[ZPMASH], Value::real(5.48));
    EXPECT_EQ(rate[TRUD], Value::real(5.4));
    for (int f : {U_STOIM, U_OSNZP, U_MATER, U_EXPLMASH, U_ZPMASH, U_TRUD}) EXPECT_TRUE(rate[f].isEmpty()) << f;

    const auto& res = pos[1];
    EXPECT_EQ(res[TAB], Value::string("404-0005"));
    EXPECT_EQ(res[NAME], Value::string("Кирпич керамический"));
    EXPECT_EQ(res[IZM], Value::string("1000 шт"));
    EXPECT_EQ(res[KOLVO], Value::real(0.394));  // per unit of the rate, not multiplied
    EXPECT_EQ(res[STOIM], Value::real(1709.3));  // the resource's BB, not its BA
    EXPECT_EQ(res[MATER], Value::real(1709.3));
    for (int f : {OSNZP, EXPLMASH, ZPMASH, TRUD, U_STOIM, U_OSNZP, U_MATER, U_EXPLMASH, U_ZPMASH, U_TRUD})
        EXPECT_TRUE(res[f].isEmpty()) << f;
    // COUNT is numbered by the engine, in order.
    EXPECT_LT(rate[COUNT].asInteger(), res[COUNT].asInteger());
}

TEST_F(AddPositionsTest, WhichRatesAppendHowMany) {
    struct Case {
        const char* what;
        int rate;
        size_t positions;
    };
    const Case cases[] = {
        {"no resource lines", 12, 1},
        {"VIDNR 0, 2 and empty only", 13, 1},
        {"one unaccounted line of three", 10, 2},
        {"unaccounted line whose resource is missing", 14, 2},
    };
    for (const auto& c : cases) {
        const size_t before = nb.positions().size();
        nb.goToRate(c.rate);
        nb.add();
        EXPECT_EQ(nb.positions().size() - before, c.positions) << c.what;
    }
}

TEST_F(AddPositionsTest, SameRateTwiceAppendsItsPositionsTwice) {
    nb.goToRate(10);
    nb.add();
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 4u);
    EXPECT_EQ(pos[2][TAB], pos[0][TAB]);
    EXPECT_EQ(pos[3][TAB], pos[1][TAB]);
}

TEST_F(AddPositionsTest, FilterOnGivesTheSameResult) {
    nb.goToRate(10);
    nb.add();
    nb.Table3.setFiltered(true);
    nb.goToRate(10);
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 4u);
    for (int f = TAB; f < BOUND_COUNT; ++f) {
        EXPECT_EQ(pos[2][f], pos[0][f]) << f;
        EXPECT_EQ(pos[3][f], pos[1][f]) << f;
    }
}

TEST_F(AddPositionsTest, MissingNameAndUnitRecordsGiveEmptyNameAndUnit) {
    nb.goToRate(11);
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 1u);
    EXPECT_TRUE(pos[0][NAME].isEmpty() || pos[0][NAME] == Value::string(""));
    EXPECT_TRUE(pos[0][IZM].isEmpty());
    EXPECT_TRUE(pos[0][MATER].isEmpty());  // an empty source stays empty, not 0
    EXPECT_EQ(pos[0][STOIM], Value::real(1.5));
}

TEST_F(AddPositionsTest, UnaccountedLineWithoutKollOrResourceGivesEmptyFields) {
    nb.goToRate(14);
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 2u);
    for (int f = TAB; f < BOUND_COUNT; ++f) EXPECT_TRUE(pos[1][f].isEmpty() || pos[1][f] == Value::string("")) << f;
}

TEST_F(AddPositionsTest, ResourceLinesLeftOnTheLastLineVisitedAndEstimateOnTheLastPosition) {
    nb.goToRate(10);
    nb.add();
    EXPECT_EQ(nb.Table3.fieldValue("ID"), Value::integer(1003));
    EXPECT_EQ(nb.Table4.fieldValue("ID"), Value::integer(21));  // the resource follows its line
    EXPECT_EQ(nb.smeta.recNo(), nb.smeta.recordCount() - 1);
    EXPECT_EQ(nb.smeta.state(), storage::TableHandle::State::Browse);
}

TEST_F(AddPositionsTest, EmptyRatesTableAppendsOneEmptyPosition) {
    // A contents entry without rates: the rate handle holds nothing.
    nb.Table2.setFilter("ID = -1");
    nb.Table2.setFiltered(true);
    ASSERT_TRUE(nb.Table2.isEmpty());
    nb.add();
    const auto pos = nb.positions();
    ASSERT_EQ(pos.size(), 1u);
    EXPECT_FALSE(pos[0][COUNT].isEmpty());
    for (int f = TAB; f < BOUND_COUNT; ++f) EXPECT_TRUE(pos[0][f].isEmpty() || pos[0][f] == Value::string("")) << f;
}

TEST_F(AddPositionsTest, ClosedEstimateFailsAndAppendsNothing) {
    nb.smeta.close();
    nb.goToRate(10);
    EXPECT_THROW(nb.add(), Error);
    nb.smeta.open();
    EXPECT_TRUE(nb.positions().empty());
}

TEST_F(AddPositionsTest, FailedWriteKeepsThePositionsAlreadyPosted) {
    nb.goToRate(10);
    nb.add();
    // The estimate's file fails from now on: the second command stops at its first post.
    nb.mem.find(std::string(MemoryNormBase::kSmeti) + "/Дом.db")->failWrites = true;
    EXPECT_THROW(nb.add(), Error);
    nb.smeta.cancel();
    EXPECT_EQ(nb.positions().size(), 2u);
}

TEST(AddPositionsExtras, WhatEachPositionKeepsBesideTheTable) {
    // An imported base names the НР/СП rows of each norm; its codes carry the book or not.
    const std::vector<RateRow> rates = {
        {30, 100, 1, "ФЕР11-01-001-01", 100, 30, 0, 0, 70, 8, "Пр/812-011.0", "Пр/774-011.0", 0.15},
        {31, 100, 1, "21-01-001-01", 10, 0, 0, 0, 10, 1, "Пр/812-021.0; Пр/812-021.1", "Пр/774-021.0; Пр/774-021.1"},
        {32, 100, 1, "ФЕР11-01-001-02", 10, 0, 0, 0, 10, 1, "Пр/812-999.9", ""},
        {20, 200, 2, "ФССЦ-404-0005", 1709.3, 1709.3, {}, {}, {}, {}},
    };
    const std::vector<LineRow> lines = {{3001, 30, 20, 1.02, 1}, {3002, 30, 20, 0.5, 0}};
    struct Case {
        const char* name;
        int rate;
        model::Territory territory;
        model::Method method;
        const char* nrRow;
        std::optional<const char*> nrPercent, spPercent;
        size_t nrChoices;
        model::WorkType type;
    };
    using model::Method;
    using model::Territory;
    using model::WorkType;
    const Case cases[] = {
        {"one row each, Территория", 30, Territory::Ordinary, Method::BaseIndex, "011.0", "112", "65", 1,
         WorkType::Construction},
        {"one row each, МПРКС", 30, Territory::Mprks, Method::BaseIndex, "011.0", "113", "65", 1, WorkType::Construction},
        {"one row each, by the template", 30, Territory::Ordinary, Method::Template, "011.0", "112", "65", 1,
         WorkType::Construction},
        {"several rows: none chosen; the book from the collection", 31, Territory::Ordinary, Method::BaseIndex, "",
         std::nullopt, std::nullopt, 2, WorkType::Mounting},
        {"a row the tables lack stays named", 32, Territory::Ordinary, Method::BaseIndex, "999.9", std::nullopt,
         std::nullopt, 1, WorkType::Construction},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryNormBase nb{rates, lines, kNames, kUnits, "ФЕРм 08. Электротехнические установки"};
        nb.open();
        nb.goToRate(c.rate);
        model::EstimateParams params;
        params.method = c.method;
        params.territory = c.territory;
        const std::vector<model::PositionData> x = nb.add(&params);
        const auto pos = nb.positions();
        ASSERT_EQ(x.size(), pos.size());
        const model::PositionData& r = x[0];
        EXPECT_EQ(r.count, pos[0][COUNT].asInteger());
        EXPECT_EQ(r.code, pos[0][TAB].asString());
        EXPECT_EQ(r.nrRow, c.nrRow);
        EXPECT_EQ(r.nrChoices.size(), c.nrChoices);
        EXPECT_EQ(r.nrPercent, c.nrPercent ? std::optional(Dec7::parse(*c.nrPercent)) : std::nullopt);
        EXPECT_EQ(r.spPercent, c.spPercent ? std::optional(Dec7::parse(*c.spPercent)) : std::nullopt);
        EXPECT_EQ(r.workType, c.type);
        EXPECT_EQ(r.parent, 0);
        if (c.rate != 30) continue;
        EXPECT_EQ(r.spRow, "011.0");
        EXPECT_EQ(r.machinistLabour, Dec7::parse("0.15"));
        ASSERT_EQ(x.size(), 2u);  // the one unaccounted line
        EXPECT_EQ(x[1].parent, r.count);
        EXPECT_EQ(x[1].count, pos[1][COUNT].asInteger());
        EXPECT_EQ(x[1].perUnit, Dec7::parse("1.02"));
        EXPECT_EQ(x[1].code, "ФССЦ-404-0005");
        // The table as always, but by the base-index method the material's quantity waits for the rate's.
        EXPECT_EQ(pos[1][KOLVO], c.method == Method::Template ? Value::real(1.02) : Value());
        EXPECT_EQ(pos[1][STOIM], Value::real(1709.3));
    }
    EXPECT_EQ(estimate::splitReferences(" Пр/812-021.0;Пр/812-021.1 ; "),
              (std::vector<std::string>{"Пр/812-021.0", "Пр/812-021.1"}));
}

}  // namespace
}  // namespace talvira::test
