// The printed forms of the summary and object estimates: the worked school's plan (which lines,
// which formulas, every printed figure the notes' thousands), and its workbook recalculated by
// Gnumeric from a copy: what a spreadsheet computes from the live formulas is what the program did.
#include "tests/e2e/Workbook.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "export/CellAddress.h"
#include "export/SummaryForms.h"
#include "export/XlsxRenderer.h"

#include <gtest/gtest.h>

namespace talvira::test {
namespace {

using namespace talvira::model;
using ssr::Col;
using sheet::a1;

Money rub(const char* text) { return *Money::tryParse(text); }

CostColumns cols(const char* b, const char* m = "0", const char* e = "0", const char* o = "0") {
    CostColumns c;
    c[CostColumn::Building] = rub(b);
    c[CostColumn::Mounting] = rub(m);
    c[CostColumn::Equipment] = rub(e);
    c[CostColumn::Other] = rub(o);
    return c;
}

LinkedEstimate linked(const char* name, CostColumns amounts) {
    LinkedEstimate e;
    e.file = std::string(name) + ".db";
    e.name = name;
    e.amounts = amounts;
    e.details[size_t(WorkType::Construction)].total = amounts[CostColumn::Building];
    e.details[size_t(WorkType::Construction)].ot = rub("1000.005");
    return e;
}

/** The school of the notes; the expertise fee «не облагается НДС». */
Construction school() {
    Construction c;
    c.name = "Школа на 550 мест";
    c.customer = "ГКУ «Дирекция»";
    c.level = "I кв. 2026";
    c.created = {2026, 2, 10};
    constexpr unsigned k45 = (1u << 4) | (1u << 5);
    SummaryLine object = SummaryLine::object("02-01", "Здание школы");
    object.estimates.push_back(linked("Общестроительные работы", cols("18456789.37")));
    object.estimates.push_back(
        linked("Внутренние инженерные системы", cols("1234567.89", "2345678.91", "3456789.12", "123456.78")));
    c.chapter(2).push_back(object);
    c.chapter(6).push_back(SummaryLine::estimate(linked("Наружные сети водоснабжения", cols("2987654.32", "412345.82"))));
    c.chapter(8).push_back(SummaryLine::percentage("Временные здания и сооружения", Dec7::parse("1.8"), 7, k45));
    c.chapter(9).push_back(SummaryLine::percentage("Зимнее удорожание", Dec7::parse("2.4"), 8, k45));
    c.chapter(10).push_back(SummaryLine::calculation("Содержание службы технического заказчика", cols("0", "0", "0", "742118.40")));
    c.chapter(10).push_back(SummaryLine::percentage("Строительный контроль", Dec7::parse("1.7"), 9, 1u << 8));
    c.chapter(12).push_back(SummaryLine::calculation("Проектные и изыскательские работы", cols("0", "0", "0", "1850000")));
    c.chapter(12).push_back(SummaryLine::calculation("Государственная экспертиза", cols("0", "0", "0", "245678.90")));
    c.chapter(12).back().exempt = true;
    return c;
}

/** The printed figure of the cell (row `name`, column `col`). */
std::string shown(const sheet::SheetPlan& plan, const std::string& name, int col) {
    const int row = plan.row(name);
    const sheet::Cell* cell = row < 0 ? nullptr : plan.at(row, col);
    return cell ? cell->value.text() : "(none: " + name + ")";
}

TEST(SummaryForms, TheSchoolsSummaryIsPlannedInPrintedThousandsWithLiveFormulas) {
    const Construction c = school();
    const SummaryResult r = computeSummary(c);
    const sheet::SheetPlan plan = ssr::planSsr(c, r);

    // every printed figure from its own kopecks
    EXPECT_EQ(shown(plan, "строка 1", Col::C8), "25617.28");
    EXPECT_EQ(shown(plan, "строка 2", Col::C4), "2987.65");
    EXPECT_EQ(shown(plan, "итого 1-7", Col::C8), "29017.28");
    EXPECT_EQ(shown(plan, "строка 3", Col::C8), "457.87");  // ВЗиС: the sum of its rounded columns
    EXPECT_EQ(shown(plan, "итого 1-9", Col::C8), "30096.63");
    // строительный контроль 1,7 % of гр. 8 of «Итого по главам 1–9», in гр. 7: r(511 642.65118)
    EXPECT_EQ(shown(plan, "строка 6", Col::R7), "511642.65");
    EXPECT_EQ(shown(plan, "строка 6", Col::C7), "511.64");
    EXPECT_EQ(shown(plan, "итого 1-12", Col::C8), model::thousandsText(r.subtotal(12).total()));
    EXPECT_EQ(shown(plan, "ВСЕГО", Col::C8), model::thousandsText(r.total.total()));
    EXPECT_EQ(shown(plan, "НДС", Col::R7), r.vat[CostColumn::Other].text());

    // the lines laid: empty chapters and the subtotals after 10 and 11 are left out
    for (const char* name : {"глава 2", "глава 6", "глава 12", "итого главы 10", "итого 1-7", "итого 1-8", "итого 1-9",
                             "итого 1-12", "резерв", "с резервом", "НДС", "ВСЕГО"})
        EXPECT_GE(plan.row(name), 0) << name;
    for (const char* name : {"глава 1", "глава 11", "итого 1-10", "итого 1-11"}) EXPECT_EQ(plan.row(name), -1) << name;

    // formulas over the hidden rubles
    auto formula = [&](const std::string& name, int col) {
        const sheet::Cell* cell = plan.at(plan.row(name), col);
        return cell && cell->kind == sheet::CellKind::Formula ? std::string(plan.textOf(*cell)) : std::string();
    };
    const int r3 = plan.row("строка 3"), sub7 = plan.row("итого 1-7"), sub9 = plan.row("итого 1-9");
    const int sub12 = plan.row("итого 1-12"), reserve = plan.row("резерв"), withReserve = plan.row("с резервом");
    EXPECT_EQ(formula("строка 3", Col::R4), "ROUND(" + a1(sub7, Col::R4) + "*1.8/100,2)");
    EXPECT_EQ(formula("строка 3", Col::R6), "") << "a column it is not taken of holds 0";
    EXPECT_EQ(formula("строка 3", Col::C8), "ROUND(" + a1(r3, Col::R8) + "/1000,2)");
    EXPECT_EQ(formula("строка 6", Col::R7), "ROUND(" + a1(sub9, Col::R8) + "*1.7/100,2)");
    EXPECT_EQ(formula("резерв", Col::R5), "ROUND(" + a1(sub12, Col::R5) + "*2/100,2)");
    EXPECT_EQ(formula("НДС", Col::R7),
              "ROUND((" + a1(withReserve, Col::R7) + "-(" + a1(plan.row("строка 8"), Col::R7) + "))*22/100,2)");
    EXPECT_EQ(formula("с резервом", Col::R4), a1(sub12, Col::R4) + "+" + a1(reserve, Col::R4));
    // the header's amount is the total's own cell
    bool headerRefersToTotal = false;
    for (int row = 0; row < plan.row("глава 2"); ++row)
        if (const sheet::Cell* cell = plan.at(row, Col::C4); cell && cell->kind == sheet::CellKind::Formula)
            headerRefersToTotal = plan.textOf(*cell) == a1(plan.row("ВСЕГО"), Col::C8);
    EXPECT_TRUE(headerRefersToTotal);
}

TEST(SummaryForms, AnObjectEstimateListsItsLocalEstimates) {
    const Construction c = school();
    const sheet::SheetPlan plan = ssr::planOsr(c, "02-01");
    EXPECT_EQ(plan.textAt(plan.row("строка 2"), Col::C2), "ЛС-02-01-02");
    EXPECT_EQ(shown(plan, "строка 2", Col::C8), "7160.49");
    EXPECT_EQ(shown(plan, "ВСЕГО", Col::C8), "25617.28");
    EXPECT_EQ(plan.row("строка 3"), -1);
    // «в том числе» оплата труда рабочих: 1 000.01 rubles of each estimate
    const int wages = plan.row("ВСЕГО") + 2;
    EXPECT_EQ(plan.textAt(wages, Col::C3), "оплата труда рабочих");
    EXPECT_EQ(plan.at(wages, Col::R8)->value.text(), "2000.02");
    EXPECT_THROW(ssr::planOsr(c, "06-01"), Error);
}

TEST(SummaryForms, AspreadsheetRecalculatesTheProgramsFigures) {
    const Construction c = school();
    const SummaryResult r = computeSummary(c);
    TempDir dir("talvira-ssr-form");
    const std::filesystem::path book = dir / "ССР.xlsx";
    sheet::renderXlsx(ssr::planSsr(c, r), book, book);
    QString error;
    const auto rows = e2e::recalcWithGnumeric(QString::fromStdString(book.string()),
                                              QString::fromStdString((dir / "gn").string()), &error);
    if (!rows && error.contains(QStringLiteral("not installed"))) GTEST_SKIP() << error.toStdString();
    ASSERT_TRUE(rows) << error.toStdString();
    auto rowOf = [&](const QString& text) -> const QStringList* {
        for (const QStringList& row : *rows)
            if (row.size() > 7 && row[2] == text) return &row;
        return nullptr;
    };
    const struct {
        const char* text;
        std::string total;
    } expected[] = {
        {"Итого по главам 1–7", "29017.28"},
        {"Итого по главам 1–12", model::thousandsText(r.subtotal(12).total())},
        {"Резерв средств на непредвиденные работы и затраты 2 %", model::thousandsText(r.reserve.total())},
        {"Налог на добавленную стоимость 22 %", model::thousandsText(r.vat.total())},
        {"ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ", model::thousandsText(r.total.total())},
    };
    for (const auto& e : expected) {
        const QStringList* row = rowOf(QString::fromUtf8(e.text));
        ASSERT_TRUE(row) << e.text;
        EXPECT_EQ(QString::number((*row)[7].toDouble(), 'f', 2).toStdString(), e.total) << e.text;
    }
}

}  // namespace
}  // namespace talvira::test
