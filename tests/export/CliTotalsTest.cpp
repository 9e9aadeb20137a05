// talvira-cli estimate totals: 14 tab-separated lines (offset, caption, K; the totals row adds
// L, M, N, O and Q), numbers with a decimal point and 17 significant digits, #VALUE! for an
// error, the export's message for a factor that is no number; under either locale.
#include "tests/support/LocaleVariable.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "estimate/EstimateFile.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

namespace talvira::test {
namespace {

/** What the command prints on standard output. */
std::vector<std::string> run(const cli::Args& args) {
    std::ostringstream out;
    std::streambuf* old = std::cout.rdbuf(out.rdbuf());
    try {
        EXPECT_EQ(cli::totalsCommand(args), 0);
    } catch (...) {
        std::cout.rdbuf(old);
        throw;
    }
    std::cout.rdbuf(old);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CliTotals : public ::testing::Test {
protected:
    TempDir dir{"talvira-cli-totals"};
    std::string estimate;

    void SetUp() override {
        storage::TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
        const double rows[][7] = {{2, 100, 250, 20, 10, 50, 1.5}, {4, 80, 125, 10, 5, 25, 2}, {0, 500, 0, 500, 0, 0, 0}};
        for (const auto& r : rows) {
            smeta.append();
            const char* names[] = {"KOLVO", "STOIM", "OSNZP", "MATER", "EXPLMASH", "ZPMASH", "TRUD"};
            for (int i = 0; i < 7; ++i) smeta.setFieldValue(names[i], storage::Value::real(r[i]));
            smeta.post();
        }
        estimate = (dir.path() / "Дом.db").string();
    }
};

TEST_F(CliTotals, TheBlockLineByLineUnderEitherLocale) {
    for (const char* locale : {"C.UTF-8", "ru_RU.UTF-8"}) {
        LocaleVariable l(locale);
        const std::vector<std::string> lines = run({"totals", estimate});
        ASSERT_EQ(lines.size(), 14u) << locale;
        EXPECT_EQ(lines[0],
                  "0\tИтого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) \t520\t1000\t80\t40\t200\t11");
        EXPECT_EQ(lines[1], "1\tНакладные расходы (от з/п основной и машиниста)\t1260");
        EXPECT_EQ(lines[2], "2\tИтого\t1780");
        EXPECT_EQ(lines[11], "11\tС коэффициентом перехода в текущие цены\t8644.3104000000003");
        EXPECT_EQ(lines[13], "13\tИтого с НДС\t10200.286272000001");
    }
    // --locale decides how the texts read
    EXPECT_EQ(run({"totals", estimate, "--locale", "ru_RU", "--text", "NREdit=10,5"})[1],
              "1\tНакладные расходы (от з/п основной и машиниста)\t126");
    EXPECT_EQ(run({"totals", estimate, "--locale", "en_US", "--text", "NREdit=10.5"})[1],
              "1\tНакладные расходы (от з/п основной и машиниста)\t126");
    // the rates kept beside the estimate, unless replaced
    std::ofstream(dir.path() / "Дом.txt") << "NREdit=10\n";
    EXPECT_EQ(run({"totals", estimate})[1], "1\tНакладные расходы (от з/п основной и машиниста)\t120");
    EXPECT_EQ(run({"totals", estimate, "--text", "NREdit=5"})[1], "1\tНакладные расходы (от з/п основной и машиниста)\t60");
}

TEST_F(CliTotals, ErrorsAndFailures) {
    const std::vector<std::string> lines = run({"totals", estimate, "--locale", "ru_RU", "--text", "ZUEdit=x"});
    EXPECT_EQ(lines[6], "6\tИтого\t3004");
    EXPECT_EQ(lines[7], "7\tЗимнее удорожание\t#VALUE!");
    EXPECT_EQ(lines[13], "13\tИтого с НДС\t#VALUE!");
    try {
        run({"totals", estimate, "--locale", "ru_RU", "--text", "KoefEdit=2.18"});
        ADD_FAILURE() << "no failure";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'2.18' is not a valid floating point value");
    }
    for (const cli::Args& bad : {cli::Args{"totals"}, cli::Args{"totals", estimate, "--text", "Foo=1"},
                                 cli::Args{"totals", estimate, "--text"}, cli::Args{"totals", estimate, "--x"}})
        EXPECT_THROW(run(bad), Error);
}

}  // namespace
}  // namespace talvira::test
