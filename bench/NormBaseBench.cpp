// The norm base under load: opening the nine linked handles, one move of the rate handle with
// everything below following, and walking every rate of a contents entry with its lines.
// Run on a large base: TALVIRA_LARGE_BASE=DIR (made by `talvira-cli mkbase DIR --scale large`).
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using talvira::normbase::NormBase;
namespace fld = talvira::normbase::fld;

namespace {

const char* baseDir() { return std::getenv("TALVIRA_LARGE_BASE"); }

long rssKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/** RssAnon (heap and the like) or RssFile (mapped files) of /proc/self/status, in KB. */
long rssPartKb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string name;
    long kb = 0;
    while (status >> name) {
        if (name == key + ":") {
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

/** Walks to the contents entry with the most rates among the first `limit` entries. */
void gotoBusiestEntry(NormBase& nb, int limit = 200) {
    int bestCollection = 0, bestEntry = 0, bestRates = -1, seen = 0;
    for (nb.Table7.first(); !nb.Table7.eof() && seen < limit; nb.Table7.next())
        for (nb.Table6.first(); !nb.Table6.eof() && seen < limit; nb.Table6.next(), ++seen)
            if (nb.Table2.recordCount() > bestRates) {
                bestRates = nb.Table2.recordCount();
                bestCollection = nb.Table7.recNo();
                bestEntry = nb.Table6.recNo();
            }
    nb.Table7.moveTo(bestCollection);
    nb.Table6.moveTo(bestEntry);
}

std::unique_ptr<NormBase> openBase(benchmark::State& state) {
    if (!baseDir()) {
        state.SkipWithError("TALVIRA_LARGE_BASE is not set");
        return nullptr;
    }
    auto nb = std::make_unique<NormBase>();
    nb->setDirectory(baseDir());
    nb->openAll();
    return nb;
}

void BM_OpenNineHandles(benchmark::State& state) {
    if (!baseDir()) {
        state.SkipWithError("TALVIRA_LARGE_BASE is not set");
        return;
    }
    long growth = 0, anon = 0, file = 0;
    for (auto _ : state) {
        const long before = rssKb(), anonBefore = rssPartKb("RssAnon"), fileBefore = rssPartKb("RssFile");
        NormBase nb;
        nb.setDirectory(baseDir());
        nb.openAll();
        growth = rssKb() - before;
        anon = rssPartKb("RssAnon") - anonBefore;
        file = rssPartKb("RssFile") - fileBefore;
        benchmark::DoNotOptimize(nb.Table2.recordCount());
        nb.closeAll();
    }
    state.counters["rss_growth_kb"] = double(growth);
    state.counters["rss_anon_kb"] = double(anon);
    state.counters["rss_file_kb"] = double(file);
}
BENCHMARK(BM_OpenNineHandles)->Unit(benchmark::kMillisecond);

void BM_MoveRateWithDetails(benchmark::State& state) {
    auto nb = openBase(state);
    if (!nb) return;
    gotoBusiestEntry(*nb);
    state.counters["rates_in_entry"] = nb->Table2.recordCount();
    for (auto _ : state) {
        nb->Table2.next();
        if (nb->Table2.eof()) nb->Table2.first();
        benchmark::DoNotOptimize(nb->Table9.fieldValue(fld::NAME));
    }
}
BENCHMARK(BM_MoveRateWithDetails)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_MoveCollectionWithDetails(benchmark::State& state) {
    auto nb = openBase(state);
    if (!nb) return;
    for (auto _ : state) {
        nb->Table7.next();
        if (nb->Table7.eof()) nb->Table7.first();
        benchmark::DoNotOptimize(nb->Table9.fieldValue(fld::NAME));
    }
}
BENCHMARK(BM_MoveCollectionWithDetails)->Unit(benchmark::kMicrosecond);

void BM_WalkRatesOfEntry(benchmark::State& state) {
    auto nb = openBase(state);
    if (!nb) return;
    gotoBusiestEntry(*nb);
    int64_t lines = 0;
    for (auto _ : state) {
        double sum = 0;
        for (nb->Table2.first(); !nb->Table2.eof(); nb->Table2.next()) {
            sum += nb->Table2.fieldAsFloat(fld::BA);
            for (nb->Table3.first(); !nb->Table3.eof(); nb->Table3.next()) {
                sum += nb->Table3.fieldAsFloat(fld::KOLL) * nb->Table4.fieldAsFloat(fld::BB);
                benchmark::DoNotOptimize(nb->Table5.fieldValue(fld::NAME));
                ++lines;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["rates"] = nb->Table2.recordCount();
    state.counters["lines_per_s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WalkRatesOfEntry)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
