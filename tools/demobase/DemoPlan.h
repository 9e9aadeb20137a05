#pragma once
/**
 * The plan of the demonstration norm base: which collections, contents entries, resources and
 * tables of rates it holds, with their IDs, codes, names and prices, drawn from the seeds by a
 * fixed-seed generator so that every run gives the same base. Internal to the generator.
 */
#include "normbase/NormBaseFields.h"
#include "tools/demobase/DemoBase.h"
#include "tools/demobase/DemoSeeds.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvira::demobase {

/** Deterministic choices (splitmix64). */
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {  // splitmix64
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /** Uniform in [lo, hi]. */
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * double(next() >> 11) / double(1ull << 53); }
    /** Log-uniform in [lo, hi]: quantities spread over orders of magnitude. */
    double logUniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
    bool chance(double p) { return uniform(0, 1) < p; }

private:
    uint64_t s_;
};

/** Day number of a date as the tables keep it: 0001-01-01 is day 1 (proleptic Gregorian). */
int32_t dayNumber(int y, int m, int d);
inline double round2(double v) { return std::round(v * 100.0) / 100.0; }
/** Rounds a quantity to three significant decimals in the way norms print them. */
double roundQty(double v);
/** printf with one or two integer arguments. */
std::string fmt(const char* f, long a);
std::string fmt2(const char* f, long a, long b);
/** Replaces the first "{}" of `pattern` with `value`. */
std::string fill(const std::string& pattern, const std::string& value);

struct Resource {
    int32_t id = 0;
    int32_t nameId = 0;
    int32_t oglId = 0;
    int32_t collection = 0;
    int32_t unit = 0;
    normbase::RecordKind kind = normbase::RecordKind::Material;  // a material or a machine
    int seed = 0;              // material group seed / machine section seed
    std::optional<double> price;  // BB for materials, BA for machines
    double wages = 0;          // machines: BD, operators' wages per hour
    std::string code;
    std::string name;
};

struct PlannedTable {
    int32_t oglId = 0;
    int32_t collection = 0;
    const CollectionSeed* seed = nullptr;
    const TableSeed* table = nullptr;
    std::string code;  // "01-01-003"
    std::string title; // without "Таблица ..."
    int rates = 0;
    int variantShift = 0;
};

struct OglEntry {
    int32_t id;
    int32_t collection;
    std::string name;
};

struct Plan {
    std::vector<std::pair<int32_t, std::string>> collections;
    std::vector<OglEntry> ogl;
    std::vector<PlannedTable> tables;
    std::vector<Resource> resources;
    // resources by seed: indexes into `resources`
    std::vector<std::vector<uint32_t>> materialsBySeed;
    std::vector<std::vector<uint32_t>> machinesBySeed;
    uint32_t rateCount = 0;
};

struct ScaleParams {
    int materialsPerGroup;   // per group (large: many groups per seed)
    int materialGroups;      // number of material groups written
    int machinesPerSection;
    int machineSections;
    int totalRates;
    int linesLo, linesHi;    // resource lines per rate
    double noLines;          // share of rates without lines
    bool allCollections;
};

ScaleParams paramsFor(DemoScale s);
/** Collections and contents entries of the scale, the resources, and the tables of rates to
 *  write (their rates are drawn while writing). */
Plan makePlan(DemoScale scale, Rng& rng);

}  // namespace talvira::demobase
