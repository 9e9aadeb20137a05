// The expertise file (.gge): the worked position of the real export (ФЕРм 10-05-011-01) planned
// from the computation carries the file's own amounts; the bytes validate with libxml2 and with
// xmllint, under a decimal-comma locale too; a schema violation writes nothing and names the
// element; the shipped schema takes the real example and refuses its spoiled copies with the
// element and the line; the expert's checks, case by case.
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "export/GgeChecks.h"
#include "export/GgePlan.h"
#include "export/GgeSchema.h"
#include "export/GgeWrite.h"
#include "model/BaseIndex.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace talvira::gge {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/** The real export's position 9 (the only «Монтажные» one), computed, and its estimate's facts. */
struct Worked {
    std::vector<model::PositionRow> rows;
    model::EstimateParams params;
    model::BaseIndexResult result;
    Worked() {
        model::PositionRow r;
        r.count = 1;
        r.code = "ФЕРм10-05-011-01";
        r.name = "Антенны приемо-передающие, диаметр до 1,8 м";
        r.unit = "антенна";
        r.quantity = 20;
        r.baseWages = 31.52;
        r.machines = 24.99;
        r.machineWages = 2.84;
        r.materials = 0.63;
        r.cost = 57.14;
        r.labour = 2.44;
        rows.push_back(r);
        model::PositionData d;
        d.count = 1;
        d.code = r.code;
        d.nrRow = d.spRow = "051.2";
        d.machinistLabour = Dec7::parse("0.21");
        params.method = model::Method::BaseIndex;
        params.indexOt = Dec7::parse("52.21");
        params.indexEm = Dec7::parse("16.64");
        params.indexM = Dec7::parse("8.49");
        params.region = "Московская область";
        params.level = "II кв. 2025";
        params.baseLevel = "01.01.2000";
        params.letter = "Письмо Минстроя России от 11.06.2025 № 33852-ИФ/09";
        model::ExpertiseFacts& f = params.gge;
        f.norms = "Приказ Минстроя России от 26.12.2019 № 876/пр";
        f.normsDate = "21.12.2021";
        f.normsNum = "395";
        f.wageAct = "Постановление Правительства РФ от 12.09.2023 № 1452";
        f.regionCode = "50";
        f.construction = "Пример";
        f.object = "Пример";
        f.estimateNum = "ЛСР 02-01-01";
        f.estimateName = "Технический пример";
        f.estimateDate = "01.04.2025";
        f.composedBy = "Иванов И. И.";
        f.checkedBy = "Петров П. П.";
        result = model::computeBaseIndex(rows, {d}, params, model::nrSpTables());
    }
    GgeInput input() const {
        GgeFacts facts;
        facts.guid = "{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}";
        facts.exportDateTime = "2025-08-18T11:19:01+03:00";
        return {rows, params, result, facts, {"Оборудование связи"}};
    }
};

TEST(GgePlan, TheWorkedPositionCarriesTheFilesAmounts) {
    const Worked w;
    ASSERT_TRUE(w.result.positions.at(0).computed);
    const GgePlan plan = planGge(w.input());
    const std::string item = "Object/Estimate/Sections/Section/Items/Item/";
    // What [G1] position 9 holds, element by element.
    const std::pair<std::string, std::string> expected[] = {
        {item + "SummaryType", "Монтажные"},
        {item + "Overheads/Reason", "Пр/812-051.2-1"},
        {item + "Overheads/PriceBase", "652.84"},
        {item + "Overheads/PriceCur", "34084.77"},
        {item + "Profits/Reason", "Пр/774-051.2"},
        {item + "Profits/PriceBase", "364.22"},
        {item + "Profits/PriceCur", "19015.72"},
        {item + "Cost/Num", "1"},
        {item + "Cost/Prefix", "ФЕРм"},
        {item + "Cost/Code", "10-05-011-01"},
        {item + "Cost/Quantity", "20"},
        {item + "Cost/PerUnit/Base/Direct", "57.14"},
        {item + "Cost/Totals/Base/Direct", "1142.80"},
        {item + "Cost/Totals/Base/Machines", "499.80"},
        {item + "Cost/Totals/Base/Salary", "687.20"},
        {item + "Cost/Totals/Current/WorkersSalary", "32913.18"},
        {item + "Cost/Totals/Current/MachinistSalary", "2965.53"},
        {item + "Cost/Totals/Natural/LaborCosts", "48.8"},
        {item + "Cost/Totals/Natural/MachinistLaborCosts", "4.2"},
        {item + "Totals/Base", "2159.86"},
        {"Object/Estimate/EstimatePrice/Mounting/Machines/PriceCurrent", "8316.67"},
        {"Object/Estimate/EstimatePrice/Mounting/Materials/Price/PriceCurrent", "106.97"},
        {"Object/Estimate/EstimatePrice/Mounting/Direct/PriceCurrent", "41336.82"},
        {"Object/Estimate/EstimatePrice/Mounting/Total/PriceCurrent", "94437.31"},
        {"Object/Estimate/EstimatePrice/Total/PriceBase", "2159.86"},
        {"Object/Estimate/EstimatePrice/Total/PriceCurrent", "94437.31"},
        {"Object/Estimate/EstimatePrice/Building/Total/PriceBase", "0.00"},
        {"Object/Estimate/PriceLevelCur/Quarter", "2"},
        {"Object/Estimate/Legal/Main/Num", "395"},
    };
    for (const auto& [path, text] : expected) EXPECT_EQ(plan.textAt(path), text) << path;
    EXPECT_EQ(plan.positions, 1u);
}

TEST(GgePlan, CodesAndLevelsAreSplitAsTheFileWantsThem) {
    EXPECT_EQ(prefixAndCode("ФЕРм10-05-011-01"), (std::pair<std::string, std::string>{"ФЕРм", "10-05-011-01"}));
    EXPECT_EQ(prefixAndCode("ФССЦ-01.7.15.03-0042"), (std::pair<std::string, std::string>{"ФССЦ", "01.7.15.03-0042"}));
    EXPECT_EQ(prefixAndCode("08-01-001-01"), (std::pair<std::string, std::string>{"", "08-01-001-01"}));
    EXPECT_EQ(prefixAndCode("Прайс"), (std::pair<std::string, std::string>{"", "Прайс"}));
    const std::pair<const char*, int> levels[] = {{"II кв. 2025", 20252}, {"IV квартал 2024 г.", 20244},
                                                   {"1 кв. 2026", 20261},  {"2025", 0}, {"", 0}};
    for (const auto& [text, code] : levels) {
        const std::optional<Quarter> q = quarterOf(text);
        EXPECT_EQ(q ? q->year * 10 + q->quarter : 0, code) << text;
    }
}

TEST(GgeWrite, TheBytesValidateWithLibxml2AndXmllintUnderAnyLocale) {
    const Worked w;
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string kept = old ? old : "C";
    const bool russian = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;  // a decimal comma, where installed
    const test::TempDir dir;
    const fs::path out = writeGge(planGge(w.input()), dir.path() / "Смета.gge", false);
    std::setlocale(LC_ALL, kept.c_str());
    const std::string bytes = slurp(out);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(bytes.find("<\xD0\xA2" "erritory" "\xD0\xA2" "ype>Территория<"), std::string::npos);
    EXPECT_NE(bytes.find("<PriceCur>34084.77</PriceCur>"), std::string::npos) << (russian ? "ru_RU" : "C");
    EXPECT_EQ(bytes.find("34084,77"), std::string::npos);
    EXPECT_EQ(exporting::schemaViolation(exporting::kBaseIndexSchema, bytes), "");
    const std::string command = "xmllint --noout --schema '" +
                                (exporting::ggeSchemaDir() / exporting::kBaseIndexSchema).string() + "' '" +
                                out.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string said;
    for (char buf[512]; fgets(buf, sizeof buf, pipe);) said += buf;
    EXPECT_EQ(pclose(pipe), 0) << said;
    EXPECT_NE(said.find("validates"), std::string::npos) << said;
}

TEST(GgeWrite, RepairCoefficientsAndPricedMaterialsValidateToo) {
    Worked w;
    w.params.capitalRepair = true;
    model::PositionRow m;
    m.count = 2;
    m.code = "ФССЦ-04.1.02.05-0008";
    m.name = "Смеси бетонные тяжелого бетона (БСТ), класс В22,5 (М300)";
    m.unit = "м3";
    m.quantity = 20.4;
    m.cost = m.materials = 700;
    w.rows.push_back(m);
    model::PositionData rate;
    rate.count = 1;
    rate.code = w.rows[0].code;
    rate.nrRow = rate.spRow = "051.2";
    rate.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, "421/пр прил. 10 т. 1 п. 4"}};
    model::PositionData material;
    material.count = 2;
    material.code = m.code;
    material.parent = 1;
    material.perUnit = Dec7::parse("1.02");
    w.result = model::computeBaseIndex(w.rows, {rate, material}, w.params, model::nrSpTables());
    ASSERT_EQ(w.result.positions.size(), 1u);
    const GgePlan plan = planGge(w.input());
    const std::string item = "Object/Estimate/Sections/Section/Items/Item/";
    EXPECT_EQ(plan.textAt(item + "Overheads/Coefficients/Final"), "0.9");
    EXPECT_EQ(plan.textAt(item + "Profits/Coefficients/Final"), "0.85");
    EXPECT_EQ(plan.textAt(item + "Cost/Coefficients/Final/Values/Value/CoefValue"), "1.15");
    EXPECT_EQ(plan.textAt(item + "Resources/Material/Num"), "1");
    EXPECT_EQ(plan.textAt(item + "Resources/Material/PriceTotalBase"), "14280.00");  // 20.4 × 700
    EXPECT_EQ(plan.textAt(item + "Resources/Material/Code"), "04.1.02.05-0008");
    EXPECT_EQ(exporting::schemaViolation(exporting::kBaseIndexSchema, renderGge(plan)), "");
}

TEST(GgeWrite, AViolationWritesNothingAndNamesTheElement) {
    const Worked w;
    GgePlan plan = planGge(w.input());
    for (GgeNode& n : plan.nodes)
        if (n.kind == GgeNode::Kind::Leaf && std::string_view(n.name) == "QuantityTotal") n.text = "20,5";
    const test::TempDir dir;
    try {
        writeGge(plan, dir.path() / "Смета.gge", false);
        FAIL() << "written";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("«QuantityTotal»"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("строка "), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(GgeSchema, TheRealExampleValidatesAndItsSpoiledCopiesAreNamed) {
    const std::string example = slurp(test::fixture("real/gge/BIM-3.01-example.gge"));
    EXPECT_EQ(exporting::schemaViolation(exporting::kBaseIndexSchema, example), "");
    struct Spoil {
        const char* from;
        const char* to;
        const char* named;  // the element the message names
    };
    const Spoil spoils[] = {
        {"<Consumption>22.03</Consumption>", "<Consumption>22,03</Consumption>", "«Consumption»"},
        {"<\xD0\xA2" "erritory" "\xD0\xA2" "ype>", "<TerritoryType>", "«TerritoryType»"},
        {"<IndexType>Индексы к элементам прямых затрат</IndexType>", "", "«IndexObjectType»"},
        {"{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}", "{3e9c9cdf-4fa3-4898-bbfe-f8aba77c366b}", "«GUID»"},
        {"<Signatures>", "<Signature>", "«Signature»"},
    };
    for (const Spoil& s : spoils) {
        std::string bytes = example;
        const size_t at = bytes.find(s.from);
        ASSERT_NE(at, std::string::npos) << s.from;
        bytes.replace(at, std::strlen(s.from), s.to);
        if (std::string_view(s.to) == "<Signature>") bytes.replace(bytes.find("</Signatures>"), 13, "</Signature>");
        const std::string v = exporting::schemaViolation(exporting::kBaseIndexSchema, bytes);
        EXPECT_NE(v.find(s.named), std::string::npos) << s.from << ": " << v;
        EXPECT_EQ(v.rfind("строка ", 0), 0u) << v;
    }
    EXPECT_NE(exporting::schemaViolation(exporting::kBaseIndexSchema, "<Construction>").find("не правильный XML"),
              std::string::npos);
    EXPECT_NE(exporting::schemaViolation("Нет-такой.xsd", example).find("Нет-такой.xsd"), std::string::npos);
}

TEST(GgePlan, TheExpertiseFactsAreCheckedAsTheyAreSet) {
    struct Case {
        const char* key;
        const char* value;
        bool taken;
    };
    const Case cases[] = {
        {"region.code", "50", true},          {"region.code", "100", false},       {"region.code", "5a", false},
        {"gge.norms.date", "21.12.2021", true}, {"gge.norms.date", "2021-12-21", false},
        {"estimate.date", "29.02.2025", false}, {"estimate.date", "29.02.2024", true},
        {"gge.norms.num", "395", true},       {"gge.norms.num", "0", false},       {"gge.norms.num", "39.5", false},
        {"gge.guid", "{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}", true},
        {"gge.guid", "{3e9c9cdf-4fa3-4898-bbfe-f8aba77c366b}", false},
        {"gge.guid", "3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B", false},
        {"construction", "Школа = 1", true},  {"region.code", "", true},
    };
    for (const Case& c : cases) {
        model::EstimateParams p;
        p.gge.regionCode = "77";
        bool known = false;
        const std::string fault = model::setParam(p, c.key, c.value, known);
        EXPECT_TRUE(known) << c.key;
        EXPECT_EQ(fault.empty(), c.taken) << c.key << "=" << c.value << ": " << fault;
        if (!c.taken) {
            EXPECT_EQ(p.gge.regionCode, "77") << "nothing is set: " << c.key;
        }
    }
    const std::string guid = model::newGuid();
    bool known = false;
    model::EstimateParams p;
    EXPECT_EQ(model::setParam(p, "gge.guid", guid, known), "") << guid;
    EXPECT_NE(model::newGuid(), guid);
}

// ---- the expert's checks --------------------------------------------------------------------

std::vector<std::string> codes(const std::vector<GgeCheck>& list, bool blocking) {
    std::vector<std::string> out;
    for (const GgeCheck& c : list)
        if (c.blocking == blocking) out.push_back(c.code + (c.position ? "@" + std::to_string(c.position) : ""));
    return out;
}

TEST(GgeChecks, EachRefusalNamesItsPosition) {
    const CheckTexts texts = shippedCheckTexts();
    using Strings = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void(Worked&)> spoil;
        Strings blocking, warning;
    };
    const Case cases[] = {
        {"complete", [](Worked&) {}, {}, {}},
        {"no letter, no wage act", [](Worked& w) { w.params.letter.clear(); w.params.gge.wageAct.clear(); },
         {"letter", "wage_act"}, {}},
        {"no register entry", [](Worked& w) { w.params.gge.normsNum.clear(); }, {"norms_register"}, {}},
        {"no ЭМ index", [](Worked& w) { w.params.indexEm.reset(); }, {"index_em"}, {}},
        {"VAT as a position", [](Worked& w) { w.rows[0].name = "Налог на добавленную стоимость 20%"; },
         {"forbidden_line@1"}, {}},
        {"winter line", [](Worked& w) { w.rows[0].name = "Зимнее удорожание 325/пр"; }, {"forbidden_line@1"}, {}},
        {"a control character", [](Worked& w) { w.rows[0].unit = "шт\x01"; }, {"bad_text@1"}, {}},
        {"no row", [](Worked& w) { w.result.positions[0].computed = false; }, {"not_priced@1", "no_positions"}, {}},
        {"empty title facts", [](Worked& w) {
             w.params.gge.estimateNum = "7";
             w.params.gge.construction.clear();
             w.params.gge.checkedBy.clear();
         }, {}, {"estimate_num", "construction", "signatures"}},
    };
    for (const Case& c : cases) {
        Worked w;
        c.spoil(w);
        const std::vector<GgeCheck> list = checkGge(w.input(), texts);
        EXPECT_EQ(codes(list, true), c.blocking) << c.what;
        EXPECT_EQ(codes(list, false), c.warning) << c.what;
        EXPECT_EQ(blocks(list), !c.blocking.empty()) << c.what;
    }
    // The texts are data: a position's text carries its number and name.
    Worked w;
    w.result.positions[0].nrRef.clear();
    const std::vector<GgeCheck> list = checkGge(w.input(), texts);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(checkLine(list[0]), "блокирует: Позиция 1 «Антенны приемо-передающие, диаметр до 1,8 м»: не выбран "
                                  "норматив НР и СП (812/пр, 774/пр).");
    // The base's name differs: a warning.
    EXPECT_EQ(codes(checkGge(w.input(), texts, {"Антенны приемо-передающие, диаметр до 1.8 м"}), false),
              Strings{"name_differs@1"});
}

TEST(GgeChecks, TheirTextsAreReplaceable) {
    const test::TempDir dir;
    std::ofstream(dir.path() / "checks.txt") << "# ours\nletter|предупреждает|Нет письма.\nслова.НДС=ндс\nbad line\n";
    EXPECT_THROW(readCheckTexts(dir.path() / "checks.txt"), Error);
    std::ofstream(dir.path() / "checks.txt") << "letter|предупреждает|Нет письма.\nслова.НДС=ндс\n";
    Worked w;
    w.params.letter.clear();
    w.params.gge.wageAct.clear();
    const std::vector<GgeCheck> list = checkGge(w.input(), readCheckTexts(dir.path() / "checks.txt"));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(checkLine(list[0]), "предупреждение: Нет письма.");
    EXPECT_TRUE(list[1].blocking);  // a code the file lacks still blocks, by its code
    EXPECT_NE(list[1].text.find("wage_act"), std::string::npos);
}

}  // namespace
}  // namespace talvira::gge
