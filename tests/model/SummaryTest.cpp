// The summary estimate computed from a construction: the worked school of the notes to the kopeck
// (every line, subtotal, reserve, VAT at 22 % and at 20 %), what a percentage, the reserve and VAT
// round per column, exempt lines, the dates VAT changes on, thousands converted once, and a table
// of constructions that cannot be computed.
#include "common/Error.h"
#include "model/Summary.h"
#include "model/SummaryJson.h"

#include <gtest/gtest.h>

namespace talvira::model {
namespace {

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
    return e;
}

constexpr unsigned k45 = (1u << 4) | (1u << 5);

/** «Школа на 550 мест» of the notes: one object of two estimates, one estimate alone, ВЗиС 1,8 %,
 *  ЗУ 2,4 %, four calculations, reserve 2 %, level I кв. 2026. */
Construction school() {
    Construction c;
    c.name = "Школа на 550 мест";
    c.level = "I кв. 2026";
    c.created = {2026, 2, 10};
    SummaryLine object = SummaryLine::object("02-01", "Здание школы");
    object.estimates.push_back(linked("Общестроительные работы", cols("18456789.37")));
    object.estimates.push_back(
        linked("Внутренние инженерные системы", cols("1234567.89", "2345678.91", "3456789.12", "123456.78")));
    c.chapter(2).push_back(object);
    c.chapter(6).push_back(SummaryLine::estimate(linked("Наружные сети водоснабжения", cols("2987654.32", "412345.82"))));
    c.chapter(8).push_back(SummaryLine::percentage("Временные здания и сооружения", Dec7::parse("1,8"), 7, k45));
    c.chapter(9).push_back(SummaryLine::percentage("Зимнее удорожание", Dec7::parse("2.4"), 8, k45));
    c.chapter(10).push_back(
        SummaryLine::calculation("Содержание службы технического заказчика", cols("0", "0", "0", "742118.40")));
    c.chapter(10).push_back(SummaryLine::calculation("Строительный контроль", cols("0", "0", "0", "512346.05")));
    c.chapter(12).push_back(SummaryLine::calculation("Проектные и изыскательские работы", cols("0", "0", "0", "1850000")));
    c.chapter(12).push_back(SummaryLine::calculation("Государственная экспертиза", cols("0", "0", "0", "245678.90")));
    return c;
}

void expectRow(const CostColumns& got, CostColumns want, const char* total, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(got, want);
    EXPECT_EQ(got.total(), rub(total));
}

TEST(Summary, WorkedSchoolToTheKopeck) {
    const SummaryResult r = computeSummary(school());
    expectRow(r.chapters[1].lines.at(0).amounts, cols("19691357.26", "2345678.91", "3456789.12", "123456.78"),
              "25617282.07", "ОСР 02-01");
    expectRow(r.chapters[5].lines.at(0).amounts, cols("2987654.32", "412345.82"), "3400000.14", "ЛСР 06-01-01");
    expectRow(r.subtotal(7), cols("22679011.58", "2758024.73", "3456789.12", "123456.78"), "29017282.21", "1–7");
    // r(408 222.20844) and r(49 644.44514), гр. 8 their sum (not r(29 017 282.21 × 1.8 %))
    expectRow(r.chapters[7].lines.at(0).amounts, cols("408222.21", "49644.45"), "457866.66", "ВЗиС");
    expectRow(r.subtotal(8), cols("23087233.79", "2807669.18", "3456789.12", "123456.78"), "29475148.87", "1–8");
    expectRow(r.chapters[8].lines.at(0).amounts, cols("554093.61", "67384.06"), "621477.67", "ЗУ");
    expectRow(r.subtotal(9), cols("23641327.40", "2875053.24", "3456789.12", "123456.78"), "30096626.54", "1–9");
    expectRow(r.chapters[9].total, cols("0", "0", "0", "1254464.45"), "1254464.45", "гл. 10");
    expectRow(r.subtotal(11), r.subtotal(10), "31351090.99", "1–11 = 1–10: chapter 11 is empty");
    expectRow(r.subtotal(12), cols("23641327.40", "2875053.24", "3456789.12", "3473600.13"), "33446769.89", "1–12");
    expectRow(r.reserve, cols("472826.55", "57501.06", "69135.78", "69472.00"), "668935.39", "резерв");
    expectRow(r.withReserve, cols("24114153.95", "2932554.30", "3525924.90", "3543072.13"), "34115705.28", "с резервом");
    EXPECT_EQ(r.vatDate, (CalendarDate{2026, 1, 1}));
    EXPECT_EQ(r.vatRate, Dec7::fromInt(22));
    expectRow(r.vat, cols("5305113.87", "645161.95", "775703.48", "779475.87"), "7505455.17", "НДС 22 %");
    expectRow(r.total, cols("29419267.82", "3577716.25", "4301628.38", "4322548.00"), "41621160.45", "ВСЕГО");

    // numbered through the summary, гр. 2 as the documents are numbered
    const std::vector<std::pair<int, std::string>> lines = {
        {r.chapters[1].lines[0].num, r.chapters[1].lines[0].reason}, {r.chapters[5].lines[0].num, r.chapters[5].lines[0].reason},
        {r.chapters[9].lines[1].num, r.chapters[9].lines[1].reason}, {r.chapters[11].lines[1].num, r.chapters[11].lines[1].reason}};
    EXPECT_EQ(lines, (std::vector<std::pair<int, std::string>>{{1, "ОСР 02-01"}, {2, "ЛСР 06-01-01"}, {6, "СР-2"}, {8, "СР-4"}}));

    // printed in thousands, each figure from its own kopecks
    EXPECT_EQ(thousandsText(r.chapters[1].lines[0].amounts.total()), "25617.28");
    EXPECT_EQ(thousandsText(r.chapters[9].total.total()), "1254.46");  // its lines print 742.12 + 512.35
    EXPECT_EQ(thousandsText(r.withReserve.total()), "34115.71");
    EXPECT_EQ(thousandsText(r.vat.total(), ','), "7505,46");
    EXPECT_EQ(thousandsText(r.total.total()), "41621.16");
}

TEST(Summary, VatByTheDateAndExemptLines) {
    Construction c = school();
    c.vatDate = CalendarDate{2025, 12, 31};  // the same construction, VAT taken in 2025
    SummaryResult r = computeSummary(c);
    EXPECT_EQ(r.vatRate, Dec7::fromInt(20));
    // r(708 614.426) in гр. 7
    expectRow(r.vat, cols("4822830.79", "586510.86", "705184.98", "708614.43"), "6823141.06", "НДС 20 %");
    EXPECT_EQ(r.total.total(), rub("40938846.34"));

    c.vatDate.reset();
    c.chapter(12)[1].exempt = true;  // the expertise fee bears no VAT
    r = computeSummary(c);
    // r((3 543 072.13 − 245 678.90) × 22 %) = r(725 426.5106)
    EXPECT_EQ(r.vat[CostColumn::Other], rub("725426.51"));
    EXPECT_EQ(r.vat[CostColumn::Building], rub("5305113.87"));
    EXPECT_EQ(r.exempt, cols("0", "0", "0", "245678.90"));

    const struct {
        CalendarDate date;
        int rate;
    } dates[] = {{{2018, 12, 31}, 18}, {{2019, 1, 1}, 20}, {{2025, 12, 31}, 20}, {{2026, 1, 1}, 22}, {{2030, 6, 1}, 22}};
    for (const auto& d : dates) EXPECT_EQ(vatRate(d.date), Dec7::fromInt(d.rate)) << d.date.text();
}

TEST(Summary, PercentOfTheTotalColumnGoesToOther) {
    Construction c = school();
    // строительный контроль 2,14 % of гр. 8 of «Итого по главам 1–9»: r(30 096 626.54 × 2.14 %) = r(644 067.808)
    c.chapter(10)[1] = SummaryLine::percentage("Строительный контроль", Dec7::parse("2.14"), 9, 1u << 8, "ПП РФ № 468");
    const SummaryResult r = computeSummary(c);
    EXPECT_EQ(r.chapters[9].lines[1].amounts, cols("0", "0", "0", "644067.81"));
    EXPECT_EQ(r.chapters[9].lines[1].reason, "ПП РФ № 468");
}

TEST(Summary, TheConstructionsThatCannotBeComputed) {
    const struct {
        const char* name;
        int chapter;
        SummaryLine line;
        const char* message;  // a part of it
    } cases[] = {
        {"a subtotal below the line", 8, SummaryLine::percentage("ВЗиС", Dec7::fromInt(2), 8, k45), "не выше главы 8"},
        {"a subtotal further down", 9, SummaryLine::percentage("ЗУ", Dec7::fromInt(2), 12, k45), "«Итого по главам 1–12»"},
        {"no such subtotal", 9, SummaryLine::percentage("ЗУ", Dec7::fromInt(2), 6, k45), "после глав с 7 по 12"},
        {"гр. 8 with another", 9, SummaryLine::percentage("ЗУ", Dec7::fromInt(2), 8, k45 | (1u << 8)), "графы «4+5+8»"},
        {"no columns", 9, SummaryLine::percentage("ЗУ", Dec7::fromInt(2), 8, 0), "ожидаются графы"},
        {"percent 0", 9, SummaryLine::percentage("ЗУ", Dec7(), 8, k45), "больше 0"},
        {"four decimals", 9, SummaryLine::percentage("ЗУ", Dec7::parse("1.2345"), 8, k45), "трех знаков"},
        {"a negative amount", 12, SummaryLine::calculation("Экспертиза", cols("0", "0", "0", "-1")), "меньше нуля"},
        {"an object of nothing", 2, SummaryLine::object("02-01", "Здание"), "нет локальных смет"},
        {"chapter 13", 13, SummaryLine::calculation("Экспертиза", cols("1")), "Глава «13»"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            checkLine(c.chapter, c.line);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    Construction c = school();
    c.reserve = Dec7::parse("2.5");
    EXPECT_THROW(computeSummary(c), Error);
    c.purpose = Purpose::Production;  // up to 3 % for production objects
    EXPECT_EQ(computeSummary(c).reservePercent, Dec7::parse("2.5"));
    EXPECT_THROW(reservePercent("3,001", Purpose::Production), Error);
    EXPECT_EQ(reservePercent("3", Purpose::Production), Dec7::fromInt(3));
}

TEST(Summary, DatesAndThousands) {
    const struct {
        const char* level;
        std::optional<CalendarDate> start;
    } levels[] = {
        {"I кв. 2026", CalendarDate{2026, 1, 1}},  {"IV кв. 2025", CalendarDate{2025, 10, 1}},
        {"3 квартал 2024 г.", CalendarDate{2024, 7, 1}}, {"II КВ. 2026", CalendarDate{2026, 4, 1}},
        {"на 01.04.2026", CalendarDate{2026, 4, 1}}, {"2026-07-01", CalendarDate{2026, 7, 1}},
        {"V кв. 2026", std::nullopt}, {"I кв. 20261", std::nullopt}, {"31.02.2026", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& l : levels) EXPECT_EQ(levelStart(l.level), l.start) << l.level;

    for (const char* bad : {"2026,01,01", "01.01.2026", "2026-02-29", "2026-1-01", "2026-01-01 "})
        EXPECT_FALSE(CalendarDate::parse(bad)) << bad;
    EXPECT_EQ(CalendarDate::parse("2024-02-29"), (CalendarDate{2024, 2, 29}));

    // half a hundredth of a thousand rounds away from zero, once
    EXPECT_EQ(thousandths(Money::fromKopecks(500)), 1);
    EXPECT_EQ(thousandths(Money::fromKopecks(499)), 0);
    EXPECT_EQ(thousandths(Money::fromKopecks(-500)), -1);
    EXPECT_EQ(thousandsText(rub("7160492.70")), "7160.49");
    EXPECT_EQ(thousandsText(rub("-4.99")), "0.00");

    EXPECT_EQ(columnsFromText("4+5"), k45);
    EXPECT_EQ(columnsFromText("8"), 1u << 8);
    for (const char* bad : {"", "4+", "4+4", "3", "4,5", "4+8", "45"}) EXPECT_FALSE(columnsFromText(bad)) << bad;
}

TEST(Summary, JsonCarriesEveryChapterAndStaleLines) {
    Construction c = school();
    c.chapter(6)[0].estimates[0].problem = "смета «Сети.db» не найдена";
    const std::string json = summaryJson(computeSummary(c));
    EXPECT_NE(json.find(R"({"n":6,"lines":[{"num":2,"kind":"estimate","name":"Наружные сети водоснабжения",)"
                        R"("stale":["смета «Сети.db» не найдена"],"building":2987654.32,"mounting":412345.82,)"
                        R"("equipment":0.00,"other":0.00,"total":3400000.14}])"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("n":11,"lines":[],"total":{"building":0.00)"), std::string::npos);
    EXPECT_NE(json.find(R"("reserve":{"pct":2,"building":472826.55)"), std::string::npos);
    EXPECT_NE(json.find(R"("vat":{"rate":22,"building":5305113.87)"), std::string::npos);
    EXPECT_NE(json.find(R"("total":{"building":29419267.82,"mounting":3577716.25,"equipment":4301628.38,)"
                        R"("other":4322548.00,"total":41621160.45}})"),
              std::string::npos);
}

}  // namespace
}  // namespace talvira::model
