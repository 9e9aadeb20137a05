// The Add command on disk: a rate with 40 unaccounted resource lines added to an estimate that
// already holds N positions (0 and 10 000). Every position is on disk when the command returns
// (each post is written through). Run by hand: ./EstimateBench
#include "estimate/AddPositions.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"
#include "tools/demobase/DemoBase.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace talvira;
using storage::Record;
using storage::TableHandle;
using storage::Value;

constexpr int kLines = 40;

/** A norm base with one rate (ID 1) whose 40 resource lines are all unaccounted, every table
 *  with its full field list. */
void writeBase(const fs::path& base) {
    namespace f = normbase::fld;
    using demobase::demoRecord;
    using demobase::DemoTable;
    fs::create_directories(base);
    std::vector<Record> rates, names, lines;
    rates.push_back(demoRecord(DemoTable::Rabmat, {{f::ID, Value::integer(1)}, {f::IDOGL, Value::integer(1)},
                                                   {f::IDNAME, Value::integer(1)}, {f::IDEDIZM, Value::integer(1)},
                                                   {f::TAB, Value::string("06-01-041-01")}, {f::BA, Value::real(16682.71)},
                                                   {f::BB, Value::real(3211.27)}, {f::BC, Value::real(2998.16)},
                                                   {f::BD, Value::real(330.08)}, {f::BE, Value::real(10473.28)},
                                                   {f::BG, Value::real(1135.4)}}));
    names.push_back(demoRecord(DemoTable::Name, {{f::ID, Value::integer(1)}, {f::NAME, Value::string(std::string(300, 'x'))}}));
    for (int i = 0; i < kLines; ++i) {
        const int id = 100 + i;
        rates.push_back(demoRecord(DemoTable::Rabmat, {{f::ID, Value::integer(id)}, {f::IDNAME, Value::integer(id)},
                                                       {f::IDEDIZM, Value::integer(1)},
                                                       {f::TAB, Value::string("401-" + std::to_string(id))},
                                                       {f::BA, Value::real(500 + i)}, {f::BB, Value::real(500 + i)}}));
        names.push_back(demoRecord(DemoTable::Name, {{f::ID, Value::integer(id)}, {f::NAME, Value::string("Материал " + std::to_string(id))}}));
        lines.push_back(demoRecord(DemoTable::Resurs, {{f::ID, Value::integer(1000 + i)}, {f::IDRAB, Value::integer(1)},
                                                       {f::IDRES_RABMAT, Value::integer(id)}, {f::KOLL, Value::real(0.5 + i)},
                                                       {f::VIDNR, Value::integer(1)}}));
    }
    const std::string dir = base.string();
    demobase::writeDemoTable(dir, DemoTable::Reestr, {demoRecord(DemoTable::Reestr, {{f::ID, Value::integer(1)}, {f::NAME, Value::string("Сборник")}})});
    demobase::writeDemoTable(dir, DemoTable::Ogl, {demoRecord(DemoTable::Ogl, {{f::ID, Value::integer(1)}, {f::IDREESTR, Value::integer(1)},
                                                                              {f::NAME, Value::string("Таблица")}})});
    demobase::writeDemoTable(dir, DemoTable::Rabmat, rates);
    demobase::writeDemoTable(dir, DemoTable::Resurs, lines);
    demobase::writeDemoTable(dir, DemoTable::Name, names);
    demobase::writeDemoTable(dir, DemoTable::Edizm, {demoRecord(DemoTable::Edizm, {{f::ID, Value::integer(1)}, {f::NAME, Value::string("100 м3")}})});
}

struct Bench {
    fs::path dir;
    normbase::NormBase nb;
    TableHandle smeta{"SmetaTable"};

    explicit Bench(int positions) {
        dir = fs::temp_directory_path() / ("talvira-estimate-bench-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        const fs::path base = normbase::baseDirectory(dir.string());
        writeBase(base);
        const std::string smeti = estimate::estimatesDirectory(dir.string());
        fs::create_directories(smeti);
        {
            TableHandle t("new");
            estimate::bindEstimate(t, smeti, "Дом");
            t.createTable();
        }
        {
            auto f = storage::openParadoxTable(estimate::estimatePath(smeti, "Дом"), storage::OpenMode::ReadWrite);
            for (int i = 0; i < positions; ++i) {
                Record r(19);
                r[1] = Value::string("T" + std::to_string(i));
                r[2] = Value::string("Позиция " + std::to_string(i));
                r[4] = Value::real(i);
                r[5] = Value::real(100.0 + i);
                f->append(r);
            }
        }
        nb.setDirectory(base.string());
        nb.openAll();  // on the one collection, entry and rate
        estimate::bindForOpening(smeta, smeti, "Дом.db");
        smeta.open();
    }
    ~Bench() {
        smeta.close();
        nb.closeAll();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

void BM_AddRateWith40UnaccountedLines(benchmark::State& state) {
    Bench b(static_cast<int>(state.range(0)));
    const int before = b.smeta.recordCount();
    for (auto _ : state) {
        estimate::addPositions(b.nb, b.smeta);
    }
    const int added = b.smeta.recordCount() - before;
    b.smeta.close();
    // Everything the commands appended is in the file.
    auto f = storage::openParadoxTable(estimate::estimatePath(estimate::estimatesDirectory(b.dir.string()), "Дом"),
                                       storage::OpenMode::ReadOnly);
    if (int(f->recordCount()) != before + added || added != int(state.iterations()) * (kLines + 1))
        state.SkipWithError("positions missing on disk");
    state.counters["positions_per_add"] = kLines + 1;
}
BENCHMARK(BM_AddRateWith40UnaccountedLines)->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
