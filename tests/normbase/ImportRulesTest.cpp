// The import's rules below the files: the parser's errors, the price of a norm from its lines,
// and the base's note of itself. Each a table of cases. (How numbers are read from their text is
// the exact-number kit's, tests/common/DecimalTest.cpp.)
#include "common/Error.h"
#include "normbase/BaseInfo.h"
#include "normbase/import/BaseAssembler.h"
#include "normbase/import/ExpatParser.h"
#include "normbase/import/OfficialImport.h"
#include "normbase/import/RatePricing.h"
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <new>
#include <stdexcept>

namespace talvira::test {
namespace {

using namespace normimport;
namespace fs = std::filesystem;

// A handler that fails on the element named "fail" with what `thrown` says.
class FailingHandler final : public XmlHandler {
public:
    explicit FailingHandler(int thrown) : thrown_(thrown) {}
    void startElement(const char* name, const char**) override {
        ++calls;
        if (std::string_view(name) != "fail") return;
        if (thrown_ == 0) throw Error("элемент не на месте");
        if (thrown_ == 1) throw std::out_of_range("vector::_M_range_check");
        if (thrown_ == 2) throw std::bad_alloc();
        throw 42;
    }
    void endElement(const char*) override { ++calls; }
    int calls = 0;

private:
    int thrown_;
};

TEST(ExpatParser, OnlyTheProgramsOwnErrorLeavesWithTheFileAndThePlace) {
    const struct {
        int thrown;
        const char* message;
    } rows[] = {
        {0, "Файл «a.xml», строка 2, столбец 3: элемент не на месте"},
        {1, "Файл «a.xml», строка 2, столбец 3: внутренняя ошибка чтения (vector::_M_range_check)"},
        {2, "Файл «a.xml», строка 2, столбец 3: не хватает памяти для чтения файла"},
        {3, "Файл «a.xml», строка 2, столбец 3: внутренняя ошибка чтения"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message);
        FailingHandler h(r.thrown);
        ExpatParser p("a.xml", h);
        const std::string doc = "<a>\n  <fail/><after/></a>";
        try {
            p.feed(doc.data(), doc.size(), true);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), r.message);
        }
        // The empty element that failed is not ended, nothing after it is heard.
        EXPECT_EQ(h.calls, 2);
    }
}

TEST(RatePricing, ComponentsFromLinesPricesAndWage) {
    constexpr int64_t U = 10'000'000;  // one, in seven decimals
    struct Line {
        const char* code;
        std::optional<int64_t> quantity;  // seven decimals
        bool abstract = false;
        const ResourcePrice* price = nullptr;
    };
    struct Want {
        int64_t total, materials, machines, machineWages, wages;  // kopecks
        int64_t labour, machinistLabour;                          // seven decimals
    };
    auto k = [](int64_t kopecks) { return Money::fromKopecks(kopecks); };
    const ResourcePrice dozer{true, k(134838), k(38665)}, water{false, k(115409), k(0)}, kopeck{false, k(1), k(0)};
    const DirectPrices fer{k(10050), k(2000), k(3000), k(500), k(5050)};
    const struct {
        const char* name;
        std::vector<Line> lines;
        std::optional<int64_t> wage;  // kopecks
        const DirectPrices* direct;
        Want want;  // total, materials, machines, machine wages, wages, labour, machinists' labour
    } rows[] = {
        {"workers' labour times the wage, half a kopeck up", {{"1", 37 * U / 100}}, 41250, nullptr,
         {15263, 0, 0, 0, 15263, 37 * U / 100, 0}},
        {"the grades when there is no line 1", {{"1-100-34", 10 * U}, {"1-100-40", 25 * U / 10}}, 30000, nullptr,
         {375000, 0, 0, 0, 375000, 125 * U / 10, 0}},
        {"line 1 holds the labour, grades are its parts", {{"1", 3 * U}, {"1-100-34", 2 * U}}, 10000, nullptr,
         {30000, 0, 0, 0, 30000, 3 * U, 0}},
        {"machinists' labour apart, in no amount", {{"2", 125 * U / 100}, {"2-100-05", U}}, 10000, nullptr,
         {0, 0, 0, 0, 0, 0, 125 * U / 100}},
        {"a machine and its machinists' wages", {{"91.01.01-014", 2 * U, false, &dozer}}, std::nullopt, nullptr,
         {269676, 0, 269676, 77330, 0, 0, 0}},
        {"a material, half a kopeck up", {{"01.7.03.04-0001", U / 2, false, &water}}, std::nullopt, nullptr,
         {57705, 57705, 0, 0, 0, 0, 0}},
        {"returned material, away from zero", {{"01.7.03.04-0001", -U / 2, false, &water}}, std::nullopt, nullptr,
         {-57705, -57705, 0, 0, 0, 0, 0}},
        {"rounded once per amount, not per line",
         {{"01.1", U / 2, false, &kopeck}, {"01.2", U / 2, false, &kopeck}}, std::nullopt, nullptr, {1, 1, 0, 0, 0, 0, 0}},
        {"a material left to the project is outside the price", {{"04.1.02.05", U, true, &water}}, std::nullopt, nullptr,
         {0, 0, 0, 0, 0, 0, 0}},
        {"a machine given as abstract still counts", {{"91.01.01-014", U, true, &dozer}}, std::nullopt, nullptr,
         {134838, 0, 134838, 38665, 0, 0, 0}},
        {"a quantity that is not a number counts nowhere",
         {{"1", std::nullopt}, {"01.7.03.04-0001", std::nullopt, false, &water}}, 30000, nullptr, {0, 0, 0, 0, 0, 0, 0}},
        {"no price file has it", {{"01.7.03.04-0001", U}}, std::nullopt, nullptr, {0, 0, 0, 0, 0, 0, 0}},
        {"no wage: no wages, the labour stays", {{"1", 4 * U}}, std::nullopt, nullptr, {0, 0, 0, 0, 0, 4 * U, 0}},
        {"a ФЕР unit price as given, labour from the lines", {{"1", 3 * U}, {"01.7.03.04-0001", U, false, &water}}, 30000,
         &fer, {10050, 5050, 3000, 500, 2000, 3 * U, 0}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<RateLine> lines;
        for (const Line& l : r.lines)
            lines.push_back({l.code, l.quantity ? std::optional(Dec7::fromUnits(*l.quantity)) : std::nullopt, l.abstract,
                             l.price});
        const RateComponents c =
            priceRate(lines, r.wage ? std::optional(Money::fromKopecks(*r.wage)) : std::nullopt, r.direct);
        EXPECT_EQ(c.total.kopecks(), r.want.total);
        EXPECT_EQ(c.materials.kopecks(), r.want.materials);
        EXPECT_EQ(c.machines.kopecks(), r.want.machines);
        EXPECT_EQ(c.machineWages.kopecks(), r.want.machineWages);
        EXPECT_EQ(c.wages.kopecks(), r.want.wages);
        EXPECT_EQ(c.labour.units(), r.want.labour);
        EXPECT_EQ(c.machinistLabour.units(), r.want.machinistLabour);
    }
}

TEST(ImportReport, TheWageLineSaysWhatTheWageDid) {
    // It said «основная зарплата расценок равна 0» of ФЕР rates whose price holds their wages.
    const struct {
        const char* name;
        std::optional<Money> wage;
        uint64_t rates, own;
        const char* line;
    } cases[] = {
        {"ГЭСН, no wage", std::nullopt, 10, 0, "Часовая ставка оплаты труда не задана: основная зарплата расценок равна 0"},
        {"ГЭСН with a wage", Money::fromKopecks(41250), 10, 0, "Часовая ставка оплаты труда: 412,5 руб."},
        {"ФЕР alone", std::nullopt, 10, 10, "Основная зарплата расценок взята из их цен в файлах (часовая ставка не нужна)"},
        {"ФЕР, a wage given all the same", Money::fromKopecks(30000), 10, 10,
         "Часовая ставка оплаты труда 300 руб. не использована: основная зарплата расценок взята из их цен в файлах"},
        {"both, no wage", std::nullopt, 10, 4,
         "Часовая ставка оплаты труда не задана: основная зарплата расценок без цены в файлах равна 0 (6); "
         "расценок с основной зарплатой из их цен в файлах: 4"},
        {"both with a wage", Money::fromKopecks(30000), 10, 4, "Часовая ставка оплаты труда: 300 руб.; расценок с основной зарплатой из их цен в файлах: 4"},
        {"prices alone", std::nullopt, 0, 0, ""},
        {"prices alone, a wage given", Money::fromKopecks(30000), 0, 0, "Часовая ставка оплаты труда 300 руб. не использована: в файлах нет расценок"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wageLine(c.wage, c.rates, c.own), c.line) << c.name;
        ImportReport r;
        r.wagePerHour = c.wage;
        r.rates = c.rates;
        r.ratesWithOwnPrice = c.own;
        EXPECT_EQ(r.text().find("\n\n"), std::string::npos) << c.name;  // no empty line where there is nothing to say
    }
}

TEST(BaseInfo, WhatTheFilesMakeOfTheBase) {
    auto norms = [](std::string book, std::string level, std::vector<std::string> orders = {}) {
        SourceInfo s;
        s.kind = "нормы";
        s.baseType = std::move(book);
        s.priceLevel = std::move(level);
        s.orders = std::move(orders);
        return s;
    };
    SourceInfo prices;
    prices.kind = "цены";
    prices.priceLevel = "01.01.2022";
    prices.orders = {"Приказ 490/пр от 14.08.2025"};
    SourceInfo byPrefix = norms("", "01.01.2022");
    byPrefix.codePrefix = "ГЭСНм";
    const struct {
        const char* name;
        std::vector<SourceInfo> sources;
        std::vector<std::string> books;
        const char* edition;
        const char* level;
        std::vector<std::string> orders;
    } rows[] = {
        {"ГЭСН with its prices", {norms("ГЭСНп", "01.01.2022", {"ГЭСН-2022 доп. № 15"}), prices}, {"ГЭСНп"}, "ФСНБ-2022",
         "01.01.2022", {"ГЭСН-2022 доп. № 15", "Приказ 490/пр от 14.08.2025"}},
        {"ФЕР without a level: 2000 prices", {norms("ФЕР", ""), norms("ФЕРм", "")}, {"ФЕР", "ФЕРм"}, "ФСНБ-2020", "01.01.2000", {}},
        {"a book known by its codes' prefix", {byPrefix}, {"ГЭСНм"}, "ФСНБ-2022", "01.01.2022", {}},
        {"prices alone", {prices, prices}, {}, "ФСНБ-2022", "01.01.2022", {"Приказ 490/пр от 14.08.2025"}},
        {"two editions in one base", {norms("ГЭСН", "01.01.2022"), norms("ФЕР", "")}, {"ГЭСН", "ФЕР"}, "ФСНБ-2022, ФСНБ-2020",
         "01.01.2022, 01.01.2000", {}},
        {"a book of neither edition", {norms("ТЕР", "01.01.2001")}, {"ТЕР"}, "", "01.01.2001", {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const normbase::BaseInfo info = baseInfoOf(r.sources);
        EXPECT_TRUE(info.imported);
        EXPECT_EQ(info.books, r.books);
        EXPECT_EQ(info.edition, r.edition);
        EXPECT_EQ(info.priceLevel, r.level);
        EXPECT_EQ(info.orders, r.orders);
    }
}

TEST(BaseInfo, WrittenAndReadBackOrNotImportedWhenAbsentOrDamaged) {
    TempDir dir("talvira-baseinfo");
    normbase::BaseInfo info;
    info.imported = true;
    info.priceLevel = "01.01.2000";
    info.edition = "ФСНБ-2020";
    info.books = {"ФЕР", "ФЕРм"};
    info.orders = {"Приказ 1/пр от 01.02.2025", "Сборник = с равенством"};
    normbase::writeBaseInfo(dir.path(), info);
    EXPECT_EQ(normbase::readBaseInfo(dir.path()), info);
    EXPECT_FALSE(fs::exists(dir / (std::string(normbase::kBaseInfoFile) + ".tmp")));

    const struct {
        const char* name;
        const char* text;  // nullptr: no file at all
        bool imported;
        const char* level;
    } rows[] = {
        {"no note", nullptr, false, ""},
        {"empty", "", false, ""},
        {"not said to be imported", "priceLevel=01.01.2022\n", false, ""},
        {"a line that is no key", "imported=1\nпросто текст\n", false, ""},
        {"written on Windows, with a later key", "# note\r\nimported=1\r\npriceLevel=01.01.2022\r\nsomethingNew=1\r\n", true,
         "01.01.2022"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir d("talvira-baseinfo-case");
        if (r.text) std::ofstream(d / normbase::kBaseInfoFile, std::ios::binary) << r.text;
        const normbase::BaseInfo got = normbase::readBaseInfo(d.path());
        EXPECT_EQ(got.imported, r.imported);
        EXPECT_EQ(got.priceLevel, r.level);
    }
    // A value never breaks the note's lines.
    info.orders = {"Приказ\nв две строки"};
    normbase::writeBaseInfo(dir.path(), info);
    EXPECT_EQ(normbase::readBaseInfo(dir.path()).orders, std::vector<std::string>{"Приказ в две строки"});
    // A folder that cannot take the note is an error, not a silent loss.
    EXPECT_THROW(normbase::writeBaseInfo(dir / "missing", info), Error);
}


// The texts go to their tables on a thread of their own in batches: over several batches each
// norm's name lands under its number; an assembler given up before write() (a reading that
// failed) ends that thread without the table's index, and without waiting for the rest.
TEST(BaseAssembler, TextsStoredOverManyBatchesOrDroppedWithTheReading) {
    const int n = 20000;
    auto fill = [&](BaseAssembler& b) {
        EXPECT_EQ(b.addCollection("ГЭСН 01. Земляные работы"), 1);
        const int32_t entry = b.addEntry("Таблица 01-01-001");
        for (int i = 1; i <= n; ++i) b.beginRate(entry, "01-01-001-" + std::to_string(i), "Разработка грунта " + std::to_string(i), "м3", "ГЭСН");
    };
    TempDir given("talvira-texts-given");
    {
        BaseAssembler b({}, given.path().string());
        fill(b);
    }
    EXPECT_FALSE(fs::exists(given / "000_NAME.PX"));

    TempDir written("talvira-texts-written");
    BaseAssembler b({}, written.path().string());
    fill(b);
    ImportReport report;
    b.write(report, {});
    EXPECT_EQ(report.rates, uint64_t(n));
    EXPECT_EQ(report.collections, 1u);
    EXPECT_EQ(report.contentsEntries, 1u);
    auto names = storage::openParadoxTable((written / "000_NAME.DB").string(), storage::OpenMode::ReadOnly);
    ASSERT_EQ(names->recordCount(), uint32_t(n));
    int64_t id = 0;
    for (auto loc = names->first(); loc; loc = names->next(*loc)) {
        const storage::Record r = names->read(*loc);
        ASSERT_EQ(r[0].asInteger(), ++id);
        ASSERT_EQ(r[1].asString(), "Разработка грунта " + std::to_string(id));
    }
    EXPECT_TRUE(fs::exists(written / "000_NAME.PX"));
    EXPECT_TRUE(fs::exists(written / "OGL.X02"));
}

}  // namespace
}  // namespace talvira::test
