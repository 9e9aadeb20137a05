// The estimate document below the windows, on real files: the one script that creates, opens and
// stores an estimate, told to its views step by step (also when a step fails), and the texts it
// keeps beside each estimate.
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "editing/EstimateRows.h"
#include "estimate/EstimateFile.h"
#include "normbase/BaseInfo.h"
#include "storage/Value.h"
#include "storage/Warnings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
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
    void calcChanged(EstimateDocument&) override { told.push_back("calc"); }
    bool takePercents = false;
    bool takeTablePercents(EstimateDocument&, const std::vector<PercentDifference>& d) override {
        told.push_back("percents " + std::to_string(d.size()));
        return takePercents;
    }
};

struct Document : ::testing::Test {
    test::TempDir dir{"talvira-document"};
    storage::TableHandle smeta{"SmetaTable"};
    std::vector<std::string> warnings;
    EstimateDocument doc{smeta, ',', model::nrSpTables()};
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
            return std::vector<model::PositionData>{};
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
    EXPECT_TRUE(fs::exists(estimate::keptTextsPath(smeta.tablePath())));
    // Replaced by an empty estimate of the same name: nothing of the old one comes back.
    doc.create(smeti(), "Дом");
    EXPECT_EQ(doc.texts(), model::EstimateTexts::defaults(','));
    // A file that cannot be written: one warning, the texts stay typed and are tried again.
    view.typing.vatPercent = "20";
    fs::create_directory(estimate::keptTextsPath(smeta.tablePath()));  // a folder in its place
    doc.storePending();
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(doc.texts().vatPercent, "18");
    fs::remove(estimate::keptTextsPath(smeta.tablePath()));
    doc.storePending();
    EXPECT_EQ(doc.texts().vatPercent, "20");
}

/** A position appended by Add: a rate with its data and one material following it. */
std::vector<model::PositionData> addRate(storage::TableHandle& smeta, const char* code, double q, double ot,
                                          double em, double otm, double m, const char* row, double materialPrice) {
    std::vector<model::PositionData> extras;
    smeta.append();
    smeta.setFieldValue("TAB", Value::string(code));
    smeta.setFieldValue("KOLVO", Value::real(q));
    smeta.setFieldValue("OSNZP", Value::real(ot));
    smeta.setFieldValue("EXPLMASH", Value::real(em));
    smeta.setFieldValue("ZPMASH", Value::real(otm));
    smeta.setFieldValue("MATER", Value::real(m));
    smeta.setFieldValue("STOIM", Value::real(ot + em + m));
    smeta.post();
    const int32_t rate = int32_t(smeta.fieldValue("COUNT").asInteger());
    model::PositionData& r = extras.emplace_back();
    r.count = rate;
    r.code = code;
    r.nrRow = r.spRow = row;
    smeta.append();
    smeta.setFieldValue("TAB", Value::string("ФССЦ-01.7.15.06-0111"));
    smeta.setFieldValue("KOLVO", Value::real(q * 2));
    smeta.setFieldValue("STOIM", Value::real(materialPrice));
    smeta.setFieldValue("MATER", Value::real(materialPrice));
    smeta.post();
    model::PositionData& mat = extras.emplace_back();
    mat.count = int32_t(smeta.fieldValue("COUNT").asInteger());
    mat.code = "ФССЦ-01.7.15.06-0111";
    mat.parent = rate;
    mat.perUnit = Dec7::fromInt(2);
    return extras;
}

TEST_F(Document, TheTotalsByTheBaseIndexMethodFollowEveryEditAsComputedAnew) {
    doc.create(smeti(), "Расчет");
    model::EstimateParams p = doc.calc().params;
    p.method = model::Method::BaseIndex;
    p.indexOt = Dec7::parse("52.21");
    p.indexEm = Dec7::parse("16.64");
    p.indexM = Dec7::parse("8.49");
    doc.setParams(p);
    const char* codes[] = {"ФЕР08-01-001-01", "ФЕРм10-01-002-03", "ФЕРп01-11-010-01", "ГЭСН11-01-011-01"};
    const char* rowsOf[] = {"008.0", "011.0", "011.0", "011.0"};
    std::mt19937 rng(7);
    auto money = [&] { return double(rng() % 100000) / 100; };
    for (int i = 0; i < 12; ++i)
        doc.append([&] { return addRate(smeta, codes[i % 4], 1 + i, money(), money(), 1.74, money(), rowsOf[i % 4], money()); });
    auto expectFollowed = [&](const std::string& after) {
        const model::BaseIndexResult anew =
            model::computeBaseIndex(readPositionRows(smeta), doc.calc().positions, doc.calc().params, doc.tables());
        ASSERT_TRUE(doc.baseIndex());
        const model::BaseIndexResult& followed = *doc.baseIndex();
        ASSERT_EQ(followed.workTypes.size(), anew.workTypes.size()) << after;
        EXPECT_EQ(followed.total.base.total, anew.total.base.total) << after;
        EXPECT_EQ(followed.total.current.total, anew.total.current.total) << after;
        EXPECT_EQ(followed.total.base.zt, anew.total.base.zt) << after;
        for (size_t i = 0; i < anew.workTypes.size(); ++i)
            EXPECT_EQ(followed.workTypes[i].current.pz, anew.workTypes[i].current.pz) << after << ", type " << i;
        ASSERT_EQ(followed.problems.size(), anew.problems.size()) << after;
        for (size_t i = 0; i < anew.problems.size(); ++i) EXPECT_EQ(followed.problems[i].message, anew.problems[i].message);
    };
    expectFollowed("the adds");
    EXPECT_FALSE(doc.baseIndex()->total.current.total.isZero());
    for (int step = 0; step < 40; ++step) {
        const int n = smeta.storedCount();
        const int row = int(rng() % unsigned(n));
        std::string what;
        switch (rng() % 6) {
        case 0:
        case 1:  // a quantity typed, also a negative one
            smeta.moveTo(row);
            smeta.edit();
            smeta.setFieldValue("KOLVO", Value::real(double(int(rng() % 400) - 40) / 8));
            smeta.post();
            what = "quantity of row " + std::to_string(row);
            break;
        case 2:  // a price
            smeta.moveTo(row);
            smeta.edit();
            smeta.setFieldValue("STOIM", Value::real(money()));
            smeta.post();
            what = "price of row " + std::to_string(row);
            break;
        case 3:  // a deletion, undone every other time
            smeta.moveTo(row);
            doc.history().deleteCurrent();
            if (rng() % 2) doc.history().undo();
            what = "deletion of row " + std::to_string(row);
            break;
        case 4: {  // another row of НР and СП, coefficients, a type of work
            model::PositionData e = doc.positionData(int32_t(smeta.storedRecord(row)[0].asInteger()));
            e.nrRow = e.spRow = rng() % 5 ? "001.1" : "";  // sometimes none: a problem
            e.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, "п. 4"}};
            if (rng() % 2) e.workType = model::WorkType::Commissioning;
            doc.setPositionData(e);
            what = "data of row " + std::to_string(row);
            break;
        }
        default:  // the code of a material changed: its data are no longer its own
            smeta.moveTo(row);
            smeta.edit();
            smeta.setFieldValue("TAB", Value::string("ТЦ-" + std::to_string(step)));
            smeta.post();
            what = "code of row " + std::to_string(row);
        }
        expectFollowed(what);
    }
    // Back to the template: nothing computed.
    p.method = model::Method::Template;
    doc.setParams(p);
    EXPECT_FALSE(doc.baseIndex());
}

TEST_F(Document, ParametersAndPositionDataAreKeptBesideTheEstimate) {
    doc.create(smeti(), "Данные");
    EXPECT_FALSE(fs::exists(estimate::keptCalcPath(smeta.tablePath())));  // an estimate as it always was
    doc.append([&] { return addRate(smeta, "ФЕР08-01-001-01", 1, 32.74, 10.46, 1.74, 215.19, "008.0", 5); });
    EXPECT_FALSE(fs::exists(estimate::keptCalcPath(smeta.tablePath())));  // by the template: kept in memory
    const int32_t rate = doc.calc().positions.at(0).count;
    EXPECT_EQ(doc.positionData(rate).nrRow, "008.0");
    model::EstimateParams p = doc.calc().params;
    p.method = model::Method::BaseIndex;
    p.region = "Московская область";
    p.baseLevel = "01.01.1984";  // not the dialog's to change
    doc.setParams(p);
    EXPECT_EQ(view.told.back(), "calc");
    model::PositionData e = doc.positionData(rate);
    e.coefficients = {{Dec7::parse("1.2"), model::EM | model::OTM, ""}};
    doc.setPositionData(e);
    doc.open(smeti(), "Данные.db");
    EXPECT_EQ(doc.calc().params.region, "Московская область");
    EXPECT_EQ(doc.calc().params.baseLevel, "");
    EXPECT_EQ(doc.positionData(rate).coefficients.size(), 1u);
    EXPECT_EQ(doc.positionData(rate + 1).parent, rate);
    // A position whose number another code has now: its data are not taken for it.
    EXPECT_EQ(doc.positionData(rate + 5).count, rate + 5);
    smeta.first();
    smeta.edit();
    smeta.setFieldValue("TAB", Value::string("ФЕР01-01-001-01"));
    smeta.post();
    EXPECT_TRUE(doc.positionData(rate).nrRow.empty());
    EXPECT_EQ(doc.positionData(rate).code, "ФЕР01-01-001-01");

    // A calc file that cannot be written: refused, nothing taken.
    const fs::path calc = estimate::keptCalcPath(smeta.tablePath());
    fs::remove(calc);
    fs::create_directory(calc);
    p.region = "Тверская область";
    EXPECT_THROW(doc.setParams(p), Error);
    EXPECT_EQ(doc.calc().params.region, "Московская область");
    e.workType = model::WorkType::Other;
    EXPECT_THROW(doc.setPositionData(e), Error);
    EXPECT_FALSE(doc.calc().find(rate)->workType == model::WorkType::Other);
    fs::remove(calc);
    // Closed: nothing to set.
    doc.close();
    EXPECT_THROW(doc.setParams(p), Error);
    EXPECT_TRUE(doc.calc().positions.empty());
}

TEST_F(Document, ANewEstimateStartsAsItsBaseAsksAndOneOpenedIsAskedAboutPercentagesTheTablesChanged) {
    // A base without its note (the demo base): the template, nothing written beside.
    const fs::path base = dir.path() / "Base";
    fs::create_directory(base);
    doc.setNormBaseDirectory(base);
    doc.create(smeti(), "Демо");
    EXPECT_FALSE(doc.byBaseIndex());
    EXPECT_FALSE(fs::exists(estimate::keptCalcPath(smeta.tablePath())));
    EXPECT_EQ(doc.texts().currentPriceFactor, model::EstimateTexts::defaults(',').currentPriceFactor);
    // An imported base at 2022 prices: the base-index method at its level, no factor of 2001.
    normbase::BaseInfo info;
    info.imported = true;
    info.priceLevel = "01.01.2022";
    normbase::writeBaseInfo(base, info);
    doc.create(smeti(), "Новая");
    EXPECT_TRUE(doc.byBaseIndex());
    EXPECT_EQ(doc.calc().params.baseLevel, "01.01.2022");
    EXPECT_EQ(doc.texts().currentPriceFactor, "1");
    EXPECT_EQ(doc.texts().vatPercent, "20");
    EXPECT_EQ(view.told.back(), "opened Новая NDS 20");
    view.typing = doc.texts();  // what the window then shows

    // Percentages kept by the estimate that the tables no longer have: asked on every open,
    // kept or taken as answered.
    std::vector<model::PositionData> added;
    doc.append([&] {
        added = addRate(smeta, "ФЕР08-01-001-01", 1, 32.74, 10.46, 1.74, 215.19, "008.0", 5);
        return added;
    });
    model::PositionData rate = doc.positionData(added[0].count);
    rate.nrPercent = Dec7::parse("77");
    rate.spPercent = Dec7::parse("61");
    doc.setPositionData(rate);
    const Dec7 sp = doc.tables().find("008.0")->spPercent;
    for (bool take : {false, true}) {
        view.told.clear();
        view.takePercents = take;
        doc.open(smeti(), "Новая.db");
        ASSERT_GE(view.told.size(), 2u);
        EXPECT_EQ(view.told[view.told.size() - (take ? 2 : 1)], "percents 2") << take;
        EXPECT_EQ(*doc.positionData(rate.count).spPercent, take ? sp : Dec7::parse("61")) << take;
    }
    EXPECT_EQ(view.told.back(), "calc");
    EXPECT_TRUE(doc.percentDifferences().empty());
    view.told.clear();
    doc.open(smeti(), "Новая.db");  // taken for good: nothing asked
    EXPECT_EQ(view.told.back(), "opened Новая NDS 20");
}

TEST_F(Document, MaterialsFollowTheirRatesQuantityInTheSameUndoStep) {
    doc.create(smeti(), "Следом");
    model::EstimateParams p = doc.calc().params;
    auto kolvo = [&](int row) { return smeta.valueAt(row, smeta.fieldIndex("KOLVO")).asFloat(); };
    auto typeQuantity = [&](int row, double q) {
        smeta.moveTo(row);
        smeta.edit();
        smeta.setFieldValue("KOLVO", Value::real(q));
        smeta.post();
    };
    doc.append([&] { return addRate(smeta, "ФЕР08-01-001-01", 1, 32.74, 10.46, 1.74, 215.19, "008.0", 5); });
    // By the template nothing follows.
    typeQuantity(0, 3);
    EXPECT_EQ(kolvo(1), 2);
    p.method = model::Method::BaseIndex;
    doc.setParams(p);
    typeQuantity(0, 4);
    EXPECT_EQ(kolvo(1), 8);
    typeQuantity(1, 9);  // a material's own quantity typed: its rate stays
    EXPECT_EQ(kolvo(0), 4);
    typeQuantity(0, 5);
    EXPECT_EQ(kolvo(1), 10);
    // One undo takes back both; redo brings both; neither makes anything follow again.
    const size_t steps = doc.history().undoCount();
    doc.history().undo();
    EXPECT_EQ(kolvo(0), 4);
    EXPECT_EQ(kolvo(1), 9);
    doc.history().redo();
    EXPECT_EQ(kolvo(0), 5);
    EXPECT_EQ(kolvo(1), 10);
    EXPECT_EQ(doc.history().undoCount(), steps);
    EXPECT_EQ(doc.baseIndex()->total.base.total, model::computeBaseIndex(readPositionRows(smeta), doc.calc().positions,
                                                                       doc.calc().params, doc.tables())
                                                    .total.base.total);
}

TEST_F(Document, AnEstimateMadeByTheTemplateSwitchedOverGetsItsPositionsDataAndTheBasesLevel) {
    doc.create(smeti(), "Старая");
    doc.append([&] {
        (void)addRate(smeta, "ФЕР08-01-001-01", 2, 32.74, 10.46, 1.74, 215.19, "008.0", 5);
        return std::vector<model::PositionData>{};  // made before positions had data
    });
    // The base in use: imported at 2000 prices, its tables unreadable here (told once).
    const fs::path base = dir.path() / "Base";
    fs::create_directory(base);
    normbase::BaseInfo info;
    info.imported = true;
    info.priceLevel = "01.01.2000";
    normbase::writeBaseInfo(base, info);
    doc.setNormBaseDirectory(base);
    model::EstimateParams p = doc.calc().params;
    p.method = model::Method::BaseIndex;
    doc.setParams(p);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(doc.calc().params.baseLevel, "01.01.2000");
    // The material after its rate, as Add writes one: its quantity (4 for 2) is per unit of the
    // rate then, and follows it.
    const model::PositionData material = doc.positionData(int32_t(smeta.storedRecord(1)[0].asInteger()));
    EXPECT_EQ(material.parent, int32_t(smeta.storedRecord(0)[0].asInteger()));
    smeta.first();
    smeta.edit();
    smeta.setFieldValue("KOLVO", Value::real(3));
    smeta.post();
    EXPECT_EQ(smeta.valueAt(1, smeta.fieldIndex("KOLVO")).asFloat(), 3 * material.perUnit.toDouble());
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
