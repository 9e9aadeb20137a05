// A construction of 200 linked local estimates of 1 000 positions each (by the base-index method,
// rates and materials of their own, with names): opened with all totals when no estimate changed
// since it was last opened, when all changed, and when one changed; and one changed estimate
// brought into an open construction. Run by hand: ./SummaryBench
#include "editing/KeptCalc.h"
#include "editing/SummaryDocument.h"
#include "editing/SummaryFile.h"
#include "estimate/EstimateFile.h"
#include "storage/TableHandle.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace talvira;
using storage::TableHandle;
using storage::Value;

constexpr int kEstimates = 200;
constexpr int kPositions = 1000;

fs::path benchDir() {
    static const fs::path dir = fs::temp_directory_path() / ("talvira-ssr-bench-" + std::to_string(::getpid()));
    return dir;
}

fs::path summaryFile() { return benchDir() / "Стройка.ssr"; }

fs::path estimateFile(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "ЛСР %03d.db", i);
    return benchDir() / "Сметы" / name;
}

/** One estimate of kPositions positions: rates of three books, materials of their own. */
void makeSample(const fs::path& dir) {
    TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), "Образец");
    estimate::createAndOpen(smeta);
    editing::KeptCalc s;
    s.params.method = model::Method::BaseIndex;
    s.params.indexOt = Dec7::parse("52.21");
    s.params.indexEm = Dec7::parse("16.64");
    s.params.indexM = Dec7::parse("8.49");
    s.params.indexEq = Dec7::parse("5.12");
    const char* rows[] = {"011.0", "008.0", "049.3", "001.1", "091.0"};
    const char* books[] = {"ФЕР11-01-", "ФЕРм08-02-", "ФЕРп01-05-"};
    for (int i = 0; i < kPositions; ++i) {
        const bool material = i % 4 == 2;
        const std::string code =
            material ? "ФССЦ-01.1.01-" + std::to_string(i) : books[i % 3] + std::to_string(100 + i % 900) + "-01";
        smeta.append();
        smeta.setFieldValue("TAB", Value::string(code));
        smeta.setFieldValue("NAME", Value::string("Устройство конструкций по позиции " + std::to_string(i) +
                                                  " с прокладкой и креплением"));
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
        model::PositionData& e = s.entry(static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger()));
        e.code = code;
        if (material) {
            if (i % 8 == 2) e.workType = model::WorkType::Equipment;
        } else {
            e.nrRow = e.spRow = rows[i % 5];
        }
    }
    const fs::path table = smeta.tablePath();
    smeta.close();
    editing::saveKeptCalc(table, s);
}

/** The files of every estimate, all as written an hour ago plus `seconds`. */
void setTimes(int first, int last, int seconds) {
    const auto at = fs::file_time_type::clock::now() - std::chrono::hours(1) + std::chrono::seconds(seconds);
    for (int i = first; i < last; ++i) {
        fs::path f = estimateFile(i);
        fs::last_write_time(f, at);
        fs::last_write_time(f.replace_extension(".calc"), at);
    }
}

/** 200 copies of the sample, linked as 20 objects of 10 estimates in chapters 2–7, then opened
 *  once so that every stamp is kept. */
void makeConstruction() {
    const fs::path dir = benchDir();
    fs::remove_all(dir);
    fs::create_directories(dir / "Сметы");
    makeSample(dir);
    for (int i = 0; i < kEstimates; ++i)
        for (const fs::directory_entry& from : fs::directory_iterator(dir))
            if (from.is_regular_file() && from.path().stem() == "Образец") {
                fs::path to = estimateFile(i);
                to.replace_extension(from.path().extension());
                fs::copy_file(from.path(), to);
            }
    setTimes(0, kEstimates, 0);
    model::Construction c;
    c.name = "Стройка";
    c.level = "I кв. 2026";
    for (int o = 0; o < kEstimates / 10; ++o) {
        char number[16];
        std::snprintf(number, sizeof number, "%02d-%02d", 2 + o % 6, 1 + o / 6);
        model::SummaryLine object = model::SummaryLine::object(number, "Объект " + std::to_string(o));
        for (int i = o * 10; i < o * 10 + 10; ++i) {
            model::LinkedEstimate e;
            e.file = editing::linkOf(estimateFile(i), summaryFile());
            object.estimates.push_back(e);
        }
        c.chapter(2 + o % 6).push_back(object);
    }
    editing::saveSummary(summaryFile(), c);
    editing::SummaryDocument doc(model::nrSpTables());
    doc.open(summaryFile());  // every estimate read and its stamp kept
}

void BM_OpenedNoneChanged(benchmark::State& state) {
    for (auto _ : state) {
        editing::SummaryDocument doc(model::nrSpTables());
        doc.open(summaryFile());
        benchmark::DoNotOptimize(doc.result().total.total());
        if (!doc.notices().empty()) state.SkipWithError("an estimate was read again");
    }
}
BENCHMARK(BM_OpenedNoneChanged)->Unit(benchmark::kMillisecond);

void BM_OpenedAllChanged(benchmark::State& state) {
    int seconds = 1;
    for (auto _ : state) {
        state.PauseTiming();
        setTimes(0, kEstimates, seconds++);
        state.ResumeTiming();
        editing::SummaryDocument doc(model::nrSpTables());
        doc.open(summaryFile());
        benchmark::DoNotOptimize(doc.result().total.total());
    }
}
BENCHMARK(BM_OpenedAllChanged)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenedOneChanged(benchmark::State& state) {
    int seconds = 1000;
    for (auto _ : state) {
        state.PauseTiming();
        setTimes(kEstimates / 2, kEstimates / 2 + 1, seconds++);
        state.ResumeTiming();
        editing::SummaryDocument doc(model::nrSpTables());
        doc.open(summaryFile());
        benchmark::DoNotOptimize(doc.result().total.total());
    }
}
BENCHMARK(BM_OpenedOneChanged)->Unit(benchmark::kMillisecond);

void BM_OneChangedBroughtIntoTheOpenConstruction(benchmark::State& state) {
    editing::SummaryDocument doc(model::nrSpTables());
    doc.open(summaryFile());
    int seconds = 2000;
    for (auto _ : state) {
        state.PauseTiming();
        setTimes(7, 8, seconds++);
        state.ResumeTiming();
        doc.refresh();
        benchmark::DoNotOptimize(doc.result().total.total());
    }
}
BENCHMARK(BM_OneChangedBroughtIntoTheOpenConstruction)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    makeConstruction();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
