// The local estimate by the base-index method on an estimate of 10 000 positions on disk (7 500
// rates, each third with two materials following it, and positions of their own): computed from
// scratch (rows in memory), the totals follower started (every position read and computed), and
// one stored edit with the result following, beside the post alone. Run by hand: ./BaseIndexBench
#include "editing/EstimateRows.h"
#include "editing/KeptCalc.h"
#include "editing/TotalsFollower.h"
#include "estimate/EstimateFile.h"
#include "model/BaseIndex.h"
#include "storage/TableHandle.h"

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
    static const fs::path dir = fs::temp_directory_path() / ("talvira-421-bench-" + std::to_string(::getpid()));
    return dir;
}

/** The estimate and its calc data, made once. */
const editing::KeptCalc& bigEstimate() {
    static const editing::KeptCalc calc = [] {
        const fs::path d = benchDir();
        fs::remove_all(d);
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
            const int kind = i % 4;  // 0, 1: rates; 2: a material of the last rate or of its own; 3: a rate
            const bool material = kind == 2;
            const std::string code = material ? "ФССЦ-01.1.01-" + std::to_string(i)
                                              : (i % 3 ? "ФЕР11-01-" : "ФЕРм08-02-") + std::to_string(i);
            smeta.append();
            smeta.setFieldValue("TAB", Value::string(code));
            smeta.setFieldValue("KOLVO", Value::real(1 + i % 13));
            if (material) {
                smeta.setFieldValue("STOIM", Value::real(12.34 + i % 50));
                smeta.setFieldValue("MATER", Value::real(12.34 + i % 50));
            } else {
                smeta.setFieldValue("STOIM", Value::real(100.25 + i % 300));
                smeta.setFieldValue("OSNZP", Value::real(20.5 + i % 100));
                smeta.setFieldValue("MATER", Value::real(3.75));
                smeta.setFieldValue("EXPLMASH", Value::real(7.125 + i % 10));
                smeta.setFieldValue("ZPMASH", Value::real(1.5 + i % 5));
                smeta.setFieldValue("TRUD", Value::real(0.25));
            }
            smeta.post();
            const auto count = static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger());
            model::PositionData& e = s.entry(count);
            e.code = code;
            if (material) {
                if (i % 8 == 2) e.parent = rate;  // every other one follows its rate
                e.perUnit = Dec7::parse("1.02");
            } else {
                rate = count;
                e.nrRow = e.spRow = rows[i % 5];
                if (i % 11 == 0) e.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, ""}};
            }
        }
        editing::saveKeptCalc(smeta.tablePath(), s);
        return s;
    }();
    return calc;
}

void openEstimate(TableHandle& smeta) {
    estimate::bindForOpening(smeta, benchDir().string(), "Большая.db");
    smeta.open();
}

/** One rate's quantity changed and stored, in the middle of the estimate. */
void storeChange(TableHandle& smeta, double& v) {
    smeta.moveTo(kPositions / 2 + 1);
    smeta.edit();
    v = v == 2 ? 3 : 2;
    smeta.setFieldValue("KOLVO", Value::real(v));
    smeta.post();
}

void BM_ComputedFromScratch(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    const std::vector<model::PositionRow> rows = editing::readPositionRows(smeta);
    const editing::KeptCalc& calc = bigEstimate();
    for (auto _ : state) {
        const model::BaseIndexResult r = model::computeBaseIndex(rows, calc.positions, calc.params, model::nrSpTables());
        benchmark::DoNotOptimize(r.total.current.total);
    }
}
BENCHMARK(BM_ComputedFromScratch)->Unit(benchmark::kMillisecond);

void BM_FollowingStartsToFullResult(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    for (auto _ : state) {
        editing::TotalsFollower f(smeta, model::nrSpTables());
        f.setCalc(bigEstimate());
        f.setFollowing(true);
        benchmark::DoNotOptimize(f.baseIndex()->total.current.total);
    }
}
BENCHMARK(BM_FollowingStartsToFullResult)->Unit(benchmark::kMillisecond);

void BM_StoredChangeAlone(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    double v = 2;
    for (auto _ : state) storeChange(smeta, v);
}
BENCHMARK(BM_StoredChangeAlone)->Unit(benchmark::kMicrosecond);

void BM_StoredChangeToUpdatedResult(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    editing::TotalsFollower f(smeta, model::nrSpTables());
    f.setCalc(bigEstimate());
    f.setFollowing(true);
    double v = 2;
    for (auto _ : state) {
        storeChange(smeta, v);
        benchmark::DoNotOptimize(f.baseIndex()->total.current.total);
    }
}
BENCHMARK(BM_StoredChangeToUpdatedResult)->Unit(benchmark::kMicrosecond);

void BM_PositionDataChangedToUpdatedResult(benchmark::State& state) {
    TableHandle smeta("SmetaTable");
    openEstimate(smeta);
    editing::TotalsFollower f(smeta, model::nrSpTables());
    f.setCalc(bigEstimate());
    f.setFollowing(true);
    model::PositionData e = *f.calc().find(kPositions / 2 + 2);
    for (auto _ : state) {
        e.nrRow = e.nrRow == "011.0" ? "008.0" : "011.0";
        f.setPositionData(e);
        benchmark::DoNotOptimize(f.baseIndex()->total.current.total);
    }
}
BENCHMARK(BM_PositionDataChangedToUpdatedResult)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bigEstimate();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
