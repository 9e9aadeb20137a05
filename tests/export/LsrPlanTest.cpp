// The official form's plan, read without any workbook: the lines each position takes and their
// order, the named lines and what refers to them, the texts the form prints, the heights of
// wrapped rows; and the sheet plan's own guards. The amounts themselves are checked where the
// form is written and recalculated (LsrFormTest).
#include "export/LsrPlan.h"

#include "common/Error.h"
#include "export/CellAddress.h"
#include "model/BaseIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvira::test {
namespace {

using lsr::Anchor;
using lsr::LineKind;
using model::WorkType;

// The form's columns as the plan counts them: A = 0 … L = 11.
constexpr int A = 0, B = 1, C = 2, D = 3, E = 4, G = 6, H = 7, J = 9, L = 11;

Dec7 dec(const char* s) { return Dec7::parse(s); }

/** The worked ФЕР rate (1); a rate with coefficients (2) followed by a priced (3) and an unpriced
 *  (4) material; a material of its own (5); a mounting rate with a long name (6); equipment (7). */
struct Worked {
    std::vector<model::PositionRow> rows;
    std::vector<model::PositionData> extras;
    model::EstimateParams params;
    model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    model::BaseIndexResult result;
    std::vector<std::string> titles;

    explicit Worked(bool indexed = true) {
        struct P { const char* code; const char* name; double q, ot, em, otm, m, labour; };
        const P positions[] = {
            {"ФЕР08-01-001-01", "Устройство из бутового камня фундаментов: ленточных", 1, 32.74, 10.46, 1.74, 215.19, 3.94},
            {"ФЕР06-01-001-01", "Устройство бетонной подготовки", 2.5, 45.67, 20.10, 3.33, 100.01, 5.2},
            {"04.1.02.05-0006", "Смеси бетонные тяжелого бетона", 2.55, 0, 0, 0, 512.37, 0},
            {"01.7.15.03-0042", "Болты с гайками и шайбами строительные", 1.25, 0, 0, 0, 0, 0},
            {"ФССЦ-01.7.15.03-0042", "Болты анкерные", 0.015, 0, 0, 0, 12345.67, 0},
            {"ФЕРм08-02-001-01", kLongName, 3, 10, 2.50, 0.50, 1.05, 1.1},
            {"ФССЦ-62.1.01.01-0001", "Вентилятор радиальный", 2, 0, 0, 0, 15000, 0},
        };
        int32_t count = 0;
        for (const P& p : positions) {
            model::PositionRow r;
            r.count = ++count;
            r.code = p.code, r.name = p.name, r.unit = "шт";
            r.quantity = p.q, r.baseWages = p.ot, r.machines = p.em, r.machineWages = p.otm, r.materials = p.m;
            r.labour = p.labour;
            r.cost = p.ot + p.em + p.m;
            rows.push_back(r);
        }
        params.method = model::Method::BaseIndex;
        params.indexOt = dec("52.21"), params.indexM = dec("8.49"), params.indexEq = dec("5.5");
        if (indexed) params.indexEm = dec("16.64");
        extra(1).nrRow = extra(1).spRow = "008.0";
        extra(1).machinistLabour = dec("0.15");
        extra(2).nrRow = extra(2).spRow = "006.0";
        extra(2).coefficients = {{dec("1.15"), model::OT | model::ZT, "прил. 10"}, {dec("1.2"), model::EM, "прил. 10 т. 1"}};
        for (int32_t material : {3, 4}) {
            extra(material).parent = 2;
            extra(material).perUnit = dec(material == 3 ? "1.02" : "0.5");
        }
        extra(6).nrRow = extra(6).spRow = "033.0";
        extra(7).workType = WorkType::Equipment;
        result = model::computeBaseIndex(rows, extras, params, model::nrSpTables());
        titles.assign(result.positions.size(), "Конструкции из кирпича и блоков");
        titles[3] = kLongTitle;  // rate 6 (the materials of rate 2 are folded into it)
    }
    model::PositionData& extra(int32_t count) {
        for (model::PositionData& x : extras)
            if (x.count == count) return x;
        extras.push_back({});
        extras.back().count = count;
        return extras.back();
    }
    lsr::FormInput input() const {
        return {rows, texts, params, result, {"Тальвира 1.0", "ФСНБ-2020", {}, "1", "Фундаменты", {}, {}, {}}, titles};
    }

    static constexpr const char* kLongName =
        "Монтаж щитков осветительных, устанавливаемых на стене распорными дюбелями, масса щитка до 6 кг, "
        "с подключением проводов и заземлением корпуса в помещениях с нормальной средой";
    static constexpr const char* kLongTitle =
        "Электротехнические установки на других объектах, в том числе наружное освещение, и монтаж оборудования "
        "связи, сигнализации и автоматики";
};

LineKind kindOf(const sheet::SheetPlan& plan, int row) { return static_cast<LineKind>(plan.lines().at(size_t(row)).kind); }

/** The row of the position numbered `n`. */
int positionRow(const sheet::SheetPlan& plan, int n) {
    for (size_t r = 0; r < plan.lines().size(); ++r)
        if (kindOf(plan, int(r)) == LineKind::Position && plan.at(int(r), A)->value == Dec7::fromInt(n)) return int(r);
    return -1;
}

std::string ref(int row, int col) { return sheet::a1(row, col); }

TEST(LsrPlan, EachPositionTakesItsLinesInTheFormsOrder) {
    const Worked w;
    const sheet::SheetPlan plan = lsr::planLsr(w.input());
    using K = LineKind;
    const struct {
        int number;
        std::vector<K> lines;  // from the position line to «Всего по позиции»
    } cases[] = {
        {1, {K::Position, K::Cost, K::Cost, K::Cost, K::Cost, K::Labour, K::Labour, K::RateTotal, K::Fot, K::Charge,
             K::Charge, K::PositionTotal}},
        // coefficients after the position line, the unpriced material before the labour, the
        // priced one numbered after «Итого по расценке»
        {2, {K::Position, K::Coefficient, K::Coefficient, K::Cost, K::Cost, K::Cost, K::Cost, K::Material, K::Labour,
             K::RateTotal, K::Material, K::Fot, K::Charge, K::Charge, K::PositionTotal}},
        {5, {K::Position, K::PositionTotal}},
        {6, {K::Position, K::Cost, K::Cost, K::Cost, K::Cost, K::Labour, K::RateTotal, K::Fot, K::Charge, K::Charge,
             K::PositionTotal}},
        {7, {K::Position, K::PositionTotal}},
    };
    for (const auto& c : cases) {
        const int first = positionRow(plan, c.number);
        ASSERT_GE(first, 0) << c.number;
        std::vector<K> laid;
        for (int r = first; laid.empty() || laid.back() != K::PositionTotal; ++r) laid.push_back(kindOf(plan, r));
        EXPECT_EQ(laid, c.lines) << "position " << c.number;
    }
    const int priced = positionRow(plan, 2) + 10;
    EXPECT_EQ(plan.textAt(priced, A), "2.1");
    EXPECT_EQ(plan.textAt(priced, C), "Смеси бетонные тяжелого бетона");
    EXPECT_EQ(plan.textAt(priced, 12), lsr::elementKey(lsr::Element::M));  // summed as a material
}

TEST(LsrPlan, NamedLinesAreWhereTheyAreLaidAndWhatRefersToThem) {
    for (const bool indexed : {true, false}) {
        SCOPED_TRACE(indexed ? "every index given" : "no index of machines: current prices incomplete");
        const Worked w(indexed);
        const sheet::SheetPlan plan = lsr::planLsr(w.input());
        const struct {
            Anchor anchor;
            WorkType type;
            LineKind kind;
            int col;
            const char* text;
        } cases[] = {
            {Anchor::Head, {}, LineKind::Head, A, "№ п/п"},
            {Anchor::Body, {}, LineKind::Position, C, "Устройство из бутового камня фундаментов: ленточных"},
            {Anchor::SectionTotal, {}, LineKind::Amount, C, "Итого по Разделу 1"},
            {Anchor::Total, {}, LineKind::Amount, C, "ВСЕГО по смете"},
            {Anchor::TotalOt, {}, LineKind::Amount, C, "в том числе: оплата труда (ОТ)"},
            {Anchor::LabourWorkers, {}, LineKind::Amount, C, "затраты труда рабочих, чел.-ч"},
            {Anchor::LabourMachinists, {}, LineKind::Amount, C, "затраты труда машинистов, чел.-ч"},
            {Anchor::TypeTotal, WorkType::Construction, LineKind::Amount, C, "ВСЕГО строительные работы"},
            {Anchor::TypeTotal, WorkType::Mounting, LineKind::Amount, C, "ВСЕГО монтажные работы"},
            {Anchor::TypeEm, WorkType::Mounting, LineKind::Amount, C, "эксплуатация машин и механизмов"},
            {Anchor::TypeM, WorkType::Construction, LineKind::Amount, C, "материальные ресурсы"},
            {Anchor::TypeM, WorkType::Equipment, LineKind::Amount, C, "оборудование"},
        };
        for (const auto& c : cases) {
            const int r = plan.row(lsr::anchorName(c.anchor, c.type));
            ASSERT_GE(r, 0) << lsr::anchorName(c.anchor, c.type);
            EXPECT_EQ(kindOf(plan, r), c.kind) << lsr::anchorName(c.anchor, c.type);
            EXPECT_EQ(plan.textAt(r, c.col), c.text) << lsr::anchorName(c.anchor, c.type);
        }
        EXPECT_EQ(plan.row(lsr::anchorName(Anchor::TypeTotal, WorkType::Other)), -1);  // no such work here

        // The header above refers to the totals below it, the section to the types after it.
        const int amounts = [&] {
            for (size_t r = 0; r < plan.lines().size(); ++r)
                if (kindOf(plan, int(r)) == LineKind::HeaderAmount) return int(r);
            return -1;
        }();
        auto row = [&](Anchor a, WorkType t = {}) { return plan.row(lsr::anchorName(a, t)); };
        const struct {
            int row, col;
            std::string formula;
            bool current;  // written only when every index is given
        } refs[] = {
            {amounts, E, ref(row(Anchor::Total), J) + "/1000", false},
            {amounts + 3, E, "(" + ref(row(Anchor::TypeTotal, WorkType::Mounting), J) + ")/1000", false},
            {amounts, J, ref(row(Anchor::TotalOt), L) + "/1000", true},
            {amounts + 1, J, ref(row(Anchor::LabourWorkers), J), false},
            {amounts + 2, J, ref(row(Anchor::LabourMachinists), J), false},
            {row(Anchor::SectionTotal) - 1, L, ref(row(Anchor::TypeM, WorkType::Equipment), L),
             true},  // «Итого оборудование» in current prices
        };
        for (const auto& f : refs) {
            const sheet::Cell* cell = plan.at(f.row, f.col);
            if (f.current && !indexed) {
                EXPECT_EQ(cell, nullptr) << f.formula;
                continue;
            }
            ASSERT_NE(cell, nullptr) << f.formula;
            EXPECT_EQ(plan.textOf(*cell), f.formula);
        }
        const sheet::Cell* currentTotal = plan.at(amounts, D);
        EXPECT_EQ(currentTotal != nullptr, indexed);  // no current total without every index
    }
}

TEST(LsrPlan, TheFormPrintsReasonsLabourAndSignatories) {
    Worked w;
    w.texts.contractorPost = "Главный инженер ";
    w.texts.contractorName = "Петров П. П.";
    w.texts.approverName = "";  // the post alone
    const sheet::SheetPlan plan = lsr::planLsr(w.input());
    // a coefficient: its reason where the code stands, what it acts on beside it
    const int second = positionRow(plan, 2);
    EXPECT_EQ(plan.textAt(second + 1, B), "прил. 10");
    EXPECT_EQ(plan.textAt(second + 1, C), "ОТ=1,15; ЗТ=1,15;");
    EXPECT_EQ(plan.textAt(second + 2, B), "прил. 10 т. 1");
    EXPECT_EQ(plan.textAt(second + 2, C), "ЭМ=1,2;");
    // labour: summed at seven decimals, shown with two
    const std::pair<int, int> labour[] = {{positionRow(plan, 1) + 5, G},
                                          {plan.row(lsr::anchorName(Anchor::LabourWorkers)), J}};
    for (const auto& [r, c] : labour) {
        const sheet::Cell* cell = plan.at(r, c);
        ASSERT_NE(cell, nullptr) << r;
        EXPECT_EQ(plan.styles()[cell->style].numFormat, "#,##0.00") << r;
    }
    // the title block's signatories, each from its own texts; «Составил», «Проверил» to sign by hand
    EXPECT_EQ(plan.textAt(0, A), "СОГЛАСОВАНО:");
    EXPECT_EQ(plan.textAt(0, H), "УТВЕРЖДАЮ:");
    EXPECT_EQ(plan.textAt(1, A), "Главный инженер Петров П. П.");
    EXPECT_EQ(plan.textAt(1, H), "Генеральный директор");
    int signatures = 0;
    for (size_t r = 0; r < plan.lines().size(); ++r)
        if (kindOf(plan, int(r)) == LineKind::Signature) {
            ++signatures;
            EXPECT_EQ(plan.textAt(int(r), C), "");
        }
    EXPECT_EQ(signatures, 2);
}

TEST(LsrPlan, WrappedTextsMakeTheirRowsTall) {
    // Regression: long names of rates and of НР/СП rows overprinted the row below.
    const Worked w;
    const sheet::SheetPlan plan = lsr::planLsr(w.input());
    const double one = sheet::lineHeight(10);
    const int six = positionRow(plan, 6);
    const int nr = six + 8;
    ASSERT_EQ(kindOf(plan, nr), LineKind::Charge);
    int letter = 0;  // the label of the letter on the indices
    while (plan.textAt(letter, A) != lsr::headerLabels()[3]) ++letter;
    const struct {
        const char* what;
        int row;
        int lines;
    } cases[] = {
        {"a short name", positionRow(plan, 1), 1},
        {"a long name", six, 3},
        {"a long НР title", nr, 3},
        {"a code wider than its column", positionRow(plan, 7), 2},  // «ФССЦ-62.1.01.01-0001»
        {"the long header label", letter, 6},
    };
    for (const auto& c : cases) EXPECT_EQ(plan.heightOf(c.row), c.lines * one) << c.what;
}

TEST(SheetPlan, WrappedLinesFollowTheWords) {
    const struct {
        const char* text;
        double pixels;
        int lines;
    } cases[] = {
        {"", 100, 1},
        {"ОТ", 100, 1},
        {"ФЕР08-01-001-01", 110, 1},                  // a usual code fits column 2
        {"раз два три четыре пять шесть", 150, 2},
        {"раз\nдва", 400, 2},
        {"ааааааааааааааааааааааааааааааааааааааааааа", 100, 3},  // one word broken where the lines end
        {"а ааааааааааааааааааааааааааааааааааааааааааа", 100, 4},  // …and begun on a line of its own
    };
    for (const auto& c : cases) EXPECT_EQ(sheet::wrappedLines(c.text, c.pixels, 10), c.lines) << c.text;
}

TEST(SheetPlan, APlannersMistakeIsRefused) {
    const struct {
        const char* what;
        void (*plan)(sheet::SheetPlan&);
    } cases[] = {
        {"a cell set twice", [](sheet::SheetPlan& p) { p.text(0, 1, "x", 0), p.blank(0, 1, 0); }},
        {"a cell under a merged range", [](sheet::SheetPlan& p) { p.merge(0, 0, 1, 2, "x", 0), p.text(1, 1, "y", 0); }},
        {"a name given twice", [](sheet::SheetPlan& p) { p.name("итог", 0), p.name("итог", 1); }},
    };
    for (const auto& c : cases) {
        sheet::SheetPlan p;
        p.style({});
        p.addLine(0), p.addLine(0);
        try {
            c.plan(p);
            p.finish();
            ADD_FAILURE() << c.what;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("внутренняя ошибка"), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(LsrPlan, AnEmptyEstimateHasTheWholeFormWithNothingSummed) {
    const std::vector<model::PositionRow> rows;
    const model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    const model::EstimateParams params;
    const model::BaseIndexResult result;
    const sheet::SheetPlan plan = lsr::planLsr({rows, texts, params, result, {}, {}});
    EXPECT_EQ(plan.row(lsr::anchorName(Anchor::Body)), -1);
    const int total = plan.row(lsr::anchorName(Anchor::Total));
    ASSERT_GE(total, 0);
    EXPECT_EQ(plan.textAt(total, J), "ROUND(0,2)");
    EXPECT_EQ(plan.textAt(plan.row(lsr::anchorName(Anchor::LabourWorkers)), J), "ROUND(0,7)");
}

}  // namespace
}  // namespace talvira::test

namespace talvira::test {
namespace {

TEST(LsrPlan, WhatGoesApartFromATypesIndexIsAddedAsItIs) {
    // Д (the machinists paid as the workers: K_ОТ 1.15 over K_ОТМ 1) goes by the index of wages,
    // so the type's current ЭМ is r(I_ЭМ × (ЭМ − Д)) + r(Д × I_ОТ), as its formula says.
    model::PositionRow r;
    r.count = 1, r.code = "ФЕР01-01-001-01", r.name = "Разработка грунта", r.unit = "1000 м3";
    r.quantity = 2, r.baseWages = 100, r.machines = 50, r.machineWages = 20, r.labour = 10;
    model::PositionData x;
    x.count = 1, x.nrRow = x.spRow = "001.1";
    x.coefficients = {{dec("1.15"), model::OT, ""}};
    model::EstimateParams p;
    p.method = model::Method::BaseIndex;
    p.indexOt = dec("52.21"), p.indexEm = dec("16.64"), p.indexM = dec("8.49");
    const model::BaseIndexResult result = model::computeBaseIndex({r}, {x}, p, model::nrSpTables());
    const model::WorkTypeTotals& t = result.workTypes.at(0);
    ASSERT_EQ(t.emApart.text(), "6.00");  // r(2 × 20 × 0.15)
    EXPECT_EQ(t.current.em.text(), "1977.26");  // r(16.64 × 100) + r(6 × 52.21) = 1 664.00 + 313.26
    const sheet::SheetPlan plan = lsr::planLsr(lsr::FormInput{{r}, model::EstimateTexts::defaults(','), p, result,
                                                              {"Тальвира 1.0", "ФСНБ-2020", {}, "1", "Грунт", {}, {}, {}},
                                                              {"Земляные работы"}});
    const int row = plan.row(lsr::anchorName(Anchor::TypeEm, WorkType::Construction));
    const std::string formula(plan.textOf(*plan.at(row, L)));
    EXPECT_NE(formula.find(ref(row, J) + "-6.00)*" + ref(row, 10)), std::string::npos) << formula;
    EXPECT_TRUE(formula.ends_with("+" + t.emApartCurrent.text())) << formula;
}

}  // namespace
}  // namespace talvira::test
