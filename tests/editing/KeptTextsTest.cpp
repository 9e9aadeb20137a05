// The title block and the rates kept beside an estimate: what is stored comes back exactly, an
// estimate without the file has the defaults, and a damaged file gives the defaults with one
// warning, never a refused estimate.
#include "tests/storage/StorageTestUtil.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/KeptTexts.h"
#include "estimate/EstimateFile.h"
#include "storage/Warnings.h"

#include <gtest/gtest.h>

#include <fstream>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;

struct Kept : ::testing::Test {
    test::TempDir dir;
    fs::path table() const { return dir.path() / "Дом.db"; }
    std::vector<std::string> warnings;
    void SetUp() override { storage::setWarningSink([this](const std::string& w) { warnings.push_back(w); }); }
    void TearDown() override { storage::setWarningSink({}); }
    void write(const std::string& content) { std::ofstream(dir.path() / "Дом.txt", std::ios::binary) << content; }
};

TEST_F(Kept, TextsComeBackAsTyped) {
    model::EstimateTexts typed = model::EstimateTexts::defaults(',');
    typed.approverName = "  Иванов И.И.  ";
    typed.title = "Ремонт\\кровли\nвторая строка=";
    typed.vatPercent = "20";
    typed.contractorPost = "";
    saveKeptTexts(table(), typed);
    EXPECT_EQ(loadKeptTexts(table(), '.'), typed);
    EXPECT_EQ(loadKeptTexts(dir.path() / "Другая.db", '.'), model::EstimateTexts::defaults('.'));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Kept, DamagedFileGivesTheDefaultsAndOneWarning) {
    const struct {
        const char* what;
        std::string content;
    } cases[] = {
        {"not UTF-8", "NDSEdit=\xcd\xc4\xd1\n"},
        {"no =", "NDSEdit=20\nNREdit\n"},
        {"given twice", "NDSEdit=20\nNDSEdit=0\n"},
        {"bad escape", "NAMEEdit=a\\tb\n"},
    };
    for (const auto& c : cases) {
        warnings.clear();
        write(c.content);
        EXPECT_EQ(loadKeptTexts(table(), ','), model::EstimateTexts::defaults(',')) << c.what;
        ASSERT_EQ(warnings.size(), 1u) << c.what;
        EXPECT_NE(warnings[0].find("Дом.txt"), std::string::npos) << warnings[0];
    }
    write("# comment\r\n\r\nNDSEdit=20\r\nUnknownEdit=x\r\n");
    EXPECT_EQ(loadKeptTexts(table(), ',').vatPercent, "20") << "CRLF lines, comments, unknown names";
    saveKeptTexts(table(), model::EstimateTexts::defaults(','));  // a file of its kind is replaced
    write("Заметки к смете: позвонить заказчику\n");
    EXPECT_THROW(saveKeptTexts(table(), model::EstimateTexts::defaults(',')), Error) << "the user's notes stay";
    EXPECT_EQ(test::readFile(dir.path() / "Дом.txt"), "Заметки к смете: позвонить заказчику\n");
}

TEST_F(Kept, AUsersOwnFileIsNamedOnceAndNeverTouched) {
    using estimate::KeptTextsKind;
    const struct {
        const char* what;
        std::string content;
        KeptTextsKind kind;
        bool notice;
    } cases[] = {
        {"notes", "Заметки к смете: позвонить заказчику\n", KeptTextsKind::Foreign, true},
        {"notes in comments only (was written over)", "# позвонить заказчику\n", KeptTextsKind::Foreign, true},
        {"a line of its own with = (was written over)", "Позвонить=завтра\n", KeptTextsKind::Foreign, true},
        {"a line without =", "NDSEdit=20\nNREdit\n", KeptTextsKind::Foreign, true},
        {"written here", keptTextsContent(model::EstimateTexts::defaults(',')), KeptTextsKind::Ours, false},
        {"lines of the edits, one unknown", "# c\r\nNDSEdit=20\r\nUnknownEdit=x\r\n", KeptTextsKind::Ours, false},
        {"empty", "", KeptTextsKind::Ours, false},
        {"damaged: a name given twice", "NDSEdit=20\nNDSEdit=0\n", KeptTextsKind::Ours, true},
    };
    const fs::path file = dir.path() / "Дом.txt";
    for (const auto& c : cases) {
        write(c.content);
        EXPECT_EQ(estimate::keptTextsKind(table()), c.kind) << c.what;
        const KeptTexts kept = readKeptTexts(table(), ',');
        EXPECT_EQ(kept.kind, c.kind) << c.what;
        EXPECT_EQ(!kept.notice.empty(), c.notice) << c.what;
        if (c.notice) {
            EXPECT_NE(kept.notice.find(file.string()), std::string::npos) << kept.notice;
        }
        EXPECT_TRUE(warnings.empty()) << c.what << ": the caller tells it";
        if (c.kind == KeptTextsKind::Foreign) {
            EXPECT_EQ(kept.texts, model::EstimateTexts::defaults(',')) << c.what;
            EXPECT_THROW(saveKeptTexts(table(), model::EstimateTexts::defaults(',')), Error) << c.what;
        }
        // A new estimate of that name starts from the defaults: ours goes, the user's stays.
        storage::TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, dir.path().string(), "Дом");
        estimate::createAndOpen(smeta);
        smeta.close();
        if (c.kind == KeptTextsKind::Foreign) {
            EXPECT_EQ(test::readFile(file), c.content) << c.what;
        } else {
            EXPECT_FALSE(fs::exists(file)) << c.what;
        }
    }
}

}  // namespace
}  // namespace talvira::editing
