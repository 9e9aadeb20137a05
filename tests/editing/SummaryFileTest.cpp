// The construction's file: every kind of line and every title field back as written (texts with
// line breaks and backslashes, stamps, exempt marks), a table of damaged files each refused naming
// its line, a file of the user's never written over; links kept relative to the file, and a stamp
// trusted only once its files have settled.
#include "tests/support/PricedEstimate.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/SummaryDocument.h"
#include "editing/SummaryFile.h"
#include "editing/SummaryLinks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using model::CostColumns;
using model::SummaryLine;

CostColumns cols(int64_t b, int64_t m, int64_t e, int64_t o) {
    CostColumns c;
    c.money = {Money::fromKopecks(b), Money::fromKopecks(m), Money::fromKopecks(e), Money::fromKopecks(o)};
    return c;
}

model::Construction everyKind() {
    model::Construction c;
    c.name = "Школа на 550 мест\nв пос. Озерный";
    c.customer = "ГКУ «Дирекция» \\ отдел 2";
    c.level = "I кв. 2026";
    c.vatDate = model::CalendarDate{2025, 12, 31};
    c.created = {2026, 2, 10};
    c.purpose = model::Purpose::Production;
    c.reserve = Dec7::parse("2.75");
    SummaryLine object = SummaryLine::object("02-01", "Здание школы");
    model::LinkedEstimate a;
    a.file = "Сметы/ЛСР 02-01-01.db";
    a.name = "Общестроительные работы";
    a.amounts = cols(1845678937, 0, 0, -5);
    a.stamp = {524288, 1767225600123456789, 2048, 1767225600000000001, -1, 0, true};
    model::Elements& building = a.details[size_t(model::WorkType::Construction)];
    building.ot = Money::fromKopecks(170936);
    building.total = Money::fromKopecks(1845678937);
    building.zt = Dec7::parse("3.94");
    a.details[size_t(model::WorkType::Commissioning)].nr = Money::fromKopecks(-1);
    object.estimates.push_back(a);
    a.file = "../Другие сметы/ЛСР 02-01-02.db";
    a.exempt = true;
    a.stamp.settled = false;
    object.estimates.push_back(a);
    c.chapter(2).push_back(object);
    a.file = "/srv/сметы/Сети.db";
    a.exempt = false;
    c.chapter(6).push_back(SummaryLine::estimate(a));
    c.chapter(8).push_back(SummaryLine::percentage("ВЗиС", Dec7::parse("1.875"), 7, (1u << 4) | (1u << 5), "332/пр"));
    SummaryLine control = SummaryLine::percentage("Строительный контроль", Dec7::parse("2.14"), 9, 1u << 8);
    control.exempt = true;
    c.chapter(10).push_back(control);
    c.chapter(12).push_back(SummaryLine::calculation("Экспертиза", cols(0, 0, 0, 24567890), "Расчет № 4"));
    return c;
}

TEST(SummaryFile, EveryKindOfLineBackAsWritten) {
    model::Construction c = everyKind();
    const std::string text = editing::summaryText(c);
    EXPECT_TRUE(text.starts_with("# Тальвира: сводный сметный расчет, формат 1\nname=Школа на 550 мест\\nв пос. Озерный\n"));
    EXPECT_NE(text.find("amounts=18456789.37:0.00:0.00:-0.05\n"), std::string::npos) << text;
    EXPECT_NE(text.find("detail.building=1709.36:0.00:0.00:0.00:0.00:0.00:0.00:0.00:18456789.37:3.94:0\n"
                        "detail.commissioning=0.00:0.00:0.00:0.00:0.00:0.00:-0.01:0.00:0.00:0:0\n"),
              std::string::npos);
    EXPECT_EQ(editing::summaryFromText(text, "Школа.ssr"), c);
    // a problem found at opening is not kept
    c.chapter(6)[0].estimates[0].problem = "смета не найдена";
    EXPECT_EQ(editing::summaryText(c), text);
    // nothing of the locale: the same text under a decimal comma
    EXPECT_EQ(editing::summaryFromText(text, "Школа.ssr").reserve, Dec7::parse("2.75"));
}

TEST(SummaryFile, DamagedFilesAreRefusedNamingTheLine) {
    const std::string good = editing::summaryText(everyKind());
    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    const struct {
        const char* name;
        std::string text;
        const char* why;
    } cases[] = {
        {"empty", "", "файл пуст"},
        {"not ours", "name=Школа\n", "первая строка не заголовок файла сводного сметного расчета"},
        {"a newer format", with("формат 1", "формат 2"), "формат 2 записан более новой версией программы"},
        {"not UTF-8", with("Экспертиза", "\xcd\xe5"), "текст не в кодировке UTF-8"},
        {"no equals sign", with("level=I кв. 2026", "level I кв. 2026"), "строка 5: нет знака «=»"},
        {"a key twice", with("customer=", "name=Школа\ncustomer="), "строка 4: «name» указано второй раз"},
        {"a bad escape", with("\\nв пос.", "\\tв пос."), "строка 2: неверная последовательность с «\\»"},
        {"a date with commas", with("vat.date=2025-12-31", "vat.date=2025,12,31"), "«vat.date=2025,12,31» неверно"},
        {"an unknown purpose", with("purpose=production", "purpose=жилой"), "«purpose=жилой» неверно"},
        {"an unknown section", with("[calc]", "[расчет]"), "неизвестный раздел «[расчет]»"},
        {"an estimate of no object", with("[object]", "[object.estimate]"), "смета объекта без раздела [object] перед ней"},
        {"chapter 13", with("chapter=12", "chapter=13"), "«chapter=13» неверно"},
        {"no chapter", with("chapter=12\n", ""), "([calc]): нет «chapter=»"},
        {"an estimate without its file", with("file=/srv/сметы/Сети.db\n", ""), "([estimate]): нет «file=»"},
        {"three amounts", with("18456789.37:0.00:0.00:-0.05", "18456789.37:0.00:0.00"), "«amounts=18456789.37:0.00:0.00» неверно"},
        {"a stamp in words", with(":2048:", ":два:"), "«stamp=524288:1767225600123456789:два:"},
        {"a detail short of labour", with(":3.94:0\n", ":3.94\n"), "«detail.building=1709.36:"},
        {"a percent of a subtotal below it", with("of=7", "of=8"), "процент берется от итога выше строки"},
        {"columns that are none", with("columns=4+5", "columns=3"), "«columns=3» неверно"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            editing::summaryFromText(c.text, "/tmp/Школа.ssr");
            ADD_FAILURE() << "read";
        } catch (const Error& e) {
            const std::string m = e.what();
            EXPECT_TRUE(m.starts_with("Сводный сметный расчет «/tmp/Школа.ssr» не прочитан: ")) << m;
            EXPECT_NE(m.find(c.why), std::string::npos) << m;
        }
    }
}

TEST(SummaryFile, InputsThatOnceBrokeTheReaderAreReadAroundOrRefused) {
    // keys-of-another-kind.ssr: an object's section with a percentage's keys, once kept and lost
    // on writing, so that the file did not read back as it was.
    for (const fs::path& f : filesUnder(fixture("fail/summary"), ".ssr")) {
        SCOPED_TRACE(f.string());
        std::ifstream in(f, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        try {
            const model::Construction c = editing::summaryFromText(text, f);
            EXPECT_EQ(editing::summaryFromText(editing::summaryText(c), f), c);
        } catch (const Error&) {
        }
    }
}

TEST(SummaryFile, AFileOfTheUsersIsNeverWrittenOver) {
    TempDir dir("talvira-ssr-file");
    const fs::path notes = dir / "Школа.ssr";
    std::ofstream(notes) << "мои заметки\n";
    EXPECT_THROW(editing::saveSummary(notes, everyKind()), Error);
    std::ifstream in(notes);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "мои заметки");
    EXPECT_THROW(editing::SummaryDocument::create(dir.path(), "Школа", {2026, 1, 1}), Error);
    EXPECT_EQ(editing::SummaryDocument::create(dir.path(), "Школа 2.ssr", {2026, 1, 1}), dir / "Школа 2.ssr");
    EXPECT_EQ(editing::loadSummary(dir / "Школа 2.ssr").name, "Школа 2");
}

TEST(SummaryLinks, LinksAreKeptRelativeAndStampsTrustedOnceSettled) {
    TempDir dir("talvira-ssr-links");
    fs::create_directories(dir / "a" / "Сметы");
    const fs::path ssr = dir / "a" / "Стройка.ssr";
    EXPECT_EQ(editing::linkOf(dir / "a" / "Сметы" / "Дом.db", ssr), "Сметы/Дом.db");
    EXPECT_EQ(editing::linkOf(dir / "b" / "Дом.db", ssr), "../b/Дом.db");
    EXPECT_EQ(editing::linkedFile("../b/Дом.db", ssr), dir / "a" / "../b/Дом.db");
    EXPECT_EQ(editing::linkedFile("/srv/Дом.db", ssr), fs::path("/srv/Дом.db"));

    const fs::path table = makePricedEstimate(dir / "a" / "Сметы", "Дом", {{model::WorkType::Commissioning, "100.05"}});
    EXPECT_FALSE(editing::stampOf(table).settled) << "just written";
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const fs::directory_entry& f : fs::directory_iterator(dir / "a" / "Сметы")) fs::last_write_time(f.path(), hourAgo);
    const model::FileStamp settled = editing::stampOf(table);
    EXPECT_TRUE(settled.settled);
    EXPECT_EQ(settled.textSize, -1) << "no title file";
    EXPECT_TRUE(settled.sameAs(editing::stampOf(table)));
    EXPECT_EQ(editing::stampOf(dir / "Нет.db").size, -1);

    // пусконаладочные работы go to гр. 7
    const model::LinkedEstimate e = editing::linkEstimate(table, ssr, model::nrSpTables());
    EXPECT_EQ(e.amounts, cols(0, 0, 0, 10005));
    EXPECT_EQ(e.details[size_t(model::WorkType::Commissioning)].m, Money::fromKopecks(10005));
    EXPECT_EQ(e.details[size_t(model::WorkType::Construction)], model::Elements());
    EXPECT_EQ(e.name, "Дом");
    // the side file changed: the stamp differs
    std::ofstream(estimate::keptCalcPath(table), std::ios::app) << "\n";
    EXPECT_FALSE(settled.sameAs(editing::stampOf(table)));
}

}  // namespace
}  // namespace talvira::test
