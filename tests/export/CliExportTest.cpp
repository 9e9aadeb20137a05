// talvira-cli export under the locales a user may have: the window's default texts (the factor
// written with the locale's decimal separator) must give a workbook under either of them.
#include "estimate/EstimateFile.h"
#include "export/XlsContainer.h"
#include "tests/export/EstimatePositions.h"
#include "tests/export/SheetReadBack.h"
#include "tests/support/LocaleVariable.h"
#include "tests/support/TestPaths.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;

TEST(CliExport, DefaultTextsGiveAWorkbookUnderEitherLocale) {
    TempDir dir("talvira-cli-export");
    {
        storage::TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
        for (const model::PositionRow& p : threePositions()) {
            smeta.append();
            smeta.setFieldValue("TAB", storage::Value::string(p.code));
            smeta.setFieldValue("KOLVO", storage::Value::real(p.quantity));
            smeta.setFieldValue("STOIM", storage::Value::real(p.cost));
            smeta.post();
        }
    }
    struct Case { const char* locale; std::vector<std::string> extra; const char* d16; } cases[] = {
        {"C.UTF-8", {}, "number 105"},
        {"ru_RU.UTF-8", {}, "number 105"},
        {"C.UTF-8", {"--text", "NREdit=99.5"}, "number 99.5"},
        {"ru_RU.UTF-8", {"--text", "NREdit=99,5"}, "number 99.5"},
    };
    for (const Case& c : cases) {
        LocaleVariable locale(c.locale);
        const fs::path out = dir / (std::string("out-") + c.locale + ".xls");
        cli::Args args{(dir / "Дом.db").string(), "--template", fixture("templates/1.xls").string(),
                       "--out", out.string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(cli::exportCommand(args), 0) << c.locale;
        const xls::CompoundFile file = xls::readCompoundFile(xls::readWholeFile(out, "x"), "out");
        const SheetReadBack s = readBack(file.find("Workbook")->data);
        EXPECT_EQ(s.content("B12"), "text ТЕР01-01-001-01") << c.locale;
        EXPECT_EQ(s.content("E26"), "number 2.18") << c.locale;
        EXPECT_EQ(s.content("D16"), c.d16) << c.locale;
        EXPECT_NEAR(s.cells.at("K15").cached, 520, 1e-9) << c.locale;
    }
}

}  // namespace
}  // namespace talvira::test
