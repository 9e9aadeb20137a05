// Argument handling of talvira-cli mkbase and bench: every mistake ends in a Russian message
// that names what was wrong, and nothing is written.
#include "common/Error.h"
#include "tests/support/TestPaths.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace talvira;

TEST(CliArgs, MistakesAreNamed) {
    test::TempDir dir("mkbase-cli");
    const std::string d = (dir / "Base").string();
    struct Case {
        const char* what;
        std::function<int(const cli::Args&)> command;
        cli::Args args;
        const char* messagePart;
    };
    const std::vector<Case> cases = {
        {"mkbase without a folder", cli::mkbaseCommand, {}, "укажите папку"},
        {"--scale without a value", cli::mkbaseCommand, {d, "--scale"}, "small или large"},
        {"an unknown scale", cli::mkbaseCommand, {d, "--scale", "huge"}, "«huge»"},
        {"an unknown option", cli::mkbaseCommand, {d, "--fast"}, "«--fast»"},
        {"two folders", cli::mkbaseCommand, {d, d + "2"}, "лишний аргумент"},
        {"bench without a folder", cli::benchCommand, {"scan"}, "укажите вид замера"},
        {"bench of a missing folder", cli::benchCommand, {"scan", d}, "не найдена"},
        {"an unknown measurement", cli::benchCommand, {"frob", dir.path().string()}, "«frob»"},
        {"a bad number of keys", cli::benchCommand, {"lookup", dir.path().string(), "--keys", "0"}, "«0»"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.command(c.args);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(d)) << "nothing is written after a mistake";
    }
}
