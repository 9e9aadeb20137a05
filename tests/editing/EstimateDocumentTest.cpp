// The estimate document below the windows, on real files: the one script that creates, opens and
// stores an estimate, told to its views step by step (also when a step fails), and the texts it
// keeps beside each estimate.
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "estimate/EstimateFile.h"
#include "storage/Value.h"
#include "storage/Warnings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;
using storage::Value;

/** A view that writes down what it is told, and types what the test gives it. */
struct Recorder : EstimateView {
    std::vector<std::string> told;
    model::EstimateTexts typing = model::EstimateTexts::defaults(',');
    std::function<void(EstimateDocument&)> onCollect;

    void collectTyped(EstimateDocument& doc) override {
        told.push_back("collect");
        if (onCollect) onCollect(doc);
        doc.setTypedTexts(typing);
    }
    void estimateBinding(EstimateDocument& doc, const EstimatePlace& p) override {
        told.push_back(std::string(p.created ? "bind new " : "bind ") + p.fileName + " as " + p.title +
                       (doc.isOpen() ? " (open!)" : ""));
    }
    void estimateOpened(EstimateDocument& doc) override {
        told.push_back("opened " + doc.place().title + " NDS " + doc.texts().vatPercent);
    }
};

struct Document : ::testing::Test {
    test::TempDir dir{"talvira-document"};
    storage::TableHandle smeta{"SmetaTable"};
    std::vector<std::string> warnings;
    EstimateDocument doc{smeta, ','};
    Recorder view;

    std::string smeti() const { return (dir.path() / "Smeti").string(); }
    void SetUp() override {
        fs::create_directory(dir.path() / "Smeti");
        storage::setWarningSink([this](const std::string& w) { warnings.push_back(w); });
        doc.addView(&view);
    }
    void TearDown() override {
        doc.removeView(&view);
        storage::setWarningSink({});
    }
    void addPosition(double kolvo) {
        doc.append([&] {
            smeta.append();
            smeta.setFieldValue("KOLVO", Value::real(kolvo));
            smeta.post();
        });
    }
};

TEST_F(Document, TheScriptTellsTheViewsEachStepInOrder) {
    doc.create(smeti(), "Дом");
    EXPECT_EQ(view.told, (std::vector<std::string>{"collect", "bind new Дом as Дом", "opened Дом NDS 18"}));
    EXPECT_TRUE(doc.isOpen());
    EXPECT_EQ(doc.place().directory, smeti());
    view.told.clear();

    // What is typed goes to the estimate that is closed; the other one opens with its own.
    view.typing.vatPercent = "20";
    addPosition(2);
    doc.create(smeti(), "Баня.db");
    EXPECT_EQ(view.told.back(), "opened Баня.db NDS 18");
    view.told.clear();
    doc.open(smeti(), "Дом.db");
    EXPECT_EQ(view.told, (std::vector<std::string>{"collect", "bind Дом.db as Дом", "opened Дом NDS 20"}));
    EXPECT_EQ(smeta.storedCount(), 1);
    addPosition(3);
    EXPECT_TRUE(doc.history().canUndo());  // the Add is a step of this estimate's history
    doc.open(smeti(), "Баня.db");
    EXPECT_FALSE(doc.history().canUndo());  // the history ends with its estimate
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Document, AFailedStepLeavesTheStepsBeforeItStanding) {
    struct Case {
        const char* what;
        std::function<void()> run;
        std::vector<std::string> told;  // after "collect"
    };
    const fs::path notAnEstimate = dir.path() / "Smeti" / "Записка.db";
    std::ofstream(notAnEstimate) << "не таблица";
    const Case cases[] = {
        {"create without the estimates folder", [&] { doc.create(smeti() + "/нет", "Дом"); },
         {"bind new Дом as Дом"}},
        {"open a file that is no table", [&] { doc.open(smeti(), "Записка.db"); }, {"bind Записка.db as Записка"}},
        {"open a file that is gone", [&] { doc.open(smeti(), "Нет.db"); }, {"bind Нет.db as Нет"}},
    };
    for (const Case& c : cases) {
        doc.create(smeti(), "Открытая");
        view.told.clear();
        EXPECT_THROW(c.run(), Error) << c.what;
        std::vector<std::string> expected{"collect"};
        expected.insert(expected.end(), c.told.begin(), c.told.end());
        EXPECT_EQ(view.told, expected) << c.what;
        EXPECT_FALSE(doc.isOpen()) << c.what;
    }
    // A store that cannot post what is typed stops the script before anything closes.
    doc.create(smeti(), "Открытая");
    view.onCollect = [](EstimateDocument&) { throw Error("'abc' is not a valid floating point value for field 'KOLVO'"); };
    EXPECT_THROW(doc.open(smeti(), "Дом.db"), Error);
    EXPECT_TRUE(doc.isOpen());
    EXPECT_EQ(doc.place().title, "Открытая");
}

TEST_F(Document, TextsAreKeptBesideEachEstimateAndANewOneStartsFromTheDefaults) {
    doc.create(smeti(), "Дом");
    view.typing.approverName = "Иванов ";
    doc.storePending();
    EXPECT_EQ(doc.texts().approverName, "Иванов ");
    EXPECT_TRUE(fs::exists(estimate::companionPath(smeta.tablePath())));
    // Replaced by an empty estimate of the same name: nothing of the old one comes back.
    doc.create(smeti(), "Дом");
    EXPECT_EQ(doc.texts(), model::EstimateTexts::defaults(','));
    // A file that cannot be written: one warning, the texts stay typed and are tried again.
    view.typing.vatPercent = "20";
    fs::create_directory(estimate::companionPath(smeta.tablePath()));  // a folder in its place
    doc.storePending();
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(doc.texts().vatPercent, "18");
    fs::remove(estimate::companionPath(smeta.tablePath()));
    doc.storePending();
    EXPECT_EQ(doc.texts().vatPercent, "20");
}

TEST(EstimateName, ShownWithoutItsLastExtensionAndCheckedBeforeReplacing) {
    const std::pair<const char*, const char*> names[] = {
        {"Дом.db", "Дом"}, {"Дом.DB", "Дом"}, {"Дом", "Дом"}, {"a.b.db", "a.b"}, {".db", ""}};
    for (const auto& [file, shown] : names) EXPECT_EQ(nameWithoutExtension(file), shown) << file;
    test::TempDir dir;
    EXPECT_FALSE(EstimateDocument::wouldReplace(dir.path().string(), "Дом"));
    EXPECT_THROW(EstimateDocument::wouldReplace(dir.path().string(), "../Дом"), Error);
    EXPECT_THROW(EstimateDocument::wouldReplace(dir.path().string(), ""), Error);
}

}  // namespace
}  // namespace talvira::editing
