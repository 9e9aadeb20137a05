// The expertise file (.gge) of a 10 000-position estimate (7 500 rates with НР/СП, every eleventh
// with a coefficient, each third material following its rate, the rest positions of their own):
// planned from the computed result, streamed through libxml2's text writer, checked against the
// shipped schema and put in place — the whole export, goal at most 1 s; and its parts.
// Run by hand: ./GgeBench
#include "export/GgePlan.h"
#include "export/GgeSchema.h"
#include "export/GgeWrite.h"
#include "model/BaseIndex.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace talvira;

constexpr int kPositions = 10000;

struct Big {
    std::vector<model::PositionRow> rows;
    std::vector<model::PositionData> data;
    model::EstimateParams params;
    model::BaseIndexResult result;
    std::vector<std::string> titles;
    gge::GgeInput input() const {
        gge::GgeFacts facts;
        facts.guid = "{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}";
        facts.exportDateTime = "2025-08-18T11:19:01+03:00";
        return {rows, params, result, facts, titles};
    }
};

const Big& big() {
    static const Big b = [] {
        Big s;
        s.params.method = model::Method::BaseIndex;
        s.params.indexOt = Dec7::parse("52.21");
        s.params.indexEm = Dec7::parse("16.64");
        s.params.indexM = Dec7::parse("8.49");
        s.params.letter = "Письмо Минстроя России от 11.06.2025 № 33852-ИФ/09";
        s.params.region = "Московская область";
        s.params.level = "II кв. 2025";
        s.params.baseLevel = "01.01.2000";
        s.params.gge.norms = "Приказ Минстроя России от 26.12.2019 № 876/пр";
        s.params.gge.normsDate = "21.12.2021";
        s.params.gge.normsNum = "395";
        s.params.gge.regionCode = "50";
        const char* rowsOf[] = {"011.0", "008.0", "049.3", "001.1", "091.0"};
        int32_t rate = 0;
        for (int i = 0; i < kPositions; ++i) {
            const bool material = i % 4 == 2;
            model::PositionRow r;
            r.count = i + 1;
            r.code = material ? "ФССЦ-01.1.01-" + std::to_string(i) : (i % 3 ? "ФЕР11-01-" : "ФЕРм08-02-") + std::to_string(i);
            r.name = material ? "Смеси бетонные тяжелого бетона (БСТ), класс В22,5 (М300)"
                              : "Устройство стяжек цементных толщиной 20 мм, на каждые 5 мм изменения толщины добавлять";
            r.unit = material ? "м3" : "100 м2";
            r.quantity = 1 + i % 13;
            if (material) {
                r.cost = r.materials = 12.34 + i % 50;
            } else {
                r.cost = 100.25 + i % 300;
                r.baseWages = 20.5 + i % 100;
                r.materials = 3.75;
                r.machines = 7.125 + i % 10;
                r.machineWages = 1.5 + i % 5;
                r.labour = 0.25;
            }
            model::PositionData e;
            e.count = r.count;
            e.code = r.code;
            if (material) {
                if (i % 8 == 2) e.parent = rate;
                e.perUnit = Dec7::parse("1.02");
            } else {
                rate = r.count;
                e.nrRow = e.spRow = rowsOf[i % 5];
                if (i % 11 == 0) e.coefficients = {{Dec7::parse("1.15"), model::OT | model::ZT, "421/пр прил. 10 т. 1 п. 4"}};
            }
            s.rows.push_back(r);
            s.data.push_back(e);
        }
        s.result = model::computeBaseIndex(s.rows, s.data, s.params, model::nrSpTables());
        s.titles.assign(s.result.positions.size(), "Полы");
        return s;
    }();
    return b;
}

void BM_GgeWholeExport(benchmark::State& state) {
    const Big& b = big();
    const fs::path out = fs::temp_directory_path() / ("talvira-gge-bench-" + std::to_string(::getpid()) + ".gge");
    for (auto _ : state) {
        const fs::path written = gge::writeGge(gge::planGge(b.input()), out, false);
        benchmark::DoNotOptimize(written);
    }
    state.counters["bytes"] = double(fs::file_size(out));
    fs::remove(out);
}
BENCHMARK(BM_GgeWholeExport)->Unit(benchmark::kMillisecond);

void BM_GgePlan(benchmark::State& state) {
    const Big& b = big();
    for (auto _ : state) benchmark::DoNotOptimize(gge::planGge(b.input()));
}
BENCHMARK(BM_GgePlan)->Unit(benchmark::kMillisecond);

void BM_GgeRender(benchmark::State& state) {
    const gge::GgePlan plan = gge::planGge(big().input());
    for (auto _ : state) benchmark::DoNotOptimize(gge::renderGge(plan));
}
BENCHMARK(BM_GgeRender)->Unit(benchmark::kMillisecond);

void BM_GgeValidate(benchmark::State& state) {
    const std::string bytes = gge::renderGge(gge::planGge(big().input()));
    if (const std::string v = exporting::schemaViolation(exporting::kBaseIndexSchema, bytes); !v.empty()) {
        state.SkipWithError(v.c_str());
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(exporting::schemaViolation(exporting::kBaseIndexSchema, bytes));
}
BENCHMARK(BM_GgeValidate)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
