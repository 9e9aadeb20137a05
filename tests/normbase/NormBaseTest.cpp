#include "common/Error.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/NormBaseFormat.h"
#include "storage/TableFile.h"
#include "tests/support/NormBaseDescription.h"
#include "tests/support/TestPaths.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>

using namespace talvira;
using namespace talvira::storage;
using talvira::normbase::NormBase;
namespace fs = std::filesystem;

namespace {

fs::path baseDir() { return test::fixture("normbase-pxlib/Base"); }

/** A JSON value (null = empty) against a field value. */
void expectValue(const QJsonValue& want, const Value& got, const std::string& what) {
    if (want.isNull() || want.isUndefined()) {
        EXPECT_TRUE(got.isEmpty()) << what << " = " << got.asString();
    } else if (want.isString()) {
        EXPECT_EQ(got.asString(), want.toString().toStdString()) << what;
    } else {
        ASSERT_FALSE(got.isEmpty()) << what;
        EXPECT_DOUBLE_EQ(got.asFloat(), want.toDouble()) << what;
    }
}

int64_t idOf(TableHandle& t) { return t.fieldValue("ID").asInteger(); }

class NormBaseFixture : public ::testing::Test {
protected:
    NormBase nb;
    void SetUp() override {
        nb.setDirectory(baseDir().string());
        nb.openAll();
    }
};

/** Copies the fixture base into a scratch directory, to be broken by a test. */
void copyBase(const fs::path& to) {
    // The fixtures may be read-only; the copies are the test's own and must take writes.
    for (const auto& e : fs::directory_iterator(baseDir())) {
        fs::copy_file(e.path(), to / e.path().filename());
        fs::permissions(to / e.path().filename(), fs::perms::owner_write, fs::perm_options::add);
    }
}

}  // namespace

TEST_F(NormBaseFixture, StartsOnFirstRecordOfEveryHandle) {
    for (int i = 1; i <= 9; ++i) EXPECT_TRUE(nb.table(i).active()) << "Table" << i;
    EXPECT_EQ(idOf(nb.Table7), 1);
    EXPECT_EQ(idOf(nb.Table6), 101);  // a section without rates
    EXPECT_TRUE(nb.Table2.isEmpty());
    EXPECT_TRUE(nb.Table3.isEmpty());
    EXPECT_TRUE(nb.Table4.isEmpty());
    EXPECT_TRUE(nb.Table1.fieldValue("NAME").isEmpty());
    EXPECT_TRUE(nb.Table1.readOnly());
    for (int i = 2; i <= 9; ++i) EXPECT_FALSE(nb.table(i).readOnly()) << "Table" << i;
    EXPECT_EQ(nb.Table2.fieldCount(), 82);
    EXPECT_EQ(nb.Table3.fieldCount(), 15);
    EXPECT_EQ(nb.Table2.field(81).name, "STATUS");
    EXPECT_EQ(nb.Table3.field(9).name, "VIDNR");
}

TEST_F(NormBaseFixture, BrowseGivesExpectedOrderAndValuesWithAndWithoutFilter) {
    const QJsonArray browse = test::normBaseDescription()["expected"].toObject()["browse"].toArray();
    ASSERT_FALSE(browse.isEmpty());
    ASSERT_EQ(nb.Table7.recordCount(), browse.size());
    nb.Table7.first();
    for (const auto& cv : browse) {
        const QJsonObject c = cv.toObject();
        ASSERT_EQ(idOf(nb.Table7), c["collection"].toInteger());
        const QJsonArray entries = c["entries"].toArray();
        ASSERT_EQ(nb.Table6.recordCount(), entries.size()) << "collection " << idOf(nb.Table7);
        for (const auto& ev : entries) {
            const QJsonObject e = ev.toObject();
            ASSERT_EQ(idOf(nb.Table6), e["entry"].toInteger());
            const QJsonArray rates = e["rates"].toArray();
            ASSERT_EQ(nb.Table2.recordCount(), rates.size()) << "entry " << idOf(nb.Table6);
            for (const auto& rv : rates) {
                const QJsonObject r = rv.toObject();
                const std::string at = "rate " + std::to_string(r["rate"].toInteger());
                ASSERT_EQ(idOf(nb.Table2), r["rate"].toInteger());
                expectValue(r["TAB"], nb.Table2.fieldValue("TAB"), at + " TAB");
                expectValue(r["NAME"], nb.Table1.fieldValue("NAME"), at + " NAME");
                expectValue(r["IZM"], nb.Table8.fieldValue("NAME"), at + " IZM");
                const QJsonArray lines = r["lines"].toArray();
                ASSERT_EQ(nb.Table3.recordCount(), lines.size()) << at;
                for (const auto& lv : lines) {
                    const QJsonObject l = lv.toObject();
                    const std::string lat = at + " line " + std::to_string(l["line"].toInteger());
                    ASSERT_EQ(idOf(nb.Table3), l["line"].toInteger()) << at;
                    expectValue(l["KOLL"], nb.Table3.fieldValue("KOLL"), lat + " KOLL");
                    expectValue(l["VIDNR"], nb.Table3.fieldValue("VIDNR"), lat + " VIDNR");
                    EXPECT_EQ(nb.Table4.isEmpty(), l["own_rate"].isNull()) << lat;
                    expectValue(l["own_rate"], nb.Table4.fieldValue("ID"), lat + " own rate");
                    expectValue(l["TAB"], nb.Table4.fieldValue("TAB"), lat + " TAB");
                    expectValue(l["BA"], nb.Table4.fieldValue("BA"), lat + " BA");
                    expectValue(l["BB"], nb.Table4.fieldValue("BB"), lat + " BB");
                    expectValue(l["NAME"], nb.Table5.fieldValue("NAME"), lat + " NAME");
                    expectValue(l["IZM"], nb.Table9.fieldValue("NAME"), lat + " IZM");
                    nb.Table3.next();
                }
                EXPECT_TRUE(nb.Table3.eof());
                // The switch lists only the unaccounted lines, and going back lists all again.
                nb.setResourceFilter(true);
                std::vector<int64_t> shown, want;
                for (nb.Table3.first(); !nb.Table3.eof(); nb.Table3.next()) shown.push_back(idOf(nb.Table3));
                for (const auto& u : r["unaccounted_lines"].toArray()) want.push_back(u.toInteger());
                EXPECT_EQ(shown, want) << at;
                nb.setResourceFilter(false);
                EXPECT_EQ(nb.Table3.recordCount(), lines.size()) << at;
                nb.Table2.next();
            }
            EXPECT_TRUE(nb.Table2.eof());
            nb.Table6.next();
        }
        nb.Table7.next();
    }
    EXPECT_TRUE(nb.Table7.eof());
}

TEST_F(NormBaseFixture, FilterSwitchStaysWhileWalkingAndGoesToFirstLine) {
    auto gotoRate = [&](int64_t collection, int64_t entry, int64_t rate) {
        for (nb.Table7.first(); idOf(nb.Table7) != collection; nb.Table7.next()) ASSERT_FALSE(nb.Table7.eof());
        for (nb.Table6.first(); idOf(nb.Table6) != entry; nb.Table6.next()) ASSERT_FALSE(nb.Table6.eof());
        for (nb.Table2.first(); idOf(nb.Table2) != rate; nb.Table2.next()) ASSERT_FALSE(nb.Table2.eof());
    };
    gotoRate(8, 801, 8001);
    nb.Table3.last();
    nb.setResourceFilter(true);
    EXPECT_TRUE(nb.Table3.filtered());
    EXPECT_EQ(nb.Table3.filter(), "VIDNR = 1");
    EXPECT_EQ(nb.Table3.recNo(), 0);
    EXPECT_EQ(idOf(nb.Table3), 800101);
    EXPECT_EQ(idOf(nb.Table4), 40405);  // the own rate follows the filtered line
    gotoRate(6, 603, 6005);
    EXPECT_EQ(nb.Table3.recordCount(), 1);  // three lines, one unaccounted
    EXPECT_EQ(idOf(nb.Table3), 600502);
    gotoRate(1, 104, 1001);
    EXPECT_TRUE(nb.Table3.isEmpty());  // no unaccounted lines
    EXPECT_TRUE(nb.Table4.isEmpty());
    gotoRate(6, 602, 6001);
    EXPECT_EQ(nb.Table3.recordCount(), 2);  // all lines unaccounted: same as unfiltered
    gotoRate(6, 603, 6005);
    nb.setResourceFilter(false);
    EXPECT_FALSE(nb.Table3.filtered());
    EXPECT_EQ(nb.Table3.filter(), "VIDNR = 1");  // the text stays
    EXPECT_EQ(nb.Table3.recordCount(), 3);
    EXPECT_EQ(idOf(nb.Table3), 600501);
}

TEST_F(NormBaseFixture, CloseAllClosesEveryHandle) {
    nb.closeAll();
    for (int i = 1; i <= 9; ++i) EXPECT_FALSE(nb.table(i).active()) << "Table" << i;
    nb.openAll();  // and the base opens again
    EXPECT_EQ(idOf(nb.Table7), 1);
}

TEST(NormBase, OnlyValueOneIsUnaccounted) {
    struct Case { const char* name; Value v; bool unaccounted; };
    for (const Case& c : {Case{"one", Value::integer(1), true}, Case{"empty", Value(), false},
                          Case{"zero", Value::integer(0), false}, Case{"two", Value::integer(2), false},
                          Case{"minus one", Value::integer(-1), false}, Case{"text 1", Value::string("1"), false},
                          Case{"float one", Value::real(1.0), true}}) {
        EXPECT_EQ(NormBase::isUnaccounted(c.v), c.unaccounted) << c.name;
    }
}

// ---- start-up failures ----------------------------------------------------------------

TEST(NormBaseStartup, FailureLeavesEarlierHandlesOpenAndLaterOnesClosed) {
    auto otherType = [](const fs::path& dir, const char* field, FieldType type) {
        // RESURS.DB re-made with one field missing or of another type, records dropped.
        std::vector<FieldDef> defs;
        auto src = openParadoxTable((dir / "RESURS.DB").string(), OpenMode::ReadOnly);
        for (const auto& f : src->fields()) {
            if (f.name != field) defs.push_back(f);
            else if (type != FieldType::Blob) defs.push_back({f.name, type, type == FieldType::Alpha ? 10 : 0});
        }
        src.reset();
        for (const char* ext : {".PX", ".X02", ".Y02"}) fs::remove(dir / (std::string("RESURS") + ext));
        createParadoxTable((dir / "RESURS.DB").string(), defs);
    };
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> breakIt;
        int failing;      // the handle whose opening fails
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"missing name table", [](const fs::path& d) { fs::remove(d / "000_NAME.DB"); }, 1, "000_NAME"},
        {"missing rate index IDOGL", [](const fs::path& d) { fs::remove(d / "RABMAT.X0B"); fs::remove(d / "RABMAT.Y0B"); }, 2, "IDOGL"},
        {"missing resource lines table", [](const fs::path& d) { fs::remove(d / "RESURS.DB"); }, 3, "RESURS.DB"},
        {"resource line field VIDNR of another type", [&](const fs::path& d) { otherType(d, "VIDNR", FieldType::Long); }, 3, "VIDNR"},
        {"resource line field KOLL missing", [&](const fs::path& d) { otherType(d, "KOLL", FieldType::Blob); }, 3, "KOLL"},
        {"resource lines without index IDRAB", [&](const fs::path& d) { otherType(d, "", FieldType::Blob); }, 3, "IDRAB"},
        {"missing unit table", [](const fs::path& d) { fs::remove(d / "000_EDIZM.DB"); }, 8, "000_EDIZM.DB"},
        {"missing contents index IDREESTR", [](const fs::path& d) { fs::remove(d / "OGL.X02"); fs::remove(d / "OGL.Y02"); }, 6, "IDREESTR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir("talvira-nb");
        copyBase(dir.path());
        c.breakIt(dir.path());
        NormBase nb;
        nb.setDirectory(dir.path().string());
        std::string msg;
        try {
            nb.openAll();
        } catch (const Error& e) {
            msg = e.what();
        }
        EXPECT_NE(msg.find(c.mentions), std::string::npos) << msg;
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(nb.table(i).active(), i < c.failing) << "Table" << i;
    }
}

TEST(NormBaseStartup, FindsTablesWhateverTheirLetterCase) {
    test::TempDir dir("talvira-nb");
    copyBase(dir.path());
    fs::rename(dir / "000_NAME.DB", dir / "000_name.db");
    fs::rename(dir / "RESURS.DB", dir / "Resurs.Db");
    NormBase nb;
    nb.setDirectory(dir.path().string());
    nb.openAll();
    EXPECT_TRUE(nb.Table9.active());
}

// A writer fills one record again and again, the table builder trading it for one stored
// before: a field the next record leaves unset is empty, never an earlier record's value, over
// more records than a batch holds.
TEST(NormTableWriter, AFieldLeftUnsetIsEmptyWhateverTheRecordsBeforeIt) {
    test::TempDir dir("talvira-normwriter");
    const int n = 1500;
    {
        normbase::NormTableWriter w(dir.path().string(), normbase::NormTable::Ogl);
        for (int id = 1; id <= n; ++id) {
            normbase::NormRecord& r = w.next();
            r.set(normbase::fld::ID, Value::integer(id));
            if (id % 3 == 0) r.set(normbase::fld::NAME, Value::string("Раздел " + std::to_string(id)));
            if (id % 2 == 0) r.set(normbase::fld::IDREESTR, Value::integer(id / 2));
            w.append();
        }
        EXPECT_EQ(w.finish(), uint32_t(n));
    }
    auto t = openParadoxTable((dir / "OGL.DB").string(), OpenMode::ReadOnly);
    const int pName = t->fieldIndex("NAME"), pOwner = t->fieldIndex("IDREESTR");
    int id = 0;
    for (auto loc = t->first(); loc; loc = t->next(*loc)) {
        const Record r = t->read(*loc);
        ASSERT_EQ(r[0], Value::integer(++id));
        EXPECT_EQ(r[size_t(pName)], id % 3 == 0 ? Value::string("Раздел " + std::to_string(id)) : Value()) << id;
        EXPECT_EQ(r[size_t(pOwner)], id % 2 == 0 ? Value::integer(id / 2) : Value()) << id;
    }
    EXPECT_EQ(id, n);
}
