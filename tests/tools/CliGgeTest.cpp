// talvira-cli export --form gge: the expert's checks on stderr and nothing written while one of
// them blocks (exit status 1); the expertise facts set through `estimate params` (a bad one
// refused by name, nothing stored); then a file that validates against the shipped schema and
// carries the estimate's amounts and one GUID, the same at every export.
#include "tests/support/PricedEstimate.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "export/GgeSchema.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;

struct Output {
    int rc = -1;
    std::string out, err;
};

Output run(int (*command)(const cli::Args&), const cli::Args& args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Output o;
    try {
        o.rc = command(args);
    } catch (const Error& e) {
        o.err = e.what();
    }
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr() + o.err;
    return o;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const size_t a = text.find(open);
    if (a == std::string::npos) return {};
    const size_t b = text.find(close, a + open.size());
    return text.substr(a + open.size(), b - a - open.size());
}

TEST(CliGge, ChecksFirstThenAValidFileWithOneGuid) {
    const TempDir dir;
    const fs::path estimate = makePricedEstimate(dir.path(), "Сети", {{model::WorkType::Construction, "1234.56"},
                                                                      {model::WorkType::Equipment, "100.00"}});
    const fs::path out = dir.path() / "Сети.gge";
    const cli::Args exportArgs{estimate.string(), "--form", "gge", "--out", out.string()};

    Output o = run(cli::exportCommand, exportArgs);
    EXPECT_EQ(o.rc, 1) << o.err;
    EXPECT_NE(o.err.find("блокирует: Не указано письмо Минстроя России об индексах"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("предупреждение: Не указано наименование стройки"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(out));

    // A bad fact is refused by its name, and nothing of the command is stored.
    o = run(cli::estimateCommand, {"params", estimate.string(), "letter=Письмо № 1", "region.code=100"});
    EXPECT_NE(o.err.find("Код региона (region.code)"), std::string::npos) << o.err;
    o = run(cli::estimateCommand, {"params", estimate.string()});
    EXPECT_NE(o.out.find("letter=\n"), std::string::npos) << o.out;

    o = run(cli::estimateCommand,
            {"params", estimate.string(), "letter=Письмо Минстроя России от 11.06.2025 № 33852-ИФ/09", "region=Московская область",
             "region.code=50", "baselevel=01.01.2000", "gge.norms=Приказ Минстроя России от 26.12.2019 № 876/пр",
             "gge.norms.date=21.12.2021", "gge.norms.num=395", "gge.wage_act=ПП РФ № 1452", "construction=Школа",
             "object=Корпус 1", "estimate.num=02-01-01", "signature.composed=Иванов", "signature.checked=Петров"});
    ASSERT_EQ(o.rc, 0) << o.err;
    EXPECT_NE(o.out.find("region.code=50\n"), std::string::npos) << o.out;

    o = run(cli::exportCommand, exportArgs);
    ASSERT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, out.string() + "\n");
    const std::string bytes = slurp(out);
    EXPECT_EQ(exporting::schemaViolation(exporting::kBaseIndexSchema, bytes), "");
    EXPECT_EQ(between(bytes, "<Total>\n          <PriceBase>", "<"), "1334.56");
    EXPECT_NE(bytes.find("<Equipment>\n                <IDResource>"), std::string::npos);
    const std::string guid = between(bytes, "<GUID>", "</GUID>");
    EXPECT_EQ(guid.size(), 38u) << guid;

    // The GUID is the estimate's: a second export carries the same one.
    fs::remove(out);
    ASSERT_EQ(run(cli::exportCommand, exportArgs).rc, 0);
    EXPECT_EQ(between(slurp(out), "<GUID>", "</GUID>"), guid);
    o = run(cli::estimateCommand, {"params", estimate.string()});
    EXPECT_NE(o.out.find("gge.guid=" + guid + "\n"), std::string::npos) << o.out;
}

}  // namespace
}  // namespace talvira::test
