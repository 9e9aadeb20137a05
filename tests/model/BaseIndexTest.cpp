// The local estimate by the base-index method: the real position worked in the notes to the
// kopeck, hand-worked cases (coefficients, a half kopeck, territory, capital repair, a material
// or equipment of its own), two types of work with the indices per type, the materials of a
// rate, every bad input with its message, and the JSON the command-line tool prints.
#include "model/BaseIndex.h"
#include "model/ResultJson.h"
#include "tests/support/WorkedEstimate.h"

#include <gtest/gtest.h>

namespace talvira::model {
namespace {

Dec7 d(const char* text) { return Dec7::parse(text); }

constexpr auto& rate = test::rateRow;
constexpr auto& priced = test::pricedRow;

PositionData rows(int32_t count, const char* nr, const char* sp) {
    PositionData e;
    e.count = count;
    e.nrRow = nr;
    e.spRow = sp;
    return e;
}

EstimateParams indices(const char* ot, const char* em, const char* m) {
    EstimateParams p;
    p.method = Method::BaseIndex;
    p.indexOt = d(ot);
    p.indexEm = d(em);
    p.indexM = d(m);
    return p;
}

/** "ot em otm m pz fot nr sp total" */
std::string all(const Elements& e) {
    std::string s;
    for (Money m : {e.ot, e.em, e.otm, e.m, e.pz, e.fot, e.nr, e.sp, e.total}) s += (s.empty() ? "" : " ") + m.text();
    return s;
}

/** "ot otm fot nr sp": what a position has in current prices. */
std::string wages(const Elements& e) {
    std::string s;
    for (Money m : {e.ot, e.otm, e.fot, e.nr, e.sp}) s += (s.empty() ? "" : " ") + m.text();
    return s;
}

BaseIndexResult compute(const std::vector<PositionRow>& r, const std::vector<PositionData>& x, const EstimateParams& p) {
    return computeBaseIndex(r, x, p, nrSpTables());
}

TEST(BaseIndexResult, TheWorkedPositionToTheKopeck) {
    // ФЕР 08-01-001-01, Московская обл., II кв. 2025; rows 008.0: НР 110 %, СП 69 %.
    const BaseIndexResult r = compute({test::workedRow()}, {test::workedData()}, test::workedParams());
    ASSERT_TRUE(r.problems.empty()) << r.problems[0].message;
    ASSERT_EQ(r.positions.size(), 1u);
    const PositionResult& p = r.positions[0];
    EXPECT_EQ(all(p.base), "32.74 10.46 1.74 215.19 258.39 34.48 37.93 23.79 320.11");
    EXPECT_EQ(p.base.zt, d("3.94"));
    EXPECT_EQ(p.base.ztm, d("0.15"));
    EXPECT_EQ(wages(p.current), "1709.36 90.85 1800.21 1980.23 1242.14");
    EXPECT_EQ(p.nrRef, "Пр/812-008.0-1");
    EXPECT_EQ(p.spRef, "Пр/774-008.0");
    EXPECT_EQ(p.nrPercent, d("110"));
    EXPECT_EQ(p.workType, WorkType::Construction);
    ASSERT_EQ(r.workTypes.size(), 1u);
    EXPECT_EQ(all(r.workTypes[0].current), "1709.36 174.05 90.85 1826.96 3710.37 1800.21 1980.23 1242.14 6932.74");
    EXPECT_EQ(all(r.total.current), all(r.workTypes[0].current));
    EXPECT_EQ(all(r.total.base), all(p.base));
    EXPECT_TRUE(r.currentComplete);
}

TEST(BaseIndexResult, HandWorkedPositions) {
    PositionData coefs = rows(1, "011.0", "011.0");
    coefs.machinistLabour = d("1");
    coefs.coefficients = {{d("1.15"), OT | ZT, "421/пр прил. 10 т. 1 п. 4"}, {d("1.2"), EM, ""},
                          {d("1.25"), EM | OTM | ZTM, "стесненные условия"}};
    PositionData equipment;
    equipment.count = 1;
    equipment.workType = WorkType::Equipment;
    EstimateParams ordinary = indices("52.21", "16.64", "8.49");
    EstimateParams mprks = ordinary, rks = ordinary, repair = ordinary, withEq = ordinary;
    mprks.territory = Territory::Mprks;
    rks.territory = Territory::Rks;
    repair.capitalRepair = true;
    withEq.indexEq = d("5.5");

    struct Case {
        const char* name;
        std::vector<PositionRow> rows;
        std::vector<PositionData> extras;
        EstimateParams params;
        const char* base;     // of the first position
        const char* current;  // of the first position: ot otm fot nr sp
        const char* totalCurrent;
        const char* nrRef;
    };
    const Case cases[] = {
        // ОТ = r(2.5 × 100 × 1.15); ОТМ = r(2.5 × 10 × 1.25); ЭМ = r(2.5 × (40 × 1.2 × 1.25 + 10 × 1.25)).
        {"coefficients on ОТ and on ЭМ+ОТМ", {rate(1, "ФЕР11-01-001-01", 2.5, 100, 50, 10, 30, 8)}, {coefs}, ordinary,
         "287.50 181.25 31.25 75.00 543.75 318.75 357.00 207.19 1107.94",
         "15010.38 1631.56 16641.94 18638.97 10817.26",
         "15010.38 3016.00 1631.56 636.75 18663.13 16641.94 18638.97 10817.26 48119.36", "Пр/812-011.0-1"},
        // r(1.015 × 1.00) = 1.02, where binary doubles give 1.01; СП r(0.90 × 65 %) = 0.59, not 0.58.
        {"a half kopeck rounds up", {rate(1, "ФЕР11", 1.015, 1, 0, 0, 0, 0), rate(2, "ФЕР11", 1, 0.9, 0, 0, 0, 0)},
         {rows(1, "011.0", "011.0"), rows(2, "011.0", "011.0")}, ordinary,
         "1.02 0.00 0.00 0.00 1.02 1.02 1.14 0.66 2.82", "53.25 0.00 53.25 59.64 34.61",
         "100.24 0.00 0.00 0.00 100.24 100.24 112.27 65.15 277.66", "Пр/812-011.0-1"},
        {"МПРКС", {rate(1, "ФЕР11", 1, 100, 0, 0, 0, 1)}, {rows(1, "011.0", "011.0")}, mprks,
         "100.00 0.00 0.00 0.00 100.00 100.00 113.00 65.00 278.00", "5221.00 0.00 5221.00 5899.73 3393.65",
         "5221.00 0.00 0.00 0.00 5221.00 5221.00 5899.73 3393.65 14514.38", "Пр/812-011.0-2"},
        {"РКС", {rate(1, "ФЕР11", 1, 100, 0, 0, 0, 1)}, {rows(1, "011.0", "011.0")}, rks,
         "100.00 0.00 0.00 0.00 100.00 100.00 118.00 65.00 283.00", "5221.00 0.00 5221.00 6160.78 3393.65",
         "5221.00 0.00 0.00 0.00 5221.00 5221.00 6160.78 3393.65 14775.43", "Пр/812-011.0-3"},
        // НР 112 × 0.9, СП 65 × 0.85 on a norm of new construction; the repair norm's row stays.
        {"capital repair", {rate(1, "ФЕР11", 1, 100, 0, 0, 0, 1), rate(2, "ФЕРр57", 1, 100, 0, 0, 0, 1)},
         {rows(1, "011.0", "011.0"), rows(2, "091.0", "091.0")}, repair,
         "100.00 0.00 0.00 0.00 100.00 100.00 100.80 55.25 256.05", "5221.00 0.00 5221.00 5262.77 2884.60",
         "10442.00 0.00 0.00 0.00 10442.00 10442.00 9909.46 5442.89 25794.35", "Пр/812-011.0-1"},
        {"a material of its own", {priced(1, "ФССЦ-01.1.01.01-0001", 3, 500)}, {}, ordinary,
         "0.00 0.00 0.00 1500.00 1500.00 0.00 0.00 0.00 1500.00", "0.00 0.00 0.00 0.00 0.00",
         "0.00 0.00 0.00 12735.00 12735.00 0.00 0.00 0.00 12735.00", ""},
        {"equipment, by its own index", {priced(1, "Насос", 2, 10000)}, {equipment}, withEq,
         "0.00 0.00 0.00 20000.00 20000.00 0.00 0.00 0.00 20000.00", "0.00 0.00 0.00 0.00 0.00",
         "0.00 0.00 0.00 110000.00 110000.00 0.00 0.00 0.00 110000.00", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BaseIndexResult r = compute(c.rows, c.extras, c.params);
        ASSERT_TRUE(r.problems.empty()) << r.problems[0].message;
        ASSERT_FALSE(r.positions.empty());
        EXPECT_EQ(all(r.positions[0].base), c.base);
        EXPECT_EQ(wages(r.positions[0].current), c.current);
        EXPECT_EQ(all(r.total.current), c.totalCurrent);
        EXPECT_EQ(r.positions[0].nrRef, c.nrRef);
    }
    const BaseIndexResult k = compute(cases[0].rows, cases[0].extras, cases[0].params);
    EXPECT_EQ(k.positions[0].base.zt, d("23"));      // 2.5 × 8 × 1.15
    EXPECT_EQ(k.positions[0].base.ztm, d("3.125"));  // 2.5 × 1 × 1.25
    EXPECT_EQ(k.positions[0].kEm, d("1.5"));
    const BaseIndexResult eq = compute(cases[6].rows, cases[6].extras, cases[6].params);
    ASSERT_EQ(eq.workTypes.size(), 1u);
    EXPECT_EQ(eq.workTypes[0].type, WorkType::Equipment);
    EXPECT_EQ(eq.workTypes[0].indexM, d("5.5"));
    EXPECT_EQ(eq.positions[0].kind, PositionResult::Kind::Standalone);
}

TEST(BaseIndexResult, TheMachinistsArePaidAsTheWorkersWhereОТBearsTheLargerCoefficient) {
    // ФЕР 11-01-041-01 of the real estimate: Q 589.64, ОТ₁ 94.41, ОТМ₁ 0.39, K_ОТ 2.8375, K_ОТМ 1.35.
    // Before, Д was missing: ФОТ 158 268.15, НР 177 260.33, current НР 9 254 761.72.
    PositionData x = rows(1, "011.0", "011.0");
    x.coefficients = {{d("2.8375"), OT | ZT, ""}, {d("1.35"), EM | OTM | ZTM, ""}};
    const BaseIndexResult r =
        compute({rate(1, "ФЕР11-01-041-01", 589.64, 94.41, 2.13, 0.39, 0, 0)}, {x}, indices("52.21", "16.64", "8.49"));
    ASSERT_TRUE(r.problems.empty()) << r.problems[0].message;
    const Elements& b = r.positions[0].base;
    EXPECT_EQ(b.otmExtra.text(), "342.06");  // r(589.64 × 0.39 × 1.4875 = 342.0649)
    EXPECT_EQ(b.fot.text(), "158610.21");    // 157 957.70 + 310.45 + 342.06
    EXPECT_EQ(b.nr.text(), "177643.44");
    EXPECT_EQ(b.sp.text(), "103096.64");
    EXPECT_EQ(b.em.text(), "2037.57");       // r(589.64 × 2.13 × 1.35) + Д
    const Elements& c = r.positions[0].current;
    EXPECT_EQ(c.otmExtra.text(), "17858.95");  // r(342.06 × 52.21)
    EXPECT_EQ(c.fot.text(), "8281039.06");
    EXPECT_EQ(c.nr.text(), "9274763.75");
    EXPECT_EQ(r.total.current.otmExtra, c.otmExtra);
    // Д goes into current ЭМ by the index of wages, as the expertise file's MachinistSalaryExtra:
    // r((2 037.57 − 342.06) × 16.64) + 17 858.95 (before, Д was indexed as machines: 33 905.16).
    EXPECT_EQ(r.total.current.em.text(), "46072.24");
    EXPECT_EQ(c.em, r.total.current.em);
    EXPECT_NE(toJson(r, {}).find(R"("otm":310.45,"otm_extra":342.06,)"), std::string::npos);
}

TEST(BaseIndexResult, TwoTypesOfWorkEachWithItsIndicesOnItsSums) {
    // ЭМ_cur per type: r(0.07 × 16.64) = 1.16 twice, 2.32 for the estimate (not r(0.14 × 16.64) = 2.33).
    const BaseIndexResult r = compute({rate(1, "ФЕР01-01-001-01", 1, 10, 0.07, 0, 0, 1), rate(2, "ФЕРм08-02-001-01", 1, 10, 0.07, 0, 0, 1)},
                               {rows(1, "001.1", "001.1"), rows(2, "049.3", "049.3")}, indices("52.21", "16.64", "8.49"));
    ASSERT_TRUE(r.problems.empty());
    ASSERT_EQ(r.workTypes.size(), 2u);
    EXPECT_EQ(r.workTypes[0].type, WorkType::Construction);
    EXPECT_EQ(r.workTypes[1].type, WorkType::Mounting);
    EXPECT_EQ(all(r.workTypes[0].base), "10.00 0.07 0.00 0.00 10.07 10.00 9.20 4.60 23.87");
    EXPECT_EQ(all(r.workTypes[1].base), "10.00 0.07 0.00 0.00 10.07 10.00 9.70 5.10 24.87");
    EXPECT_EQ(all(r.workTypes[0].current), "522.10 1.16 0.00 0.00 523.26 522.10 480.33 240.17 1243.76");
    EXPECT_EQ(all(r.workTypes[1].current), "522.10 1.16 0.00 0.00 523.26 522.10 506.44 266.27 1295.97");
    EXPECT_EQ(all(r.total.current), "1044.20 2.32 0.00 0.00 1046.52 1044.20 986.77 506.44 2539.73");
    EXPECT_EQ(all(r.total.base), "20.00 0.14 0.00 0.00 20.14 20.00 18.90 9.70 48.74");

    // A reassigned position goes with its new type.
    PositionData moved = rows(2, "049.3", "049.3");
    moved.workType = WorkType::Other;
    const BaseIndexResult o = compute({rate(1, "ФЕР01", 1, 10, 0, 0, 0, 1), rate(2, "ФЕРм08", 1, 10, 0, 0, 0, 1)},
                               {rows(1, "001.1", "001.1"), moved}, indices("1", "1", "1"));
    ASSERT_EQ(o.workTypes.size(), 2u);
    EXPECT_EQ(o.workTypes[1].type, WorkType::Other);
}

TEST(BaseIndexResult, MaterialsFollowTheirRate) {
    PositionData m2, m3, orphan;
    m2.count = 2, m2.parent = 1, m2.perUnit = d("1.02");
    m3.count = 3, m3.parent = 1, m3.perUnit = d("0.1");
    orphan.count = 5, orphan.parent = 99, orphan.perUnit = d("2");
    const std::vector<PositionRow> table = {rate(1, "ФЕР11", 2.5, 100, 0, 0, 30, 8), priced(2, "ФССЦ-1", 2.55, 12.34),
                                            priced(3, "ФССЦ-2", 0.25, 0), rate(4, "ФЕР11", 1, 1, 0, 0, 0, 0),
                                            priced(5, "ФССЦ-3", 4, 10)};
    const BaseIndexResult r = compute(table, {rows(1, "011.0", "011.0"), m2, m3, rows(4, "011.0", "011.0"), orphan},
                               indices("1", "1", "1"));
    ASSERT_TRUE(r.problems.empty());
    ASSERT_EQ(r.positions.size(), 3u);  // the rate with its two materials, the other rate, the orphan
    const PositionResult& p = r.positions[0];
    // М = r(2.5 × 30) + r(2.55 × 12.34); the unpriced material counts nothing yet.
    EXPECT_EQ(all(p.base), "250.00 0.00 0.00 106.47 356.47 250.00 280.00 162.50 798.97");
    ASSERT_EQ(p.materials.size(), 2u);
    EXPECT_EQ(p.materials[0].amount, Money::fromKopecks(3147));
    EXPECT_EQ(p.materials[0].perUnit, d("1.02"));
    EXPECT_TRUE(p.materials[0].priced);
    EXPECT_FALSE(p.materials[1].priced);
    EXPECT_EQ(r.positions[2].number, 5);
    EXPECT_EQ(r.positions[2].kind, PositionResult::Kind::Standalone);
    EXPECT_EQ(r.positions[2].base.total, Money::fromKopecks(4000));
}

TEST(BaseIndexResult, BadInputsAreNamedAndLeftOutOfTheSums) {
    PositionData choices;
    choices.count = 1;
    choices.nrChoices = {"Пр/812-021.0", "Пр/812-021.1"};
    choices.spChoices = {"Пр/774-021.0", "Пр/774-021.1"};
    PositionData zero = rows(1, "011.0", "011.0"), untargeted = zero, materialOf1;
    zero.coefficients = {{Dec7(), OT, ""}};
    untargeted.coefficients = {{d("1.2"), 0, ""}};
    materialOf1.count = 2, materialOf1.parent = 1;
    const PositionRow good = rate(9, "ФЕР11", 1, 10, 0, 0, 0, 1);
    struct Case {
        const char* name;
        PositionRow row;
        std::vector<PositionData> extras;
        const char* message;
        bool computed;  // the first position
    };
    const Case cases[] = {
        {"no row", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1), {}, "Позиция 1: не выбран норматив НР и СП", false},
        {"several rows named", rate(1, "ФЕР21", 1, 10, 0, 0, 0, 1), {choices},
         "Позиция 1: не выбран норматив НР и СП (норма называет несколько: Пр/812-021.0; Пр/812-021.1)", false},
        {"only НР chosen", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1), {rows(1, "011.0", "")},
         "Позиция 1: не выбран норматив СП", false},
        {"a row the tables lack", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1), {rows(1, "999.9", "011.0")},
         "Позиция 1: норматив НР «Пр/812-999.9-1» не найден в таблицах 812/пр", false},
        {"a row the tables lack, without wages", rate(1, "ФЕР11", 1, 0, 5, 0, 0, 0), {rows(1, "011.0", "999.9")},
         "Позиция 1: норматив СП «Пр/774-999.9» не найден в таблицах 774/пр", false},
        {"negative quantity", rate(1, "ФЕР11", -2, 10, 0, 0, 0, 1), {rows(1, "011.0", "011.0")},
         "Позиция 1: отрицательное количество (-2)", false},
        {"coefficient 0", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1), {zero},
         "Позиция 1: коэффициент «0» — нужно число больше нуля", false},
        {"coefficient aimed at nothing", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1), {untargeted},
         "Позиция 1: коэффициент «1,2»: не указано, к чему он применяется (ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ)", false},
        {"a material with a negative quantity", rate(1, "ФЕР11", 1, 10, 0, 0, 0, 1),
         {rows(1, "011.0", "011.0"), materialOf1}, "Позиция 2: отрицательное количество (-1)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PositionData> extras = c.extras;
        extras.push_back(rows(9, "011.0", "011.0"));
        const BaseIndexResult r = compute({c.row, priced(2, "ФССЦ", -1, 5), good}, extras, indices("1", "1", "1"));
        ASSERT_FALSE(r.problems.empty());
        EXPECT_EQ(r.problems[0].message, c.message);
        EXPECT_EQ(r.positions[0].computed, c.computed);
        if (!c.computed) {
            // The sums hold the good position alone (and the material of its own, when it is one).
            EXPECT_EQ(r.total.base.fot, Money::fromKopecks(1000));
            EXPECT_EQ(r.problems[0].number, 1);
        }
    }
    // A rate without wages needs no row.
    EXPECT_TRUE(compute({rate(1, "ФЕР01", 1, 0, 5, 0, 0, 0)}, {}, indices("1", "1", "1")).problems.empty());

    // A missing index: the current prices of what needs it are absent, and it is said once.
    EstimateParams noEm = indices("52.21", "16.64", "8.49");
    noEm.indexEm.reset();
    const BaseIndexResult r = compute({rate(1, "ФЕР08", 1, 32.74, 10.46, 1.74, 215.19, 3.94)}, {rows(1, "008.0", "008.0")}, noEm);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0].message, "Не указан индекс к эксплуатации машин (ЭМ): текущие цены не рассчитаны");
    EXPECT_EQ(r.problems[0].number, 0);
    EXPECT_FALSE(r.currentComplete);
    EXPECT_FALSE(r.workTypes[0].currentDefined);
    EXPECT_TRUE(r.positions[0].currentDefined);  // its wages need only the index of wages
    EXPECT_EQ(all(r.total.base), "32.74 10.46 1.74 215.19 258.39 34.48 37.93 23.79 320.11");
}

TEST(BaseIndexResult, JsonOfTheWorkedPosition) {
    PositionData x = rows(1, "008.0", "008.0");
    x.machinistLabour = d("0.15");
    const std::vector<PositionRow> table = {rate(1, "ФЕР08-01-001-01", 1, 32.74, 10.46, 1.74, 215.19, 3.94)};
    const std::string json = toJson(compute(table, {x}, indices("52.21", "16.64", "8.49")), table);
    for (const char* part : {
             R"("positions":[{"n":1,"code":"ФЕР08-01-001-01","qty":1,"worktype":"строительные",)",
             R"("nr":"Пр/812-008.0-1","sp":"Пр/774-008.0","nr_pct":110,"sp_pct":69,)",
             R"("base":{"ot":32.74,"em":10.46,"otm":1.74,"m":215.19,"pz":258.39,"fot":34.48,"nr":37.93,"sp":23.79,"total":320.11,"zt":3.94,"ztm":0.15})",
             // the position's own current total, to compare with an expertise file's
             R"("current":{"ot":1709.36,"em":174.05,"otm":90.85,"m":1826.96,"pz":3710.37,"fot":1800.21,"nr":1980.23,"sp":1242.14,"total":6932.74}}],)",
             R"("worktypes":[{"type":"строительные",)",
             R"("current":{"ot":1709.36,"em":174.05,"otm":90.85,"m":1826.96,"pz":3710.37,"fot":1800.21,"nr":1980.23,"sp":1242.14,"total":6932.74})",
             R"("current_complete":true,"problems":[]})"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    // Without the index of machines the position's current ЭМ, ПЗ and total are not defined.
    EstimateParams noEm = indices("52.21", "16.64", "8.49");
    noEm.indexEm.reset();
    const std::string partial = toJson(compute(table, {x}, noEm), table);
    EXPECT_NE(partial.find(R"("current":{"ot":1709.36,"otm":90.85,"fot":1800.21,"nr":1980.23,"sp":1242.14}})"),
              std::string::npos) << partial;
}

TEST(BaseIndexResult, APositionsOwnIndicesBesideTheEstimates) {
    // Position 9 of the expertise example (ФЕРм 10-05-011-01 × 20) and a «Прочее» rate with ОТ 1.
    PositionData own = rows(1, "051.2", "051.2");
    PositionData other = rows(2, "011.0", "011.0");
    other.indices.ot = d("1");
    const std::vector<PositionRow> table = {rate(1, "ФЕРм10-05-011-01", 20, 31.52, 24.99, 2.84, 0.63, 2.44),
                                            rate(2, "ФЕР07-01-001-01", 1, 100, 10, 4, 0, 1)};
    struct Case {
        const char* what;
        PositionIndices first;
        const char* current1;   // ot em otm m pz fot nr sp total of position 1
        bool full1;
        const char* constructionEm;
    } cases[] = {
        {"estimate's indices", {}, "32913.18 8316.67 2965.53 106.97 41336.82 35878.71 34084.77 19015.72 94437.31", true,
         "166.40"},
        {"its own ЭМ and М", {std::nullopt, std::nullopt, d("10"), d("2"), std::nullopt},
         "32913.18 4998.00 2965.53 25.20 37936.38 35878.71 34084.77 19015.72 91036.87", true, "166.40"},
        {"its own ОТМ", {std::nullopt, d("3"), std::nullopt, std::nullopt, std::nullopt},
         "32913.18 8316.67 170.40 106.97 41336.82 33083.58 31429.40 17534.30 90300.52", true, "166.40"},
    };
    for (const Case& c : cases) {
        PositionData first = own;
        first.indices = c.first;
        const BaseIndexResult r = compute(table, {first, other}, indices("52.21", "16.64", "8.49"));
        ASSERT_TRUE(r.problems.empty()) << c.what << ": " << r.problems[0].message;
        EXPECT_EQ(all(r.positions[0].current), c.current1) << c.what;
        EXPECT_EQ(r.positions[0].currentFull, c.full1) << c.what;
        // the «Прочее» rate: ОТ by its own 1, ОТМ follows its ОТ
        EXPECT_EQ(wages(r.positions[1].current), "100.00 4.00 104.00 116.48 67.60") << c.what;
        // the sums: own ЭМ and М are added, the others indexed on the sum
        const WorkTypeTotals& mounting = r.workTypes[1];
        EXPECT_EQ(mounting.current.em, r.positions[0].current.em) << c.what;
        EXPECT_EQ(mounting.current.m, r.positions[0].current.m) << c.what;
        EXPECT_EQ(r.workTypes[0].current.em.text(), c.constructionEm) << c.what;
    }
    // Own indices cover what the estimate lacks; what no index covers stays missing.
    EstimateParams onlyOt;
    onlyOt.method = Method::BaseIndex;
    onlyOt.indexOt = d("52.21");
    PositionData first = own;
    first.indices.em = d("10");
    first.indices.m = d("2");
    const BaseIndexResult r = compute(table, {first, other}, onlyOt);
    EXPECT_TRUE(r.workTypes[1].currentDefined);
    EXPECT_FALSE(r.workTypes[0].currentDefined);
    EXPECT_FALSE(r.currentComplete);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0].message, "Не указан индекс к эксплуатации машин (ЭМ): текущие цены не рассчитаны");
}

}  // namespace
}  // namespace talvira::model
