// The workbook export of big estimates: the cells laid over the template, the formulas
// evaluated and the file written (the positions are given, as the walk gives them). Run by hand:
//   ExportBench --benchmark_filter=Export/10000
// The official form (.xlsx) of an estimate by the base-index method: the computation and the
// form written, and the peak memory above the estimate held in memory:
//   ExportBench --benchmark_filter=LsrForm/10000
// and its plan alone (the lines, cells and formulas, no file):
//   ExportBench --benchmark_filter=LsrPlan/10000
// A sheet holds 65 536 rows, so 65 508 positions is the most an estimate can have in a
// workbook; 100 000 positions end in the error that says so (measured up to that point).
#include "common/Error.h"
#include "model/BaseIndex.h"
#include "export/EstimateExport.h"
#include "export/LsrForm.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
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

/** The resident memory now, in MB. */
double rssMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

/** `n` positions by the base-index method: rates with НР/СП rows and coefficients, every third
 *  followed by a priced material and every tenth by one still without a price. */
struct BaseIndexEstimate {
    std::vector<talvira::model::PositionRow> rows;
    std::vector<talvira::model::PositionData> extras;
    talvira::model::EstimateParams params;
};
BaseIndexEstimate generatedBaseIndex(int n) {
    namespace m = talvira::model;
    BaseIndexEstimate e;
    e.params.method = m::Method::BaseIndex;
    e.params.indexOt = talvira::Dec7::fromUnits(522'100'000);
    e.params.indexEm = talvira::Dec7::fromUnits(166'400'000);
    e.params.indexM = talvira::Dec7::fromUnits(84'900'000);
    int32_t count = 0;
    for (int i = 0; i < n; ++i) {
        m::PositionRow r;
        r.count = ++count;
        r.code = (i % 7 == 0 ? "ФЕРм08-02-" : "ФЕР08-01-") + std::to_string(100 + i % 900) + "-01";
        r.name = "Устройство из бутового камня фундаментов: ленточных, вариант " + std::to_string(i % 500);
        r.unit = "м3";
        const double step = (i % 100) * 0.01;
        r.quantity = 1.5 + step;
        r.baseWages = 32.74 + step;
        r.machines = 10.46 + step;
        r.machineWages = 1.74;
        r.materials = 215.19 + step;
        r.cost = r.baseWages + r.machines + r.materials;
        r.labour = 3.94;
        e.rows.push_back(r);
        m::PositionData x;
        x.count = r.count;
        x.nrRow = x.spRow = "008.0";
        x.machinistLabour = talvira::Dec7::fromUnits(1'500'000);
        if (i % 5 == 0) x.coefficients.push_back({talvira::Dec7::fromUnits(12'000'000), m::EM | m::OTM | m::ZTM, "прил. 10"});
        e.extras.push_back(x);
        if (i % 3 == 0 || i % 10 == 0) {
            m::PositionRow mat;
            mat.count = ++count;
            mat.code = "04.1.02.05-0006";
            mat.name = "Смеси бетонные тяжелого бетона";
            mat.unit = "м3";
            mat.quantity = 1.02 * r.quantity;
            mat.cost = mat.materials = i % 3 == 0 ? 512.37 : 0;
            e.rows.push_back(mat);
            m::PositionData mx;
            mx.count = mat.count;
            mx.parent = r.count;
            mx.perUnit = talvira::Dec7::fromUnits(10'200'000);
            e.extras.push_back(mx);
        }
    }
    return e;
}

void LsrForm(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const fs::path out = fs::temp_directory_path() / ("talvira-bench-" + std::to_string(::getpid()) + ".xlsx");
    const BaseIndexEstimate e = generatedBaseIndex(n);
    const talvira::model::EstimateTexts texts = talvira::model::EstimateTexts::defaults(',');
    const double before = rssMb();
    double peak = 0;
    for (auto _ : state) {
        const talvira::model::BaseIndexResult result =
            talvira::model::computeBaseIndex(e.rows, e.extras, e.params, talvira::model::nrSpTables());
        std::vector<std::string> titles(result.positions.size(), "Конструкции из кирпича и блоков");
        talvira::lsr::FormInput in{e.rows, texts, e.params, result, {}, titles};
        in.facts.program = "Тальвира 1.0";
        talvira::lsr::writeLsrWorkbook(in, out);
        peak = std::max(peak, rssMb());
    }
    std::error_code ec;
    state.counters["file_kb"] = static_cast<double>(fs::file_size(out, ec)) / 1024;
    state.counters["rss_above_estimate_mb"] = peak - before;
    state.counters["peak_rss_mb"] = static_cast<double>(peakRssMb());
    state.SetItemsProcessed(state.iterations() * n);
    fs::remove(out, ec);
}

BENCHMARK(LsrForm)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void LsrPlan(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const BaseIndexEstimate e = generatedBaseIndex(n);
    const talvira::model::EstimateTexts texts = talvira::model::EstimateTexts::defaults(',');
    const talvira::model::BaseIndexResult result =
        talvira::model::computeBaseIndex(e.rows, e.extras, e.params, talvira::model::nrSpTables());
    const std::vector<std::string> titles(result.positions.size(), "Конструкции из кирпича и блоков");
    const talvira::lsr::FormInput in{e.rows, texts, e.params, result, {}, titles};
    size_t lines = 0;
    for (auto _ : state) lines = talvira::lsr::planLsr(in).lines().size();
    state.counters["lines"] = static_cast<double>(lines);
    state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(LsrPlan)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
