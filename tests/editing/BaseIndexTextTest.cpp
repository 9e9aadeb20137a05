// What the windows write of an estimate by the base-index method: the worked position of the
// notes through the totals window's lines to the kopeck (with VAT after the estimate's total),
// an index missing, the estimate's line and the current position's line.
#include "editing/BaseIndexText.h"

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

model::PositionRow workedRow() {
    model::PositionRow r;
    r.count = 1;
    r.code = "ФЕР08-01-001-01";
    r.quantity = 1;
    r.baseWages = 32.74;
    r.machines = 10.46;
    r.machineWages = 1.74;
    r.materials = 215.19;
    r.cost = 258.39;
    r.labour = 3.94;
    return r;
}

model::PositionData workedExtra() {
    model::PositionData x;
    x.count = 1;
    x.nrRow = x.spRow = "008.0";
    x.machinistLabour = d("0.15");
    return x;
}

model::EstimateParams moscow() {
    model::EstimateParams p;
    p.method = model::Method::BaseIndex;
    p.indexOt = d("52.21");
    p.indexEm = d("16.64");
    p.indexM = d("8.49");
    p.baseLevel = "01.01.2000";
    p.level = "II кв. 2025";
    p.region = "Московская область";
    return p;
}

TEST(BaseIndexLines, TheWorkedPositionInBaseAndCurrentPricesThenVat) {
    const model::BaseIndexResult r = model::computeBaseIndex({workedRow()}, {workedExtra()}, moscow(), model::nrSpTables());
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
    model::EstimateParams p = moscow();
    p.indexEm.reset();
    model::PositionRow second = workedRow();
    second.count = 2;
    second.code = "ФЕРм08-01-001-01";  // монтажные, and no row of НР and СП chosen
    const model::BaseIndexResult r = model::computeBaseIndex({workedRow(), second}, {workedExtra()}, p, model::nrSpTables());
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
    model::EstimateParams p = moscow();
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
    model::PositionData x = workedExtra();
    x.coefficients = {{d("1.15"), model::OT | model::ZT, "п. 4"}};
    const model::BaseIndexResult r = model::computeBaseIndex({rate}, {x}, moscow(), t);
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
        EXPECT_EQ(positionSummary(row, c.extra, c.result, moscow(), t, ','), c.text) << c.what;
    }
}

}  // namespace
}  // namespace talvira::editing
