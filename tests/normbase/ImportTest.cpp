// The import of the official norm base: the real files read into a base the program works on
// (values checked by hand against the XML), small ГЭСН and ФЕР files written here, the bad
// inputs (each refused or counted, the base left as it was) and an import killed half-way.
#include "common/Error.h"
#include "normbase/BaseInfo.h"
#include "normbase/NormBase.h"
#include "normbase/ResourcePrices.h"
#include "normbase/import/OfficialImport.h"
#include "storage/CodePage.h"
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <chrono>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using normimport::ImportReport;

fs::path official(const char* name) { return testDataDir() / "official" / name; }

void writeFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

/** What a command prints on standard output. */
std::string output(int (*command)(const cli::Args&), const cli::Args& args) {
    testing::internal::CaptureStdout();
    const int rc = command(args);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    return out;
}

/** A norm file of one collection, one table and the given norms. */
std::string normFile(const std::string& works, const std::string& baseType = "ГЭСН", const char* bom = "\xEF\xBB\xBF",
                     const char* eol = "\n") {
    std::string s = std::string(bom) + "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + eol + "<base BaseType=\"" + baseType +
                    "\" PriceLevel=\"01.01.2000\"><Decrees><Decree Name=\"Тест\"/></Decrees>" + eol +
                    "<ResourcesDirectory><ResourceCategory CodePrefix=\"" + baseType + "\">" + eol +
                    "<Section Type=\"Сборник\" Code=\"07\" Name=\"Бетонные работы\"><Section Type=\"Таблица\" Code=\"07-01-001\" Name=\"Фундаменты\">" +
                    eol + works + eol + "</Section></Section></ResourceCategory></ResourcesDirectory></base>" + eol;
    return s;
}

/** A norm with the given resource lines. */
std::string work(const std::string& code, const std::string& lines, const std::string& extra = "") {
    return "<NameGroup BeginName=\"Устройство  фундаментов:\"><Work Code=\"" + code +
           "\" EndName=\"бетонных\" MeasureUnit=\"100 м3\"><Resources>" + lines + "</Resources>" + extra + "</Work></NameGroup>";
}

std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string() + ":" + std::to_string(e.file_size()));
    std::sort(names.begin(), names.end());
    return names;
}

uint64_t attention(const ImportReport& r, const std::string& start) {
    for (const auto& a : r.attention)
        if (a.what.starts_with(start)) return a.count;
    return 0;
}

TEST(OfficialImport, TheRealFilesGiveAWorkingBase) {
    TempDir start("talvira-import");
    const fs::path base = start / "Base";
    fs::create_directories(base);
    writeFile(base / "1.xls", "шаблон");
    normimport::ImportOptions opt;
    opt.wagePerHour = Money::fromKopecks(30000);
    const ImportReport r = normimport::importBase(base, {official("FSBC_Mash.xml"), official("GESNp.xml")}, opt);
    // Counted in the files: 10 + 1 top sections, 946 + 194 below them, 2604 norms, 10505 lines, 1711 machines.
    EXPECT_EQ(r.collections, 11u);
    EXPECT_EQ(r.contentsEntries, 1140u);
    EXPECT_EQ(r.rates, 2604u);
    EXPECT_EQ(r.resourceLines, 10505u);
    EXPECT_EQ(r.priceRecords, 1711u);
    EXPECT_EQ(r.sources.at(1).baseType, "ГЭСНп");
    EXPECT_EQ(r.sources.at(0).decree, "Приказ 490/пр от 14.08.2025");
    EXPECT_EQ(fs::file_size(base / "1.xls"), std::string("шаблон").size());
    EXPECT_NE(normimport::readBaseOrigin(base).find("GESNp.xml"), std::string::npos);
    for (const char* line : {"Часовая ставка оплаты труда: 300 руб.", "Прежняя нормативная база сохранена в папке «Base.old»."})
        EXPECT_NE(r.text().find(line), std::string::npos) << r.text();
    normbase::BaseInfo info;
    info.imported = true;
    info.priceLevel = "01.01.2022";
    info.edition = "ФСНБ-2022";
    info.books = {"ГЭСНп"};
    info.orders = {"Приказ 490/пр от 14.08.2025", "ГОСУДАРСТВЕННЫЕ ЭЛЕМЕНТНЫЕ СМЕТНЫЕ НОРМЫ ГЭСН-2022 доп. № 15"};
    EXPECT_EQ(normbase::readBaseInfo(base), info);

    // Browse order: the price book first (given first), then the norms' first collection and its first entries.
    normbase::NormBase nb;
    nb.setDirectory(base.string());
    nb.openAll();
    EXPECT_EQ(nb.Table7.fieldAsString("NAME"), "ФСБЦ 91. Строительные машины и механизмы");
    EXPECT_EQ(nb.Table6.fieldAsString("NAME"), "Раздел 91.01. Машины для земляных работ");
    nb.Table6.moveTo(1);
    EXPECT_EQ(nb.Table2.fieldAsString("TAB"), "91.01.01-014");
    EXPECT_DOUBLE_EQ(nb.Table2.fieldAsFloat("BA"), 1348.38);  // 386.65 + 961.73
    EXPECT_DOUBLE_EQ(nb.Table2.fieldAsFloat("BD"), 386.65);
    EXPECT_EQ(nb.Table8.fieldAsString("NAME"), "маш.-ч");
    nb.Table7.moveTo(1);
    EXPECT_EQ(nb.Table7.fieldAsString("NAME"), "ГЭСНп 01. Электротехнические устройства");
    const char* entries[] = {"Отдел 1. СИНХРОННЫЕ ГЕНЕРАТОРЫ И ВОЗБУДИТЕЛИ", "Раздел 1. ГЕНЕРАТОРЫ",
                             "Таблица 01-01-001. Синхронные генераторы (компенсаторы)"};
    for (int i = 0; i < 3; ++i) {
        nb.Table6.moveTo(i);
        EXPECT_EQ(nb.Table6.fieldAsString("NAME"), entries[i]);
    }
    EXPECT_EQ(nb.Table2.recordCount(), 8);
    EXPECT_EQ(nb.Table2.fieldAsString("TAB"), "ГЭСНп01-01-001-01");  // the book's prefix, as documents write it
    EXPECT_EQ(nb.Table1.fieldAsString("NAME"), "Генератор синхронный (компенсатор) напряжением: до 1 кВ, мощностью до 100 кВт");
    EXPECT_DOUBLE_EQ(nb.Table2.fieldAsFloat("BG"), 45.9);
    EXPECT_DOUBLE_EQ(nb.Table2.fieldAsFloat("BE"), 13770);  // 45.9 × 300
    EXPECT_DOUBLE_EQ(nb.Table2.fieldAsFloat("BA"), 13770);
    EXPECT_EQ(nb.Table2.fieldAsString("PREISK"), "Пр/812-083.0");
    EXPECT_EQ(nb.Table3.recordCount(), 5);
    nb.Table3.moveTo(1);
    EXPECT_DOUBLE_EQ(nb.Table3.fieldAsFloat("KOLL"), 4.59);
    EXPECT_EQ(nb.Table4.fieldAsString("TAB"), "2-100-05");
    EXPECT_EQ(nb.Table5.fieldAsString("NAME"), "Рабочий 5 разряда");
    EXPECT_EQ(nb.Table9.fieldAsString("NAME"), "чел.-ч");
    nb.closeAll();

    const std::string found = output(cli::searchCommand, {base.string(), "01-01-001-02"});
    EXPECT_NE(found.find("мощностью свыше 100 кВт"), std::string::npos) << found;
    EXPECT_NE(output(cli::searchCommand, {base.string(), "бульдозеры", "рыхлители"}).find("91.01.01-014"), std::string::npos);

    // Each import keeps the base before as Base.old; the last three are kept, the oldest goes
    // (the first one, holding only the template, is gone after four imports).
    ImportReport last;
    for (int i = 0; i < 3; ++i) {
        last = normimport::importBase(base, {official("GESNp.xml")}, {});
        // The base the fourth import pushes out is named in the report (it went without a word).
        EXPECT_EQ(last.removedBase, i == 2 ? "Base.old-3" : "") << i;
    }
    EXPECT_EQ(last.keptBases, (std::vector<std::string>{"Base.old", "Base.old-2", "Base.old-3"}));
    EXPECT_NE(last.text().find("сохранена в папке «Base.old»; более ранние: «Base.old-2», «Base.old-3»."), std::string::npos)
        << last.text();
    EXPECT_NE(last.text().find("Копия, хранившаяся в папке «Base.old-3», удалена"), std::string::npos) << last.text();
    EXPECT_NE(last.text().find("Часовая ставка оплаты труда не задана"), std::string::npos) << last.text();
    for (const char* kept : {"Base.old", "Base.old-2", "Base.old-3"}) EXPECT_TRUE(fs::exists(start / kept / "RABMAT.DB")) << kept;
    EXPECT_FALSE(fs::exists(start / "Base.old-4"));
    EXPECT_TRUE(fs::exists(base / "1.xls"));
    // The note is the new base's own, never carried over from the old one.
    EXPECT_EQ(normbase::readBaseInfo(base).orders, std::vector<std::string>{info.orders.back()});
}

TEST(OfficialImport, MachinesMaterialsAndUnitPricesReachTheEstimateAndTheWorkbook) {
    TempDir start("talvira-import-small");
    const fs::path norms = start / "norms.xml", fer = start / "fer.xml", water = start / "water.xml", mr = start / "mr.xml";
    const std::string reasons = "<NrSp><ReasonItem Nr=\"Пр/812-007.0-1\" Sp=\"Пр/774-007.0\"/><ReasonItem Nr=\"Пр/812-007.0-2\"/>"
                                "<ReasonItem Nr=\"Пр/812-007.0-3\"/><ReasonItem Nr=\"Пр/812-007.0-4\"/><ReasonItem Nr=\"Пр/812-007.0-1\"/></NrSp>";
    writeFile(norms, normFile(work("07-01-001-01",
        "<Resource Code=\"1-100-34\" Quantity=\"10\"/><Resource Code=\"1-100-40\" Quantity=\"2.5\"/>"
        "<Resource Code=\"2\" Quantity=\"1.25\"/>"
        "<Resource Code=\"91.01.01-014\" EndName=\"Бульдозер\" Quantity=\"2\"/>"
        "<AbstractResource Code=\"04.1.02.05\" Name=\"Смеси бетонные\" MeasureUnit=\"м3\" Quantity=\"101.5\"/>"
        "<AbstractResource Code=\"08.4.03.02\" Name=\"Арматура\" MeasureUnit=\"т\" Quantity=\"П\"/>", reasons) +
        work("07-01-001-02", "<Resource Code=\"1\" Quantity=\"0.37\"/>"
                             "<Resource Code=\"01.7.03.04-0001\" EndName=\"Вода\" MeasureUnit=\"м3\" Quantity=\"0.5\"/>")));
    // A ФЕР norm's price holds its accounted lines, priced in no file here; its concrete is
    // left to the project, outside the price.
    writeFile(fer, normFile(work("07-01-002-01", "<Resource Code=\"1\" Quantity=\"3\"/>"
        "<Resource Code=\"14.4.01.01-0003\" EndName=\"Грунтовка\" MeasureUnit=\"кг\" Quantity=\"1.2\"/>"
        "<Resource Code=\"91.14.02-001\" EndName=\"Автомобиль\" Quantity=\"0.5\"/>"
        "<AbstractResource Code=\"04.1.02.05\" Name=\"Смеси бетонные\" MeasureUnit=\"м3\" Quantity=\"1.02\"/>",
        "<Prices><Price Cost=\"100.5\" Salary=\"20\" Machines=\"30\" SalaryMach=\"5\" Materials=\"50.5\"/></Prices>"), "ФЕР"));
    // Another book numbered the same way: its codes carry its own prefix, nothing collides.
    writeFile(mr, normFile(work("07-01-001-01", "<Resource Code=\"1\" Quantity=\"1\"/>"), "ГЭСНмр"));
    writeFile(water, "<ResourceCatalog><ResourcesDirectory><ResourceCategory Type=\"Материалы\">"
                     "<Section Type=\"Книга\" Code=\"01\" Name=\"Материалы\"><Section Type=\"Часть\" Code=\"01.7\" Name=\"Вода\">"
                     "<Resource Code=\"01.7.03.04-0001\" Name=\"Вода\" MeasureUnit=\"м3\"><Prices><Price Cost=\"1154.09\"/></Prices>"
                     "</Resource></Section></Section></ResourceCategory></ResourcesDirectory></ResourceCatalog>");
    const fs::path base = start / "Base";
    normimport::ImportOptions opt;
    opt.wagePerHour = Money::fromKopecks(41250);
    const ImportReport r = normimport::importBase(base, {norms, fer, official("FSBC_Mash.xml"), water, mr}, opt);
    // Concrete, steel; labour is not priced, and the ФЕР price holds the primer and the lorry.
    EXPECT_EQ(attention(r, "Коды ресурсов, не найденные"), 2u) << r.text();
    EXPECT_NE(r.text().find("Часовая ставка оплаты труда: 412,5 руб.; расценок с основной зарплатой из их цен в файлах: 1"),
              std::string::npos) << r.text();
    EXPECT_EQ(attention(r, "Строки с количеством не числом"), 1u);
    EXPECT_EQ(attention(r, "Повторяющиеся шифры"), 0u);
    EXPECT_TRUE(r.keptBases.empty());  // there was no base before: none is said to be kept
    EXPECT_EQ(normbase::readBaseInfo(base).books, (std::vector<std::string>{"ГЭСН", "ФЕР", "ГЭСНмр"}));
    EXPECT_EQ(normbase::readBaseInfo(base).edition, "ФСНБ-2022, ФСНБ-2020");

    // Every amount exact and rounded half up once: 0.5 × 1154.09 = 577.045 and 0.37 × 412.5 =
    // 152.625 are 577.05 and 152.63 (binary doubles made them 577.04 and 152.62).
    struct Row { const char* code; double ba, bb, bc, bd, be, bg, bh; const char* overhead; } rows[] = {
        {"ГЭСН07-01-001-01", 7853.01, 0, 2696.76, 773.3, 5156.25, 12.5, 1.25,  // 2 × 1348.38; grades 10 + 2.5
         "Пр/812-007.0-1; Пр/812-007.0-2; Пр/812-007.0-3; …"},                // whole references within 50 characters
        {"ГЭСН07-01-001-02", 729.68, 577.05, 0, 0, 152.63, 0.37, 0, ""},
        {"ФЕР07-01-002-01", 100.5, 50.5, 30, 5, 20, 3, 0, ""},  // the ФЕР unit price as given
        {"ГЭСНмр07-01-001-01", 412.5, 0, 0, 0, 412.5, 1, 0, ""},
    };
    auto rabmat = storage::openParadoxTable((base / "RABMAT.DB").string(), storage::OpenMode::ReadOnly);
    for (const Row& row : rows) {
        bool seen = false;
        for (auto loc = rabmat->first(); loc; loc = rabmat->next(*loc)) {
            if (rabmat->readField(*loc, rabmat->fieldIndex("TAB")).asString() != row.code) continue;
            seen = true;
            auto f = [&](const char* name) { return rabmat->readField(*loc, rabmat->fieldIndex(name)).asFloat(); };
            EXPECT_DOUBLE_EQ(f("BA"), row.ba) << row.code;
            EXPECT_DOUBLE_EQ(f("BB"), row.bb) << row.code;
            EXPECT_DOUBLE_EQ(f("BC"), row.bc) << row.code;
            EXPECT_DOUBLE_EQ(f("BD"), row.bd) << row.code;
            EXPECT_DOUBLE_EQ(f("BE"), row.be) << row.code;
            EXPECT_DOUBLE_EQ(f("BG"), row.bg) << row.code;
            EXPECT_DOUBLE_EQ(f("BH"), row.bh) << row.code;
            EXPECT_EQ(rabmat->readField(*loc, rabmat->fieldIndex("PREISK")).asString(), row.overhead) << row.code;
        }
        EXPECT_TRUE(seen) << row.code;
    }
    rabmat.reset();

    // What the browser marks as without a price (a red corner, a warning on Add): only what the
    // rate's price leaves out. Every ФЕР rate was marked for the resources its price holds.
    {
        normbase::NormBase nb;
        nb.setDirectory(base.string());
        nb.openAll();
        normbase::ResourcePrices prices(nb);
        auto rateId = [&](const std::string& code) {
            auto t = storage::openParadoxTable((base / "RABMAT.DB").string(), storage::OpenMode::ReadOnly);
            for (auto loc = t->first(); loc; loc = t->next(*loc))
                if (t->readField(*loc, t->fieldIndex("TAB")).asString() == code) return t->readField(*loc, t->fieldIndex("ID")).asInteger();
            return int64_t(0);
        };
        struct Unpriced { const char* rate; std::vector<std::string> codes; } unpriced[] = {
            {"ФЕР07-01-002-01", {"04.1.02.05"}},                // left to the project: outside the price
            {"ГЭСН07-01-001-01", {"04.1.02.05", "08.4.03.02"}},  // a price made of its resources' prices
            {"ГЭСН07-01-001-02", {}},                           // water priced, labour needs none
        };
        for (const Unpriced& u : unpriced) {
            std::vector<std::string> got;
            for (const auto& res : prices.unpriced(rateId(u.rate))) got.push_back(res.code);
            EXPECT_EQ(got, u.codes) << u.rate;
        }
        nb.closeAll();
    }

    // Adding the norm brings its two materials left to the project as positions of their own.
    const fs::path smeti = start / "Smeti";
    fs::create_directories(smeti);
    output(cli::estimateCommand, {"new", smeti.string(), "Дом"});
    const std::string est = (smeti / "Дом.db").string();
    output(cli::estimateCommand, {"add", base.string(), est, "ГЭСН07-01-001-01"});
    const std::string shown = output(cli::estimateCommand, {"show", est});
    for (const char* code : {"ГЭСН07-01-001-01", "04.1.02.05", "08.4.03.02"}) EXPECT_NE(shown.find(code), std::string::npos) << shown;
    EXPECT_NE(shown.find("7853.01"), std::string::npos) << shown;
    const fs::path out = start / "Дом.xls";
    output(cli::exportCommand, {est, "--template", (testDataDir() / "templates" / "1.xls").string(), "--out", out.string()});
    EXPECT_GT(fs::file_size(out), 4096u);
}

/** A ZIP archive holding `members` (name as stored, bytes). */
void writeZip(const fs::path& p, const std::vector<std::pair<std::string, std::string>>& members) {
    int err = 0;
    zip_t* z = zip_open(p.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_TRUE(z);
    for (const auto& [name, bytes] : members) {
        zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_RAW), 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

TEST(OfficialImport, TheWageIsAskedOnlyForNormsPricedFromTheirResources) {
    TempDir dir("talvira-import-wage");
    const fs::path fer = dir / "ФЕР.xml", bad = dir / "bad.xml", late = dir / "late.xml";
    writeFile(fer, normFile(work("07-01-002-01", "<Resource Code=\"1\" Quantity=\"3\"/>",
                                 "<Prices><Price Cost=\"100.5\" Salary=\"20\"/></Prices>"), "ФЕР"));
    writeFile(bad, "<base><ResourcesDirectory><Work");
    // A norm far into its file is still found (the file's head holds five thousand collections).
    std::string head;
    for (int i = 0; i < 5000; ++i) head += "<Section Type=\"Сборник\" Code=\"" + std::to_string(i) + "\" Name=\"Пустой\"/>";
    writeFile(late, "<base><ResourcesDirectory>" + head + "<Section Type=\"Сборник\" Code=\"07\"><Section Type=\"Таблица\" Code=\"1\">" +
                        work("07-01-002-01", "", "<Prices><Price Cost=\"1\"/></Prices>") + "</Section></Section></ResourcesDirectory></base>");
    const fs::path zip = dir / "ФЕР.zip";
    std::ifstream in(fer, std::ios::binary);
    writeZip(zip, {{"ФЕР.xml", std::string((std::istreambuf_iterator<char>(in)), {})}});
    struct Case { const char* name; std::vector<fs::path> files; bool asked; } cases[] = {
        {"ГЭСН norms", {official("GESNp.xml")}, true},
        {"prices alone", {official("FSBC_Mash.xml")}, false},
        {"ФЕР norms with their prices", {fer, official("FSBC_Mash.xml")}, false},
        {"ФЕР in an archive", {zip}, false},
        {"ФЕР far into the file", {late}, false},
        {"ФЕР and ГЭСН", {fer, official("GESNp.xml")}, true},
        {"a damaged file: asked, the import tells", {fer, bad}, true},
        {"a missing file: asked, the import tells", {dir / "нет.xml"}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(normimport::needsWage(c.files, {}), c.asked) << c.name;
}

TEST(OfficialImport, BadInputIsRefusedOrCountedAndTheBaseStaysAsItWas) {
    TempDir start("talvira-import-bad");
    const fs::path base = start / "Base";
    normimport::importBase(base, {official("GESNp.xml")}, {});
    std::ifstream in(official("GESNp.xml"), std::ios::binary);
    const std::string gesn((std::istreambuf_iterator<char>(in)), {});
    const std::string line = "<Resource Code=\"1\" Quantity=\"2\"/>";
    // CP866 "ГЭСН.xml" without the UTF-8 flag, and a member that unpacks beyond the limit.
    const std::string cp866Name = "\x83\x9D\x91\x8D.xml";
    struct Case { std::string name; std::string file; const char* message; const char* counted; };
    std::vector<Case> cases = {
        {"not XML", "Сметы 2024 года", "строка 1, столбец 1: это не XML", nullptr},
        {"cut short", gesn.substr(0, 100000), "обрывается на середине", nullptr},
        {"another root", "<ResourceKeys/>", "корневой элемент <ResourceKeys>", nullptr},
        {"zip without norms", "zip:readme.txt", "в архиве нет ни одного файла норм или цен", nullptr},
        {"zip bomb", "zip:bomb.xml", "архив-бомба", nullptr},
        {"norm outside a section", "<base><ResourcesDirectory><ResourceCategory><Work Code=\"1\"/></ResourceCategory></ResourcesDirectory></base>",
         "строка 1, столбец 45: элемент Work вне раздела", nullptr},
        {"decimal comma", normFile(work("07-01-001-01", "<Resource Code=\"1\" Quantity=\"1,5\"/>")), nullptr, "Числа в необычной"},
        {"exponent", normFile(work("07-01-001-01", "<Resource Code=\"1\" Quantity=\"1.5e3\"/>")), nullptr, "Числа в необычной"},
        {"by the project", normFile(work("07-01-001-01", "<Resource Code=\"1\" Quantity=\"П\"/>")), nullptr, "Строки с количеством"},
        {"empty code", normFile(work("", line)), nullptr, "Элементы без шифра"},
        {"duplicate norms", normFile(work("07-01-001-01", line) + work("07-01-001-01", line)), nullptr, "Повторяющиеся шифры"},
        {"unknown element", normFile(work("07-01-001-01", line, "<Extra><Inner/></Extra>")), nullptr, "Неизвестные элементы"},
        {"no BOM, CRLF", normFile(work("07-01-001-01", line), "ГЭСН", "", "\r\n"), nullptr, "Расценки без цены"},
        {"CP866 member name", "zip:" + cp866Name, nullptr, "Расценки без цены"},
        {"windows-1251 text", *storage::fromUtf8(std::regex_replace(normFile(work("1", line), "ГЭСН", ""), std::regex("utf-8"), "windows-1251"), 1251),
         nullptr, "Расценки без цены"},
        {"cancelled", normFile(work("07-01-001-01", line)), "Импорт прерван пользователем", nullptr},
        // Nothing to import must not empty the user's base.
        {"an empty base", "<base/>", "не найдено ни одной нормы и ни одной цены ресурса: нормативная база не изменена", nullptr},
        {"elements all unknown", "<base><Books><Book Code=\"1\"/></Books><ResourcesDirectory><Catalogue/></ResourcesDirectory></base>",
         "не найдено ни одной нормы и ни одной цены", nullptr},
        {"empty price catalog", "<ResourceCatalog><ResourcesDirectory/></ResourceCatalog>", "не найдено ни одной нормы", nullptr},
        // Read in linear time: twenty thousand members take a second, not hours.
        {"a zip of 20000 empty members", "zips:20000", "не найдено ни одной нормы и ни одной цены", nullptr},
    };
    // Every input that once crashed the reader gets the reader's own message with the place.
    for (const fs::path& seed : filesUnder(fixture("fail/officialxml"), ".xml")) {
        std::ifstream f(seed, std::ios::binary);
        cases.push_back({seed.filename().string(), std::string((std::istreambuf_iterator<char>(f)), {}),
                         "Файл «input.xml», строка ", nullptr});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = directoryBytes(base);
        fs::path file = start / "input.xml";
        normimport::ImportOptions opt;
        normimport::ProgressFn progress;
        if (c.file.starts_with("zips:")) {
            file = start / "input.zip";
            std::vector<std::pair<std::string, std::string>> members;
            for (int i = 0, n = std::stoi(c.file.substr(5)); i < n; ++i) members.emplace_back("part" + std::to_string(i) + ".xml", "<base/>");
            writeZip(file, members);
        } else if (c.file.starts_with("zip:")) {
            const std::string member = c.file.substr(4);
            file = start / "input.zip";
            writeZip(file, {{member, member == "bomb.xml" ? std::string(3 << 20, ' ') : normFile(work("1", line))}});
            opt.memberLimit = 1 << 20;
        } else {
            writeFile(file, c.file);
        }
        if (c.name == "cancelled") progress = [](const normimport::ImportProgress& p) { return p.done == 0; };
        std::string message;
        try {
            const ImportReport r = normimport::importBase(base, {file}, opt, progress);
            EXPECT_GT(attention(r, c.counted ? c.counted : "?"), 0u) << r.text();
            if (c.name == "CP866 member name") {
                EXPECT_EQ(r.sources.at(0).file, "input.zip: ГЭСН.xml");
            }
            EXPECT_EQ(r.sources.at(0).baseType, "ГЭСН");
            normimport::importBase(base, {official("GESNp.xml")}, {});  // back to the same base
        } catch (const Error& e) {
            message = e.what();
        }
        if (c.message) {
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            if (c.name != "cancelled") {
                EXPECT_NE(message.find("input"), std::string::npos) << message;
            }
            EXPECT_TRUE(directoryBytes(base) == before);
        }
        for (const auto& e : fs::directory_iterator(start.path()))
            EXPECT_FALSE(e.path().filename().string().starts_with("Base.import-")) << e.path();
    }
}

TEST(OfficialImport, AnImportKilledAnywhereLeavesTheOldBaseOrTheNewOne) {
    TempDir start("talvira-import-kill");
    const fs::path base = start / "Base";
    fs::create_directories(base);
    writeFile(base / "1.xls", "шаблон");
    const auto t0 = std::chrono::steady_clock::now();
    normimport::importBase(base, {official("FSBC_Mash.xml")}, {});
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    const auto oldBase = listing(base);
    int sawOld = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                normimport::importBase(base, {official("GESNp.xml"), official("FSBC_Mash.xml")}, {});
            } catch (...) {
            }
            ::_exit(3);
        }
        std::this_thread::sleep_for(span * (attempt + 1) / 3);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const auto now = listing(base);
        if (now == oldBase) {
            ++sawOld;
            continue;
        }
        // Put in place whole: the new base opens and holds both files' collections.
        normbase::NormBase nb;
        nb.setDirectory(base.string());
        ASSERT_NO_THROW(nb.openAll());
        EXPECT_EQ(nb.Table7.recordCount(), 11);
        nb.closeAll();
        EXPECT_TRUE(fs::exists(base / "1.xls"));
        break;
    }
    EXPECT_GT(sawOld, 0);
}

}  // namespace
}  // namespace talvira::test
