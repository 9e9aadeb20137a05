// The Add command over the norm base written by pxlib (tests/data/normbase-pxlib): for every rate,
// the positions appended equal the ones FIXTURE.json expects, empty fields included.
#include "tests/estimate/MemoryNormBase.h"
#include "tests/support/NormBaseDescription.h"

#include "estimate/AddPositions.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBase.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using storage::Value;

fs::path fixtureBase() { return fixture("normbase-pxlib"); }

QJsonObject expectedPositions() {
    return normBaseDescription()["expected"].toObject()["positions"].toObject();
}

/** Moves the browser's handles to the rate with this ID, in collection, entry, rate order. */
bool goToRate(normbase::NormBase& nb, int id) {
    for (nb.Table7.first(); !nb.Table7.eof(); nb.Table7.next())
        for (nb.Table6.first(); !nb.Table6.eof(); nb.Table6.next())
            for (nb.Table2.first(); !nb.Table2.eof(); nb.Table2.next())
                if (nb.Table2.fieldValue("ID").asInteger() == id) return true;
    return false;
}

void expectField(const Value& actual, const QJsonValue& expected, const std::string& where) {
    if (expected.isNull()) {
        EXPECT_TRUE(actual.isEmpty() || actual == Value::string("")) << where << ": " << actual.asString();
    } else if (expected.isString()) {
        // Line breaks stored as CR LF come back as they are.
        EXPECT_EQ(actual.asString(), expected.toString().toStdString()) << where;
    } else {
        ASSERT_FALSE(actual.isEmpty()) << where;
        EXPECT_DOUBLE_EQ(actual.asFloat(), expected.toDouble()) << where;
    }
}

TEST(FixtureAdd, EveryRateAppendsTheExpectedPositions) {
    const QJsonObject expected = expectedPositions();
    ASSERT_FALSE(expected.isEmpty());
    TempDir dir;
    normbase::NormBase nb;
    nb.setDirectory((fixtureBase() / "Base").string());
    nb.openAll();

    for (bool filtered : {false, true}) {
        nb.setResourceFilter(filtered);
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const std::string name = "rate" + it.key().toStdString() + (filtered ? "f" : "");
            storage::TableHandle smeta("SmetaTable");
            estimate::bindEstimate(smeta, dir.path().string(), name);
            estimate::createAndOpen(smeta);
            ASSERT_TRUE(goToRate(nb, it.key().toInt())) << name;
            estimate::addPositions(nb, smeta);

            const QJsonArray positions = it.value().toArray();
            ASSERT_EQ(smeta.recordCount(), positions.size()) << name;
            smeta.first();
            for (const QJsonValue& p : positions) {
                const QJsonObject o = p.toObject();
                for (auto f = o.begin(); f != o.end(); ++f) {
                    const std::string field = f.key().toStdString();
                    expectField(smeta.fieldValue(field), f.value(), name + " " + field);
                }
                for (const char* empty : {"_STOIM", "_OSNZP", "_MATER", "_EXPLMASH", "_ZPMASH", "_TRUD"})
                    EXPECT_TRUE(smeta.fieldValue(empty).isEmpty()) << name << " " << empty;
                smeta.next();
            }
            smeta.close();
        }
    }
    nb.closeAll();
}

}  // namespace
}  // namespace talvira::test
