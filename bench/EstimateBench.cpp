// The Add command on disk: a rate with 40 unaccounted resource lines added to an estimate that
// already holds N positions (0 and 10 000). Every position is on disk when the command returns
// (each post is written through). Run by hand: ./EstimateBench
#include "estimate/AddPositions.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "tools/demobase/ParadoxIndexWriter.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace talvira;
using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::TableHandle;
using storage::Value;

constexpr int kLines = 40;

/** A norm base with one rate (ID 1) whose 40 resource lines are all unaccounted. */
void writeBase(const fs::path& base) {
    fs::create_directories(base);
    const auto table = [&](const char* name, std::vector<FieldDef> fields, std::vector<Record> recs) {
        const std::string path = (base / name).string();
        storage::createParadoxTable(path, fields);
        {
            auto t = storage::openParadoxTable(path, storage::OpenMode::ReadWrite);
            for (auto& r : recs) t->append(r);
        }
        demobase::writePrimaryIndex(path, 1);
        return path;
    };
    std::vector<Record> rates, names, units, lines;
    rates.push_back({Value::integer(1), Value::integer(1), Value::integer(1), Value::string("06-01-041-01"),
                     Value::real(16682.71), Value::real(3211.27), Value::real(2998.16), Value::real(330.08),
                     Value::real(10473.28), Value::real(1135.4)});
    names.push_back({Value::integer(1), Value::string(std::string(300, 'x'))});
    units.push_back({Value::integer(1), Value::string("100 м3")});
    for (int i = 0; i < kLines; ++i) {
        const int id = 100 + i;
        rates.push_back({Value::integer(id), Value::integer(id), Value::integer(1), Value::string("401-" + std::to_string(id)),
                         Value::real(500 + i), Value::real(500 + i), {}, {}, {}, {}});
        names.push_back({Value::integer(id), Value::string("Материал " + std::to_string(id))});
        lines.push_back({Value::integer(1000 + i), Value::integer(1), Value::integer(id), Value::real(0.5 + i),
                         Value::integer(1)});
    }
    table("RABMAT.DB",
          {{"ID", FieldType::Long, 0}, {"IDNAME", FieldType::Long, 0}, {"IDEDIZM", FieldType::Long, 0},
           {"TAB", FieldType::Alpha, 50}, {"BA", FieldType::Number, 0}, {"BB", FieldType::Number, 0},
           {"BC", FieldType::Number, 0}, {"BD", FieldType::Number, 0}, {"BE", FieldType::Number, 0},
           {"BG", FieldType::Number, 0}},
          rates);
    table("000_NAME.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Memo, 40}}, names);
    table("000_EDIZM.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 60}}, units);
    const std::string resurs = table("RESURS.DB",
                                     {{"ID", FieldType::Long, 0}, {"IDRAB", FieldType::Long, 0},
                                      {"IDRES_RABMAT", FieldType::Long, 0}, {"KOLL", FieldType::Number, 0},
                                      {"VIDNR", FieldType::Short, 0}},
                                     lines);
    demobase::writeSecondaryIndexes(resurs, {{"IDRAB", {"IDRAB"}, false}});
}

struct Bench {
    fs::path dir;
    TableHandle Table2{"Table2"}, Table1{"Table1"}, Table8{"Table8"}, Table3{"Table3"}, Table4{"Table4"},
        Table5{"Table5"}, Table9{"Table9"}, smeta{"SmetaTable"};

    explicit Bench(int positions) {
        dir = fs::temp_directory_path() / ("talvira-estimate-bench-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        const fs::path base = dir / "Base";
        writeBase(base);
        fs::create_directories(dir / "Smeti");
        const std::string smeti = (dir / "Smeti").string();
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
        for (auto* t : {&Table2, &Table1, &Table8, &Table3, &Table4, &Table5, &Table9}) t->setDatabaseName(base.string());
        Table2.setTableName("RABMAT.DB");
        Table1.setTableName("000_NAME");
        Table1.setIndexFieldNames("ID");
        Table1.setMasterSource(&Table2, "IDNAME");
        Table1.setReadOnly(true);
        Table8.setTableName("000_EDIZM.DB");
        Table8.setIndexFieldNames("ID");
        Table8.setMasterSource(&Table2, "IDEDIZM");
        Table3.setTableName("RESURS.DB");
        Table3.setIndexName("IDRAB");
        Table3.setMasterSource(&Table2, "ID");
        Table4.setTableName("RABMAT.DB");
        Table4.setIndexFieldNames("ID");
        Table4.setMasterSource(&Table3, "IDRES_RABMAT");
        Table5.setTableName("000_NAME.DB");
        Table5.setIndexFieldNames("ID");
        Table5.setMasterSource(&Table4, "IDNAME");
        Table9.setTableName("000_EDIZM.DB");
        Table9.setIndexFieldNames("ID");
        Table9.setMasterSource(&Table4, "IDEDIZM");
        for (auto* t : {&Table1, &Table2, &Table3, &Table4, &Table5, &Table8, &Table9}) t->open();
        Table2.first();
        estimate::bindForOpening(smeta, smeti, "Дом.db");
        smeta.open();
    }
    ~Bench() {
        for (auto* t : {&smeta, &Table9, &Table5, &Table4, &Table3, &Table8, &Table1, &Table2}) t->close();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

void BM_AddRateWith40UnaccountedLines(benchmark::State& state) {
    Bench b(static_cast<int>(state.range(0)));
    const int before = b.smeta.recordCount();
    for (auto _ : state) {
        estimate::addPositions(b.Table2, b.Table1, b.Table8, b.Table3, b.Table4, b.Table5, b.Table9, b.smeta);
    }
    const int added = b.smeta.recordCount() - before;
    b.smeta.close();
    // Everything the commands appended is in the file.
    auto f = storage::openParadoxTable(estimate::estimatePath((b.dir / "Smeti").string(), "Дом"),
                                       storage::OpenMode::ReadOnly);
    if (int(f->recordCount()) != before + added || added != int(state.iterations()) * (kLines + 1))
        state.SkipWithError("positions missing on disk");
    state.counters["positions_per_add"] = kLines + 1;
}
BENCHMARK(BM_AddRateWith40UnaccountedLines)->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
