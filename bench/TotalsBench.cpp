// The totals window on an estimate of 10 000 positions on disk: a stored change of one
// position to the updated block (the post alone beside it, to see what following adds), and
// the window opened to the full block, at the level of the positions followed and through
// the real window; and on an estimate of 10 000 positions by the base-index method, a quantity typed
// into a rate (its material following) to the totals window's new figure, on either tab.
// Run by hand: ./TotalsBench (offscreen platform unless QT_QPA_PLATFORM is set).
#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/TotalsWindow.h"
#include "app/Unit2.h"
#include "editing/EstimateDocument.h"
#include "editing/KeptCalc.h"
#include "editing/TotalsFollower.h"
#include "estimate/EstimateFile.h"
#include "export/EstimateTotals.h"
#include "storage/TableHandle.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace talvira;
using storage::TableHandle;
using storage::Value;

constexpr int kPositions = 10000;

fs::path benchDir() {
    static const fs::path dir = fs::temp_directory_path() / ("talvira-totals-bench-" + std::to_string(::getpid()));
    return dir;
}

/** The estimate of 10 000 positions, made once. */
const fs::path& estimateDir() {
    static const fs::path dir = [] {
        const fs::path d = benchDir() / "Smeti";
        fs::remove_all(benchDir());
        fs::create_directories(d);
        TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, d.string(), "Большая");
        estimate::createAndOpen(smeta);
        for (int i = 0; i < kPositions; ++i) {
            smeta.append();
            smeta.setFieldValue("TAB", Value::string("ТЕР01-01-" + std::to_string(i)));
            smeta.setFieldValue("NAME", Value::string(std::string(200, 'x')));
            if (i % 7) smeta.setFieldValue("KOLVO", Value::real(1 + i % 13));
            smeta.setFieldValue("STOIM", Value::real(100.25 + i));
            smeta.setFieldValue("OSNZP", Value::real(20.5 + i % 100));
            smeta.setFieldValue("MATER", Value::real(3.75));
            smeta.setFieldValue("EXPLMASH", Value::real(7.125));
            smeta.setFieldValue("ZPMASH", Value::real(1.5 + i % 10));
            smeta.setFieldValue("TRUD", Value::real(0.25));
            smeta.post();
        }
        return d;
    }();
    return dir;
}

void openEstimate(TableHandle& smeta) {
    estimate::bindForOpening(smeta, estimateDir().string(), "Большая.db");
    smeta.open();
}

/** One position changed and stored, in the middle of the estimate. */
void storeChange(TableHandle& smeta, double& v) {
    smeta.moveTo(kPositions / 2);
    smeta.edit();
    v = v == 2 ? 3 : 2;
    smeta.setFieldValue("KOLVO", Value::real(v));
    smeta.post();
}

void BM_StoredChangeAlone(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    double v = 2;
    for (auto _ : state) storeChange(smeta, v);
}
BENCHMARK(BM_StoredChangeAlone)->Unit(benchmark::kMillisecond);

void BM_StoredChangeToUpdatedBlock(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    const model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    editing::TotalsFollower f(smeta, model::nrSpTables());
    xls::EstimateTotals block;
    f.onChanged = [&] { block = xls::computeTotals(f.sums(), texts, ','); };
    f.setFollowing(true);
    double v = 2;
    for (auto _ : state) {
        storeChange(smeta, v);
        benchmark::DoNotOptimize(block.lines[13].amount.value);
    }
}
BENCHMARK(BM_StoredChangeToUpdatedBlock)->Unit(benchmark::kMillisecond);

void BM_FollowingStartsToFullBlock(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    const model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    for (auto _ : state) {
        editing::TotalsFollower f(smeta, model::nrSpTables());
        f.setFollowing(true);
        const xls::EstimateTotals block = xls::computeTotals(f.sums(), texts, ',');
        benchmark::DoNotOptimize(block.lines[13].amount.value);
    }
}
BENCHMARK(BM_FollowingStartsToFullBlock)->Unit(benchmark::kMillisecond);

/** The real windows over the big estimate. */
void openInWindows() {
    if (!Form2) {
        setErrorBoxHook([](const QString&) {});  // no norm base here: the start-up error is not measured
        createWindows();
    }
    if (!Form2->SmetaTable.active()) openEstimate(Form2->SmetaTable);
}

void BM_WindowOpenedToFullBlock(benchmark::State& state) {
    openInWindows();
    for (auto _ : state) {
        Form2->Totals->show();  // reads every position and shows the block
        benchmark::DoNotOptimize(Form2->Totals->totals().lines[13].amount.value);
        state.PauseTiming();
        Form2->Totals->hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowOpenedToFullBlock)->Unit(benchmark::kMillisecond);

void BM_WindowStoredChangeToUpdatedBlock(benchmark::State& state) {
    openInWindows();
    Form2->Totals->show();
    double v = 2;
    for (auto _ : state) {
        storeChange(Form2->SmetaTable, v);  // the window follows inside the post
        benchmark::DoNotOptimize(Form2->Totals->totals().lines[13].amount.value);
    }
    Form2->Totals->hide();
}
BENCHMARK(BM_WindowStoredChangeToUpdatedBlock)->Unit(benchmark::kMillisecond);

void BM_WindowRateTypedToUpdatedBlock(benchmark::State& state) {
    openInWindows();
    Form2->Totals->show();
    for (auto _ : state) {
        Form2->NREdit->setText(Form2->NREdit->text() == "105" ? "106" : "105");
        benchmark::DoNotOptimize(Form2->Totals->totals().lines[13].amount.value);
    }
    Form2->Totals->hide();
}
BENCHMARK(BM_WindowRateTypedToUpdatedBlock)->Unit(benchmark::kMicrosecond);

/** An estimate of 10 000 positions by the base-index method beside the other (7 500 rates, each
 *  third with materials, every other one of them following its rate), made once. */
const fs::path& baseIndexDir() {
    static const fs::path dir = [] {
        const fs::path d = benchDir() / "Smeti421";
        fs::create_directories(d);
        TableHandle smeta("SmetaTable");
        estimate::bindEstimate(smeta, d.string(), "Большая");
        estimate::createAndOpen(smeta);
        editing::KeptCalc s;
        s.params.method = model::Method::BaseIndex;
        s.params.indexOt = Dec7::parse("52.21");
        s.params.indexEm = Dec7::parse("16.64");
        s.params.indexM = Dec7::parse("8.49");
        const char* rows[] = {"011.0", "008.0", "049.3", "001.1", "091.0"};
        int32_t rate = 0;
        for (int i = 0; i < kPositions; ++i) {
            const bool material = i % 4 == 2;
            const std::string code = material ? "ФССЦ-01.1.01-" + std::to_string(i) : "ФЕР11-01-" + std::to_string(i);
            smeta.append();
            smeta.setFieldValue("TAB", Value::string(code));
            smeta.setFieldValue("NAME", Value::string(std::string(200, 'x')));
            smeta.setFieldValue("KOLVO", Value::real(1 + i % 13));
            smeta.setFieldValue("STOIM", Value::real(material ? 12.34 + i % 50 : 100.25 + i % 300));
            smeta.setFieldValue("MATER", Value::real(material ? 12.34 + i % 50 : 3.75));
            if (!material) {
                smeta.setFieldValue("OSNZP", Value::real(20.5 + i % 100));
                smeta.setFieldValue("EXPLMASH", Value::real(7.125 + i % 10));
                smeta.setFieldValue("ZPMASH", Value::real(1.5 + i % 5));
                smeta.setFieldValue("TRUD", Value::real(0.25));
            }
            smeta.post();
            const auto count = static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger());
            model::PositionData& e = s.entry(count);
            e.code = code;
            if (material) {
                if (i % 8 == 2) e.parent = rate;
                e.perUnit = Dec7::parse("1.02");
            } else {
                rate = count;
                e.nrRow = e.spRow = rows[i % 5];
                if (i % 11 == 0) e.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, ""}};
            }
        }
        editing::saveKeptCalc(smeta.tablePath(), s);
        return d;
    }();
    return dir;
}

/** A quantity typed into a rate with a material following it, in the middle of the estimate by
 *  the base-index method, to the totals window showing the new figure (its tab `tab`), the
 *  events the step left run too. */
void windowQuantityTyped(benchmark::State& state, int tab) {
    if (!Form2) {
        setErrorBoxHook([](const QString&) {});
        createWindows();
    }
    Form2->document().open(baseIndexDir().string(), "Большая.db");
    Form2->Totals->show();
    Form2->Totals->BaseIndexTabs->setCurrentIndex(tab);
    QCoreApplication::processEvents();
    TableHandle& smeta = Form2->SmetaTable;
    double v = 2;
    for (auto _ : state) {
        smeta.moveTo(kPositions / 2 + 1);
        smeta.edit();
        v = v == 2 ? 3 : 2;
        smeta.setFieldValue("KOLVO", Value::real(v));
        smeta.post();  // as the grid posts a typed cell
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(Form2->document().baseIndex()->total.current.total);
    }
    Form2->Totals->hide();
    Form2->document().close();
}
void BM_WindowBaseIndexQuantityTyped(benchmark::State& state) { windowQuantityTyped(state, 0); }
void BM_WindowBaseIndexQuantityTypedByPositions(benchmark::State& state) { windowQuantityTyped(state, 1); }
BENCHMARK(BM_WindowBaseIndexQuantityTyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowBaseIndexQuantityTypedByPositions)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    QDir::setCurrent(QString::fromStdString(fs::temp_directory_path().string()));
    benchmark::Initialize(&argc, argv);
    estimateDir();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    destroyWindows();
    fs::remove_all(benchDir());
    return 0;
}
