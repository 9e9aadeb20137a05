// The parameters and position data kept beside an estimate: everything comes back exactly, an
// estimate without the file is computed by the template, and a damaged file gives the defaults
// with one warning, is left as it was, and never touches the table.
#include "tests/storage/StorageTestUtil.h"

#include "common/Error.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFile.h"
#include "storage/TableHandle.h"
#include "storage/Warnings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;
using talvira::Dec7;

struct Side : ::testing::Test {
    test::TempDir dir;
    fs::path table() const { return dir.path() / "Дом.db"; }
    fs::path file() const { return dir.path() / "Дом.calc"; }
    std::vector<std::string> warnings;
    void SetUp() override { storage::setWarningSink([this](const std::string& w) { warnings.push_back(w); }); }
    void TearDown() override { storage::setWarningSink({}); }
    void write(const std::string& content) { std::ofstream(file(), std::ios::binary) << content; }
    std::string read() const {
        std::ifstream in(file(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

KeptCalc everything() {
    KeptCalc s;
    model::EstimateParams& p = s.params;
    p.method = model::Method::BaseIndex;
    p.territory = model::Territory::Rks;
    p.capitalRepair = true;
    p.region = "Московская область";
    p.level = "II кв. 2025";
    p.letter = "письмо Минстроя России\nот 01.04.2025 № 1\\2";
    p.indexOt = Dec7::parse("52.21");
    p.indexEm = Dec7::parse("16.64");
    p.indexEq = Dec7::parse("0.0000001");
    p.baseLevel = "01.01.2000";
    p.gge.regionCode = "50";
    p.gge.construction = "Школа = 1\\ корпус";
    p.gge.normsOrders = "№ 172/пр;\n№ 962/пр";
    p.gge.guid = "{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}";
    p.gge.checkedBy = "Петров П. П.";
    model::PositionData& rate = s.entry(7);
    rate.code = "ФЕР08-01-001-01";
    rate.nrRow = "008.0";
    rate.spRow = "008.0";
    rate.nrChoices = {"Пр/812-008.0"};
    rate.spChoices = {"Пр/774-008.0", "Пр/774-021.1"};
    rate.nrPercent = Dec7::parse("110");
    rate.spPercent = Dec7::parse("69.5");
    rate.workType = model::WorkType::Commissioning;
    rate.machinistLabour = Dec7::parse("0.15");
    rate.indices.ot = Dec7::parse("1");
    rate.indices.otm = Dec7::parse("52.2");
    rate.indices.eq = Dec7::parse("6.31");
    rate.extraPayFactor = Dec7::parse("0.46");
    rate.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, "421/пр прил. 10 т. 1 п. 4: стесненные"},
                         {Dec7::parse("1.25"), model::EM | model::OTM | model::ZTM, ""}};
    model::PositionData& material = s.entry(8);
    material.parent = 7;
    material.perUnit = Dec7::parse("1.02");
    s.entry(9);  // an entry with nothing in it
    return s;
}

TEST_F(Side, EverythingComesBackExactly) {
    const KeptCalc s = everything();
    saveKeptCalc(table(), s);
    EXPECT_EQ(loadKeptCalc(table()), s);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(read().substr(0, read().find('\n')), "# Тальвира: параметры расчета и данные позиций сметы, формат 1");
    // No file: the defaults, computed by the template, without a word.
    fs::remove(file());
    EXPECT_EQ(loadKeptCalc(table()), KeptCalc{});
    EXPECT_TRUE(warnings.empty());
    // Saved again, it replaces the old one; the defaults are a file too.
    saveKeptCalc(table(), KeptCalc{});
    EXPECT_EQ(loadKeptCalc(table()), KeptCalc{});
    // A new estimate of the same name starts without it.
    write(keptCalcContent(s));
    storage::TableHandle smeta{"SmetaTable"};
    estimate::bindEstimate(smeta, dir.path().string(), "Дом");
    estimate::createAndOpen(smeta);
    EXPECT_FALSE(fs::exists(file()));
    // ... but a file of the user's that bears the name stays.
    smeta.close();
    write("мои расчеты\n");
    estimate::createAndOpen(smeta);
    EXPECT_EQ(read(), "мои расчеты\n");
}

TEST_F(Side, DamagedFileGivesTheDefaultsAndOneWarning) {
    const std::string head = "# Тальвира: параметры расчета и данные позиций сметы, формат 1\n";
    const struct {
        const char* what;
        std::string content;
        const char* why;
    } cases[] = {
        {"not UTF-8", head + "region=\xcd\xc4\xd1\n", "текст не в кодировке UTF-8"},
        {"empty", "", "файл пуст"},
        {"another file", "method=421\n", "первая строка не заголовок файла данных сметы"},
        {"a newer format", "# Тальвира: параметры расчета и данные позиций сметы, формат 2\n",
         "формат 2 записан более новой версией программы"},
        {"a format that is no number", "# Тальвира: параметры расчета и данные позиций сметы, формат x\n",
         "строка 1: неверный номер формата"},
        {"no =", head + "method\n", "строка 2: нет знака «=»"},
        {"given twice", head + "method=421\nmethod=template\n", "строка 3: «method» указано второй раз"},
        {"bad method", head + "method=1\n", "строка 2: «method=1» неверно"},
        {"bad territory", head + "territory=4\n", "строка 2: «territory=4» неверно"},
        {"bad index", head + "index.ot=52,2,1\n", "строка 2: «index.ot=52,2,1» неверно"},
        {"bad escape", head + "region=a\\tb\n", "строка 2: неверная последовательность с «\\»"},
        {"bad section", head + "[abc]\n", "строка 2: неверный номер позиции «[abc]»"},
        {"a position twice", head + "[1]\nnr=011.0\n[1]\n", "строка 4: позиция 1 указана второй раз"},
        {"bad parent", head + "[2]\nparent=-1\n", "строка 3: «parent=-1» неверно"},
        {"bad type of work", head + "[2]\nworktype=ремонтные\n", "строка 3: «worktype=ремонтные» неверно"},
        {"bad coefficient", head + "[2]\ncoef=1.2:ПЗ\n", "строка 3: «coef=1.2:ПЗ» неверно"},
        {"a position's index of 0", head + "[2]\nindex.em=0\n", "строка 3: «index.em=0» неверно"},
        {"a position's index given twice", head + "[2]\nindex.m=1\nindex.m=2\n", "строка 4: «index.m» указано второй раз"},
        {"coefficient without targets", head + "[2]\ncoef=1.2\n", "строка 3: «coef=1.2» неверно"},
        // Before, a file cut at a line end was read without a word, its last positions' data lost.
        {"cut at a line end", keptCalcContent(everything()).substr(0, keptCalcContent(everything()).find("[8]")),
         "файл обрезан: нет последней строки «# конец»"},
        {"cut within a line", keptCalcContent(everything()).substr(0, keptCalcContent(everything()).size() - 3),
         "файл обрезан: нет последней строки «# конец»"},
        {"the previous version's, cut after its first line", head, "файл обрезан после первой строки"},
        {"lines after the end", keptCalcContent(everything()) + "method=template\n", "после строки «# конец» ещё строки"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        warnings.clear();
        write(c.content);
        EXPECT_EQ(loadKeptCalc(table()), KeptCalc{});
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("Дом.calc"), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find(std::string("(") + c.why + ")"), std::string::npos) << warnings[0];
        EXPECT_EQ(read(), c.content) << "left as it was";
    }
    // Comments, blank lines, CRLF and names this version does not know are no damage.
    warnings.clear();
    write(head + "# note\r\n\r\nmethod=421\r\nfuture=1\r\n[3]\r\nfuture=2\r\nnr=011.0\r\n");
    const KeptCalc s = loadKeptCalc(table());
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(s.params.method, model::Method::BaseIndex);
    ASSERT_NE(s.find(3), nullptr);
    EXPECT_EQ(s.find(3)->nrRow, "011.0");

    // A file of that name that is not ours is never written over.
    write("мои заметки\n");
    EXPECT_THROW(saveKeptCalc(table(), everything()), Error);
    EXPECT_EQ(read(), "мои заметки\n");
}

}  // namespace
}  // namespace talvira::editing
