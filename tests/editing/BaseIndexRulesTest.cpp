// The rules of an estimate by the base-index method below the windows: which materials follow a
// rate's quantity and to what, which prices of a rate are the norm base's, what a new estimate
// starts from on which base, kept percentages
// against the shipped tables and a change of territory, and the calc data of an estimate made
// by the template.
#include "tests/storage/StorageTestUtil.h"
#include "tests/support/WorkedEstimate.h"

#include "editing/EstimateRows.h"
#include "editing/BaseIndexRules.h"
#include "common/Error.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBaseFields.h"
#include "tools/demobase/DemoBase.h"

#include <gtest/gtest.h>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;
using talvira::Dec7;
using model::PositionData;
using model::PositionRow;

PositionRow rateRow(int32_t count, const char* code, double q) { return test::rateRow(count, code, q, 10, 0, 0, 0, 1); }

PositionRow materialRow(int32_t count, const char* code, double q, double price = 5) {
    return test::pricedRow(count, code, q, price);
}

PositionData materialOf(int32_t count, int32_t parent, const char* perUnit, const char* code = "") {
    PositionData e;
    e.count = count;
    e.parent = parent;
    e.perUnit = Dec7::parse(perUnit);
    e.code = code;
    return e;
}

KeptCalc byBaseIndex() {
    KeptCalc s;
    s.params.method = model::Method::BaseIndex;
    return s;
}

TEST(BaseIndexRules, MaterialsFollowTheirRate) {
    // Rate 1 with materials 2 and 3; rate 4 with material 5; 6 a material of its own.
    KeptCalc calc = byBaseIndex();
    calc.positions = {materialOf(2, 1, "1.02"), materialOf(3, 1, "0.0000003"), materialOf(5, 4, "2"),
                   materialOf(6, 99, "1")};
    struct Case {
        const char* name;
        double rateQuantity;
        double kolvo2, kolvo3;
        std::vector<QuantityChange> changes;
    };
    const Case cases[] = {
        {"a quantity typed", 2.5, 0, 0, {{1, 2.55}, {2, 0.0000008}}},  // r7(0.00000075) = 0.0000008
        {"already following", 2.5, 2.55, 0.0000008, {}},
        {"one behind", 3, 3.06, 0, {{2, 0.0000009}}},
        {"the rate's quantity cleared", 0, 2.55, 0.0000008, {{1, std::nullopt}, {2, std::nullopt}}},
        {"nothing to clear", 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<PositionRow> rows = {rateRow(1, "ФЕР11", c.rateQuantity), materialRow(2, "М-1", c.kolvo2),
                                               materialRow(3, "М-2", c.kolvo3), rateRow(4, "ФЕР11", 7),
                                               materialRow(5, "М-3", 1), materialRow(6, "М-4", 1)};
        model::BaseIndexState state(model::nrSpTables());
        state.reset(rows, calc.positions, calc.params);
        EXPECT_EQ(followingQuantities(rows, state, calc.params, 0), c.changes);
        EXPECT_TRUE(followingQuantities(rows, state, calc.params, 5).empty()) << "a material of its own has none";
        KeptCalc byTemplate = calc;
        byTemplate.params.method = model::Method::Template;
        EXPECT_TRUE(followingQuantities(rows, state, byTemplate.params, 0).empty()) << "the template: nothing follows";
    }
    EXPECT_EQ(materialQuantity(Dec7::parse("0.394"), 2.5), 0.985);
    EXPECT_EQ(materialQuantity(Dec7::parse("0.394"), 0), std::nullopt);

    // Written into the table, each position posted, the cursor back where it was.
    test::TempDir dir{"talvira-follow"};
    storage::TableHandle smeta{"SmetaTable"};
    estimate::bindEstimate(smeta, dir.path().string(), "Дом");
    estimate::createAndOpen(smeta);
    for (const char* code : {"ФЕР11", "М-1", "М-2"}) {
        smeta.append();
        smeta.setFieldValue("TAB", storage::Value::string(code));
        smeta.setFieldValue("KOLVO", storage::Value::real(1));
        smeta.post();
    }
    smeta.moveTo(0);
    applyQuantities(smeta, {{1, 2.55}, {2, std::nullopt}});
    EXPECT_EQ(smeta.recNo(), 0);
    const std::vector<PositionRow> stored = readPositionRows(smeta);
    EXPECT_EQ(stored[1].quantity, 2.55);
    EXPECT_TRUE(smeta.valueAt(2, smeta.fieldIndex("KOLVO")).isEmpty());
    smeta.close();
}

TEST(BaseIndexRules, ARatesPricesAreTheNormBases) {
    const PositionRow rate = rateRow(1, "ФЕР08-01-001-01", 1), material = materialRow(2, "ФССЦ-01", 2);
    PositionRow machines;  // machines alone make a rate
    machines.machines = 12.5;
    PositionRow belowAKopeck;  // read as the computation reads it: no wages
    belowAKopeck.baseWages = 0.004;
    const struct {
        const char* what;
        PositionRow row;
        const char* field;
        bool locked;
    } cases[] = {
        {"a rate's cost", rate, "STOIM", true},           {"a rate's wages", rate, "OSNZP", true},
        {"machines", machines, "ZPMASH", true},           {"a rate's quantity", rate, "KOLVO", false},
        {"a rate's labour", rate, "TRUD", false},         {"a material's price", material, "STOIM", false},
        {"wages below a kopeck", belowAKopeck, "MATER", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isRatePrice(c.row, c.field), c.locked) << c.what;
}

TEST(BaseIndexRules, WhatANewEstimateStartsFrom) {
    normbase::BaseInfo demo, fer, gesn;
    fer.imported = gesn.imported = true;
    fer.priceLevel = "01.01.2000";
    gesn.priceLevel = "01.01.2022";
    const struct {
        const char* name;
        normbase::BaseInfo base;
        model::Method method;
        const char* level;
        const char* factor;
        const char* vat;
        bool calc;
    } cases[] = {
        {"the demo base keeps the template exactly", demo, model::Method::Template, "", "2,18", "18", false},
        {"ФЕР-2001 imported", fer, model::Method::BaseIndex, "01.01.2000", "1", "20", true},
        {"ГЭСН at 2022 prices", gesn, model::Method::BaseIndex, "01.01.2022", "1", "20", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EstimateStart s = estimateStart(c.base, ',');
        EXPECT_EQ(s.params.method, c.method);
        EXPECT_EQ(s.params.baseLevel, c.level);
        EXPECT_EQ(s.texts.currentPriceFactor, c.factor);
        EXPECT_EQ(s.texts.vatPercent, c.vat);
        EXPECT_EQ(s.writeCalc, c.calc);
        EXPECT_EQ(s.texts.overheadsPercent, "105");
    }
    EXPECT_EQ(estimateStart(demo, '.').texts, model::EstimateTexts::defaults('.'));
}

TEST(BaseIndexRules, KeptPercentagesAgainstTheTables) {
    const model::NrSpTables& tables = model::nrSpTables();
    KeptCalc calc = byBaseIndex();
    auto kept = [](int32_t count, const char* row, const char* nr, const char* sp) {
        PositionData e;
        e.count = count;
        e.nrRow = e.spRow = row;
        e.nrPercent = Dec7::parse(nr);
        e.spPercent = Dec7::parse(sp);
        return e;
    };
    // 1 as the tables say; 2 kept from older tables (НР 110 where they now say 112); 3 a row
    // the tables no longer have; 9 a position that is gone.
    calc.positions = {kept(1, "011.0", "112", "65"), kept(2, "011.0", "110", "65"), kept(3, "999.9", "50", "40"),
                   kept(9, "011.0", "1", "1")};
    const std::vector<PositionRow> rows = {rateRow(1, "", 1), rateRow(2, "", 1), rateRow(3, "", 1)};
    std::vector<PercentDifference> d = percentDifferences(rows, calc, tables);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].text(), "Позиция 2: НР по Пр/812-011.0-1 — в смете 110 %, в таблицах 112 %");
    EXPECT_EQ(d[1].text(), "Позиция 3: НР по Пр/812-999.9-1 — в смете 50 %, в таблицах такой строки нет");
    EXPECT_EQ(d[2].text(), "Позиция 3: СП по Пр/774-999.9 — в смете 40 %, в таблицах такой строки нет");
    takeTablePercents(calc, d);
    d = percentDifferences(rows, calc, tables);
    EXPECT_EQ(d.size(), 2u) << "the missing row stays as kept";

    // Another territory: what followed the tables follows them there; what differed stays.
    calc.positions[1].nrPercent = Dec7::parse("110");
    setTerritory(calc, model::Territory::Mprks, tables);
    EXPECT_EQ(calc.params.territory, model::Territory::Mprks);
    EXPECT_EQ(calc.positions[0].nrPercent, Dec7::parse("113"));
    EXPECT_EQ(calc.positions[1].nrPercent, Dec7::parse("110"));
    EXPECT_EQ(calc.positions[0].spPercent, Dec7::parse("65"));
}

TEST(BaseIndexRules, SideOfAnEstimateMadeByTheTemplate) {
    // As the template's Add left it: rate, its materials per unit; then a rate the base knows
    // with one material as Add wrote it and one whose quantity the estimator typed.
    const std::vector<PositionRow> rows = {
        rateRow(1, "ФЕРм08-02-001-01", 2), materialRow(2, "М-1", 0.5), materialRow(3, "М-2", 3),
        rateRow(4, "11-01-001-01", 10),    materialRow(5, "М-1", 1.02), materialRow(6, "М-2", 42),
        materialRow(7, "Свой", 1, 100)};
    model::RateFacts known;
    known.nrChoices = {"Пр/812-011.0"};
    known.spChoices = {"Пр/774-011.0"};
    known.machinistLabour = Dec7::parse("0.15");
    known.workType = model::WorkType::Construction;
    known.materials = {{"М-1", Dec7::parse("1.02")}, {"М-2", Dec7::parse("0.1")}};
    const estimate::RateLookup base = [&](const std::string& code) -> std::optional<model::RateFacts> {
        if (code == "11-01-001-01") return known;
        return std::nullopt;
    };
    const DerivedCalc d = deriveCalc(rows, byBaseIndex(), base, model::nrSpTables());
    // 1 (no base facts: materials 2, 3 by shape), 4 (the base's rows), 5 (the base's consumption);
    // 6 was typed (42 is no 0.1 per unit), 7 is no material of 4: both stay positions of their own.
    ASSERT_EQ(d.positions.size(), 5u);
    EXPECT_EQ(d.positions[0].count, 1);
    EXPECT_EQ(d.positions[0].workType, model::WorkType::Mounting);
    EXPECT_TRUE(d.positions[0].nrRow.empty());
    EXPECT_EQ(d.positions[1].parent, 1);
    EXPECT_EQ(d.positions[1].perUnit, Dec7::parse("0.5"));
    EXPECT_EQ(d.positions[2].parent, 1);
    EXPECT_EQ(d.positions[3].count, 4);
    EXPECT_EQ(d.positions[3].nrRow, "011.0");
    EXPECT_EQ(d.positions[3].nrPercent, Dec7::parse("112"));
    EXPECT_EQ(d.positions[3].machinistLabour, Dec7::parse("0.15"));
    EXPECT_EQ(d.positions[3].workType, model::WorkType::Construction);
    EXPECT_EQ(d.positions[4].count, 5);
    EXPECT_EQ(d.positions[4].parent, 4);
    const std::vector<QuantityChange> q = {{1, 1.0}, {2, 6.0}, {4, 10.2}};
    EXPECT_EQ(d.quantities, q);

    // Positions that have their data already are left alone; without a base the same shape rules.
    KeptCalc calc = byBaseIndex();
    calc.positions = {materialOf(2, 1, "0.5")};
    const DerivedCalc again = deriveCalc(rows, calc, {}, model::nrSpTables());
    EXPECT_EQ(again.positions.size(), 6u);  // 1, 3, 4, 5, 6, 7: without a base every material-shaped row follows
    for (const PositionData& e : again.positions) EXPECT_NE(e.count, 2);
}

TEST(BaseIndexRules, RatesLookedUpInANormBase) {
    using demobase::DemoTable;
    using demobase::demoRecord;
    using storage::Value;
    namespace f = normbase::fld;
    test::TempDir dir{"talvira-lookup"};
    const std::string base = dir.path().string();
    demobase::writeDemoTable(base, DemoTable::Reestr, {demoRecord(DemoTable::Reestr, {{f::ID, Value::integer(1)},
                                                       {f::NAME, Value::string("ФЕРм 08. Электротехнические установки")}})});
    auto rate = [](int id, const char* code, const char* nr, const char* sp, double bh) {
        return demoRecord(DemoTable::Rabmat, {{f::ID, Value::integer(id)}, {f::IDREESTR, Value::integer(1)},
                                              {f::TAB, Value::string(code)}, {f::PREISK, Value::string(nr)},
                                              {f::POSPREISK, Value::string(sp)}, {f::BH, Value::real(bh)}});
    };
    demobase::writeDemoTable(base, DemoTable::Rabmat,
                             {rate(10, "08-02-001-01", "Пр/812-049.3", "Пр/774-049.3", 0.15),
                              rate(11, "08-02-001-01", "Пр/812-001.1", "Пр/774-001.1", 0),  // a second of the code
                              rate(20, "М-1", "", "", 0), rate(21, "М-2", "", "", 0)});
    auto line = [](int id, int rateId, int res, double koll, int vidnr) {
        return demoRecord(DemoTable::Resurs, {{f::ID, Value::integer(id)}, {f::IDRAB, Value::integer(rateId)},
                                              {f::IDRES_RABMAT, Value::integer(res)}, {f::KOLL, Value::real(koll)},
                                              {f::VIDNR, Value::integer(vidnr)}});
    };
    demobase::writeDemoTable(base, DemoTable::Resurs, {line(1, 10, 21, 0.5, 0), line(2, 10, 20, 1.02, 1), line(3, 11, 21, 7, 1)});

    const estimate::RateLookup lookup = estimate::rateLookupOf(base, {rateRow(1, "08-02-001-01", 1), materialRow(2, "М-1", 1)});
    const std::optional<model::RateFacts> facts = lookup("08-02-001-01");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->nrChoices, std::vector<std::string>{"Пр/812-049.3"});
    EXPECT_EQ(facts->spChoices, std::vector<std::string>{"Пр/774-049.3"});
    EXPECT_EQ(facts->machinistLabour, Dec7::parse("0.15"));
    EXPECT_EQ(facts->workType, model::WorkType::Mounting);
    ASSERT_EQ(facts->materials.size(), 1u);
    EXPECT_EQ(facts->materials[0].first, "М-1");
    EXPECT_EQ(facts->materials[0].second, Dec7::parse("1.02"));
    EXPECT_FALSE(lookup("нет такой"));
    EXPECT_THROW(estimate::rateLookupOf(dir.path() / "нет", {}), Error);
}

}  // namespace
}  // namespace talvira::editing
