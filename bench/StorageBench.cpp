// The file layer on a norm base: full scans of RABMAT.DB and RESURS.DB against reading the same
// files as `cat` does, and look-ups of the records of one key through the secondary indexes.
//
// A small base is written to a temporary folder on every run; a large one is measured when
// TALVIRA_LARGE_BASE names its folder (talvira-cli mkbase /tmp/large --scale large). Compare
// Scan with Cat of the same table (aim: within 3x), and the look-ups of the small base with those
// of the large one (aim: under 50 µs, independent of the table's size).
#include "tools/demobase/DemoBase.h"
#include "storage/TableFile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace talvira;
using namespace talvira::storage;

namespace {

uint64_t readLikeCat(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    static std::vector<char> buf(1 << 20);
    uint64_t total = 0;
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) total += uint64_t(n);
    ::close(fd);
    return total;
}

void Cat(benchmark::State& state, std::string path) {
    uint64_t bytes = 0;
    for (auto _ : state) bytes += readLikeCat(path);
    state.SetBytesProcessed(int64_t(bytes));
}

void Scan(benchmark::State& state, std::string path) {
    const int64_t size = int64_t(fs::file_size(path));
    for (auto _ : state) {
        auto t = openParadoxTable(path, OpenMode::ReadOnly);
        for (auto loc = t->first(); loc; loc = t->next(*loc)) {
            Record r = t->read(*loc);
            benchmark::DoNotOptimize(r.data());
        }
    }
    state.SetBytesProcessed(size * int64_t(state.iterations()));
}

void ScanOneField(benchmark::State& state, std::string path) {
    const int64_t size = int64_t(fs::file_size(path));
    for (auto _ : state) {
        auto t = openParadoxTable(path, OpenMode::ReadOnly);
        int64_t sum = 0;
        for (auto loc = t->first(); loc; loc = t->next(*loc)) sum += t->readField(*loc, 0).asInteger();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(size * int64_t(state.iterations()));
}

/** Keys of `field` from 1000 random records (of rates only when `ratesOnly`). */
std::vector<Value> sampleKeys(const TableFile& t, const std::string& field, bool ratesOnly) {
    std::mt19937 rng(7);
    const int f = t.fieldIndex(field), kind = t.fieldIndex("RABMAT");
    std::uniform_int_distribution<uint32_t> pick(0, t.recordCount() - 1);
    std::vector<Value> keys;
    for (int tries = 0; keys.size() < 1000 && tries < 100000; ++tries) {
        auto loc = *t.locate(pick(rng));
        if (ratesOnly && t.readField(loc, kind).asInteger() != 1) continue;
        keys.push_back(t.readField(loc, f));
    }
    return keys;
}

void Lookup(benchmark::State& state, std::string path, std::string index, std::string field, bool ratesOnly,
            bool readRecords) {
    auto t = openParadoxTable(path, OpenMode::ReadOnly);
    const std::vector<Value> keys = sampleKeys(*t, field, ratesOnly);
    t->lookup(index, {keys.front()});  // the first look-up may build what the reader keeps
    size_t i = 0, hits = 0;
    for (auto _ : state) {
        auto locs = t->lookup(index, {keys[i++ % keys.size()]});
        hits += locs.size();
        if (readRecords)
            for (auto& l : locs) {
                Record r = t->read(l);
                benchmark::DoNotOptimize(r.data());
            }
        benchmark::DoNotOptimize(locs.data());
    }
    state.counters["records_per_key"] = double(hits) / double(std::max<size_t>(1, i));
    state.counters["table_records"] = double(t->recordCount());
}

void registerBase(const std::string& label, const std::string& dir) {
    for (const char* table : {"RABMAT.DB", "RESURS.DB"}) {
        std::string path = (fs::path(dir) / table).string();
        benchmark::RegisterBenchmark(("Cat/" + label + "/" + table).c_str(), Cat, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Scan/" + label + "/" + table).c_str(), Scan, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("ScanOneField/" + label + "/" + table).c_str(), ScanOneField, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    struct L { const char* name; const char* table; const char* index; const char* field; bool rates; };
    for (auto l : {L{"RESURS.IDRAB", "RESURS.DB", "IDRAB", "IDRAB", false},
                   L{"RABMAT.IDOGL", "RABMAT.DB", "IDOGL", "IDOGL", true},
                   L{"RABMAT.ID", "RABMAT.DB", "", "ID", false}}) {
        std::string path = (fs::path(dir) / l.table).string();
        benchmark::RegisterBenchmark(("Lookup/" + label + "/" + l.name).c_str(), Lookup, path, std::string(l.index),
                                     std::string(l.field), l.rates, false)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("LookupRead/" + label + "/" + l.name).c_str(), Lookup, path,
                                     std::string(l.index), std::string(l.field), l.rates, true)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const fs::path small = fs::temp_directory_path() / ("talvira-bench-small-" + std::to_string(::getpid()));
    demobase::writeDemoBase(small.string(), demobase::DemoScale::Small);
    registerBase("small", small.string());
    if (const char* large = std::getenv("TALVIRA_LARGE_BASE")) registerBase("large", large);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(small, ec);
    return 0;
}
