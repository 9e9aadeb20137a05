// The reader of a local estimate's expertise file: what it takes from the smallest file and from
// the real export of another program, the spellings other programs may use, and every hostile or
// wrong file refused with its message naming the file and the place.
#include "common/Error.h"
#include "export/GgeRead.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::exporting {
namespace {

std::string textOf(const std::filesystem::path& f) {
    std::ifstream in(f, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Dec7 d(const char* t) { return Dec7::parse(t); }
Money m(const char* t) { return *Money::tryParse(t); }

TEST(GgeRead, TheSmallestFileWholly) {
    const GgeEstimate e = readGge(test::fixture("gge/minimal.gge"));
    EXPECT_EQ(e.num, "ЛСР 02-01-01");
    EXPECT_EQ(e.name, "Антенны");
    EXPECT_EQ(e.territory, "Территория");
    EXPECT_EQ(e.regionName, "Московская область");
    EXPECT_EQ(e.priceLevelCur, "II кв. 2025");
    EXPECT_EQ(e.indexType, "Индексы к элементам прямых затрат");
    EXPECT_FALSE(e.indicesInPositions());
    ASSERT_EQ(e.legal.size(), 5u);
    EXPECT_EQ(e.legal[4].first, "Indexes");
    ASSERT_EQ(e.sections.size(), 1u);
    EXPECT_EQ(e.sections[0].name, "Монтаж оборудования");
    ASSERT_EQ(e.positions.size(), 1u);
    const GgePosition& p = e.positions[0];
    EXPECT_TRUE(p.rate);
    EXPECT_EQ(p.num, 1);
    EXPECT_EQ(p.prefix, "ФЕРм");
    EXPECT_EQ(p.code, "10-05-011-01");
    EXPECT_EQ(p.unit, "антенна");
    EXPECT_EQ(p.quantityTotal, d("20"));
    EXPECT_EQ(p.perUnit.machines, m("24.99"));
    EXPECT_EQ(p.perUnit.otm, m("2.84"));
    EXPECT_EQ(p.ztm1, d("0.21"));
    EXPECT_EQ(p.base.fot, m("687.20"));
    EXPECT_EQ(p.current.ot, m("32913.18"));
    EXPECT_EQ(p.indices.ot, d("52.21"));
    EXPECT_EQ(p.indices.otm, d("52.21"));
    EXPECT_FALSE(p.indices.em);
    EXPECT_EQ(p.overheads.reason, "Пр/812-051.2-1");
    EXPECT_EQ(p.overheads.valueTotal, d("95"));
    EXPECT_EQ(p.profits.priceCur, m("19015.72"));
    EXPECT_EQ(p.totalBase, m("2159.86"));
    EXPECT_FALSE(p.totalCur);
    EXPECT_EQ(e.totals.at("Mounting/Machines").index, d("16.64"));
    EXPECT_EQ(e.totals.at("Mounting/Materials/Price").base, m("12.60"));
    EXPECT_EQ(e.totals.at("Total").current, m("94437.31"));
}

TEST(GgeRead, TheRealExportsPositionsAndLines) {
    const GgeEstimate e = readGge(test::fixture("real/gge/BIM-3.01-example.gge"));
    EXPECT_EQ(e.softName, "ГОССТРОЙСМЕТА");
    ASSERT_EQ(e.sections.size(), 7u);
    ASSERT_EQ(e.positions.size(), 15u);
    // Position 7: Finals per target, the documented coefficients, a priced line and the extra pay.
    const GgePosition& p7 = e.positions[6];
    EXPECT_EQ(p7.num, 7);
    ASSERT_EQ(p7.finals.size(), 5u);
    EXPECT_EQ(p7.finals[0], std::make_pair(std::string("ОТ"), d("2.8375")));
    ASSERT_EQ(p7.coefficients.size(), 4u);
    EXPECT_EQ(p7.coefficients[2].reason, "421/пр_2020_п.60.1 ");  // as the file writes it
    ASSERT_EQ(p7.lines.size(), 2u);
    EXPECT_EQ(p7.lines[0].code, "13.1.02.01-1015");
    EXPECT_EQ(p7.lines[0].totalBase, m("341619.73"));
    EXPECT_TRUE(p7.lines[1].extraPay);
    EXPECT_EQ(p7.lines[1].kConsumption, d("1.35"));
    // Position 10: equipment that is a position, with its freight (a cancelled one at −0.5, ×1.35).
    const GgePosition& p10 = e.positions[9];
    EXPECT_FALSE(p10.rate);
    EXPECT_EQ(p10.summaryType, "Оборудование");
    EXPECT_EQ(p10.num, 10);
    ASSERT_EQ(p10.lines.size(), 3u);
    EXPECT_EQ(p10.lines[1].kind, "Transport");
    EXPECT_EQ(p10.lines[1].of, 0);
    EXPECT_EQ(p10.lines[1].consumptionTotal, d("-0.5"));
    EXPECT_EQ(p10.lines[1].kCost, d("1.35"));
    EXPECT_EQ(p10.lines[1].index, d("18.75"));
    EXPECT_EQ(p10.lines[2].totalBase, m("2041.67"));
    // Position 1, «Прочее»: its own index of wages.
    EXPECT_EQ(e.positions[0].indices.ot, d("1"));
    EXPECT_EQ(e.totals.at("Equipment/Price").index, d("6.31"));
    EXPECT_EQ(e.totals.at("Total").base, m("1806575.55"));
}

TEST(GgeRead, SpellingsOtherProgramsMayUse) {
    const std::string src = textOf(test::fixture("gge/minimal.gge"));
    auto edit = [&](const std::string& from, const std::string& to) {
        std::string s = src;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const struct {
        const char* what;
        std::string text;
        Money priceBase;
    } cases[] = {
        {"a byte-order mark, no encoding", "\xEF\xBB\xBF" + edit(R"( encoding="UTF-8")", ""), m("652.84")},
        {"blanks around a number", edit("<PriceBase>652.84</PriceBase>", "<PriceBase> 652.84\n</PriceBase>"), m("652.84")},
        {"no decimals, a plus", edit("<PriceBase>652.84</PriceBase>", "<PriceBase>+652</PriceBase>"), m("652")},
        {"more decimals than kopecks", edit("<PriceBase>652.84</PriceBase>", "<PriceBase>652.845</PriceBase>"), m("652.85")},
        {"an empty НР (a resource's)", edit("<PriceBase>652.84</PriceBase>", "<PriceBase/>"), Money()},
    };
    for (const auto& c : cases) {
        const GgeEstimate e = readGgeText(c.text, "x.gge");
        ASSERT_EQ(e.positions.size(), 1u) << c.what;
        EXPECT_EQ(e.positions[0].overheads.priceBase.value_or(Money()), c.priceBase) << c.what;
    }
}

TEST(GgeRead, HostileAndWrongFilesAreRefusedByName) {
    const struct {
        const char* file;
        const char* message;  // a part of the message after the file's name
    } cases[] = {
        {"resource-index-method.gge", "строка 2: смета составлена ресурсно-индексным методом"},
        {"object-estimate.gge", ": это объектный сметный расчет, а не локальная смета."},
        {"another-root.gge", "строка 2: корневой элемент «LocalEstimate»"},
        {"decimal-comma.gge", "число «652,84» в «Construction/Object/Estimate/Sections/Section/Items/Item/Overheads/PriceBase» записано с запятой: формат требует точку"},
        {"no-profits-act.gge", "нет обязательной части «Profits» в «Construction/Object/Estimate/Legal»"},
        {"no-per-unit.gge", "нет обязательной части «PerUnit» в «Construction/Object/Estimate/Sections/Section/Items/Item/Cost»"},
        {"no-signatures.gge", "нет обязательной части «Signatures» в «Construction/Object/Estimate»"},
        {"cut-short.gge", "файл обрывается на середине"},
        {"huge-number.gge", "слишком велико для сметы"},
        {"not-a-number.gge", "«двадцать» в «Construction/Object/Estimate/Sections/Section/Items/Item/Cost/Quantity» не число"},
        {"deep-nesting.gge", "вложенность элементов глубже, чем бывает в этом формате"},
        {"entities.gge", "строка 2: в файле объявлен тип документа (DOCTYPE)"},
        {"another-version.gge", ": версия формата «2.0»: программа читает версию 3.01."},
        {"no-index-type.gge", ": нет вида индексов (IndexType): смета составлена ресурсно-индексным методом."},
        {"windows-1251.gge", "строка 1: кодировка не UTF-8"},
        {"not-utf8.gge", "строка 8: недопустимый символ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        try {
            readGge(test::fixture(std::string("fail/gge/") + c.file));
            ADD_FAILURE() << "read";
        } catch (const Error& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind(std::string("Файл «") + c.file + "»", 0), 0u) << what;
            EXPECT_NE(what.find(c.message), std::string::npos) << what;
        }
    }
}

}  // namespace
}  // namespace talvira::exporting
