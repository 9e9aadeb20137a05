#include "common/Error.h"
#include "normbase/import/ImportJob.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>
#include <fstream>

using namespace talvira;
using namespace talvira::normimport;
namespace fs = std::filesystem;

namespace {

TEST(ParseWage, ReadsTheUsersNotationAndExplainsTheRest) {
    const struct {
        const char* name;
        const char* text;
        char sep;
        std::optional<int64_t> kopecks;  // when read
        const char* error;               // a piece of the message when refused
    } rows[] = {
        {"blanks are no wage", "  \t ", '.', std::nullopt, nullptr},
        {"decimal comma", " 350,5 ", ',', 35050, nullptr},
        {"decimal point in a comma locale", "350.5", ',', 35050, nullptr},
        // Through a double this was 412.505, one kopeck more.
        {"exact from the text to the kopeck", "412,504999999999999999", ',', 41250, nullptr},
        {"half a kopeck up", "412.505", '.', 41251, nullptr},
        {"digit groups", "1 500", ',', std::nullopt, "«1 500» — не число. Напишите часовую ставку цифрами, например 350,5"},
        {"beyond any double", "1e5000", '.', std::nullopt, "например 350.5"},
        {"beyond the kopecks' range", "1e17", ',', std::nullopt, "«1e17» слишком велика"},
        {"negative", "-5", ',', std::nullopt, "меньше нуля"},
        {"negative below a kopeck", "-0,001", ',', std::nullopt, "меньше нуля"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        try {
            const std::optional<Money> wage = parseWage(r.text, r.sep);
            EXPECT_EQ(wage ? std::optional(wage->kopecks()) : std::nullopt, r.kopecks);
            EXPECT_FALSE(r.error);
        } catch (const Error& e) {
            EXPECT_TRUE(r.error && std::string(e.what()).find(r.error) != std::string::npos) << e.what();
        }
    }
}

TEST(ImportJob, PutsTheBaseInPlaceOnlyWhenCompleteAndWanted) {
    const fs::path fixture = test::fixture("normbase-pxlib/Base");
    const fs::path official = test::testDataDir() / "official";
    if (!fs::exists(fixture) || !fs::exists(official / "GESNp.xml")) GTEST_SKIP() << "fixtures missing";
    enum class Stop { None, AtFirstStep, AfterBuilt, ByDestructor };
    test::TempDir scratch("talvira-importjob");
    std::ofstream(scratch / "notes.xml") << "just a note\n";
    const struct {
        const char* name;
        std::vector<fs::path> files;
        Stop stop;
        JobState end;
    } rows[] = {
        {"norms and machine prices", {official / "GESNp.xml", official / "FSBC_Mash.xml"}, Stop::None, JobState::Installed},
        {"cancelled while reading", {official / "GESNp.xml"}, Stop::AtFirstStep, JobState::Cancelled},
        {"cancelled once built", {official / "FSBC_Mash.xml"}, Stop::AfterBuilt, JobState::Cancelled},
        {"program closed while reading", {official / "GESNp.xml"}, Stop::ByDestructor, JobState::Cancelled},
        {"not XML", {scratch / "notes.xml"}, Stop::None, JobState::Failed},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test::TempDir start("talvira-importjob-start");
        const fs::path base = start / "Base";
        fs::copy(fixture, base);
        const auto before = test::directoryBytes(base);
        std::string calls;
        [&] {
            ImportJob job;
            int notices = 0;
            job.start(base, r.files, {}, [&] { if (++notices && r.stop == Stop::AtFirstStep) job.cancel(); },
                      [&] { calls += "done;"; });
            if (r.stop == Stop::ByDestructor) return;  // the job goes while it reads
            job.wait();
            if (r.stop == Stop::AfterBuilt) job.cancel();
            job.install([&] { calls += "close;"; }, [&] { calls += "reopen;"; });
            EXPECT_EQ(job.state(), r.end);
            // Nobody took the progress: one notice, not one per step.
            if (r.end == JobState::Installed) { EXPECT_EQ(notices, 1); }
            if (r.end == JobState::Failed) { EXPECT_NE(job.error().find("notes.xml"), std::string::npos) << job.error(); }
            // The report the window shows names where the base before is kept.
            if (r.end == JobState::Installed) { EXPECT_EQ(job.report().keptBases, std::vector<std::string>{"Base.old"}); }
        }();
        const bool installed = r.end == JobState::Installed;
        EXPECT_EQ(calls, installed ? "done;close;reopen;" : "done;");
        // Nothing is left beside the base but, after an import, the one before.
        EXPECT_EQ(std::distance(fs::directory_iterator(start.path()), fs::directory_iterator()), installed ? 2 : 1);
        EXPECT_EQ(test::directoryBytes(installed ? start / "Base.old" : base), before);
        if (installed) { EXPECT_NE(test::directoryBytes(base), before); }
    }
}

}  // namespace
