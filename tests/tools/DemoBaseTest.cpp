// The demonstration norm base read back through the file layer: layouts, indexes against a
// scan and a sort, the content's own consistency, its edge cases and its repeatability.
#include "common/Error.h"
#include "tools/demobase/DemoBase.h"
#include "normbase/NormBase.h"
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace talvira;
using namespace talvira::storage;
using namespace talvira::demobase;
using demobase::DemoTable;

namespace {

const std::vector<DemoTable> kAllTables = {DemoTable::Reestr, DemoTable::Ogl, DemoTable::Rabmat,
                                           DemoTable::Resurs, DemoTable::Name, DemoTable::Edizm};

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::vector<Record> allRecords(const TableFile& t) {
    std::vector<Record> out;
    for (auto loc = t.first(); loc; loc = t.next(*loc)) out.push_back(t.read(*loc));
    return out;
}

class DemoBaseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir("mkbase-demo");
        counts_ = demobase::writeDemoBase(dir_->path().string(), demobase::DemoScale::Small);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::unique_ptr<TableFile> open(DemoTable t) {
        return openParadoxTable((dir_->path() / demobase::demoTableFile(t)).string(), OpenMode::ReadOnly);
    }
    static std::vector<Record> records(DemoTable t) { return allRecords(*open(t)); }

    static test::TempDir* dir_;
    static demobase::DemoBaseCounts counts_;
};

test::TempDir* DemoBaseTest::dir_ = nullptr;
demobase::DemoBaseCounts DemoBaseTest::counts_;

}  // namespace

// The rate and resource-line tables carry exactly the fields the main window binds, in order
// and with their types; every table is a keyed Paradox 7 table in code page 1251.
TEST_F(DemoBaseTest, TablesHaveTheBoundFieldsInOrder) {
    const auto rabmatNames = words(
        "ID NEW_ID IDREESTR ORDERVIEW IDNAME ID_UNIQUE IDTCH TAB TABU RABMAT IDOGL FRTCH IDSOSTAV ALTTAB IDEDIZM "
        "IDALTEDIZM EDIZMKOEF COMMENT FRESN RAZRAD BA BB BC BD BE BF BG BH BI BJ PA PB PC PD PE MA MB MC MD ME MF "
        "MG MH VRPZ NTR BRUTTO NETTO VB VN PREISK POSPREISK TKALK IDPOSTAV MBETON MRKBETON VBETON MMASHINE "
        "PUNKTIND ISESN IDWITHESN CREATEDATE AUTHOR IDPICTURE MI MJ MK ML MM MN MO MP MQ MR MS MT IDQUALIFIER "
        "NEW_PAGE ESN_NORM_GUID TCARD_NORM_GUID IDABCOKP ABCOKP_IDPODGROUP STATUS");
    // I integer, N float, A text, @ date-time, S small integer; grouped as the fields are numbered
    const std::string rabmatTypes = std::string("IIIIIII") + "AA" + "II" + "A" + "I" + "A" + "II" + "N" + "AA" +
                                    "N" + std::string(7, 'N') + std::string(16, 'N') + "II" + "NNNN" + "AAA" + "I" +
                                    "N" + "A" + "N" + "AA" + "II" + "@" + "A" + "I" + std::string(12, 'N') + "II" +
                                    "AA" + "III";
    const auto resursNames = words("ID IDRAB IDRES_RABMAT IDRES_ABC_OKP IDRES_TRUD KOLL IDGROUP IDPODGROUP "
                                   "IDPODGROUPNORM VIDNR UCH RABMAT IDREESTR IDRES_REESTR STATUS");
    const std::string resursTypes = "IIIIINIIISSIIII";
    struct Case { DemoTable table; std::vector<std::string> names; std::string types; };
    const std::vector<Case> cases = {
        {DemoTable::Rabmat, rabmatNames, rabmatTypes},
        {DemoTable::Resurs, resursNames, resursTypes},
        {DemoTable::Reestr, {"ID", "NAME"}, "IA"},
        {DemoTable::Ogl, {"ID", "IDREESTR", "NAME"}, "IIA"},
        {DemoTable::Name, {"ID", "NAME"}, "IM"},
        {DemoTable::Edizm, {"ID", "NAME"}, "IA"},
    };
    ASSERT_EQ(rabmatNames.size(), 82u);
    ASSERT_EQ(rabmatTypes.size(), 82u);
    for (auto& c : cases) {
        SCOPED_TRACE(demobase::demoTableFile(c.table));
        auto t = open(c.table);
        ASSERT_EQ(t->fields().size(), c.names.size());
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(t->fields()[i].name, c.names[i]) << i;
            EXPECT_EQ(std::string(fieldTypeLetter(t->fields()[i].type)), std::string(1, c.types[i])) << c.names[i];
        }
        EXPECT_EQ(t->info().version, 12);
        EXPECT_EQ(t->info().codePage, 1251);
        EXPECT_EQ(t->info().keyFields, 1);
    }
}

TEST_F(DemoBaseTest, CountsMatchTheTables) {
    EXPECT_EQ(open(DemoTable::Reestr)->recordCount(), counts_.collections);
    EXPECT_EQ(open(DemoTable::Ogl)->recordCount(), counts_.contentsEntries);
    EXPECT_EQ(open(DemoTable::Rabmat)->recordCount(), counts_.rates + counts_.resources);
    EXPECT_EQ(open(DemoTable::Resurs)->recordCount(), counts_.resourceLines);
    EXPECT_EQ(open(DemoTable::Name)->recordCount(), counts_.names);
    EXPECT_EQ(open(DemoTable::Edizm)->recordCount(), counts_.units);
    // "a few collections, a few hundred rates"
    EXPECT_GE(counts_.collections, 5u);
    EXPECT_GE(counts_.rates, 200u);
    EXPECT_LE(counts_.rates, 1000u);
}

// The index files beside each table are found by the reader with the names, fields and
// options the norm base handles ask for.
TEST_F(DemoBaseTest, IndexesAreFoundAsNamed) {
    struct Expected { std::string name; std::vector<std::string> fields; bool primary, ci; std::string file; };
    struct Case { DemoTable table; std::vector<Expected> indexes; };
    const std::vector<Case> cases = {
        {DemoTable::Rabmat, {{"", {"ID"}, true, false, "RABMAT.PX"},
                             {"IDREESTR", {"IDREESTR"}, false, false, "RABMAT.X03"},
                             {"IDOGL", {"IDOGL"}, false, false, "RABMAT.X0B"},
                             {"IDNAME_INDEX", {"IDNAME"}, false, true, "RABMAT.XG0"}}},
        {DemoTable::Resurs, {{"", {"ID"}, true, false, "RESURS.PX"}, {"IDRAB", {"IDRAB"}, false, false, "RESURS.X02"}}},
        {DemoTable::Ogl, {{"", {"ID"}, true, false, "OGL.PX"}, {"IDREESTR", {"IDREESTR"}, false, false, "OGL.X02"}}},
        {DemoTable::Reestr, {{"", {"ID"}, true, false, "000_REESTR.PX"}}},
        {DemoTable::Name, {{"", {"ID"}, true, false, "000_NAME.PX"}}},
        {DemoTable::Edizm, {{"", {"ID"}, true, false, "000_EDIZM.PX"}}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(demobase::demoTableFile(c.table));
        auto t = open(c.table);
        ASSERT_EQ(t->indexes().size(), c.indexes.size());
        for (auto& e : c.indexes) {
            auto it = std::find_if(t->indexes().begin(), t->indexes().end(), [&](const IndexInfo& ix) {
                return ix.primary == e.primary && (e.primary || ix.name == e.name);
            });
            ASSERT_NE(it, t->indexes().end()) << e.name;
            EXPECT_EQ(it->fields, e.fields) << e.name;
            EXPECT_EQ(it->caseInsensitive, e.ci) << e.name;
            EXPECT_EQ(fs::path(it->file).filename().string(), e.file) << e.name;
        }
    }
}

// Every index gives, for the whole table and for every key, the records that a scan sorted by
// (index value, ID) gives.
TEST_F(DemoBaseTest, EveryIndexAgreesWithScanAndSort) {
    struct Case { DemoTable table; std::string index; std::string field; };
    const std::vector<Case> cases = {
        {DemoTable::Rabmat, "", "ID"}, {DemoTable::Rabmat, "IDOGL", "IDOGL"},
        {DemoTable::Rabmat, "IDREESTR", "IDREESTR"}, {DemoTable::Rabmat, "IDNAME_INDEX", "IDNAME"},
        {DemoTable::Resurs, "", "ID"}, {DemoTable::Resurs, "IDRAB", "IDRAB"},
        {DemoTable::Ogl, "", "ID"}, {DemoTable::Ogl, "IDREESTR", "IDREESTR"},
        {DemoTable::Reestr, "", "ID"}, {DemoTable::Name, "", "ID"}, {DemoTable::Edizm, "", "ID"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(demobase::demoTableFile(c.table)) + " " + c.index);
        auto t = open(c.table);
        const int f = t->fieldIndex(c.field);
        ASSERT_GE(f, 0);
        std::vector<std::pair<int64_t, int64_t>> sorted;  // (index value, ID)
        std::map<int64_t, std::vector<int64_t>> byKey;
        for (auto loc = t->first(); loc; loc = t->next(*loc)) {
            int64_t k = t->readField(*loc, f).asInteger(), id = t->readField(*loc, 0).asInteger();
            sorted.push_back({k, id});
        }
        std::sort(sorted.begin(), sorted.end());
        for (auto& [k, id] : sorted) byKey[k].push_back(id);
        std::vector<int64_t> expected;
        for (auto& p : sorted) expected.push_back(p.second);

        std::vector<int64_t> scanned;
        for (auto& l : t->scan(c.index)) scanned.push_back(t->readField(l, 0).asInteger());
        EXPECT_EQ(scanned, expected);
        for (auto& [k, ids] : byKey) {
            std::vector<int64_t> got;
            for (auto& l : t->lookup(c.index, {Value::integer(k)})) got.push_back(t->readField(l, 0).asInteger());
            ASSERT_EQ(got, ids) << "key " << k;
        }
        EXPECT_TRUE(t->lookup(c.index, {Value::integer(-7)}).empty());
    }
}

// Links hold, costs add up and codes look like the norms' codes.
TEST_F(DemoBaseTest, ContentIsConsistent) {
    auto rabmat = open(DemoTable::Rabmat);
    const int fID = 0, fIDNAME = rabmat->fieldIndex("IDNAME"), fIDOGL = rabmat->fieldIndex("IDOGL"),
              fIDEDIZM = rabmat->fieldIndex("IDEDIZM"), fTAB = rabmat->fieldIndex("TAB"),
              fRAB = rabmat->fieldIndex("RABMAT"), fBA = rabmat->fieldIndex("BA"), fBB = rabmat->fieldIndex("BB"),
              fBC = rabmat->fieldIndex("BC"), fBE = rabmat->fieldIndex("BE"), fBD = rabmat->fieldIndex("BD"),
              fREESTR = rabmat->fieldIndex("IDREESTR");
    std::set<int64_t> names, units, ogl, collections, rates, resources;
    for (auto& r : records(DemoTable::Name)) names.insert(r[0].asInteger());
    for (auto& r : records(DemoTable::Edizm)) units.insert(r[0].asInteger());
    for (auto& r : records(DemoTable::Reestr)) collections.insert(r[0].asInteger());
    std::map<int64_t, int64_t> oglCollection;
    for (auto& r : records(DemoTable::Ogl)) {
        ogl.insert(r[0].asInteger());
        oglCollection[r[0].asInteger()] = r[1].asInteger();
        EXPECT_TRUE(collections.count(r[1].asInteger())) << "OGL " << r[0].asInteger();
        EXPECT_TRUE(std::regex_search(r[2].asString(), std::regex("^(Раздел|Таблица|Группа) ")))
            << r[2].asString();
    }
    const std::regex rateCode("^[мрп]?\\d\\d-\\d\\d-\\d\\d\\d-\\d\\d$"), materialCode("^\\d\\d\\d-\\d\\d\\d\\d$"),
        machineCode("^\\d{6}$");
    for (auto& r : allRecords(*rabmat)) {
        int64_t id = r[size_t(fID)].asInteger();
        SCOPED_TRACE("RABMAT " + std::to_string(id));
        EXPECT_TRUE(names.count(r[size_t(fIDNAME)].asInteger()));
        EXPECT_TRUE(units.count(r[size_t(fIDEDIZM)].asInteger()));
        ASSERT_TRUE(ogl.count(r[size_t(fIDOGL)].asInteger()));
        EXPECT_EQ(oglCollection[r[size_t(fIDOGL)].asInteger()], r[size_t(fREESTR)].asInteger());
        const std::string tab = r[size_t(fTAB)].asString();
        switch (r[size_t(fRAB)].asInteger()) {
        case 1: {
            rates.insert(id);
            EXPECT_TRUE(std::regex_match(tab, rateCode)) << tab;
            double ba = r[size_t(fBA)].asFloat(), sum = r[size_t(fBE)].asFloat() + r[size_t(fBC)].asFloat() + r[size_t(fBB)].asFloat();
            EXPECT_NEAR(ba, sum, 0.011);
            EXPECT_LE(r[size_t(fBD)].asFloat(), r[size_t(fBC)].asFloat() + 0.005);
            break;
        }
        case 2:
            resources.insert(id);
            EXPECT_TRUE(std::regex_match(tab, materialCode)) << tab;
            EXPECT_EQ(r[size_t(fBA)], r[size_t(fBB)]);  // a material's price is its materials cost
            break;
        case 3:
            resources.insert(id);
            EXPECT_TRUE(std::regex_match(tab, machineCode)) << tab;
            EXPECT_GT(r[size_t(fBA)].asFloat(), 0);
            break;
        default: ADD_FAILURE() << "RABMAT " << r[size_t(fRAB)].asInteger();
        }
    }
    EXPECT_EQ(rates.size(), counts_.rates);
    EXPECT_EQ(resources.size(), counts_.resources);
    auto resurs = open(DemoTable::Resurs);
    const int fIDRAB = resurs->fieldIndex("IDRAB"), fRES = resurs->fieldIndex("IDRES_RABMAT"),
              fTRUD = resurs->fieldIndex("IDRES_TRUD"), fKOLL = resurs->fieldIndex("KOLL");
    for (auto& r : allRecords(*resurs)) {
        SCOPED_TRACE("RESURS " + std::to_string(r[0].asInteger()));
        EXPECT_TRUE(rates.count(r[size_t(fIDRAB)].asInteger()));
        if (r[size_t(fRES)].isEmpty()) EXPECT_EQ(r[size_t(fTRUD)].asInteger(), 1);  // a labour line
        else EXPECT_TRUE(resources.count(r[size_t(fRES)].asInteger()));
        EXPECT_GT(r[size_t(fKOLL)].asFloat(), 0);
    }
}

// The edge cases the browser and the adding of positions must meet are all in the demo.
TEST_F(DemoBaseTest, HoldsTheEdgeCases) {
    auto rabmat = records(DemoTable::Rabmat);
    auto resurs = records(DemoTable::Resurs);
    auto ogl = records(DemoTable::Ogl);
    auto reestr = records(DemoTable::Reestr);
    auto nameRecs = records(DemoTable::Name);
    std::map<int64_t, int> linesOfRate, unaccountedOfRate;
    std::map<std::string, int> vidnr;
    std::set<int64_t> unpricedResources;
    for (auto& r : rabmat)
        if (r[9].asInteger() == 2 && r[21].isEmpty()) unpricedResources.insert(r[0].asInteger());
    int unpricedUnaccounted = 0;
    for (auto& r : resurs) {
        linesOfRate[r[1].asInteger()]++;
        vidnr[r[9].isEmpty() ? "empty" : r[9].asString()]++;
        if (r[9].asInteger() == 1) {
            unaccountedOfRate[r[1].asInteger()]++;
            if (unpricedResources.count(r[2].asInteger())) ++unpricedUnaccounted;
        }
    }
    int ratesWithoutLines = 0, ratesWithoutUnaccounted = 0;
    for (auto& r : rabmat)
        if (r[9].asInteger() == 1) {
            ratesWithoutLines += linesOfRate.count(r[0].asInteger()) == 0;
            ratesWithoutUnaccounted += unaccountedOfRate.count(r[0].asInteger()) == 0;
        }
    std::set<int64_t> collectionsWithEntries, entriesWithRates;
    for (auto& r : ogl) collectionsWithEntries.insert(r[1].asInteger());
    for (auto& r : rabmat) entriesWithRates.insert(r[10].asInteger());
    int emptyCollections = 0, emptyEntries = 0;
    for (auto& r : reestr) emptyCollections += collectionsWithEntries.count(r[0].asInteger()) == 0;
    for (auto& r : ogl) emptyEntries += entriesWithRates.count(r[0].asInteger()) == 0;
    size_t longestName = 0;
    bool multiLine = false, quotes = false;
    for (auto& r : nameRecs) {
        longestName = std::max(longestName, r[1].asString().size());
        multiLine |= r[1].asString().find("\r\n") != std::string::npos;
        quotes |= r[1].asString().find("«") != std::string::npos;
    }
    struct Case { const char* what; bool ok; };
    const std::vector<Case> cases = {
        {"a rate without resource lines", ratesWithoutLines > 0},
        {"a rate without unaccounted lines", ratesWithoutUnaccounted > 0},
        {"lines with VIDNR 1 (unaccounted)", vidnr["1"] > 0},
        {"lines with VIDNR 0", vidnr["0"] > 0},
        {"lines with VIDNR 2", vidnr["2"] > 0},
        {"lines with VIDNR empty", vidnr["empty"] > 0},
        {"an unaccounted material without a price", unpricedUnaccounted > 0},
        {"a collection without contents entries", emptyCollections > 0},
        {"contents entries without rates (sections)", emptyEntries > 0},
        {"a name longer than 2048 bytes (own .MB block)", longestName > 2 * 2048},
        {"a name of several lines", multiLine},
        {"«» in a name", quotes},
    };
    for (auto& c : cases) EXPECT_TRUE(c.ok) << c.what;
}

// The same base comes out on every run, and writing it again over itself replaces it whole
// (a stale index file of an earlier base is removed).
TEST_F(DemoBaseTest, SameContentEveryRunAndRewritesCleanly) {
    test::TempDir again("mkbase-again");
    std::ofstream(again / "RABMAT.X05") << "stale";
    demobase::writeDemoBase(again.path().string(), demobase::DemoScale::Small);
    auto counts = demobase::writeDemoBase(again.path().string(), demobase::DemoScale::Small);
    EXPECT_EQ(counts.rates, counts_.rates);
    EXPECT_EQ(counts.resourceLines, counts_.resourceLines);
    EXPECT_FALSE(fs::exists(again / "RABMAT.X05"));
    for (DemoTable t : kAllTables) {
        SCOPED_TRACE(demobase::demoTableFile(t));
        auto a = records(t);
        auto b = allRecords(*openParadoxTable((again / demobase::demoTableFile(t)).string(), OpenMode::ReadOnly));
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "record " << i;
    }
}

TEST(DemoBase, ReportsADirectoryItCannotCreate) {
    test::TempDir dir("mkbase-file");
    std::ofstream(dir / "plain") << "x";
    EXPECT_THROW(demobase::writeDemoBase((dir / "plain" / "Base").string(), demobase::DemoScale::Small), Error);
}

// The main window's nine linked handles open over the demo base and walk it: every contents
// entry, rate and resource line the tables hold is reached through the links, and the
// unaccounted filter keeps exactly the VIDNR 1 lines.
TEST_F(DemoBaseTest, TheNineHandlesOpenAndWalkTheWholeBase) {
    normbase::NormBase nb;
    nb.setDirectory(dir_->path().string());
    ASSERT_NO_THROW(nb.openAll());
    std::set<int64_t> entries, rates, lines;
    int unaccounted = 0, namesShown = 0, unitsShown = 0, ownRates = 0;
    for (nb.Table7.first(); !nb.Table7.eof(); nb.Table7.next())
        for (nb.Table6.first(); !nb.Table6.eof(); nb.Table6.next()) {
            ASSERT_EQ(nb.Table6.fieldValue("IDREESTR"), nb.Table7.fieldValue("ID"));
            entries.insert(nb.Table6.fieldValue("ID").asInteger());
            for (nb.Table2.first(); !nb.Table2.eof(); nb.Table2.next()) {
                ASSERT_EQ(nb.Table2.fieldValue("IDOGL"), nb.Table6.fieldValue("ID"));
                rates.insert(nb.Table2.fieldValue("ID").asInteger());
                namesShown += !nb.Table1.fieldValue("NAME").asString().empty();
                unitsShown += !nb.Table8.fieldValue("NAME").asString().empty();
                for (nb.Table3.first(); !nb.Table3.eof(); nb.Table3.next()) {
                    ASSERT_EQ(nb.Table3.fieldValue("IDRAB"), nb.Table2.fieldValue("ID"));
                    lines.insert(nb.Table3.fieldValue("ID").asInteger());
                    ownRates += !nb.Table4.isEmpty();
                }
                nb.setResourceFilter(true);
                for (nb.Table3.first(); !nb.Table3.eof(); nb.Table3.next()) {
                    EXPECT_EQ(nb.Table3.fieldValue("VIDNR").asInteger(), 1);
                    ++unaccounted;
                }
                nb.setResourceFilter(false);
            }
        }
    nb.closeAll();
    EXPECT_EQ(entries.size(), counts_.contentsEntries);
    EXPECT_EQ(rates.size(), counts_.rates + counts_.resources) << "rates, and the resources under their groups";
    EXPECT_EQ(lines.size(), counts_.resourceLines);
    EXPECT_EQ(namesShown, int(rates.size()));
    EXPECT_EQ(unitsShown, int(rates.size()));
    int labourLines = 0, vidnr1 = 0;
    for (auto& r : records(DemoTable::Resurs)) {
        labourLines += r[2].isEmpty();
        vidnr1 += r[9].asInteger() == 1;
    }
    EXPECT_EQ(ownRates, int(counts_.resourceLines) - labourLines);
    EXPECT_EQ(unaccounted, vidnr1);
}
