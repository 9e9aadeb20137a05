// What the windows write of an estimate by the base-index method: the worked position of the
// notes through the totals window's lines to the kopeck (with VAT after the estimate's total),
// an index missing, the estimate's line and the current position's line; a position's own
// lines and the panel's amounts, labour to the norms' decimals, and what the template's
// controls and workbook say of such an estimate.
#include "editing/BaseIndexText.h"
#include "tests/support/WorkedEstimate.h"

#include <gtest/gtest.h>

#include <map>

namespace talvira::editing {
namespace {

using talvira::Dec7;

Dec7 d(const char* text) { return Dec7::parse(text); }

/** caption -> "base|index|current" of the lines under `heading`. */
std::map<std::string, std::string> section(const std::vector<TotalsLine>& lines, const std::string& heading) {
    std::map<std::string, std::string> out;
    bool in = false;
    for (const TotalsLine& l : lines) {
        if (l.kind == TotalsLine::Kind::Heading || l.kind == TotalsLine::Kind::Note) in = l.caption == heading;
        else if (in) out[l.caption] = l.base + "|" + l.index + "|" + l.current;
    }
    return out;
}

std::string nb(std::string s) {  // "1 709,36" with the no-break space the lines use
    for (size_t at = s.find(' '); at != std::string::npos; at = s.find(' ', at)) s.replace(at, 1, "\u00a0");
    return s;
}

using test::workedData;
using test::workedParams;
using test::workedRow;

TEST(BaseIndexLines, TheWorkedPositionInBaseAndCurrentPricesThenVat) {
    const model::BaseIndexResult r = model::computeBaseIndex({workedRow()}, {workedData()}, workedParams(), model::nrSpTables());
    const std::vector<TotalsLine> lines = baseIndexLines(r, "20", ',');
    const auto type = section(lines, "Строительные работы");
    const std::pair<const char*, const char*> expected[] = {
        {"Оплата труда (ОТ)", "32,74|52,21|1 709,36"},
        {"Эксплуатация машин (ЭМ)", "10,46|16,64|174,05"},
        {"в т.ч. оплата труда машинистов (ОТМ)", "1,74|52,21|90,85"},
        {"Материалы (М)", "215,19|8,49|1 826,96"},
        {"Прямые затраты (ПЗ)", "258,39||3 710,37"},
        {"Фонд оплаты труда (ФОТ)", "34,48||1 800,21"},
        {"Накладные расходы (НР)", "37,93||1 980,23"},
        {"Сметная прибыль (СП)", "23,79||1 242,14"},
        {"Итого", "320,11||6 932,74"},
        {"Затраты труда рабочих (ЗТ), чел.-ч", "3,94||"},
        {"Затраты труда машинистов (ЗТМ), чел.-ч", "0,15||"},
    };
    for (const auto& [caption, value] : expected) EXPECT_EQ(type.at(caption), nb(value)) << caption;
    EXPECT_EQ(section(lines, "Всего по смете").at("Итого"), nb("320,11||6 932,74"));
    // 20 % of 6 932,74 is 1 386,548: half a kopeck and more goes up.
    const auto vat = section(lines, "Справочно, в локальную смету не входит:");
    EXPECT_EQ(vat.at("НДС 20 %"), nb("||1 386,55"));
    EXPECT_EQ(vat.at("Всего с НДС"), nb("||8 319,29"));
    EXPECT_EQ(lines.back().caption, "Всего с НДС");  // nothing left uncomputed
}

TEST(BaseIndexLines, AMissingIndexAndAPositionLeftOutAreSaid) {
    model::EstimateParams p = workedParams();
    p.indexEm.reset();
    model::PositionRow second = workedRow();
    second.count = 2;
    second.code = "ФЕРм08-01-001-01";  // монтажные, and no row of НР and СП chosen
    const model::BaseIndexResult r = model::computeBaseIndex({workedRow(), second}, {workedData()}, p, model::nrSpTables());
    const std::vector<TotalsLine> lines = baseIndexLines(r, "abc", '.');
    const auto type = section(lines, "Строительные работы");
    EXPECT_EQ(type.at("Эксплуатация машин (ЭМ)"), "10.46|—|—");
    EXPECT_EQ(type.at("Оплата труда (ОТ)"), "32.74|52.21|1\u00a0709.36");
    EXPECT_EQ(type.at("Итого"), "320.11||—");
    EXPECT_EQ(section(lines, "Монтажные работы").size(), 0u);  // the position left out made no type
    std::vector<std::string> notes;
    for (const TotalsLine& l : lines)
        if (l.kind == TotalsLine::Kind::Note || l.kind == TotalsLine::Kind::Problem) notes.push_back(l.caption);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[1], "НДС: «abc» — не число");
    EXPECT_EQ(notes[2], "Не рассчитано:");
    EXPECT_NE(notes[3].find("Позиция 2"), std::string::npos) << notes[3];
    EXPECT_NE(notes[4].find("(ЭМ)"), std::string::npos) << notes[4];
}

TEST(BaseIndexSummary, TheEstimateAndThePositionInOneLineEach) {
    model::EstimateParams p = workedParams();
    EXPECT_EQ(estimateSummary(p, ','), "Цены базы на 01.01.2000; текущие: II кв. 2025, Московская область; индексы: "
                                       "ОТ 52,21, ЭМ 16,64, М 8,49, оборудование —");
    p.territory = model::Territory::Rks;
    p.capitalRepair = true;
    p.baseLevel.clear();
    p.level.clear();
    p.region.clear();
    EXPECT_EQ(estimateSummary(p, '.'), "Уровень цен базы не указан; текущие: уровень не указан, РКС; индексы: "
                                       "ОТ 52.21, ЭМ 16.64, М 8.49, оборудование —; капремонт: НР × 0,9, СП × 0,85");

    const model::NrSpTables& t = model::nrSpTables();
    model::PositionRow rate = workedRow();
    model::PositionData x = workedData();
    x.coefficients = {{d("1.15"), model::OT | model::ZT, "п. 4"}};
    const model::BaseIndexResult r = model::computeBaseIndex({rate}, {x}, workedParams(), t);
    struct Case {
        const char* what;
        model::PositionData extra;
        const model::PositionResult* result;
        const char* text;
    };
    model::PositionData unchosen;
    unchosen.count = 1;
    unchosen.nrChoices = {"Пр/812-021.0", "Пр/812-021.1"};
    unchosen.workType = model::WorkType::Other;
    model::PositionData material;
    material.count = 2;
    material.parent = 1;
    material.perUnit = d("1.02");
    model::PositionResult owner;  // the rate's result: the material belongs to it
    owner.number = 1;
    const Case cases[] = {
        {"a rate", x, &r.positions[0],
         "№ 1 · строительные · Пр/812-008.0-1 Конструкции из кирпича и блоков 110 % · "
         "Пр/774-008.0 69 % · К 1,15 (ОТ+ЗТ)"},
        {"rows to choose", unchosen, nullptr, "№ 1 · прочие · НР и СП не выбраны (норма называет: Пр/812-021.0; Пр/812-021.1)"},
        {"a material of a rate", material, &owner, "№ 2 · материал расценки № 1, расход 1,02 на единицу"},
    };
    for (const Case& c : cases) {
        model::PositionRow row = rate;
        row.count = c.extra.count;
        EXPECT_EQ(positionSummary(row, c.extra, c.result, workedParams(), t, ','), c.text) << c.what;
    }
}

TEST(BaseIndexPositionLines, TheWorkedPositionWithAMaterialThenOneLeftOut) {
    model::PositionRow material;  // 3 per unit at 7,50, brought by the rate
    material.count = 2;
    material.code = "ФССЦ-01";
    material.quantity = 3;
    material.cost = material.materials = 7.5;
    model::PositionData materialExtra;
    materialExtra.count = 2;
    materialExtra.parent = 1;
    materialExtra.perUnit = d("3");
    model::PositionRow mounting = workedRow();
    mounting.count = 3;
    mounting.code = "ФЕРм08-01-001-01";  // no row of НР and СП chosen
    model::PositionData rate = workedData();
    rate.coefficients = {{d("1.15"), model::ZT, "п. 4"}};
    const std::vector<model::PositionRow> rows{workedRow(), material, mounting};
    const model::BaseIndexResult r = model::computeBaseIndex(rows, {rate, materialExtra}, workedParams(), model::nrSpTables());
    ASSERT_EQ(r.positions.size(), 2u);

    const std::vector<TotalsLine> lines = positionLines(r.positions[0], rows, workedParams(), ',');
    const std::string heading = "№ 1 · ФЕР08-01-001-01 · кол-во 1 · строительные · К 1,15 (ЗТ)";
    EXPECT_EQ(lines[0].caption, heading);
    const auto position = section(lines, heading);
    const std::pair<const char*, const char*> expected[] = {
        {"Оплата труда (ОТ)", "32,74|52,21|1 709,36"},
        {"Эксплуатация машин (ЭМ)", "10,46||"},  // into current prices per type of work
        {"в т.ч. оплата труда машинистов (ОТМ)", "1,74|52,21|90,85"},
        {"Материалы (М)", "237,69||"},
        {"в т.ч. № 2 ФССЦ-01, 3", "22,50||"},
        {"Прямые затраты (ПЗ)", "280,89||"},
        {"Фонд оплаты труда (ФОТ)", "34,48||1 800,21"},
        {"Накладные расходы (НР), Пр/812-008.0-1 110 %", "37,93||1 980,23"},
        {"Сметная прибыль (СП), Пр/774-008.0 69 %", "23,79||1 242,14"},
        {"Всего по позиции", "342,61||"},
        {"Затраты труда рабочих (ЗТ), чел.-ч", "4,53||"},  // 3,94 × 1,15 = 4,531
        {"Затраты труда машинистов (ЗТМ), чел.-ч", "0,15||"},
    };
    ASSERT_EQ(position.size(), std::size(expected));
    for (const auto& [caption, value] : expected) EXPECT_EQ(position.at(caption), nb(value)) << caption;

    const std::vector<TotalsLine> leftOut = positionLines(r.positions[1], rows, workedParams(), '.');
    ASSERT_EQ(leftOut.size(), 2u);
    EXPECT_EQ(leftOut[0].caption, "№ 3 · ФЕРм08-01-001-01 · кол-во 1 · монтажные");  // the row's quantity
    EXPECT_NE(leftOut[1].caption.find("не выбран норматив НР и СП"), std::string::npos) << leftOut[1].caption;
    // Counted without being written, laid one after another.
    EXPECT_EQ(positionLineStarts(r), (std::vector<size_t>{0, lines.size(), lines.size() + leftOut.size()}));

    // The panel: the same amounts, the current ones only where the position has them.
    const std::vector<PositionAmount> panel = positionAmounts(&r.positions[0], ',');
    ASSERT_EQ(panel.size(), 9u);
    EXPECT_EQ(panel[0].caption + "=" + panel[0].base + "|" + panel[0].current, nb("ОТ=32,74|1 709,36"));
    EXPECT_EQ(panel[1].caption + "=" + panel[1].base + "|" + panel[1].current, "ЭМ=10,46|");
    EXPECT_EQ(panel[8].caption + "=" + panel[8].base + "|" + panel[8].current, "Всего=342,61|");
    model::EstimateParams noWages = workedParams();
    noWages.indexOt.reset();
    const model::BaseIndexResult missing = model::computeBaseIndex({workedRow()}, {workedData()}, noWages, model::nrSpTables());
    EXPECT_EQ(positionAmounts(&missing.positions[0], ',')[6].current, "—");  // НР
    EXPECT_EQ(positionAmounts(&r.positions[1], ',')[0].base, "");            // left out: nothing
}

TEST(BaseIndexPositionLines, TheMachinistsExtraPayWhereThePositionHasIt) {
    // К 1,15 on ОТ alone: Д = r(1 × 1,74 × 0,15) = 0,26, in current prices r(0,26 × 52,21) = 13,57.
    model::PositionData extra = workedData();
    extra.coefficients = {{d("1.15"), model::OT, ""}};
    const model::BaseIndexResult r = model::computeBaseIndex({workedRow()}, {extra}, workedParams(), model::nrSpTables());
    ASSERT_EQ(r.positions.size(), 1u);
    const std::vector<TotalsLine> lines = positionLines(r.positions[0], {workedRow()}, workedParams(), ',');
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[3].caption, "в т.ч. оплата труда машинистов (ОТМ)");
    EXPECT_EQ(lines[4].caption + "=" + lines[4].base + "|" + lines[4].index + "|" + lines[4].current,
              "в т.ч. доплата к оплате труда машинистов (Д)=0,26|52,21|13,57");
    EXPECT_EQ(positionLineStarts(r).back(), lines.size()) << "counted as written";
    const std::vector<PositionAmount> panel = positionAmounts(&r.positions[0], ',');
    ASSERT_EQ(panel.size(), 10u);
    EXPECT_EQ(panel[3].caption + "=" + panel[3].base + "|" + panel[3].current, "в т.ч. Д=0,26|13,57");
}

TEST(BaseIndexLabour, ToTheNormsDecimalsGroupedWithoutTrailingZeros) {
    const struct {
        const char* labour;
        int normDecimals;
        const char* text;
    } cases[] = {
        {"15877.223205", 2, "15 877,22"},  // six decimals of a product, as the form showed them
        {"4", 2, "4"},
        {"0.1255", 3, "0,126"},  // a norm with thousandths keeps them; half up
        {"2.345", 0, "2,35"},    // hundredths at least
        {"-1234.565", 2, "-1 234,57"},
        {"999.995", 2, "1 000"},
    };
    for (const auto& c : cases) EXPECT_EQ(labourText(d(c.labour), c.normDecimals, ','), nb(c.text)) << c.labour;
    // In the totals: 589,64 × 26,93 × 1,15 = 18 260,855… .
    model::PositionRow big = workedRow();
    big.quantity = 589.64;
    big.labour = 26.93;
    model::PositionData x = workedData();
    x.coefficients = {{d("1.15"), model::ZT, ""}};
    const model::BaseIndexResult r = model::computeBaseIndex({big}, {x}, workedParams(), model::nrSpTables());
    EXPECT_EQ(section(baseIndexLines(r, "20", '.'), "Всего по смете").at("Затраты труда рабочих (ЗТ), чел.-ч"),
              nb("18 260.86||"));
}

TEST(BaseIndexTemplateControls, WhatCountsForNothingAndWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"NREdit", "812/пр"}, {"SUEdit", "коэффициентами"}, {"VZSEdit", "сводном"}, {"KoefEdit", "индексам"},
        {"NDSEdit", ""},      {"UTVEdit", ""},
    };
    for (const auto& [control, says] : cases) {
        const std::string why = unusedByBaseIndex(control);
        EXPECT_EQ(why.empty(), *says == 0) << control;
        EXPECT_NE(why.find(says), std::string::npos) << control << ": " << why;
    }
    model::EstimateTexts typed = model::EstimateTexts::defaults(',');
    typed.overheadsPercent = "100";
    EXPECT_NE(templateWorkbookQuestion(typed).find("накладные расходы 100 %, плановые накопления 90 %, коэффициент "
                                                   "перехода 2,18"),
              std::string::npos);
}

}  // namespace
}  // namespace talvira::editing
