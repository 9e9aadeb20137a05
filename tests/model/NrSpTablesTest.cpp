// The НР and СП tables as shipped and as read from CSV, the references an estimate writes, the
// type of work a book stands for and the elements a coefficient names.
#include "model/BaseIndex.h"

#include "common/Error.h"

#include <gtest/gtest.h>

namespace talvira::model {
namespace {

TEST(NrSpTables, TheShippedTablesAndTheirReferences) {
    const NrSpTables& t = nrSpTables();
    ASSERT_EQ(t.rows().size(), 136u);
    struct Case {
        const char* ref;
        const char* row;  // nullptr: not found
        const char* nr[3];
        const char* sp;
    };
    const Case cases[] = {
        {"011.0", "011.0", {"112", "113", "118"}, "65"},
        {"Пр/812-011.0-1", "011.0", {"112", "113", "118"}, "65"},
        {"Пр/812-008.0-3", "008.0", {"110", "111", "116"}, "69"},
        {" Пр/774-104.1 ", "104.1", {"89", "90", "93"}, "44"},
        {"104.2", "104.2", {"74", "75", "78"}, "36"},
        {"001.1", "001.1", {"92", "93", "97"}, "46"},
        {"110.0", "110.0", {"100", "100", "100"}, "88"},
        {"104", nullptr, {}, nullptr},
        {"Пр/812-999.9", nullptr, {}, nullptr},
        {"", nullptr, {}, nullptr},
    };
    for (const Case& c : cases) {
        const NrSpRow* r = t.find(c.ref);
        ASSERT_EQ(r != nullptr, c.row != nullptr) << c.ref;
        if (!r) continue;
        EXPECT_EQ(r->ref, c.row);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(r->nrPercent[i], Dec7::parse(c.nr[i])) << c.ref << " " << i;
        EXPECT_EQ(r->spPercent, Dec7::parse(c.sp)) << c.ref;
    }
    EXPECT_EQ(t.find("001.1")->title(), "Земляные работы, выполняемые: механизированным способом");
    EXPECT_EQ(t.find("011.0")->title(), "Полы");
    EXPECT_EQ(t.find("049.3")->section, "II");
    EXPECT_EQ(nrReference("011.0", Territory::Mprks), "Пр/812-011.0-2");
    EXPECT_EQ(spReference("011.0"), "Пр/774-011.0");
    EXPECT_EQ(rowOfReference("Пр/812-011.0-1"), "011.0");
    EXPECT_EQ(rowOfReference("Пр/774-104.2"), "104.2");

    // Searching by number and words, letter case and ё ignored.
    auto refs = [&](const char* q) {
        std::string s;
        for (const NrSpRow* r : t.search(q)) s += (s.empty() ? "" : " ") + r->ref;
        return s;
    };
    EXPECT_EQ(refs("полы"), "011.0 091.0");
    EXPECT_EQ(refs("ЗЕМЛЯНЫЕ вручную"), "085.2");
    EXPECT_EQ(refs("лифтов"), "104.1 104.2");
    EXPECT_EQ(refs("011.0"), "011.0");
    EXPECT_EQ(refs("нет такого"), "");
    EXPECT_EQ(t.search("").size(), 136u);
}

TEST(NrSpTables, DamagedTablesAreRefusedNamingTheLine) {
    const std::string nrHead = "ref,item,section,group,work_type,percent,percent_mprks,percent_rks,collections\n";
    const std::string spHead = "ref,item,percent\n";
    struct Case {
        const char* name;
        std::string nr, sp;
        const char* message;  // nullptr: read
    };
    const Case cases[] = {
        {"quoted commas, doubled quotes and a line break", nrHead + "001.1,1.1,I,\"Земляные, \"\"работы\"\"\",\"x\ny\",1,2,3,c\n",
         spHead + "001.1,1.1,4\n", nullptr},
        {"a missing column", "ref,item\n001.1,1\n", spHead + "001.1,1,4\n",
         "Таблица нормативов НР (812/пр): нет столбца «section»"},
        {"a percent that is no number", nrHead + "001.1,1.1,I,,x,9x,1,1,c\n", spHead + "001.1,1,4\n",
         "Таблица нормативов НР (812/пр), строка 2: процент «9x» не число"},
        {"a short line", nrHead + "001.1,1.1,I,,x,1,1,1,c\n", spHead + "001.1,1\n",
         "Таблица нормативов СП (774/пр), строка 2: не то число полей"},
        {"a row without profit", nrHead + "001.1,1.1,I,,x,1,1,1,c\n", spHead + "001.2,1,4\n",
         "Таблица нормативов СП (774/пр): нет строки 001.1"},
        {"a profit row without overhead", nrHead + "001.1,1.1,I,,x,1,1,1,c\n", spHead + "001.1,1,4\n001.2,1,4\n",
         "Таблица нормативов СП (774/пр), строка 3: строки 001.2 нет в таблице НР"},
        {"a row twice", nrHead + "001.1,1.1,I,,x,1,1,1,c\n", spHead + "001.1,1,4\n001.1,1,4\n",
         "Таблица нормативов СП (774/пр), строка 3: строка «001.1» повторяется"},
        {"an open quote", nrHead + "001.1,\"1.1,I\n", spHead, "Таблица нормативов НР (812/пр), строка 2: кавычка не закрыта"},
        {"empty", "", spHead, "Таблица нормативов НР (812/пр) пуста"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const NrSpTables t = NrSpTables::fromCsv(c.nr, c.sp);
            EXPECT_EQ(c.message, nullptr);
            ASSERT_EQ(t.rows().size(), 1u);
            EXPECT_EQ(t.rows()[0].group, "Земляные, \"работы\"");
            EXPECT_EQ(t.rows()[0].workType, "x\ny");
        } catch (const Error& e) {
            ASSERT_NE(c.message, nullptr) << e.what();
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(NrSpTables, BooksAndTargets) {
    struct Book {
        const char* text;
        std::optional<WorkType> type;
    };
    const Book books[] = {
        {"ФЕР", WorkType::Construction},           {"ФЕР08-01-001-01", WorkType::Construction},
        {"ФЕР 08-01-001-01", WorkType::Construction}, {"ГЭСНр57-01-001-01", WorkType::Construction},
        {"ФЕРм08-02-001-01", WorkType::Mounting},    {"ГЭСНмр01-01-002-05", WorkType::Mounting},
        {"ГЭСНм", WorkType::Mounting},               {"ФЕРп01-01-001-01", WorkType::Commissioning},
        {"ГЭСНп 01. Электротехнические устройства", WorkType::Commissioning},
        {"ТЕРм08-02-001-01", WorkType::Mounting},    {"ФССЦ-01.1.01.01-0001", std::nullopt},
        {"08-01-001-01", std::nullopt},              {"", std::nullopt},
        {"ФЕРмрр01", std::nullopt},
    };
    for (const Book& b : books) EXPECT_EQ(workTypeOfBook(b.text), b.type) << b.text;
    for (int i = 0; i < kWorkTypes; ++i) {
        const auto t = static_cast<WorkType>(i);
        EXPECT_EQ(workTypeFromText(workTypeText(t)), t);
    }
    EXPECT_EQ(workTypeFromText(" Монтажные "), WorkType::Mounting);
    EXPECT_EQ(workTypeFromText("ремонтные"), std::nullopt);

    struct Targets {
        const char* text;
        std::optional<unsigned> bits;
        const char* back;
    };
    const Targets targets[] = {
        {"ЭМ+ОТМ+ЗТМ", EM | OTM | ZTM, "ЭМ+ОТМ+ЗТМ"}, {"ЗТ + ОТ", OT | ZT, "ОТ+ЗТ"},
        {"м", M, "М"},                               {"ОТ+ЭМ+ОТМ+М+ЗТ+ЗТМ", 63u, "ОТ+ЭМ+ОТМ+М+ЗТ+ЗТМ"},
        {"", std::nullopt, ""},                      {"ОТ+", std::nullopt, ""},
        {"ОТ+ПЗ", std::nullopt, ""},                 {"OT", std::nullopt, ""},  // Latin letters
    };
    for (const Targets& t : targets) {
        EXPECT_EQ(targetsFromText(t.text), t.bits) << t.text;
        if (t.bits) {
            EXPECT_EQ(targetsText(*t.bits), t.back);
        }
    }
}

}  // namespace
}  // namespace talvira::model
