// The workbook export of big estimates: the walk, the cells laid over the template, the
// formulas evaluated and the file written. Run by hand:
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

fs::path templatePath() {
    if (const char* p = std::getenv("TALVIRA_FIXTURES")) return fs::path(p) / "templates" / "1.xls";
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "shared" / "fixtures" /
           "templates" / "1.xls";
}

/** An estimate of `n` positions generated on the fly (17 fields, place 0 = COUNT). */
class GeneratedEstimate : public talvira::xls::PositionReader {
public:
    explicit GeneratedEstimate(int n) : n_(n) {}
    void disableControls() override {}
    void enableControls() override {}
    void rememberPosition() override { mark_ = i_; }
    void returnToPosition() override { i_ = mark_; }
    void first() override { i_ = 0; }
    bool eof() const override { return i_ >= n_; }
    void next() override { ++i_; }
    int fieldCount() const override { return 17; }
    std::string fieldText(int place) const override {
        switch (place) {
        case 1: return "ТЕР01-01-" + std::to_string(1000 + i_ % 9000);
        case 2: return "Разработка грунта в отвал экскаваторами, группа грунтов " + std::to_string(i_ % 500);
        default: return "1000 м3";
        }
    }
    double fieldNumber(int place) const override { return 1.25 * place + (i_ % 100) * 0.5; }

private:
    int n_;
    int i_ = 0, mark_ = 0;
};

long peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void Export(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const fs::path out = fs::temp_directory_path() / ("talvira-bench-" + std::to_string(::getpid()) + ".xls");
    bool failed = false;
    for (auto _ : state) {
        GeneratedEstimate table(n);
        try {
            talvira::xls::exportEstimateToFile(table, talvira::xls::EstimateTexts::defaults(','), templatePath().string(), out, ',', {}, false);
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
