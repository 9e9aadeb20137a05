// The export over a real estimate table: the adapter reads the fields by their places in the
// bound field list, the memo whole, an empty number as 0, and leaves the table where it was.
#include "editing/SmetaPositionSource.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "tests/export/RecordingSpreadsheet.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

namespace talvira::test {
namespace {

using storage::Value;

TEST(SmetaPositionSource, ExportOfAnEstimateTable) {
    TempDir dir("talvira-smeta");
    {
        storage::TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
        smeta.close();
        estimate::bindForOpening(smeta, dir.path().string(), "Дом.db");
        smeta.open();
        for (const Position& p : threePositions()) {
            smeta.append();
            smeta.setFieldValue("TAB", Value::string(p.tab));
            smeta.setFieldValue("NAME", Value::string(p.name));
            smeta.setFieldValue("IZM", Value::string(p.izm));
            if (p.kolvo != 0) smeta.setFieldValue("KOLVO", Value::real(p.kolvo));  // the third stays empty
            smeta.setFieldValue("STOIM", Value::real(p.stoim));
            smeta.setFieldValue("OSNZP", Value::real(p.osnzp));
            smeta.setFieldValue("MATER", Value::real(p.mater));
            smeta.setFieldValue("EXPLMASH", Value::real(p.explmash));
            smeta.setFieldValue("ZPMASH", Value::real(p.zpmash));
            smeta.setFieldValue("TRUD", Value::real(p.trud));
            smeta.setFieldValue("_STOIM", Value::real(999));  // never exported
            smeta.post();
        }
    }
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, dir.path().string(), "Дом.db");
    smeta.open();
    smeta.first();
    smeta.next();  // the user stands on the second position
    const int before = smeta.recNo();

    CallLog log;
    RecordingSpreadsheet sheet(log);
    editing::SmetaPositionSource source(smeta);
    xls::exportEstimate(source, xls::EstimateTexts::defaults(','), sheet, "1.xls", ',');

    const std::pair<const char*, const char*> cells[] = {
        {"A12", "int 1"}, {"B12", "text ТЕР01-01-001-01"}, {"C12", "text Разработка грунта экскаватором"},
        {"D12", "text 1000 м3"}, {"E12", "double 2"}, {"F12", "double 100"}, {"G12", "double 250"},
        {"H12", "double 20"}, {"I12", "double 10"}, {"J12", "double 50"}, {"P12", "double 1.5"},
        {"C13", "text Бетонная подготовка\nпод фундаменты"}, {"E14", "double 0"},
        {"K15", "formula =СУММ(K12:K14)"},
    };
    for (auto [ref, content] : cells) EXPECT_EQ(sheet.cells[ref], content) << ref;
    EXPECT_NE(std::find(log.calls.begin(), log.calls.end(), "borders A10:Q14 1"), log.calls.end());
    EXPECT_EQ(smeta.recNo(), before);
    EXPECT_FALSE(smeta.controlsDisabled());
}

}  // namespace
}  // namespace talvira::test
