// The rate search: the rule case by case over a small base (memory tables, names in a real
// Paradox memo file), the pxlib-written fixture base against what FIXTURE.json implies, and
// the walk to a result with what "Добавить в смету" appends after it.
#include "common/Error.h"
#include "common/Utf8.h"
#include "estimate/AddPositions.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateCode.h"
#include "normbase/RateSearch.h"
#include "normbase/ResourcePrices.h"
#include "normbase/WordForms.h"
#include "storage/TableFile.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/NormBaseDescription.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using normbase::NormBase;
using normbase::RateSearch;
using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::Value;

Value maybe(std::optional<int> v) { return v ? Value::integer(*v) : Value(); }

// ---------------------------------------------------------------------------------------------
// A small base for the rule
// ---------------------------------------------------------------------------------------------

struct CollectionRow {
    int id;
    std::string name;
};
struct EntryRow {
    int id;
    std::optional<int> collection;
    std::string name;
};
struct RateRow {
    int id;
    std::optional<int> entry;
    std::optional<int> name;
    std::string tab;
};
struct NameRow {
    int id;
    std::string text;
};

FieldType typeOf(storage::BoundKind k) {
    switch (k) {
    case storage::BoundKind::Integer: return FieldType::Long;
    case storage::BoundKind::SmallInt: return FieldType::Short;
    case storage::BoundKind::AutoInc: return FieldType::AutoInc;
    case storage::BoundKind::Float: return FieldType::Number;
    case storage::BoundKind::String: return FieldType::Alpha;
    case storage::BoundKind::Memo: return FieldType::Memo;
    case storage::BoundKind::DateTime: return FieldType::Timestamp;
    }
    return FieldType::Long;
}

/** Collections, entries, rates and units in memory tables; the names in a Paradox table with
 *  its memo file on disk, beside them. Records lie in the order given (not by ID). */
class SearchBase {
public:
    SearchBase(const std::vector<CollectionRow>& collections, const std::vector<EntryRow>& entries,
               const std::vector<RateRow>& rates, std::vector<NameRow> names) {
        const std::string d = dir.path().string();
        std::vector<Record> recs;
        for (const auto& c : collections) recs.push_back({Value::integer(c.id), Value::string(c.name)});
        mem.add(d + "/000_REESTR.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 255}},
                {primaryIndex({"ID"})}, recs);
        recs.clear();
        for (const auto& e : entries) recs.push_back({Value::integer(e.id), maybe(e.collection), Value::string(e.name)});
        mem.add(d + "/OGL.DB", {{"ID", FieldType::Long, 0}, {"IDREESTR", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 255}},
                {primaryIndex({"ID"}), secondaryIndex("IDREESTR", {"IDREESTR"})}, recs);
        recs.clear();
        const auto& rateFields = normbase::rateFieldDefs();
        auto at = [&](const char* f) {
            for (size_t i = 0; i < rateFields.size(); ++i)
                if (rateFields[i].name == f) return i;
            throw Error(f);
        };
        for (const auto& r : rates) {
            Record rec(rateFields.size());
            rec[at("ID")] = Value::integer(r.id);
            rec[at("IDOGL")] = maybe(r.entry);
            rec[at("IDNAME")] = maybe(r.name);
            rec[at("IDEDIZM")] = Value::integer(1);
            if (!r.tab.empty()) rec[at("TAB")] = Value::string(r.tab);
            recs.push_back(rec);
        }
        mem.add(d + "/RABMAT.DB", rateFields,
                {primaryIndex({"ID"}), secondaryIndex("IDNAME_INDEX", {"IDNAME"}, true), secondaryIndex("IDOGL", {"IDOGL"}),
                 secondaryIndex("IDREESTR", {"IDREESTR"})},
                recs);
        std::vector<FieldDef> lineFields;
        for (const auto& b : normbase::resourceLineBoundFields()) lineFields.push_back({b.name, typeOf(b.kind), 0});
        mem.add(d + "/RESURS.DB", lineFields, {primaryIndex({"ID"}), secondaryIndex("IDRAB", {"IDRAB"})});
        mem.add(d + "/000_EDIZM.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 50}}, {primaryIndex({"ID"})},
                {{Value::integer(1), Value::string("м3")}});

        // A keyed table takes its records in key order.
        std::sort(names.begin(), names.end(), [](const NameRow& a, const NameRow& b) { return a.id < b.id; });
        const std::string namePath = d + "/000_NAME.DB";
        storage::createParadoxTable(namePath, {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Memo, 40}}, {1, 1251});
        {
            auto t = storage::openParadoxTable(namePath, storage::OpenMode::ReadWrite);
            for (const auto& n : names) {
                Record rec{Value::integer(n.id), Value::string(n.text)};
                t->append(rec);
            }
        }
        nb.setDirectory(d);
        nb.openAll();
    }

    TempDir dir{"talvira-search"};
    MemoryTables mem;
    NormBase nb;
};

/** The IDs of what `query` finds, in the order found. */
std::vector<int64_t> idsFound(RateSearch& s, const std::string& query) {
    std::vector<int64_t> out;
    for (uint32_t n : s.findExact(query)) out.push_back(s.rateId(n));
    return out;
}

std::string longName() {
    std::string s;
    while (s.size() < 70 * 1024) s += "Стена кирпичная, слой раствора; ";
    return s + "иголка в стоге";
}

SearchBase ruleBase() {
    return SearchBase(
        {{2, "ФЕР 08. Кирпич"}, {1, "ГЭСН 08. Конструкции из кирпича"}, {9, "Сборник без разделов"}},
        {{11, 1, "Таблица 08-03-002"}, {10, 1, "Таблица 08-02-001"}, {20, 2, "Таблица ФЕР 08-02-001"},
         {99, 77, "Раздел сборника, которого нет"}, {98, std::nullopt, "Раздел без сборника"}},
        {
            {108, 10, 5, "08-02-001-05"},
            {100, 10, 1, "08-02-001-01"},
            {107, 10, std::nullopt, "ABC-1"},
            {101, 10, 2, "08-02-001-02"},
            {102, 11, 999, "08-03-002-01"},
            {109, 11, 6, "08-03-002-02"},
            {103, 20, 3, "08-02-001-01"},
            {104, 99, 4, "08-02-001-09"},
            {105, 555, 4, "08-02-001-08"},
            {106, std::nullopt, 4, "08-02-001-07"},
            {110, 98, 4, "08-02-001-06"},
        },
        {{1, "Кладка стен наружных из кирпича"},
         {2, "Ёмкость для раствора ЁЛКА\r\nвторая строка: бетон"},
         {3, "Кладка перегородок"},
         {4, "Кладка, которую обозреватель не показывает"},
         {5, longName()},
         {6, "Раствор \"кавычки\" 50% *звезда* C:\\путь 'апостроф'"}});
}

struct RuleCase {
    const char* name;
    std::string query;
    std::vector<int64_t> ids;
};

class RateSearchRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RateSearchRule, FindsExactlyTheListedRatesInBrowseOrder) {
    SearchBase b = ruleBase();
    RateSearch s(b.nb);
    EXPECT_EQ(idsFound(s, GetParam().query), GetParam().ids) << "«" << GetParam().query << "»";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateSearchRule,
    ::testing::Values(
        RuleCase{"word_in_names", "кладка", {100, 103}},
        RuleCase{"upper_case", "КЛАДКА", {100, 103}},
        RuleCase{"mixed_case", "кЛаДкА", {100, 103}},
        RuleCase{"two_words", "стен кирпича", {100}},
        RuleCase{"two_words_other_order", "кирпича стен", {100}},
        RuleCase{"word_parts", "клад ирпи", {100}},
        RuleCase{"yo_in_query_e_in_name", "стён", {100, 108}},
        RuleCase{"e_in_query_yo_in_name", "емкость", {101}},
        RuleCase{"capital_yo", "ЁЛКА", {101}},
        RuleCase{"capital_yo_as_e", "ЕЛКА", {101}},
        RuleCase{"second_line_of_name", "строка бетон", {101}},
        RuleCase{"words_on_two_lines", "ёмкость бетон", {101}},
        RuleCase{"code_fragment", "08-02-001", {100, 101, 108, 103}},
        RuleCase{"same_code_two_collections", "08-02-001-01", {100, 103}},
        RuleCase{"code_and_name_word", "01 кладка", {100, 103}},
        RuleCase{"no_name_record_found_by_code", "03-002-01", {102}},
        RuleCase{"no_name_record_not_by_name", "08-03 кладка", {}},
        RuleCase{"no_idname_latin_code", "abc", {107}},
        RuleCase{"name_over_64k_in_memo", "иголка стоге", {108}},
        RuleCase{"orphans_not_listed", "обозреватель", {}},
        RuleCase{"orphan_codes_not_listed", "08-02-001-0", {100, 101, 108, 103}},
        RuleCase{"not_across_code_and_name", "-01кладка", {}},
        RuleCase{"not_across_the_separator", "01\x1F" "кладка", {}},
        RuleCase{"not_across_two_rates", "кирпича08", {}},
        RuleCase{"tab_between_words", "кладка\tстен", {100}},
        RuleCase{"no_break_space_between_words", "кладка\xC2\xA0стен", {100}},
        RuleCase{"many_blanks", "   кладка    стен  ", {100}},
        RuleCase{"blanks_only", "  \t ", {}},
        RuleCase{"empty", "", {}},
        RuleCase{"percent", "50%", {109}},
        RuleCase{"percent_alone", "%", {109}},
        RuleCase{"star", "*звезда*", {109}},
        RuleCase{"backslash", "c:\\путь", {109}},
        RuleCase{"double_quotes", "\"кавычки\"", {109}},
        RuleCase{"apostrophe", "'апостроф'", {109}},
        RuleCase{"regex_like", ".*", {}},
        RuleCase{"like_pattern", "клад%", {}},
        RuleCase{"control_character", "клад\x01ка", {}},
        RuleCase{"long_query", std::string(10000, 'z'), {}},
        RuleCase{"long_cyrillic_query", [] { std::string s; for (int i = 0; i < 5000; ++i) s += "ж"; return s; }(), {}},
        RuleCase{"invalid_utf8_taken_as_bytes", "\xD0", {100, 101, 108, 109, 103}},
        RuleCase{"found_nowhere", "щъыэюжзх", {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(RateSearch, NothingIsReadUntilTheFirstQuery) {
    SearchBase b = ruleBase();
    RateSearch s(b.nb);
    EXPECT_FALSE(s.prepared());
    EXPECT_TRUE(s.findExact("   ").empty());
    EXPECT_FALSE(s.prepared()) << "a query without words reads nothing";
    s.findExact("кладка");
    EXPECT_TRUE(s.prepared());
    EXPECT_EQ(s.listedCount(), 7u);
}

TEST(RateSearch, TypingKeyByKeyFindsWhatEachQueryFindsAlone) {
    SearchBase b = ruleBase();
    RateSearch typing(b.nb);
    for (const std::string q : {"кладка стен", "08-02-001-01", "ёмкость бетон", "раствор кав"}) {
        std::vector<std::string> prefixes;
        for (size_t n = 1; n <= utf8::length(q); ++n) prefixes.emplace_back(utf8::cut(q, n));
        // Forward as typed, then back as erased.
        std::vector<std::string> road = prefixes;
        road.insert(road.end(), prefixes.rbegin(), prefixes.rend());
        for (const auto& p : road) {
            RateSearch fresh(b.nb);
            EXPECT_EQ(idsFound(typing, p), idsFound(fresh, p)) << "«" << p << "»";
        }
    }
}

TEST(RateSearch, RowShowsCodeFirstLineUnitCollectionAndEntry) {
    SearchBase b = ruleBase();
    RateSearch s(b.nb);
    const auto found = s.findExact("ёлка");
    ASSERT_EQ(found.size(), 1u);
    const auto row = s.row(found[0]);
    EXPECT_EQ(row.id, 101);
    EXPECT_EQ(row.code, "08-02-001-02");
    EXPECT_EQ(row.line, "Ёмкость для раствора ЁЛКА");
    EXPECT_EQ(row.unit, "м3");
    EXPECT_EQ(row.collection, "ГЭСН 08. Конструкции из кирпича");
    EXPECT_EQ(row.entry, "Таблица 08-02-001");
    const auto noName = s.row(s.findExact("08-03-002-01").at(0));
    EXPECT_EQ(noName.line, "");
}

struct JumpCase {
    int64_t rate, collection, entry;
};

TEST(RateSearch, GoToMakesCollectionEntryAndRateCurrent) {
    SearchBase b = ruleBase();
    RateSearch s(b.nb);
    // Each from somewhere else in the browser, including the same collection.
    for (const JumpCase c : {JumpCase{103, 2, 20}, JumpCase{102, 1, 11}, JumpCase{108, 1, 10}, JumpCase{101, 1, 10},
                             JumpCase{109, 1, 11}, JumpCase{100, 1, 10}}) {
        const auto found = s.findExact("08-0");
        auto it = std::find_if(found.begin(), found.end(), [&](uint32_t n) { return s.rateId(n) == c.rate; });
        ASSERT_NE(it, found.end()) << c.rate;
        s.goTo(*it);
        EXPECT_EQ(b.nb.Table7.fieldValue("ID").asInteger(), c.collection) << c.rate;
        EXPECT_EQ(b.nb.Table6.fieldValue("ID").asInteger(), c.entry) << c.rate;
        EXPECT_EQ(b.nb.Table2.fieldValue("ID").asInteger(), c.rate) << c.rate;
        const auto place = s.place(*it);
        EXPECT_EQ(b.nb.Table7.recNo(), place.collectionRow);
        EXPECT_EQ(b.nb.Table6.recNo(), place.entryRow);
        EXPECT_EQ(b.nb.Table2.recNo(), place.rateRow);
    }
    // The name handle follows the rate.
    s.goTo(s.findExact("ёлка").at(0));
    EXPECT_EQ(b.nb.Table1.fieldValue("NAME").asString(), "Ёмкость для раствора ЁЛКА\r\nвторая строка: бетон");
}

TEST(RateSearch, BaseWithClosedHandlesListsNothing) {
    NormBase nb;  // never opened
    RateSearch s(nb);
    EXPECT_TRUE(s.findExact("кладка").empty());
    EXPECT_EQ(s.listedCount(), 0u);
}

TEST(RateSearchScan, FindsWhatStringFindFinds) {
    // Texts and needles over a few bytes, Cyrillic lead bytes among them, of every length
    // around the sixteen-byte steps of the scan.
    const std::string alphabet = "\xD0\xD1\xB5\xBE" "ab-0";
    std::mt19937 rng(7);
    auto randomText = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 4000; ++round) {
        const std::string text = randomText(rng() % 70);
        std::string needle = randomText(1 + rng() % 6);
        if (round % 3 == 0 && text.size() > 4) needle = text.substr(rng() % (text.size() - 3), 1 + rng() % 4);
        EXPECT_EQ(normbase::findSearchText(text, needle), std::string_view(text).find(needle))
            << "round " << round;
    }
    EXPECT_EQ(normbase::findSearchText("abc", ""), 0u);
    EXPECT_EQ(normbase::findSearchText("", "a"), std::string_view::npos);
}

// ---------------------------------------------------------------------------------------------
// The fixture base written by pxlib
// ---------------------------------------------------------------------------------------------

fs::path fixtureDir() { return fixture("normbase-pxlib"); }

/** A listed rate as FIXTURE.json gives it. */
struct Expected {
    int64_t rate, entry, collection;
    QString tab, name;
};

/** The listed rates in browse order, from the records of FIXTURE.json alone. */
std::vector<Expected> browseOrder(const QJsonObject& tables) {
    auto records = [&](const char* t) {
        std::vector<QJsonObject> out;
        for (const auto& r : tables[t].toObject()["records"].toArray()) out.push_back(r.toObject());
        std::sort(out.begin(), out.end(), [](const QJsonObject& a, const QJsonObject& b) {
            return a["ID"].toInteger() < b["ID"].toInteger();
        });
        return out;
    };
    std::map<int64_t, QString> names;
    for (const auto& n : records("000_NAME.DB")) names[n["ID"].toInteger()] = n["NAME"].toString();
    const auto entries = records("OGL.DB"), rates = records("RABMAT.DB");
    std::vector<Expected> out;
    for (const auto& c : records("000_REESTR.DB"))
        for (const auto& e : entries) {
            if (e["IDREESTR"].isNull() || e["IDREESTR"].toInteger() != c["ID"].toInteger()) continue;
            for (const auto& r : rates) {
                if (r["IDOGL"].isNull() || r["IDOGL"].toInteger() != e["ID"].toInteger()) continue;
                QString name;
                if (!r["IDNAME"].isNull() && names.count(r["IDNAME"].toInteger())) name = names[r["IDNAME"].toInteger()];
                out.push_back({r["ID"].toInteger(), e["ID"].toInteger(), c["ID"].toInteger(), r["TAB"].toString(), name});
            }
        }
    return out;
}

QString folded(const QString& s) { return s.toLower().replace(QChar(0x0451), QChar(0x0435)); }

/** The rule applied with Qt's text functions, independently of the search's own index. */
std::vector<int64_t> expectedIds(const std::vector<Expected>& listed, const QString& query) {
    const QStringList words = query.split(QRegularExpression("[ \\t\\x{00A0}]+"), Qt::SkipEmptyParts);
    std::vector<int64_t> out;
    if (words.isEmpty()) return out;
    for (const auto& r : listed) {
        const QString tab = folded(r.tab), name = folded(r.name);
        if (std::all_of(words.begin(), words.end(),
                        [&](const QString& w) { return tab.contains(folded(w)) || name.contains(folded(w)); }))
            out.push_back(r.rate);
    }
    return out;
}

class FixtureSearch : public ::testing::Test {
protected:
    NormBase nb;
    QJsonObject tables;
    void SetUp() override {
        tables = normBaseDescription()["tables"].toObject();
        nb.setDirectory((fixtureDir() / "Base").string());
        nb.openAll();
    }
};

TEST_F(FixtureSearch, EveryQueryFindsWhatTheRecordsImply) {
    const auto listed = browseOrder(tables);
    ASSERT_FALSE(listed.empty());
    QStringList queries = {"01-01", "08-02", "401-0", "бетон", "БЕТОН", "кладка стен кирпич", "грунт экскаватор",
                           "м3", "«", "№", "\"", "'", "ё", "е", "Ё", "%", "*", "\\", "  ", "щъыэюжзх", "0",
                           "разработка 01-01-003", "01-01-003 разработка", "ЗЕМЛЯНЫЕ", "-01 ", "\r\n"};
    // Every word of every name and every code, too.
    std::set<QString> words;
    for (const auto& r : listed) {
        for (const auto& w : r.name.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts)) words.insert(w);
        words.insert(r.tab);
    }
    for (const auto& w : words) queries << w;
    RateSearch s(nb);
    for (const auto& q : queries) {
        std::vector<int64_t> got;
        for (uint32_t n : s.findExact(q.toStdString())) got.push_back(s.rateId(n));
        EXPECT_EQ(got, expectedIds(listed, q)) << "«" << q.toStdString() << "»";
    }
}

TEST_F(FixtureSearch, GoToWalksTheBrowserAndAddAppendsWhatWalkingByHandDoes) {
    const auto listed = browseOrder(tables);
    TempDir dir;
    RateSearch s(nb);
    std::vector<uint32_t> everything;
    for (const auto& r : listed) {
        const auto found = s.findExact(r.tab.toStdString());
        auto it = std::find_if(found.begin(), found.end(), [&](uint32_t n) { return s.rateId(n) == r.rate; });
        ASSERT_NE(it, found.end()) << r.rate;
        everything.push_back(*it);
    }
    int k = 0;
    for (bool filtered : {false, true}) {
        nb.setResourceFilter(filtered);
        for (size_t i = 0; i < listed.size(); ++i) {
            const Expected& r = listed[i];
            // Start from another place in the browser each time.
            nb.Table7.moveTo(int(i) % std::max(1, nb.Table7.recordCount()));
            s.goTo(everything[i]);
            ASSERT_EQ(nb.Table7.fieldValue("ID").asInteger(), r.collection) << r.rate;
            ASSERT_EQ(nb.Table6.fieldValue("ID").asInteger(), r.entry) << r.rate;
            ASSERT_EQ(nb.Table2.fieldValue("ID").asInteger(), r.rate) << r.rate;
            storage::TableHandle jumped("SmetaTable"), walked("SmetaTable");
            estimate::bindEstimate(jumped, dir.path().string(), "jump" + std::to_string(k));
            estimate::createAndOpen(jumped);
            estimate::addPositions(nb, jumped);

            // By hand: first collection to this one, entry, rate, clicking row after row.
            nb.Table7.first();
            while (!nb.Table7.eof() && nb.Table7.fieldValue("ID").asInteger() != r.collection) nb.Table7.next();
            while (!nb.Table6.eof() && nb.Table6.fieldValue("ID").asInteger() != r.entry) nb.Table6.next();
            while (!nb.Table2.eof() && nb.Table2.fieldValue("ID").asInteger() != r.rate) nb.Table2.next();
            ASSERT_EQ(nb.Table2.fieldValue("ID").asInteger(), r.rate);
            estimate::bindEstimate(walked, dir.path().string(), "walk" + std::to_string(k++));
            estimate::createAndOpen(walked);
            estimate::addPositions(nb, walked);

            ASSERT_EQ(jumped.recordCount(), walked.recordCount()) << r.rate;
            jumped.first();
            walked.first();
            for (; !jumped.eof(); jumped.next(), walked.next())
                for (int f = 0; f < jumped.fieldCount(); ++f)
                    EXPECT_EQ(jumped.fieldValue(f), walked.fieldValue(f)) << r.rate << " " << jumped.field(f).name;
            jumped.close();
            walked.close();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Word forms and the decimal separator, on the fixture base
// ---------------------------------------------------------------------------------------------

struct FormCase {
    const char* name;
    std::string query;
    std::vector<int64_t> exact, forms;  // rate IDs in the order listed
};

class FixtureForms : public FixtureSearch, public ::testing::WithParamInterface<FormCase> {};

TEST_P(FixtureForms, ExactMatchesFirstThenWordForms) {
    RateSearch s(nb);
    const auto found = s.find(GetParam().query);
    std::vector<int64_t> exact, forms;
    for (size_t i = 0; i < found.rates.size(); ++i) (i < found.exact ? exact : forms).push_back(s.rateId(found.rates[i]));
    EXPECT_EQ(exact, GetParam().exact);
    EXPECT_EQ(forms, GetParam().forms);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixtureForms,
    ::testing::Values(FormCase{"plural_finds_singular_and_genitive", "грунты", {}, {1004, 1006, 1001, 1002, 1010, 1012}},
                      FormCase{"adjective_finds_noun_and_other_case", "бетонная", {}, {6001, 6041, 40006, 40066, 40999}},
                      FormCase{"not_a_longer_stem", "кирпичная", {}, {8001}},
                      FormCase{"exact_first_then_forms", "кирпича", {8001}, {40405}},
                      FormCase{"forms_on_later_lines", "толщина", {}, {6041, 27001, 10261}},
                      FormCase{"every_word_by_form_or_exactly", "грунты экскаватор", {}, {1004, 1006, 1001, 1002}},
                      FormCase{"decimal_point_as_comma", "0.5", {1004, 1006, 1001, 1002, 30101}, {}},
                      FormCase{"decimal_comma_as_point", "В7.5 (М100)", {40006}, {}},
                      FormCase{"point_not_between_digits", "л.с.", {30102}, {}},
                      FormCase{"nothing", "щъыэюжзх", {}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FixtureSearch, ExactRuleIgnoresFormsAndSeparators) {
    RateSearch s(nb);
    EXPECT_TRUE(s.findExact("грунты").empty());
    EXPECT_TRUE(s.findExact("0.5").empty());
    EXPECT_EQ(s.find("0.5").rates, s.findExact("0,5"));
}

TEST_F(FixtureSearch, RowShowsTheLineThatMatched) {
    RateSearch s(nb);
    struct Case {
        std::string query;
        int64_t rate;
        std::string lineStart;
    };
    for (const Case& c : {Case{"опалубка", 6041, "01. Установка и разборка деревянной опалубки"},
                          Case{"толщина", 27001, "Прим. № 3: при толщине"},
                          Case{"толщина", 6041, "Устройство перекрытий"},
                          Case{"", 27001, "Устройство подстилающих"}}) {
        const auto found = s.find(c.query.empty() ? "27-04-001" : c.query).rates;
        auto it = std::find_if(found.begin(), found.end(), [&](uint32_t n) { return s.rateId(n) == c.rate; });
        ASSERT_NE(it, found.end()) << c.query;
        EXPECT_EQ(s.row(*it, c.query).line.rfind(c.lineStart, 0), 0u) << c.query << ": " << s.row(*it, c.query).line;
    }
}

TEST_F(FixtureSearch, BackgroundPreparationFindsWhatPreparingAtOnceDoes) {
    RateSearch background(nb), atOnce(nb);
    background.startPreparing();
    EXPECT_EQ(background.find("бетонная").rates, atOnce.find("бетонная").rates);
    background.reset();  // forgets; the next query reads again
    background.startPreparing();
    background.reset();  // stopped half-way
    EXPECT_EQ(background.find("кирпича").rates, atOnce.find("кирпича").rates);
}

TEST_F(FixtureSearch, QueryHalfWayThroughThePreparationFindsWhatAfterItDoes) {
    RateSearch held(nb), atOnce(nb);
    const uint32_t count = atOnce.listedCount();
    ASSERT_GT(count, 4u);
    std::promise<void> reached, release;
    held.setPreparationHook([count, released = release.get_future().share(), &reached](uint32_t laidOut) {
        if (laidOut != count / 2) return;
        reached.set_value();
        released.wait();
    });
    held.startPreparing();
    reached.get_future().wait();  // the forms of half the rates laid out, the rest not
    for (const std::string q : {"грунты", "бетонная", "кирпича", "грунты экскаватор", "толщина", "0.5", "01-01", "щъыэюжзх"}) {
        const auto during = held.find(q), after = atOnce.find(q);
        EXPECT_EQ(during.rates, after.rates) << q;
        EXPECT_EQ(during.exact, after.exact) << q;
        if (!during.rates.empty()) {
            EXPECT_EQ(held.row(during.rates.back(), q).line, atOnce.row(after.rates.back(), q).line) << q;
        }
    }
    EXPECT_FALSE(held.prepared()) << "answered while held half-way";
    release.set_value();
    held.prepare();
    EXPECT_EQ(held.find("грунты").rates, atOnce.find("грунты").rates);
}

// ---------------------------------------------------------------------------------------------
// Codes with their book's prefix, the hit shown in a row, resources without a price
// ---------------------------------------------------------------------------------------------

TEST(RateCode, BareCodeDropsTheBooksPrefixOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"ГЭСНмр01-01-002-05", "01-01-002-05"}, {"ФЕР08-01-001-01", "08-01-001-01"}, {"гэснп01-01-001-01", "01-01-001-01"},
        {"ГЭСН 01-01-001-01", "01-01-001-01"},  {"ТЕР-08-02-001-01", "08-02-001-01"}, {"GESN01-01", "01-01"},
        {"01-01-002-05", "01-01-002-05"},       {"91.05.13-021", "91.05.13-021"},     {"ABC-x", "ABC-x"},
        {"ФЕР", "ФЕР"},                         {"", ""},                             {"ФЕР--08", "ФЕР--08"}};
    for (const auto& [code, bare] : cases) EXPECT_EQ(normbase::bareCode(code), bare) << code;
}

SearchBase booksBase() {
    return SearchBase({{1, "ГЭСНп 01. Электротехнические устройства"}, {2, "ГЭСНмр 01. Ремонт"}, {3, "ФЕР 08"}, {4, "Старая база"}},
                      {{10, 1, "Таблица 01-01-002"}, {20, 2, "Таблица 01-01-002"}, {30, 3, "Таблица 08-01-001"},
                       {40, 4, "Таблица 08-01-002"}},
                      {{1001, 10, 1, "ГЭСНп01-01-002-05"},
                       {2001, 20, 2, "ГЭСНмр01-01-002-05"},
                       {2002, 20, 2, "ГЭСНмр01-01-002-05"},  // the same code twice in one book
                       {3001, 30, 3, "ФЕР08-01-001-01"},
                       {4001, 40, 4, "08-01-002-01"}},
                      {{1, "Генератор синхронный"}, {2, "Ремонт генератора"}, {3, "Кладка"}});
}

TEST(RateSearch, CodesAreFoundWithOrWithoutTheirBooksPrefix) {
    SearchBase b = booksBase();
    RateSearch s(b.nb);
    EXPECT_EQ(idsFound(s, "01-01-002-05"), (std::vector<int64_t>{1001, 2001, 2002}));
    EXPECT_EQ(idsFound(s, "ГЭСНмр01-01-002-05"), (std::vector<int64_t>{2001, 2002}));
    EXPECT_EQ(idsFound(s, "гэснмр 01-01-002-05"), (std::vector<int64_t>{2001, 2002}));
    struct Case {
        const char* code;
        std::vector<int64_t> ids;  // findCode
        std::optional<int64_t> one;  // rateOfCode; nothing: refused when ids has several codes
    };
    for (const Case& c : {Case{"ГЭСНмр01-01-002-05", {2001, 2002}, 2001}, Case{"гэснП01-01-002-05", {1001}, 1001},
                          Case{"08-01-001-01", {3001}, 3001}, Case{"ФЕР08-01-001-01", {3001}, 3001},
                          Case{"08-01-002-01", {4001}, 4001}, Case{"ФЕР08-01-002-01", {}, std::nullopt},
                          Case{"01-01-002", {}, std::nullopt}, Case{"1-01-002-05", {}, std::nullopt},
                          Case{"01-01-002-05", {1001, 2001, 2002}, std::nullopt}}) {
        std::vector<int64_t> got;
        for (uint32_t n : s.findCode(c.code)) got.push_back(s.rateId(n));
        EXPECT_EQ(got, c.ids) << c.code;
        if (c.one) {
            const auto n = s.rateOfCode(c.code);
            ASSERT_TRUE(n) << c.code;
            EXPECT_EQ(s.rateId(*n), *c.one) << c.code;
        } else if (c.ids.empty()) {
            EXPECT_FALSE(s.rateOfCode(c.code)) << c.code;
        }
    }
    try {
        s.rateOfCode("01-01-002-05");
        FAIL() << "a code of two books was taken";
    } catch (const Error& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("ГЭСНп01-01-002-05  ГЭСНп 01. Электротехнические устройства: Генератор синхронный"), std::string::npos) << m;
        EXPECT_NE(m.find("ГЭСНмр01-01-002-05  ГЭСНмр 01. Ремонт: Ремонт генератора"), std::string::npos) << m;
        EXPECT_NE(m.find("в 2 сборниках"), std::string::npos) << m;
    }
}

TEST(RateSearch, RowShowsTheNameAndTheHitWhereverItIs) {
    std::string farWord = "Устройство покрытий из плит на растворе марки 100 с заделкой швов и окраской поверхности";
    SearchBase b({{1, "Сборник"}}, {{10, 1, "Таблица"}},
                 {{100, 10, 1, "01-01"}, {101, 10, 2, "01-02"}, {102, 10, 3, "01-03"}},
                 {{1, "Кладка стен\r\nПрим.: при толщине стены более 64 см добавлять к норме"},
                  {2, farWord},
                  {3, "Короткое имя\nвторая строка"}});
    RateSearch s(b.nb);
    struct Case {
        const char* query;
        int64_t rate;
        const char* excerpt;  // empty: the name shows the hit
    };
    for (const Case& c : {Case{"толщина", 100, "Прим.: при толщине стены более 64 см добавлять к норме"},
                          Case{"64 см", 100, "…стены более 64 см добавлять к норме"},
                          Case{"кладка", 100, ""},
                          Case{"окраской", 101, "…заделкой швов и окраской поверхности"},
                          Case{"плит", 101, ""},
                          Case{"вторая", 102, "вторая строка"}}) {
        const auto found = s.find(c.query).rates;
        auto it = std::find_if(found.begin(), found.end(), [&](uint32_t n) { return s.rateId(n) == c.rate; });
        ASSERT_NE(it, found.end()) << c.query;
        const auto row = s.row(*it, c.query);
        EXPECT_EQ(row.excerpt, c.excerpt) << c.query;
        EXPECT_EQ(row.name, c.rate == 100 ? "Кладка стен" : c.rate == 101 ? farWord : "Короткое имя") << c.query;
    }
}

TEST_F(FixtureSearch, ResourcesWithoutAPriceAreNamed) {
    normbase::ResourcePrices prices(nb);
    struct Case {
        int64_t rate;
        std::vector<std::string> codes;  // of the resources without a price
    };
    for (const Case& c : {Case{6041, {"401-9999"}}, Case{6006, {""}}, Case{1001, {}}, Case{1010, {}}, Case{27001, {}},
                          Case{999999, {}}}) {
        std::vector<std::string> got;
        for (const auto& r : prices.unpriced(c.rate)) got.push_back(r.code);
        EXPECT_EQ(got, c.codes) << c.rate;
    }
    const auto& missing = prices.unpriced(6006);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].name, "ресурс с ID 777777 не найден в базе");
    const std::string warning = normbase::ResourcePrices::warningText("06-01-041-01", prices.unpriced(6041));
    EXPECT_NE(warning.find("«06-01-041-01»"), std::string::npos) << warning;
    EXPECT_NE(warning.find("401-9999 "), std::string::npos) << warning;
    // A machine's price is marked "маш." and never shown under "Материалы".
    for (const auto& [kind, text] : std::vector<std::pair<Value, std::string>>{
             {Value::integer(1), ""}, {Value::integer(2), ""}, {Value::integer(3), "маш."}, {Value::integer(4), ""},
             {Value::integer(7), ""}, {Value(), ""}}) {
        EXPECT_EQ(normbase::ResourcePrices::priceMark(kind), text);
        EXPECT_EQ(normbase::ResourcePrices::isMaterialsPrice(kind), text.empty());
    }
}

TEST(WordForms, StemsOfOneWordAreNear) {
    normbase::RussianStemmer stem;
    struct Case {
        const char* a;
        const char* b;
        bool near;
    };
    for (const Case c : {Case{"кровля", "кровель", true}, Case{"кровля", "кровли", true}, Case{"ремонт", "ремонта", true},
                         Case{"смена", "смены", true}, Case{"окно", "окон", true}, Case{"кровля", "кров", false},
                         Case{"стена", "сталь", false}, Case{"бетон", "железобетон", false}}) {
        EXPECT_EQ(normbase::nearStems(stem(c.a), stem(c.b)), c.near) << c.a << " ~ " << c.b;
    }
}

TEST(WordForms, PassOverNamesFindsWhatTheIndexFinds) {
    // Folded names: words at the start, after digits, signs and Latin, inside longer words,
    // with ё folded to е, too short, and a name of no words.
    const std::vector<std::string> names = {"кровли из рулонных материалов", "ремонт 2-х кровель", "(кровельные) работы",
                                            "мягкая-кровля;кровле", "подкровельный слой", "кр ов ля", "в7.5 бетона м100",
                                            "железобетонные плиты", "бетон", "смена окон", "12 кв.м", "", "кровляxкровли",
                                            "ёлка елки", "кровель"};
    normbase::WordFormIndex index;
    for (const auto& n : names) index.addRate(n);
    index.finish();
    normbase::RussianStemmer stem;
    for (const char* word : {"кровля", "бетонная", "окно", "елка", "ремонта", "смены", "материал"}) {
        std::set<uint32_t> byIndex;
        for (uint32_t s : index.stemsNear(stem(word))) {
            auto [lo, hi] = index.ratesOf(s);
            byIndex.insert(lo, hi);
        }
        normbase::FormsPass pass(stem(word));
        std::set<uint32_t> byPass;
        for (uint32_t n = 0; n < names.size(); ++n)
            if (pass.holds(names[n])) byPass.insert(n);
        EXPECT_EQ(byPass, byIndex) << word;
    }
}

}  // namespace
}  // namespace talvira::test
