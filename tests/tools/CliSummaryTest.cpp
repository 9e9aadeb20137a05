// talvira-cli summary: the worked school of the notes built through the command line from three
// local estimates made in the program, its totals to the kopeck (VAT at 22 %, then at 20 % with
// the date moved into 2025); the bad inputs, each refused naming what is wrong with the file left
// byte for byte; a linked estimate changed after it was linked, one gone missing, and one left
// alone (never read again).
#include "tests/support/PricedEstimate.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using model::WorkType;

/** Standard output and error of `summary ...` (its exit status must be 0). */
struct Output {
    std::string out, err;
};

Output run(const cli::Args& args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Output o;
    int rc = -1;
    try {
        rc = cli::summaryCommand(args);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        throw;
    }
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0) << o.out << o.err;
    return o;
}

std::string failure(const cli::Args& args) {
    try {
        run(args);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no failure)";
}

std::string bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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

/** The five amounts as the JSON writes them. */
std::string five(const char* b, const char* m, const char* e, const char* o, const char* t) {
    return std::string(R"({"building":)") + b + R"(,"mounting":)" + m + R"(,"equipment":)" + e + R"(,"other":)" + o +
           R"(,"total":)" + t + "}";
}

/** The three local estimates of the school, made in the program, and the construction. */
class CliSummary : public ::testing::Test {
protected:
    TempDir dir{"talvira-cli-ssr"};
    fs::path general, systems, networks, ssr;

    void SetUp() override {
        fs::create_directories(dir / "Сметы");
        general = makePricedEstimate(dir / "Сметы", "ЛСР 02-01-01", {{WorkType::Construction, "18456789.37"}},
                                     "Общестроительные работы");
        systems = makePricedEstimate(dir / "Сметы", "ЛСР 02-01-02",
                                     {{WorkType::Construction, "1234567.89"}, {WorkType::Mounting, "2345678.91"},
                                      {WorkType::Equipment, "3456789.12"}, {WorkType::Other, "123456.78"}},
                                     "Внутренние инженерные системы");
        networks = makePricedEstimate(dir / "Сметы", "ЛСР 06-01-01",
                                      {{WorkType::Construction, "2987654.32"}, {WorkType::Mounting, "412345.82"}},
                                      "Наружные сети водоснабжения");
        const Output made = run({"new", dir.path().string(), "Школа"});
        ssr = dir / "Школа.ssr";
        EXPECT_EQ(made.out, ssr.string() + "\n");
    }

    void buildSchool() {
        run({"set", ssr.string(), "name=Школа на 550 мест", "customer=ГКУ «Дирекция»", "level=I кв. 2026"});
        run({"add", ssr.string(), "2", "--estimate", general.string(), "--object", "02-01:Здание школы"});
        run({"add", ssr.string(), "2", "--estimate", systems.string(), "--object", "02-01"});
        run({"add", ssr.string(), "6", "--estimate", networks.string()});
        run({"add", ssr.string(), "8", "--percent", "1,8", "--of", "1-7", "--columns", "4+5", "--calc",
             "Временные здания и сооружения", "--reason", "Приказ Минстроя России № 332/пр"});
        run({"add", ssr.string(), "9", "--percent", "2.4", "--of", "1-8", "--columns", "4+5", "--calc",
             "Зимнее удорожание"});
        run({"add", ssr.string(), "10", "--calc", "Содержание службы технического заказчика", "--amounts",
             "0:0:0:742118,40"});
        run({"add", ssr.string(), "10", "--calc", "Строительный контроль", "--amounts", "::0:512346.05"});
        run({"add", ssr.string(), "12", "--calc", "Проектные и изыскательские работы", "--amounts",
             "0:0:0:1 850 000,00", "--reason", "СР-3"});
        run({"add", ssr.string(), "12", "--calc", "Государственная экспертиза", "--amounts", "0:0:0:245678.90"});
    }
};

TEST_F(CliSummary, TheWorkedSchoolToTheKopeck) {
    buildSchool();
    const std::string json = run({"totals", ssr.string(), "--json"}).out;
    EXPECT_NE(json.find(R"({"n":2,"lines":[{"num":1,"kind":"object","name":"Здание школы","building":19691357.26,)"
                        R"("mounting":2345678.91,"equipment":3456789.12,"other":123456.78,"total":25617282.07}])"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"({"num":2,"kind":"estimate","name":"Наружные сети водоснабжения","building":2987654.32,)"),
              std::string::npos);
    EXPECT_NE(json.find(R"({"num":3,"kind":"percent","name":"Временные здания и сооружения","building":408222.21,)"
                        R"("mounting":49644.45,"equipment":0.00,"other":0.00,"total":457866.66})"),
              std::string::npos);
    EXPECT_NE(json.find(R"({"num":4,"kind":"percent","name":"Зимнее удорожание","building":554093.61,"mounting":67384.06,)"),
              std::string::npos);
    EXPECT_NE(json.find(R"({"num":8,"kind":"calc","name":"Государственная экспертиза",)"), std::string::npos);
    EXPECT_EQ(objectAfter(json, "1-7"), five("22679011.58", "2758024.73", "3456789.12", "123456.78", "29017282.21"));
    EXPECT_EQ(objectAfter(json, "1-8"), five("23087233.79", "2807669.18", "3456789.12", "123456.78", "29475148.87"));
    EXPECT_EQ(objectAfter(json, "1-9"), five("23641327.40", "2875053.24", "3456789.12", "123456.78", "30096626.54"));
    EXPECT_EQ(objectAfter(json, "1-12"), five("23641327.40", "2875053.24", "3456789.12", "3473600.13", "33446769.89"));
    EXPECT_EQ(objectAfter(json, "reserve"),
              R"({"pct":2,"building":472826.55,"mounting":57501.06,"equipment":69135.78,"other":69472.00,"total":668935.39})");
    EXPECT_EQ(objectAfter(json, "with_reserve"), five("24114153.95", "2932554.30", "3525924.90", "3543072.13", "34115705.28"));
    EXPECT_EQ(objectAfter(json, "vat"),
              R"({"rate":22,"building":5305113.87,"mounting":645161.95,"equipment":775703.48,"other":779475.87,"total":7505455.17})");
    EXPECT_TRUE(json.ends_with(R"("total":{"building":29419267.82,"mounting":3577716.25,"equipment":4301628.38,)"
                               R"("other":4322548.00,"total":41621160.45}})" "\n"))
        << json;

    // as text, in thousands, each figure from its own kopecks
    const std::string text = run({"totals", ssr.string(), "--locale", "ru_RU"}).out;
    EXPECT_NE(text.find("1\tОСР 02-01\tЗдание школы\t19691,36\t2345,68\t3456,79\t123,46\t25617,28\n"), std::string::npos) << text;
    EXPECT_NE(text.find("3\tПриказ Минстроя России № 332/пр\tВременные здания и сооружения\t408,22\t49,64\t0,00\t0,00\t457,87"),
              std::string::npos);
    EXPECT_NE(text.find("\tИтого по главе 10\t\t0,00\t0,00\t0,00\t1254,46\t1254,46\n"), std::string::npos);
    EXPECT_NE(text.find("\tВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ\t\t29419,27\t3577,72\t4301,63\t4322,55\t41621,16"), std::string::npos);

    // the same construction with VAT taken in 2025
    run({"set", ssr.string(), "vat.date=2025-06-30"});
    const std::string in2025 = run({"totals", ssr.string(), "--json"}).out;
    EXPECT_EQ(objectAfter(in2025, "vat"),
              R"({"rate":20,"building":4822830.79,"mounting":586510.86,"equipment":705184.98,"other":708614.43,"total":6823141.06})");
    EXPECT_TRUE(in2025.ends_with(R"("total":40938846.34}})" "\n")) << in2025;
}

TEST_F(CliSummary, BadInputsAreNamedAndStoreNothing) {
    buildSchool();
    fs::path templ = makePricedEstimate(dir / "Сметы", "По шаблону", {{WorkType::Construction, "1"}});
    editing::KeptCalc bySide;  // the template method: no totals by type of work
    editing::saveKeptCalc(templ, bySide);
    const std::string s = ssr.string();
    const struct {
        const char* name;
        cli::Args args;
        const char* message;  // how it begins
    } cases[] = {
        {"chapter 13", {"add", s, "13", "--calc", "Х", "--amounts", "1:0:0:0"}, "Глава «13»: ожидается номер главы от 1 до 12"},
        {"chapter 0", {"add", s, "0", "--calc", "Х", "--amounts", "1:0:0:0"}, "Глава «0»"},
        {"chapter in words", {"add", s, "два", "--estimate", general.string()}, "Глава «два»"},
        {"a subtotal not above",
         {"add", s, "8", "--percent", "2", "--of", "1-8", "--columns", "4+5", "--calc", "ВЗиС"},
         "Глава 8, строка «ВЗиС»: процент берется от итога выше строки, а «Итого по главам 1–8» стоит после главы 8"},
        {"a subtotal that is none",
         {"add", s, "9", "--percent", "2", "--of", "1-6", "--columns", "4+5", "--calc", "ЗУ"},
         "Глава 9, строка «ЗУ»: итоги «Итого по главам 1–K» есть только после глав с 7 по 12"},
        {"of without 1-", {"add", s, "9", "--percent", "2", "--of", "7", "--columns", "4+5", "--calc", "ЗУ"}, "Итог (--of): «7»"},
        {"columns 4+9", {"add", s, "9", "--percent", "2", "--of", "1-8", "--columns", "4+9", "--calc", "ЗУ"},
         "Графы (--columns): «4+9»"},
        {"percent in words", {"add", s, "9", "--percent", "два", "--of", "1-8", "--columns", "4", "--calc", "ЗУ"},
         "Процент (--percent): «два» не число"},
        {"three amounts", {"add", s, "12", "--calc", "Х", "--amounts", "1:2:3"}, "Суммы (--amounts): «1:2:3»"},
        {"kopeck fractions", {"add", s, "12", "--calc", "Х", "--amounts", "0:0:0:1.005"}, "Суммы (--amounts): «0:0:0:1.005»"},
        {"a negative amount", {"add", s, "12", "--calc", "Х", "--amounts", "0:0:0:-5"}, "Суммы (--amounts): «0:0:0:-5» — сумма меньше нуля"},
        {"a calculation and an estimate", {"add", s, "12", "--calc", "Х", "--estimate", general.string()}, "talvira-cli summary add:"},
        {"a missing estimate file", {"add", s, "3", "--estimate", (dir / "Нет.db").string()},
         "Смета «"},
        {"an estimate by the template", {"add", s, "3", "--estimate", templ.string()}, "Смета «"},
        {"an estimate linked twice", {"add", s, "3", "--estimate", networks.string()},
         "Смета «Сметы/ЛСР 06-01-01.db» уже есть в сводном сметном расчете (строка 2, глава 6)"},
        {"an object of another chapter", {"add", s, "3", "--estimate", templ.string(), "--object", "02-01"},
         "Объект 02-01 «Здание школы» уже есть в главе 2, а не в главе 3"},
        {"a new object without a name", {"add", s, "3", "--estimate", templ.string(), "--object", "03-01"},
         "Объекта 03-01 еще нет"},
        {"reserve over its cap", {"set", s, "reserve=2,5"},
         "Резерв (reserve): 2,5 % больше предела 2 % для объектов непроизводственного назначения"},
        {"production, reserve over 3", {"set", s, "purpose=production", "reserve=3.5"}, "Резерв (reserve): 3,5 % больше предела 3 %"},
        {"the cap falls under the reserve", {"set", s, "reserve=3", "purpose=production", "purpose=other"},
         "Резерв (reserve): 3 % больше предела 2 %"},
        {"a comma where a date is due", {"set", s, "vat.date=2026,01,01"},
         "Дата НДС (vat.date): «2026,01,01» — ожидается дата ГГГГ-ММ-ДД"},
        {"a day the calendar lacks", {"set", s, "vat.date=2025-02-29"}, "Дата НДС (vat.date): «2025-02-29»"},
        {"purpose in Russian", {"set", s, "purpose=жилой"}, "Назначение объектов (purpose): «жилой»"},
        {"an unknown key", {"set", s, "name=Школа", "vat=22"}, "Неизвестный параметр «vat»"},
        {"no value", {"set", s, "reserve"}, "«reserve»: ожидается КЛЮЧ=ЗНАЧЕНИЕ"},
        {"a construction that is not there", {"totals", (dir / "Нет.ssr").string()}, "Сводный сметный расчет «"},
        {"made twice", {"new", dir.path().string(), "Школа"}, "Сводный сметный расчет «"},
    };
    const std::string before = bytes(ssr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = failure(c.args);
        EXPECT_EQ(message.substr(0, std::string(c.message).size()), c.message) << message;
        EXPECT_EQ(bytes(ssr), before);
    }
    // a production construction takes 3 %
    run({"set", s, "purpose=production", "reserve=3"});
    EXPECT_NE(run({"totals", s, "--json"}).out.find(R"("reserve":{"pct":3,)"), std::string::npos);
}

TEST_F(CliSummary, ExportWritesTheFormsByTheirExtension) {
    buildSchool();
    auto exported = [&](const cli::Args& args) {
        testing::internal::CaptureStdout();
        const int rc = cli::exportCommand(args);
        EXPECT_EQ(rc, 0);
        return testing::internal::GetCapturedStdout();
    };
    const fs::path osr = dir / "02-01 Здание школы.gge";
    EXPECT_EQ(exported({ssr.string(), "--form", "osr", "--object", "02-01", "--out", osr.string()}), osr.string() + "\n");
    EXPECT_NE(bytes(osr).find("<Reason>02-01-02</Reason>"), std::string::npos);
    const fs::path all = dir / "ССРСС.gge";
    exported({"--form", "ssr", ssr.string(), "--out", all.string()});
    EXPECT_NE(bytes(all).find("<Link>02-01 Здание школы.gge</Link>"), std::string::npos);
    const fs::path book = dir / "ССР.XLSX";
    exported({ssr.string(), "--form", "ssr", "--out", book.string()});
    EXPECT_TRUE(bytes(book).starts_with("PK")) << "a workbook";
    const struct {
        cli::Args args;
        const char* message;
    } cases[] = {
        {{ssr.string(), "--form", "osr", "--out", osr.string()}, "talvira-cli export: у формы osr нужен номер объекта"},
        {{ssr.string(), "--form", "osr", "--object", "09-09", "--out", osr.string()}, "В сводном сметном расчете нет объекта 09-09"},
        {{ssr.string(), "--form", "ssr", "--out", (dir / "ССР.txt").string()}, "Файл «"},
        {{ssr.string(), "--form", "lsr", "--out", all.string()}, "использование: talvira-cli export SUMMARY.ssr"},
    };
    for (const auto& c : cases) {
        std::string message = "(no failure)";
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        try {
            cli::exportCommand(c.args);
        } catch (const Error& e) {
            message = e.what();
        }
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(message.starts_with(c.message)) << message;
    }
    EXPECT_FALSE(fs::exists(dir / "ССР.txt"));
}

TEST_F(CliSummary, ADamagedFileIsNamedAndNeverWrittenOver) {
    buildSchool();
    std::string damaged = bytes(ssr);
    damaged.replace(damaged.find("percent=1.8"), 11, "percent=1,8x");
    std::ofstream(ssr, std::ios::binary) << damaged;
    for (const cli::Args& args : {cli::Args{"totals", ssr.string()}, cli::Args{"set", ssr.string(), "name=Х"},
                                  cli::Args{"add", ssr.string(), "12", "--calc", "Х", "--amounts", "1:0:0:0"}}) {
        const std::string message = failure(args);
        EXPECT_NE(message.find("Сводный сметный расчет «" + ssr.string() + "» не прочитан: строка "), std::string::npos) << message;
        EXPECT_NE(message.find("«percent=1,8x» неверно"), std::string::npos) << message;
        EXPECT_EQ(bytes(ssr), damaged);
    }
    // a file of the user's under the name is not taken for one
    std::ofstream(dir / "Заметки.ssr") << "мои заметки\n";
    EXPECT_NE(failure({"totals", (dir / "Заметки.ssr").string()}).find("первая строка не заголовок"), std::string::npos);
}

TEST_F(CliSummary, ALinkedEstimateChangedAfterItWasLinkedIsTakenAndNamed) {
    buildSchool();
    repriceEstimate(networks, 0, "3087654.32");
    const Output o = run({"totals", ssr.string(), "--json"});
    EXPECT_NE(o.out.find(R"({"num":2,"kind":"estimate","name":"Наружные сети водоснабжения","building":3087654.32,)"),
              std::string::npos)
        << o.out;
    const std::string said = "Строка 2 «Наружные сети водоснабжения» (глава 6): смета «Сметы/ЛСР 06-01-01.db» изменилась, "
                             "всего было 3 400 000,14 руб., стало 3 500 000,14 руб.";
    EXPECT_NE(o.err.find(said), std::string::npos) << o.err;
    EXPECT_NE(o.out.find(R"("changed":[{"num":2,"file":"Сметы/ЛСР 06-01-01.db","text":")" + said), std::string::npos);
    // ВЗиС follows it: r((22 779 011.58) × 1.8 %) = r(410 022.20844)
    EXPECT_NE(o.out.find(R"("name":"Временные здания и сооружения","building":410022.21,)"), std::string::npos);

    // an estimate of the object changed: the object's line is named
    repriceEstimate(systems, 3, "123456.79");
    const Output again = run({"totals", ssr.string()});
    EXPECT_NE(again.err.find("Строка 1 «Здание школы» (ОСР 02-01, глава 2): смета «Сметы/ЛСР 02-01-02.db» изменилась, "
                             "всего было 7 160 492,70 руб., стало 7 160 492,71 руб."),
              std::string::npos)
        << again.err;

    // gone: its line keeps its last known amounts, marked, and says so
    fs::rename(networks, dir / "Сметы" / "убрана.db");
    const Output gone = run({"totals", ssr.string(), "--json"});
    EXPECT_NE(gone.out.find(R"({"num":2,"kind":"estimate","name":"Наружные сети водоснабжения","stale":["смета «Сметы/ЛСР )"
                            R"(06-01-01.db» не найдена: взяты последние известные суммы"],"building":3087654.32,)"),
              std::string::npos)
        << gone.out;
    EXPECT_NE(gone.out.find(R"("missing":[{"num":2,)"), std::string::npos);
    EXPECT_NE(gone.err.find("Строка 2 «Наружные сети водоснабжения» (глава 6): смета «Сметы/ЛСР 06-01-01.db» не найдена"),
              std::string::npos);
}

TEST_F(CliSummary, AnEstimateLeftAloneIsNotReadAgain) {
    // Files written an hour ago, so their stamps are settled when they are linked.
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const fs::directory_entry& f : fs::directory_iterator(dir / "Сметы")) fs::last_write_time(f.path(), hourAgo);
    run({"add", ssr.string(), "6", "--estimate", networks.string()});
    const std::string kept = bytes(ssr);
    // Its table spoilt in place, size and time kept: read again, it could not be computed.
    std::string table = bytes(networks);
    std::fill(table.begin(), table.begin() + 64, '\xff');
    std::ofstream(networks, std::ios::binary) << table;
    fs::last_write_time(networks, hourAgo);
    const Output o = run({"totals", ssr.string(), "--json"});
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find(R"("building":2987654.32,"mounting":412345.82)"), std::string::npos) << o.out;
    EXPECT_EQ(bytes(ssr), kept) << "nothing new to keep";
    // Now its time moves: it is read, cannot be, and keeps its amounts, marked.
    fs::last_write_time(networks, hourAgo + std::chrono::minutes(1));
    const Output spoilt = run({"totals", ssr.string(), "--json"});
    EXPECT_NE(spoilt.err.find("Строка 1 «Наружные сети водоснабжения» (глава 6): смета «Сметы/ЛСР 06-01-01.db» не прочитана ("),
              std::string::npos)
        << spoilt.err;
    EXPECT_NE(spoilt.out.find(R"("building":2987654.32,"mounting":412345.82)"), std::string::npos);
}

}  // namespace
}  // namespace talvira::test
