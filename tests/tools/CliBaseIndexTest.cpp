// talvira-cli for an estimate by the base-index method. The check of the whole road: a small ФЕР
// and ФЕРм base in the official layout, imported, an estimate made, the rates added, the
// parameters and a position set, and `estimate totals --json` giving the worked position of
// the notes to the kopeck. Then what params and set refuse (naming the field, nothing stored),
// the materials following their rate, coefficients replaced and cleared, and an estimate made
// by the template switched over.
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "editing/KeptCalc.h"
#include "editing/KeptTexts.h"
#include "normbase/NormBase.h"
#include "normbase/RateSearch.h"
#include "estimate/EstimateFile.h"
#include "storage/TableHandle.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

/** What `estimate ...` prints on standard output (its exit status must be 0). */
std::string run(const cli::Args& args) {
    testing::internal::CaptureStdout();
    int rc = -1;
    try {
        rc = cli::estimateCommand(args);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0) << out;
    return out;
}

/** The message `estimate ...` fails with. */
std::string failure(const cli::Args& args) {
    try {
        run(args);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no failure)";
}

/** A norm file of the official layout: one collection of one table. */
std::string normFile(const std::string& book, const std::string& collection, const std::string& works) {
    return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<base BaseType=\"" + book +
           "\" PriceLevel=\"01.01.2000\"><Decrees><Decree Name=\"ФЕР-2001, редакция 2020\"/></Decrees>\n"
           "<ResourcesDirectory><ResourceCategory CodePrefix=\"" + book + "\">\n" + collection + works +
           "</Section></Section></ResourceCategory></ResourcesDirectory></base>\n";
}

/** A unit rate with its prices per unit (2000), its labour lines and its НР/СП rows. */
std::string rate(const std::string& code, const char* prices, const char* lines, const char* nrsp) {
    return "<NameGroup BeginName=\"Работа\"><Work Code=\"" + code + "\" EndName=\"" + code +
           "\" MeasureUnit=\"м3\"><Resources>" + lines + "</Resources><NrSp>" + nrsp + "</NrSp><Prices><Price " +
           prices + "/></Prices></Work></NameGroup>\n";
}

/** The code the base holds for a rate whose code ends so (with or without its book). */
std::string codeInBase(const fs::path& base, const std::string& tail) {
    storage::TableHandle t("RABMAT");
    t.setDatabaseName(base.string());
    t.setTableName("RABMAT.DB");
    t.setReadOnly(true);
    t.open();
    for (int r = 0; r < t.recordCount(); ++r) {
        const std::string code = t.valueAt(r, t.fieldIndex("TAB")).asString();
        if (code.size() >= tail.size() && code.compare(code.size() - tail.size(), tail.size(), tail) == 0) return code;
    }
    return {};
}

/** The JSON object after `"key":` in `json` (braces counted), or "". */
std::string objectAfter(const std::string& json, const std::string& key, size_t from = 0) {
    const size_t at = json.find("\"" + key + "\":{", from);
    if (at == std::string::npos) return {};
    const size_t open = json.find('{', at);
    int depth = 0;
    for (size_t i = open; i < json.size(); ++i) {
        depth += json[i] == '{' ? 1 : json[i] == '}' ? -1 : 0;
        if (depth == 0) return json.substr(open, i - open + 1);
    }
    return {};
}

class CliBaseIndex : public ::testing::Test {
protected:
    TempDir start{"talvira-cli-421"};
    fs::path base() const { return start / "Base"; }
    std::string estimate;

    void SetUp() override {
        fs::create_directories(start / "Smeti");
        // ФЕР 08-01-001-01 of the notes: ПЗ 258.39 = ОТ 32.74 + ЭМ 10.46 (ОТМ 1.74) + М 215.19, ЗТ 3.94, ЗТМ 0.15.
        writeFile(start / "ФЕР.xml",
                  normFile("ФЕР", "<Section Type=\"Сборник\" Code=\"08\" Name=\"Конструкции из кирпича и блоков\">"
                                  "<Section Type=\"Таблица\" Code=\"08-01-001\" Name=\"Фундаменты\">\n",
                           rate("08-01-001-01", R"(Cost="258.39" Salary="32.74" Machines="10.46" SalaryMach="1.74" Materials="215.19")",
                                R"(<Resource Code="1" Quantity="3.94"/><Resource Code="2" Quantity="0.15"/>)",
                                R"(<ReasonItem Nr="Пр/812-008.0" Sp="Пр/774-008.0"/>)")));
        writeFile(start / "ФЕРм.xml",
                  normFile("ФЕРм", "<Section Type=\"Сборник\" Code=\"08\" Name=\"Электротехнические установки\">"
                                   "<Section Type=\"Таблица\" Code=\"08-02-001\" Name=\"Кабели\">\n",
                           rate("08-02-001-01", R"(Cost="20" Salary="10" Machines="0.07" SalaryMach="0" Materials="9.93")",
                                R"(<Resource Code="1" Quantity="1"/>)",
                                R"(<ReasonItem Nr="Пр/812-049.3" Sp="Пр/774-049.3"/>)")));
        testing::internal::CaptureStdout();
        const int rc = cli::importCommand({base().string(), (start / "ФЕР.xml").string(), (start / "ФЕРм.xml").string()});
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(rc, 0);
        run({"new", (start / "Smeti").string(), "Дом"});
        estimate = (start / "Smeti" / "Дом.db").string();
    }

    /** The base made anew of one ФЕР rate of floors with a material left to the project
     *  (unaccounted, 1.02 per unit); its code in the base ("" when the import failed). */
    std::string importRateWithMaterial() {
        writeFile(start / "ФЕР2.xml",
                  normFile("ФЕР", "<Section Type=\"Сборник\" Code=\"11\" Name=\"Полы\"><Section Type=\"Таблица\" Code=\"11-01-001\" Name=\"Полы\">\n",
                           rate("11-01-001-01", R"(Cost="130" Salary="100" Machines="0" SalaryMach="0" Materials="30")",
                                R"(<Resource Code="1" Quantity="8"/><AbstractResource Code="04.1.02.05" Name="Бетон" MeasureUnit="м3" Quantity="1.02"/>)",
                                R"(<ReasonItem Nr="Пр/812-011.0" Sp="Пр/774-011.0"/>)")));
        testing::internal::CaptureStdout();
        const int rc = cli::importCommand({base().string(), (start / "ФЕР2.xml").string()});
        testing::internal::GetCapturedStdout();
        return rc == 0 ? codeInBase(base(), "11-01-001-01") : std::string();
    }
};

TEST_F(CliBaseIndex, TheWorkedPositionThroughTheCommandLineToTheKopeck) {
    const std::string fer = codeInBase(base(), "08-01-001-01"), ferm = codeInBase(base(), "08-02-001-01");
    ASSERT_FALSE(fer.empty());
    ASSERT_FALSE(ferm.empty());
    // Decimal comma and point alike, whatever the locale.
    run({"params", estimate, "method=421", "territory=1", "region=Московская область", "level=II кв. 2025",
         "index.ot=52,21", "index.em=16.64", "index.m=8,49"});
    run({"add", base().string(), estimate, fer});
    run({"add", base().string(), estimate, ferm});
    run({"set", estimate, "1", "qty=1"});
    run({"set", estimate, "2", "qty=1,5"});
    const std::string json = run({"totals", estimate, "--json"});

    const size_t first = json.find("\"n\":1,");
    ASSERT_NE(first, std::string::npos) << json;
    EXPECT_NE(json.find("\"nr\":\"Пр/812-008.0-1\",\"sp\":\"Пр/774-008.0\",\"nr_pct\":110,\"sp_pct\":69", first), std::string::npos)
        << json;
    EXPECT_TRUE(objectAfter(json, "base", first)
                    .starts_with(R"({"ot":32.74,"em":10.46,"otm":1.74,"m":215.19,"pz":258.39,"fot":34.48,"nr":37.93,"sp":23.79,"total":320.11,"zt":3.94,)"))
        << json;
    // With every index given, the position's own current ЭМ, М, ПЗ and total too.
    EXPECT_EQ(objectAfter(json, "current", first),
              R"({"ot":1709.36,"em":174.05,"otm":90.85,"m":1826.96,"pz":3710.37,"fot":1800.21,"nr":1980.23,"sp":1242.14,"total":6932.74})");
    // Its type of work holds it alone: ЭМ and М by their indices on the type's sums.
    const size_t construction = json.find("{\"type\":\"строительные\"");
    ASSERT_NE(construction, std::string::npos) << json;
    EXPECT_EQ(objectAfter(json, "current", construction),
              R"({"ot":1709.36,"em":174.05,"otm":90.85,"m":1826.96,"pz":3710.37,"fot":1800.21,"nr":1980.23,"sp":1242.14,"total":6932.74})");
    EXPECT_NE(json.find("{\"type\":\"монтажные\""), std::string::npos) << "the ФЕРм rate is of its own type";
    EXPECT_NE(json.find("\"problems\":[]"), std::string::npos) << json;

    // Without --json, the same as readable text.
    const std::string text = run({"totals", estimate, "--locale", "ru_RU"});
    EXPECT_NE(text.find("в текущих ценах: ОТ 1 709,36, ОТМ 90,85, ФОТ 1 800,21, НР 1 980,23, СП 1 242,14"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Итого по виду работ «строительные»"), std::string::npos);
}

TEST_F(CliBaseIndex, RefusedValuesNameTheirFieldAndStoreNothing) {
    run({"params", estimate, "method=421", "index.ot=52.21"});
    run({"add", base().string(), estimate, codeInBase(base(), "08-01-001-01")});
    const fs::path calc = estimate::keptCalcPath(estimate);
    auto stored = [&] {
        std::ifstream in(calc, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    };
    const std::string before = stored();
    const struct {
        cli::Args args;
        const char* message;
    } cases[] = {
        {{"params", estimate, "region=Тверь", "index.em=abc"}, "Индекс ЭМ (index.em): «abc» — не число."},
        {{"params", estimate, "index.m=0"}, "Индекс М (index.m): «0» — нужно число больше нуля."},
        {{"params", estimate, "index.ot=1e30"}, "Индекс ОТ (index.ot): «1e30» — число слишком велико."},
        {{"params", estimate, "index.ot=1000000"}, "Индекс ОТ (index.ot): «1000000» — больше 10 000"},
        {{"params", estimate, "territory=4"}, "Территория (territory): «4» — ожидается 1 (Территория), 2 (МПРКС) или 3 (РКС)"},
        {{"params", estimate, "method=422"}, "Метод (method): «422» — ожидается template или 421"},
        {{"params", estimate, "repair=yes"}, "Капитальный ремонт (repair): «yes» — ожидается 0 или 1"},
        {{"set", estimate, "1", "qty=-1"}, "Количество (qty): «-1» — нужно число не меньше нуля."},
        {{"set", estimate, "1", "nrsp=011.0", "qty=1.2.3"}, "Количество (qty): «1.2.3» — не число."},
        {{"set", estimate, "1", "nrsp=999.9"}, "Норматив НР и СП (nrsp) «999.9»: такой строки нет в таблицах приказов 812/пр и 774/пр."},
        {{"set", estimate, "1", "coef=0:ОТ"}, "Коэффициент (coef): «0» — нужно число больше нуля."},
        {{"set", estimate, "1", "coef=1,2:ПЗ"}, "Коэффициент (coef): элементы «ПЗ» — ожидаются ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ через «+»"},
        {{"set", estimate, "1", "coef=1,2"}, "Коэффициент (coef): «1,2» — ожидается ЗНАЧЕНИЕ:ЭЛЕМЕНТЫ[:ОСНОВАНИЕ]"},
        {{"set", estimate, "1", "worktype=ремонтные"},
         "Вид работ (worktype): «ремонтные» — ожидается строительные, монтажные, пусконаладочные, оборудование или прочие"},
        {{"set", estimate, "1", "price=10"}, "Цена (price): позиция 1 — расценка; цену задают материалу"},
        {{"set", estimate, "7", "qty=1"}, "Позиции № 7 в смете нет"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.args).substr(0, std::string(c.message).size()), c.message);
        EXPECT_EQ(stored(), before) << c.message;
    }
    // A template estimate has no JSON totals: it is said how to get them.
    run({"params", estimate, "method=template"});
    EXPECT_NE(failure({"totals", estimate, "--json"}).find("method=421"), std::string::npos);
}

TEST_F(CliBaseIndex, MaterialsFollowCoefficientsAreReplacedAndTemplateEstimatesSwitchOver) {
    // A rate with a material left to the project (unaccounted) and its price set by hand.
    const std::string code = importRateWithMaterial();
    ASSERT_FALSE(code.empty());

    // By the template first (as every estimate made before; a new one on an imported base starts
    // by the base-index method): the material per unit of the rate.
    run({"params", estimate, "method=template"});
    run({"add", base().string(), estimate, code});
    EXPECT_NE(run({"show", estimate}).find("\t1.02\t"), std::string::npos);
    run({"set", estimate, "1", "qty=2.5"});
    run({"set", estimate, "2", "price=12.34"});
    // Switched over, with the base: the rate's rows from it, the material follows its rate.
    run({"params", estimate, "method=421", "index.ot=1", "index.em=1", "index.m=1", "--base", base().string()});
    EXPECT_NE(run({"show", estimate}).find("\t2.55\t"), std::string::npos) << run({"show", estimate});
    run({"set", estimate, "1", "qty=3", "coef=1.15:ОТ+ЗТ:стесненные", "coef=1.2:М"});
    EXPECT_NE(run({"show", estimate}).find("\t3.06\t"), std::string::npos);
    std::string json = run({"totals", estimate, "--json"});
    // ОТ r(3 × 100 × 1.15) = 345; М r(3 × 30 × 1.2) + r(3.06 × 12.34) = 108 + 37.76.
    EXPECT_TRUE(objectAfter(json, "base").starts_with(R"({"ot":345.00,"em":0.00,"otm":0.00,"m":145.76,"pz":490.76,)")) << json;
    EXPECT_NE(json.find(R"("per_unit":1.02,"qty":3.06,"price":12.34,"amount":37.76)"), std::string::npos) << json;
    run({"set", estimate, "1", "coef="});
    json = run({"totals", estimate, "--json"});
    EXPECT_EQ(json.find("coefficients"), std::string::npos) << "cleared";
    EXPECT_TRUE(objectAfter(json, "base").starts_with(R"({"ot":300.00,"em":0.00,)")) << json;
    // Another territory takes the tables' НР of the new column.
    EXPECT_NE(run({"params", estimate, "territory=3"}).find("territory=3"), std::string::npos);
    EXPECT_NE(run({"totals", estimate, "--json"}).find("\"nr\":\"Пр/812-011.0-3\",\"sp\":\"Пр/774-011.0\",\"nr_pct\":118"),
              std::string::npos);
}

TEST_F(CliBaseIndex, TheSwitchToTheBaseIndexMethodGivesWhatTheWindowGives) {
    // A new estimate gets the title block a new one gets in the window: on an imported base no
    // factor of 2001 prices and today's VAT (before, the command line left 2,18 and 18).
    const model::EstimateTexts texts = editing::loadKeptTexts(estimate, ',');
    EXPECT_EQ(texts.currentPriceFactor, "1");
    EXPECT_EQ(texts.vatPercent, "20");

    const std::string code = importRateWithMaterial();
    ASSERT_FALSE(code.empty());
    const std::string smeti = (start / "Smeti").string();

    // The window's road: the estimate by the template, Add and a typed quantity, then the
    // parameters dialog's method, all in one session (Add's data kept in memory).
    run({"new", smeti, "Окно"});
    run({"params", smeti + "/Окно.db", "method=template"});
    storage::TableHandle smeta("SmetaTable");
    {
        editing::EstimateDocument doc(smeta, ',', model::nrSpTables());
        doc.setNormBaseDirectory(base());
        doc.open(smeti, "Окно.db");
        normbase::NormBase nb;
        nb.setDirectory(base().string());
        nb.openAll();
        normbase::RateSearch search(nb);
        search.goTo(*search.rateOfCode(code));
        doc.addRate(nb);
        doc.setAmounts(1, Dec7::parse("2.5"), std::nullopt);
        model::EstimateParams p = doc.calc().params;
        p.method = model::Method::BaseIndex;
        doc.setParams(p);
        doc.close();
    }
    // The command line's: each step a run of its own.
    run({"params", estimate, "method=template"});
    run({"add", base().string(), estimate, code});
    run({"set", estimate, "1", "qty=2.5"});
    run({"params", estimate, "method=421"});

    // Same rows and materials (1.02 per unit of 2.5), same price level and positions' data.
    auto rowsOf = [&](const std::string& file) {
        std::string shown = run({"show", file});
        return shown.substr(shown.find('\n'));
    };
    EXPECT_EQ(rowsOf(smeti + "/Окно.db"), rowsOf(estimate));
    EXPECT_NE(rowsOf(estimate).find("\t2.55\t"), std::string::npos) << rowsOf(estimate);
    const editing::KeptCalc window = editing::loadKeptCalc(smeti + "/Окно.db"), cli = editing::loadKeptCalc(estimate);
    EXPECT_EQ(window.params, cli.params);
    EXPECT_EQ(cli.params.baseLevel, "01.01.2000");
    EXPECT_EQ(window.positions, cli.positions);
    EXPECT_EQ(cli.positions.at(0).nrRow, "011.0");
    EXPECT_EQ(cli.positions.at(1).parent, 1);

    // An estimate made before its positions kept their data: the base it remembers, else the
    // one given; without either the switch is refused naming --base, and nothing is stored.
    const std::string old = smeti + "/Прежняя.db";
    run({"new", smeti, "Прежняя"});
    run({"params", old, "method=template"});
    run({"add", base().string(), old, code});
    run({"set", old, "1", "qty=2.5"});
    fs::remove(estimate::keptCalcPath(old));
    const std::string refusal = failure({"params", old, "method=421"});
    EXPECT_NE(refusal.find("--base BASE_DIR"), std::string::npos) << refusal;
    EXPECT_FALSE(fs::exists(estimate::keptCalcPath(old)));
    run({"params", old, "method=421", "--base", base().string()});
    EXPECT_EQ(editing::loadKeptCalc(old).positions, cli.positions);
    EXPECT_EQ(rowsOf(old), rowsOf(estimate));
    editing::KeptCalc forgotten = editing::loadKeptCalc(estimate);
    forgotten.params.method = model::Method::Template;
    forgotten.positions.clear();
    forgotten.base = (start / "Прежняя").string();
    editing::saveKeptCalc(estimate, forgotten);
    EXPECT_NE(failure({"params", estimate, "method=421"}).find("больше нет"), std::string::npos);
    EXPECT_EQ(editing::loadKeptCalc(estimate), forgotten);
}

}  // namespace
}  // namespace talvira::test
