// Undo in the estimate window on disk, on estimates of 10 000 positions (and 2 000 for the
// clearing), the totals following: clearing against undoing it (the table replaced whole),
// undo and redo of one changed cell and of an Add, undo of a deleted position near the end and
// in the middle (records written one by one), and a stored edit with the totals and the undo
// menu following it beside the post alone. Run by hand: ./UndoBench
#include "editing/EstimateCommands.h"
#include "editing/EstimateHistory.h"
#include "editing/TotalsFollower.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
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

enum class Timed { Undo, Redo };

/** Times the undo (or the redo) of the step `history` holds, the other one outside the timing. */
void undoRedo(benchmark::State& state, editing::EstimateHistory& history, Timed timed = Timed::Undo) {
    for (auto _ : state) {
        if (timed == Timed::Redo) state.PauseTiming();
        history.undo();
        if (timed == Timed::Redo) state.ResumeTiming();
        else state.PauseTiming();
        history.redo();
        if (timed == Timed::Undo) state.ResumeTiming();
    }
}

/** The history of a filled estimate followed by the totals, as the estimate window has them. */
struct Followed {
    FilledEstimate e;
    editing::EstimateHistory history{e.smeta};
    editing::TotalsFollower totals{e.smeta, model::nrSpTables()};
    explicit Followed(int n) : e(n) { totals.setFollowing(true); }
};

/** Clearing alone (the new empty table put in place), for comparison. */
void BM_Clear(benchmark::State& state) {
    FilledEstimate e(int(state.range(0)));
    TableHandle& smeta = e.smeta;
    const auto all = smeta.storedRecords();
    const auto fields = smeta.tableFields();
    for (auto _ : state) {
        editing::clearEstimate(smeta);
        state.PauseTiming();
        smeta.replaceRecords(fields, all);
        state.ResumeTiming();
    }
}

/** Undo of a clearing: every position written back, numbers and texts included. */
void BM_UndoClear(benchmark::State& state) {
    Followed f(int(state.range(0)));
    f.history.clear();
    undoRedo(state, f.history);
}

/** Undo or redo of one stored cell in the middle: that record alone is written. */
void changeStep(benchmark::State& state, Timed timed) {
    Followed f(int(state.range(0)));
    f.e.smeta.moveTo(int(state.range(0)) / 2);
    f.e.smeta.edit();
    f.e.smeta.setFieldValue(estimate::fld::KOLVO, Value::real(7));
    f.e.smeta.post();
    undoRedo(state, f.history, timed);
}
void BM_UndoChange(benchmark::State& state) { changeStep(state, Timed::Undo); }
void BM_RedoChange(benchmark::State& state) { changeStep(state, Timed::Redo); }

/** Undo or redo of an Add of a rate with two unaccounted resources (three positions). */
void addStep(benchmark::State& state, Timed timed) {
    Followed f(int(state.range(0)));
    TableHandle& smeta = f.e.smeta;
    f.history.recordAppend([&] {
        for (int i = 0; i < 3; ++i) {
            smeta.append();
            smeta.setFieldValue(estimate::fld::TAB, Value::string("02-02-00" + std::to_string(i)));
            smeta.setFieldValue(estimate::fld::NAME, Value::string("Устройство кровель из рулонных материалов"));
            smeta.setFieldValue(estimate::fld::STOIM, Value::real(12.5 + i));
            smeta.post();
        }
    });
    undoRedo(state, f.history, timed);
}
void BM_UndoAdd(benchmark::State& state) { addStep(state, Timed::Undo); }
void BM_RedoAdd(benchmark::State& state) { addStep(state, Timed::Redo); }

/** Undo of a deleted position `fromEnd` places before the end (0: the middle). */
void deleteStep(benchmark::State& state, int fromEnd) {
    const int n = int(state.range(0));
    Followed f(n);
    f.e.smeta.moveTo(fromEnd > 0 ? n - fromEnd : n / 2);
    f.history.deleteCurrent();
    undoRedo(state, f.history);
}
void BM_UndoDeleteAmongLast100(benchmark::State& state) { deleteStep(state, 60); }
void BM_UndoDeleteInTheMiddle(benchmark::State& state) { deleteStep(state, 0); }

/** A stored edit of one cell with the totals and the undo menu following it (the post, the
 *  step recorded, the rows and sums updated, the menu's state asked), beside the post alone. */
void storedEdit(benchmark::State& state, bool followed) {
    const int n = int(state.range(0));
    Followed f(n);
    if (!followed) {
        f.totals.setFollowing(false);
        f.e.smeta.removeObserver(&f.history);
    }
    TableHandle& smeta = f.e.smeta;
    double v = 1;
    for (auto _ : state) {
        smeta.moveTo(n / 2);
        smeta.edit();
        v = v == 1 ? 2 : 1;
        smeta.setFieldValue(estimate::fld::KOLVO, Value::real(v));
        smeta.post();
        if (followed) benchmark::DoNotOptimize(f.history.pendingStep().has_value() || f.history.undoStep() != nullptr);
        benchmark::DoNotOptimize(f.totals.sums());
    }
}
void BM_StoredEditAlone(benchmark::State& state) { storedEdit(state, false); }
void BM_StoredEditFollowed(benchmark::State& state) { storedEdit(state, true); }

}  // namespace

BENCHMARK(BM_Clear)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoClear)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoChange)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedoChange)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoAdd)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedoAdd)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoDeleteAmongLast100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoDeleteInTheMiddle)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoredEditAlone)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoredEditFollowed)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
