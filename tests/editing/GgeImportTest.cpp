// A local estimate made from another program's expertise file: the real export computed again by
// the program to the kopeck (what differs is what the file itself computes otherwise, listed),
// the estimate as stored computes the same, a refused file or a taken name leaves nothing behind,
// and the name taken from the file is a safe file name.
#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/GgeImport.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFile.h"
#include "model/BaseIndex.h"
#include "storage/TableHandle.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> texts(const std::vector<GgeDifference>& ds) {
    std::vector<std::string> out;
    for (const GgeDifference& d : ds) out.push_back(differenceText(d, '.'));
    return out;
}

// What the real export computes otherwise than the program; every other amount of its 15
// positions (base and current ОТ, ЭМ, ОТМ, М, ФОТ, НР, СП, totals), of its blocks and of the
// estimate in base prices is the program's to the kopeck.
const std::vector<std::string> kRealDifferences = {
    // Resources priced by market analysis: the file gives each one's current total as its market
    // price (the base is r(current / index)), while its own block totals take r(Σbase × index),
    // as the program does.
    "Позиция 11, Всего (текущие цены): в файле 4 201.74, в программе 4 201.70",
    "Позиция 12, Всего (текущие цены): в файле 10 816.90, в программе 10 816.92",
    "Позиция 13, Всего (текущие цены): в файле 44 495.00, в программе 44 494.99",
    "Позиция 14, Всего (текущие цены): в файле 15 818.10, в программе 15 818.06",
    "Позиция 15, Всего (текущие цены): в файле 33 584.17, в программе 33 584.15",
    // «Прочие затраты» (position 1) go into current prices in the file by one index on their
    // total that it does not state (4 594.30 × 12.29 = 56 463.947); the program indexes their
    // elements (ОТ by the position's own 1, ЭМ by 16.64), so the estimate's current total differs
    // by the same amount.
    "Итого прочие затраты (текущие цены): в файле 56 463.95, в программе 41 900.70",
    "Всего по смете (текущие цены): в файле 36 150 662.20, в программе 36 136 098.95",
};

TEST(GgeImport, TheRealExportComputedAgainToTheKopeck) {
    test::TempDir dir;
    const GgeImported r = importGge(test::fixture("real/gge/BIM-3.01-example.gge"), dir.path().string(), "", '.', model::nrSpTables());
    EXPECT_EQ(r.table, dir.path() / "ЛСР 02-01-01 Технический пример.db");
    EXPECT_EQ(texts(r.differences), kRealDifferences);
    EXPECT_TRUE(r.problems.empty()) << r.problems[0];
    // The table, its texts and its calc data, nothing else (no staging folder left).
    std::vector<std::string> files;
    for (const fs::directory_entry& f : fs::directory_iterator(dir.path())) files.push_back(f.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"ЛСР 02-01-01 Технический пример.calc", "ЛСР 02-01-01 Технический пример.db",
                                               "ЛСР 02-01-01 Технический пример.mb", "ЛСР 02-01-01 Технический пример.txt"}));

    // The estimate as stored computes what was compared.
    const KeptCalc calc = loadKeptCalc(r.table);
    EXPECT_EQ(calc.params.method, model::Method::BaseIndex);
    EXPECT_EQ(calc.params.indexOt, Dec7::parse("52.21"));
    EXPECT_EQ(calc.params.indexEq, Dec7::parse("6.31"));
    EXPECT_EQ(calc.params.region, "Московская область");
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, dir.path().string(), r.table.filename().string());
    estimate::openEstimate(smeta);
    const std::vector<model::PositionRow> rows = readPositionRows(smeta);
    const model::BaseIndexResult result = model::computeBaseIndex(rows, calc.positions, calc.params, model::nrSpTables());
    EXPECT_EQ(result.total.base.total.text(), "1806575.55");
    ASSERT_EQ(result.positions.size(), 15u);
    const model::PositionResult& p7 = result.positions[6];
    EXPECT_EQ(p7.base.otmExtra.text(), "342.06");  // the file's extra-pay line, from the coefficients
    ASSERT_EQ(p7.materials.size(), 1u);
    EXPECT_EQ(p7.materials[0].amount.text(), "341619.73");
}

TEST(GgeImport, ARefusedFileOrATakenNameLeavesNothing) {
    test::TempDir dir;
    for (const fs::path& f : test::filesUnder(test::fixture("fail/gge"), ".gge")) {
        SCOPED_TRACE(f.filename().string());
        EXPECT_THROW(importGge(f, dir.path().string(), "", '.', model::nrSpTables()), Error);
        EXPECT_TRUE(test::directoryBytes(dir.path()).empty());
    }
    // A taken name: refused, the estimate there untouched.
    const fs::path minimal = test::fixture("gge/minimal.gge");
    const GgeImported first = importGge(minimal, dir.path().string(), "Антенны", '.', model::nrSpTables());
    EXPECT_TRUE(first.differences.empty()) << differenceText(first.differences[0], '.');
    const auto before = test::directoryBytes(dir.path());
    try {
        importGge(minimal, dir.path().string(), "Антенны", '.', model::nrSpTables());
        ADD_FAILURE() << "replaced";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("уже существует: она не заменена"), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::directoryBytes(dir.path()), before);
}

TEST(GgeImport, TheNameFromTheFileIsASafeFileName) {
    const struct {
        const char* num;
        const char* name;
        const char* expected;
    } cases[] = {
        {"ЛСР 02-01-01", "Технический пример", "ЛСР 02-01-01 Технический пример"},
        {"", "Сети/НВК: «1»?", "Сети_НВК_ «1»_"},
        {"..", "", "Смета из файла экспертизы"},
        {" 5. ", "", "5"},
    };
    for (const auto& c : cases) {
        exporting::GgeEstimate e;
        e.num = c.num;
        e.name = c.name;
        EXPECT_EQ(estimateNameOf(e), c.expected) << c.num << "|" << c.name;
    }
    exporting::GgeEstimate longName;
    longName.name = std::string(60, 'x') + std::string(30, 'x') + "ЯЯЯЯЯЯЯЯЯЯ";  // 90 + 20 bytes
    EXPECT_EQ(estimateNameOf(longName).size(), 100u);
}

}  // namespace
}  // namespace talvira::editing
