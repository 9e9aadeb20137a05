// The workbook export of big estimates: the cells laid over the template, the formulas
// evaluated and the file written (the positions are given, as the walk gives them). Run by hand:
//   ExportBench --benchmark_filter=Export/10000
// A sheet holds 65 536 rows, so 65 508 positions is the most an estimate can have in a
// workbook; 100 000 positions end in the error that says so (measured up to that point).
#include "common/Error.h"
#include "export/EstimateExport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

/** The LibreOffice-made template of the test data (TALVIRA_BENCH_TEMPLATE, set by the build). */
fs::path templatePath() { return TALVIRA_BENCH_TEMPLATE; }

/** An estimate of `n` positions, as the walk over the estimate table gives them. */
std::vector<talvira::model::PositionRow> generatedEstimate(int n) {
    std::vector<talvira::model::PositionRow> rows(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        talvira::model::PositionRow& r = rows[static_cast<size_t>(i)];
        r.code = "ТЕР01-01-" + std::to_string(1000 + i % 9000);
        r.name = "Разработка грунта в отвал экскаваторами, группа грунтов " + std::to_string(i % 500);
        r.unit = "1000 м3";
        const double step = (i % 100) * 0.5;
        r.quantity = 5 + step;
        r.cost = 6.25 + step;
        r.baseWages = 7.5 + step;
        r.materials = 8.75 + step;
        r.machines = 10 + step;
        r.machineWages = 11.25 + step;
        r.labour = 18.75 + step;
    }
    return rows;
}

long peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void Export(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const fs::path out = fs::temp_directory_path() / ("talvira-bench-" + std::to_string(::getpid()) + ".xls");
    bool failed = false;
    const std::vector<talvira::model::PositionRow> rows = generatedEstimate(n);
    for (auto _ : state) {
        try {
            talvira::xls::exportEstimateToFile(rows, talvira::model::EstimateTexts::defaults(','), templatePath().string(), out, ',', {}, false);
        } catch (const talvira::Error& e) {
            failed = true;
            state.SetLabel(e.what());
        }
    }
    std::error_code ec;
    state.counters["file_kb"] = failed ? 0 : static_cast<double>(fs::file_size(out, ec)) / 1024;
    state.counters["peak_rss_mb"] = static_cast<double>(peakRssMb());
    state.SetItemsProcessed(state.iterations() * n);
    fs::remove(out, ec);
}

BENCHMARK(Export)->Arg(1000)->Arg(10000)->Arg(30000)->Arg(60000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
