// What the construction's window shows and does, without a display: the tree with its figures
// and marks, the totals, the commands each row allows, every edit (moves across chapters, an
// object's estimates) undone through the document back to the very file it was, linked amounts
// never undone, and the two dialogs' forms with a table of refused fields.
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/SummaryDocument.h"
#include "editing/SummaryEdits.h"
#include "editing/SummaryFile.h"
#include "editing/SummaryRows.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using editing::SummaryPlace;
using model::CostColumns;
using model::SummaryLine;

CostColumns rubles(int64_t b, int64_t m, int64_t e, int64_t o) {
    CostColumns c;
    c.money = {Money::fromKopecks(b * 100), Money::fromKopecks(m * 100), Money::fromKopecks(e * 100), Money::fromKopecks(o * 100)};
    return c;
}

model::LinkedEstimate linked(const std::string& file, const std::string& name, CostColumns amounts) {
    model::LinkedEstimate e;
    e.file = file;
    e.name = name;
    e.amounts = amounts;
    return e;
}

/** Chapter 2: an object of two estimates; 6: an estimate; 8: ВЗиС 2 % of 4+5 of 1–7; 12: a calculation. */
model::Construction school() {
    model::Construction c;
    c.name = "Школа";
    c.level = "I кв. 2026";
    c.created = {2026, 2, 1};
    SummaryLine object = SummaryLine::object("02-01", "Здание школы");
    object.estimates.push_back(linked("Сметы/Общестрой.db", "Общестроительные работы", rubles(1'000'000, 0, 0, 0)));
    object.estimates.push_back(linked("Сметы/Отопление.db", "Отопление", rubles(0, 200'000, 300'000, 0)));
    object.estimates[1].problem = "смета «Сметы/Отопление.db» не найдена: взяты последние известные суммы";
    c.chapter(2).push_back(object);
    c.chapter(6).push_back(SummaryLine::estimate(linked("Сети.db", "Наружные сети", rubles(500'000, 0, 0, 0))));
    c.chapter(8).push_back(SummaryLine::percentage("Временные здания", Dec7::fromInt(2), 7, (1u << 4) | (1u << 5), "332/пр"));
    c.chapter(12).push_back(SummaryLine::calculation("Проектные работы", rubles(0, 0, 0, 123'456)));
    return c;
}

TEST(SummaryRows, TheTreeShowsEveryChapterItsLinesAndMarks) {
    const model::Construction c = school();
    editing::LinkNotice changed;
    changed.kind = editing::LinkNotice::Kind::Changed;
    changed.file = "сети.db";  // the notice names the file as the folder spells it
    changed.text = "Строка 2 «Наружные сети» (глава 6): смета «Сети.db» изменилась";
    const auto tree = editing::summaryTree(c, model::computeSummary(c), {changed}, ',');
    ASSERT_EQ(tree.size(), 12u);
    EXPECT_EQ(tree[0].cells[2], "Глава 1. Подготовка территории строительства");
    EXPECT_EQ(tree[0].cells[7], "") << "an empty chapter shows no figures";
    const editing::SummaryRow& object = tree[1].children.at(0);
    EXPECT_EQ(object.cells, (std::array<std::string, 8>{"1", "ОСР 02-01", "Здание школы", "1000,00", "200,00", "300,00", "0,00", "1500,00"}));
    ASSERT_EQ(object.children.size(), 2u);
    EXPECT_EQ(object.children[1].place, (SummaryPlace{2, 0, 1}));
    EXPECT_EQ(object.children[1].cells[1], "ЛСР 02-01-02");
    EXPECT_NE(object.children[1].problem.find("не найдена"), std::string::npos);
    EXPECT_EQ(object.problem, object.children[1].problem) << "the object carries its estimate's problem";
    EXPECT_TRUE(object.children[0].problem.empty());
    EXPECT_EQ(tree[5].children.at(0).changed, changed.text);
    EXPECT_EQ(tree[5].cells[7], "500,00");
    // 2 % of 1 500 000 + 200 000 in гр. 4 and 5, each rounded: 30 000 and 4 000
    EXPECT_EQ(tree[7].children.at(0).cells,
              (std::array<std::string, 8>{"3", "332/пр", "Временные здания", "30,00", "4,00", "0,00", "0,00", "34,00"}));
    EXPECT_EQ(tree[11].children.at(0).cells[1], "СР-1");

    const auto totals = editing::summaryTotals(model::computeSummary(c), '.');
    ASSERT_EQ(totals.size(), 10u);
    EXPECT_EQ(totals[0].caption, "Итого по главам 1–7");
    EXPECT_EQ(totals[0].cells[4], "2000.00");
    EXPECT_EQ(totals[6].caption, "Резерв средств на непредвиденные работы и затраты 2 %");
    EXPECT_EQ(totals[8].caption, "Налог на добавленную стоимость 22 % (на 01.01.2026)");
    EXPECT_EQ(totals[9].caption, "ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ");
    // «Итого по главам 1–12»: 2 000 000 + 34 000 + 123 456 rubles
    EXPECT_EQ(totals[5].cells[4], "2157.46");
    EXPECT_EQ(totals[9].cells[4], model::thousandsText(model::computeSummary(c).total.total()));
}

TEST(SummaryRows, EachRowAllowsItsCommands) {
    const model::Construction c = school();
    using A = editing::SummaryActions;
    const struct {
        const char* name;
        SummaryPlace place;
        A can;
    } cases[] = {
        {"nothing current", {}, A{}},
        {"a chapter", {6, -1, -1}, A{true, false, false, false, false, false, false}},
        {"the object", {2, 0, -1}, A{true, true, true, true, true, false, true}},
        {"its first estimate", {2, 0, 0}, A{true, true, true, false, true, true, true}},
        {"its last estimate", {2, 0, 1}, A{true, true, true, true, false, true, true}},
        {"an estimate line", {6, 0, -1}, A{true, true, true, true, true, true, false}},
        {"the last chapter's last line", {12, 0, -1}, A{true, true, true, true, false, false, false}},
        {"a line that is not there", {6, 3, -1}, A{true, false, false, false, false, false, false}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(editing::actionsAt(c, k.place), k.can);
    }
}

TEST(SummaryEdits, EveryEditIsUndoneBackToTheSameFile) {
    TempDir dir("talvira-ssr-edits");
    const fs::path file = editing::SummaryDocument::create(dir.path(), "Школа", {2026, 2, 1});
    editing::SummaryDocument doc(model::nrSpTables());
    doc.open(file);
    doc.replace(school());
    const auto text = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string start = text();
    const model::Construction& c = doc.construction();

    std::vector<editing::SummaryEdit> edits;
    edits.push_back(editing::addedLine(c, 9, SummaryLine::percentage("Зимнее удорожание", Dec7::parse("1,5"), 8, 1u << 4)));
    EXPECT_EQ(edits.back().place, (SummaryPlace{9, 0, -1}));
    edits.push_back(*editing::movedLine(c, {6, 0, -1}, -1));   // up across the edge: the end of chapter 5
    EXPECT_EQ(edits.back().place, (SummaryPlace{5, 0, -1}));
    EXPECT_EQ(edits.back().after.chapter(5).at(0).estimates.at(0).name, "Наружные сети");
    edits.push_back(*editing::movedLine(c, {2, 0, 1}, -1));    // the object's estimates swapped
    EXPECT_EQ(edits.back().after.chapter(2)[0].estimates[0].name, "Отопление");
    edits.push_back(editing::removedLine(c, {2, 0, 0}));       // one estimate out of the object
    EXPECT_EQ(edits.back().after.chapter(2)[0].estimates.size(), 1u);
    EXPECT_EQ(edits.back().place, (SummaryPlace{2, 0, 0}));
    edits.push_back(editing::removedLine(c, {12, 0, -1}));
    EXPECT_EQ(edits.back().place, (SummaryPlace{12, -1, -1})) << "the chapter, now empty";
    SummaryLine calc = SummaryLine::calculation("Экспертиза", rubles(0, 0, 0, 1));
    edits.push_back(editing::changedLine(c, {12, 0, -1}, calc));
    SummaryLine exempt;
    exempt.exempt = true;
    edits.push_back(editing::changedLine(c, {2, 0, 1}, exempt));  // one of an object's estimates: its mark only
    EXPECT_TRUE(edits.back().after.chapter(2)[0].estimates[1].exempt);
    EXPECT_EQ(edits.back().after.chapter(2)[0].name, "Здание школы");
    SummaryLine second = c.chapter(2)[0];
    second.objectNumber = "02-02";
    const model::Construction two = editing::addedLine(c, 3, second).after;
    second.objectNumber = "02-01";
    EXPECT_THROW(editing::changedLine(two, {3, 0, -1}, second), Error) << "two objects of one number";
    EXPECT_FALSE(editing::movedLine(c, {2, 0, 0}, -1)) << "the object's first estimate goes no higher";
    EXPECT_FALSE(editing::movedLine(c, {12, 0, -1}, +1)) << "nothing below chapter 12";

    for (const editing::SummaryEdit& e : edits) {
        SCOPED_TRACE(e.text);
        const model::Construction before = doc.construction();
        doc.replace(e.after);
        model::Construction back = before;
        editing::carryLinks(back, doc.construction());
        doc.replace(back);
        EXPECT_EQ(text(), start);
    }
    // a percentage moved above the subtotal it is taken of is refused, the file as it was
    auto up = editing::movedLine(c, {8, 0, -1}, -1);
    ASSERT_TRUE(up);
    EXPECT_THROW(doc.replace(up->after), Error);
    EXPECT_EQ(text(), start);
}

TEST(SummaryEdits, AnUndoKeepsTheAmountsReadLast) {
    model::Construction before = school();
    model::Construction now = before;
    now.chapter(6)[0].estimates[0].amounts = rubles(600'000, 0, 0, 0);
    now.chapter(6)[0].estimates[0].exempt = true;
    now.chapter(6)[0].estimates[0].stamp.size = 4096;
    editing::carryLinks(before, now);
    EXPECT_EQ(before.chapter(6)[0].estimates[0].amounts, rubles(600'000, 0, 0, 0));
    EXPECT_EQ(before.chapter(6)[0].estimates[0].stamp.size, 4096);
    EXPECT_FALSE(before.chapter(6)[0].estimates[0].exempt) << "the mark is undone with the line";
    EXPECT_EQ(editing::removeQuestion(school(), {6, 0, -1}), "Удалить строку 2 «Наружные сети» из главы 6?");
    EXPECT_EQ(editing::removeQuestion(school(), {2, 0, 1}), "Удалить смету «Отопление» из объекта 02-01 «Здание школы»?");
}

TEST(SummaryEdits, TheDialogsReadBackWhatTheyShowAndNameARefusedField) {
    const model::Construction c = school();
    for (const SummaryLine& line : {c.chapter(8)[0], c.chapter(12)[0]})
        EXPECT_EQ(editing::readLineForm(editing::lineForm(line, ','), line, 12), line);

    editing::LineForm good;
    good.name = "  Авторский надзор ";
    good.amounts = {"", "", "", "1 234 567,8"};
    const SummaryLine read = editing::readLineForm(good, {}, 12);
    EXPECT_EQ(read.name, "Авторский надзор");
    EXPECT_EQ(read.amounts.money[3], Money::fromKopecks(123456780));

    const auto with = [&](auto change) {
        editing::LineForm f = good;
        change(f);
        return f;
    };
    using K = editing::LineFormKind;
    const struct {
        const char* name;
        editing::LineForm form;
        int chapter;
        const char* why;
    } refused[] = {
        {"no name", with([](auto& f) { f.name = " "; }), 12, "Наименование: пусто"},
        {"an amount in words", with([](auto& f) { f.amounts[0] = "сто"; }), 12, "Сумма гр. 4: «сто»"},
        {"three decimals", with([](auto& f) { f.amounts[1] = "1,005"; }), 12, "Сумма гр. 5: «1,005»"},
        {"below zero", with([](auto& f) { f.amounts[2] = "-1"; }), 12, "Сумма гр. 6: «-1»"},
        {"a percent in words", with([](auto& f) { f.kind = K::Percent; f.percent = "два"; }), 9, "Процент: «два» не число"},
        {"columns that are none", with([](auto& f) { f.kind = K::Percent; f.percent = "2"; f.columns = "3"; }), 9, "Графы: «3»"},
        {"a subtotal below", with([](auto& f) { f.kind = K::Percent; f.percent = "2"; f.base = 9; }), 8,
         "процент берется от итога выше строки"},
        {"an object without a number", with([](auto& f) { f.kind = K::Object; }), 2, "Номер объекта: пусто"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        try {
            editing::readLineForm(r.form, {}, r.chapter);
            ADD_FAILURE() << "taken";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.why), std::string::npos) << e.what();
        }
    }

    editing::TitleForm t = editing::titleForm(c, ',');
    EXPECT_EQ(t.reserve, "2");
    t.vatDate = "31.12.2025";
    t.reserve = "1,5";
    const model::Construction titled = editing::SummaryDocument::withValues(c, editing::readTitleForm(t));
    EXPECT_EQ(titled.vatDate, (model::CalendarDate{2025, 12, 31}));
    EXPECT_EQ(titled.reserve, Dec7::parse("1.5"));
    EXPECT_EQ(editing::titleForm(titled, ',').vatDate, "31.12.2025");
    t.vatDate = "31,12,2025";
    EXPECT_THROW(editing::readTitleForm(t), Error);
    t.vatDate.clear();
    t.reserve = "2,5";
    EXPECT_THROW(editing::SummaryDocument::withValues(c, editing::readTitleForm(t)), Error) << "over the cap of 2 %";
    t.production = true;
    EXPECT_EQ(editing::SummaryDocument::withValues(c, editing::readTitleForm(t)).reserve, Dec7::parse("2.5"));
}

TEST(SummaryRows, AChangeStaysNamedUntilTheNextOpening) {
    using N = editing::LinkNotice;
    const N changedA{N::Kind::Changed, 1, 2, "a.db", "a changed"};
    const N missingB{N::Kind::Missing, 2, 6, "b.db", "b missing"};
    const N changedAAgain{N::Kind::Changed, 1, 2, "A.db", "a changed again"};
    auto texts = [](const std::vector<N>& ns) {
        std::vector<std::string> out;
        for (const N& n : ns) out.push_back(n.text);
        return out;
    };
    EXPECT_EQ(texts(editing::mergeNotices({changedA, missingB}, {})), std::vector<std::string>{"a changed"});
    EXPECT_EQ(texts(editing::mergeNotices({changedA}, {changedAAgain, missingB})),
              (std::vector<std::string>{"a changed again", "b missing"}));
}

}  // namespace
}  // namespace talvira::test
