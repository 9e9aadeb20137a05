// Undo in the estimate window on disk: clearing an estimate of N positions (2 000 and 10 000)
// against undoing that clearing and against undoing one changed cell, which rewrites the whole
// table beside the old one as well. Run by hand: ./UndoBench
#include "editing/EstimateCommands.h"
#include "editing/EstimateHistory.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "storage/TableFile.h"
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

struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("talvira-undo-bench-" + std::to_string(::getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

void fill(TableHandle& smeta, int n) {
    storage::ControlsSuspended s(smeta);
    for (int i = 0; i < n; ++i) {
        smeta.append();
        smeta.setFieldValue(estimate::fld::TAB, Value::string("01-01-" + std::to_string(i)));
        smeta.setFieldValue(estimate::fld::NAME, Value::string("Разработка грунта экскаваторами, позиция " + std::to_string(i)));
        smeta.setFieldValue(estimate::fld::KOLVO, Value::real(i * 0.5));
        smeta.setFieldValue(estimate::fld::STOIM, Value::real(100 + i));
        smeta.post();
    }
}

/** A new estimate "Дом" of `n` positions in a scratch directory, open. */
struct FilledEstimate {
    Scratch scratch;
    TableHandle smeta{"SmetaTable"};
    explicit FilledEstimate(int n) {
        estimate::bindEstimate(smeta, scratch.dir.string(), "Дом");
        estimate::createAndOpen(smeta);
        fill(smeta, n);
    }
};

/** Times `undo` of what `history` holds, redoing it between runs outside the timing. */
void undoRedo(benchmark::State& state, editing::EstimateHistory& history) {
    for (auto _ : state) {
        history.undo();
        state.PauseTiming();
        history.redo();
        state.ResumeTiming();
    }
}

/** Clearing alone (the new empty table put in place), for comparison. */
void BM_Clear(benchmark::State& state) {
    FilledEstimate e(int(state.range(0)));
    TableHandle& smeta = e.smeta;
    const auto all = editing::readAllRecords(smeta);
    const auto fields = smeta.file()->fields();
    for (auto _ : state) {
        editing::clearEstimate(smeta);
        state.PauseTiming();
        smeta.close();
        editing::replacingWriter()(e.scratch.dir, "Дом.db", fields, all);
        smeta.open();
        state.ResumeTiming();
    }
}

/** Undo of a clearing: every position written back, numbers and texts included. */
void BM_UndoClear(benchmark::State& state) {
    FilledEstimate e(int(state.range(0)));
    TableHandle& smeta = e.smeta;
    editing::EstimateHistory h(smeta);
    h.clear();
    undoRedo(state, h);
}

/** Undo of one stored cell: the table is rebuilt whole as well. */
void BM_UndoChange(benchmark::State& state) {
    FilledEstimate e(int(state.range(0)));
    TableHandle& smeta = e.smeta;
    editing::EstimateHistory h(smeta);
    smeta.moveTo(int(state.range(0)) / 2);
    smeta.edit();
    smeta.setFieldValue(estimate::fld::KOLVO, Value::real(7));
    smeta.post();
    undoRedo(state, h);
}

}  // namespace

BENCHMARK(BM_Clear)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoClear)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoChange)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
