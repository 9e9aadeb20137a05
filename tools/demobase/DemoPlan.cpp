#include "tools/demobase/DemoPlan.h"

#include <algorithm>
#include <cstdio>

namespace talvira::demobase {

/** Day number of a date as the tables keep it: 0001-01-01 is day 1 (proleptic Gregorian). */
int32_t dayNumber(int y, int m, int d) {
    // Days from civil (H. Hinnant), shifted from 1970-01-01 to 0001-01-01 = 1.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return int32_t(era * 146097 + doe - 719468 + 719163);
}

/** Rounds a quantity to three significant decimals in the way norms print them. */
double roundQty(double v) {
    if (v >= 100) return std::round(v * 10) / 10;
    if (v >= 1) return std::round(v * 100) / 100;
    return std::round(v * 1000) / 1000 > 0 ? std::round(v * 1000) / 1000 : 0.001;
}

std::string fmt(const char* f, long a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a);
    return buf;
}
std::string fmt2(const char* f, long a, long b) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a, b);
    return buf;
}
/** Replaces the first "{}" of `pattern` with `value`. */
std::string fill(const std::string& pattern, const std::string& value) {
    auto p = pattern.find("{}");
    if (p == std::string::npos) return pattern;
    return pattern.substr(0, p) + value + pattern.substr(p + 2);
}

ScaleParams paramsFor(DemoScale s) {
    if (s == DemoScale::Small) return {0, 12, 0, 8, 300, 3, 10, 0.06, false};
    return {1000, 90, 1250, 8, 50000, 12, 37, 0.02, true};
}

namespace {

std::string collectionTitle(const CollectionSeed& c) {
    return std::string(c.prefix) + " " + fmt("%02ld", c.number) + ". " + c.name;
}

std::string codePrefix(const CollectionSeed& c) {
    std::string p = c.prefix;  // "ГЭСН", "ГЭСНм", ...
    std::string letter = p.size() > std::string("ГЭСН").size() ? p.substr(std::string("ГЭСН").size()) : "";
    return letter + fmt("%02ld", c.number);
}

/** Every name of a group or section: each pattern with each of its variants. */
std::vector<std::string> itemNames(const std::vector<std::pair<std::string, Variants>>& items) {
    std::vector<std::string> names;
    for (auto& [pattern, var] : items)
        for (auto* v : var.values) names.push_back(fill(pattern, v));
    return names;
}

/** The i-th name of a group that holds `count` resources: the names repeat with a running
 *  `suffix` number once they are used up. */
std::string nthName(const std::vector<std::string>& names, int i, const char* suffix) {
    std::string name = names[size_t(i) % names.size()];
    if (i >= int(names.size())) name += std::string(", ") + suffix + " " + std::to_string(i / int(names.size()) + 1);
    return name;
}

/** Adds a resource (a material or a machine) to the plan and to its seed's pool. */
Resource& addResource(Plan& plan, std::vector<std::vector<uint32_t>>& bySeed, int32_t& nextRabmatId,
                      int32_t oglId, int32_t collection, normbase::RecordKind kind, int seed, int unit) {
    bySeed[size_t(seed)].push_back(uint32_t(plan.resources.size()));
    Resource& r = plan.resources.emplace_back();
    r.id = nextRabmatId++;
    r.oglId = oglId;
    r.collection = collection;
    r.kind = kind;
    r.seed = seed;
    r.unit = unit;
    return r;
}

void planResources(Plan& plan, const ScaleParams& sp, Rng& rng, int32_t& nextRabmatId, int32_t& nextOglId) {
    const auto& groups = materialGroups();
    plan.materialsBySeed.assign(groups.size(), {});
    plan.machinesBySeed.assign(machineSections().size(), {});
    bool unpricedDone = false;

    // Materials: groups of the ФССЦ collection. The large base repeats the group seeds with
    // running group codes (101, 102, ...); the small one keeps the seeds' own codes.
    for (int g = 0; g < sp.materialGroups; ++g) {
        const int seedIdx = g % int(groups.size());
        const MaterialGroupSeed& gs = groups[size_t(seedIdx)];
        const int groupCode = sp.materialsPerGroup ? 101 + g : gs.code;
        const int32_t oglId = nextOglId++;
        plan.ogl.push_back({oglId, kMaterialsCollection, "Группа " + std::to_string(groupCode) + ". " + gs.title});
        const std::vector<std::string> names = itemNames(gs.items);
        const int count = sp.materialsPerGroup ? sp.materialsPerGroup : int(names.size());
        for (int i = 0; i < count; ++i) {
            Resource& r = addResource(plan, plan.materialsBySeed, nextRabmatId, oglId, kMaterialsCollection, normbase::RecordKind::Material,
                                      seedIdx, gs.unit);
            r.name = nthName(names, i, "исполнение");
            r.code = fmt2("%03ld-%04ld", groupCode, sp.materialsPerGroup ? i + 1 : (i + 1) * 11);
            r.price = round2(rng.logUniform(gs.priceLo, gs.priceHi));
        }
        if (!unpricedDone && seedIdx == 3) {  // concrete: one grade "по проекту" has no price
            Resource& r = addResource(plan, plan.materialsBySeed, nextRabmatId, oglId, kMaterialsCollection, normbase::RecordKind::Material,
                                      seedIdx, uM3);
            r.name = kUnpricedMaterial;
            r.code = fmt("%03ld-9999", groupCode);
            unpricedDone = true;
        }
    }

    // Machines: sections of the ФСЭМ collection.
    const auto& sections = machineSections();
    for (int s = 0; s < sp.machineSections; ++s) {
        const MachineSectionSeed& ms = sections[size_t(s) % sections.size()];
        const int32_t oglId = nextOglId++;
        plan.ogl.push_back({oglId, kMachinesCollection, "Раздел " + fmt("%02ld", ms.code) + ". " + ms.title});
        const std::vector<std::string> names = itemNames(ms.items);
        const int count = sp.machinesPerSection ? sp.machinesPerSection : int(names.size());
        for (int i = 0; i < count; ++i) {
            Resource& r = addResource(plan, plan.machinesBySeed, nextRabmatId, oglId, kMachinesCollection, normbase::RecordKind::Machine,
                                      s % int(sections.size()), uMachHour);
            r.name = nthName(names, i, "модель");
            r.code = fmt2("%02ld%04ld", ms.code, long(i + 1) * 101 % 10000);
            const double price = round2(rng.logUniform(ms.priceLo, ms.priceHi));
            r.price = price;
            r.wages = round2(std::min(price * 0.4, rng.uniform(5, 25)));
        }
    }
}

}  // namespace

Plan makePlan(DemoScale scale, Rng& rng) {
    Plan plan;
    const ScaleParams sp = paramsFor(scale);
    const auto& contents = collectionContents();

    std::vector<const CollectionSeed*> cols;
    for (auto& c : rateCollections())
        if (sp.allCollections || std::find(smallCollections().begin(), smallCollections().end(), c.id) != smallCollections().end())
            cols.push_back(&c);

    // All seed sections in one list, cycled by the collections without their own contents.
    std::vector<std::pair<const SectionSeed*, int>> allSections;  // (section, from collection)
    for (auto& [cid, secs] : contents)
        for (auto& s : secs) allSections.push_back({&s, cid});

    int32_t nextOgl = 1;
    const int withRates = int(std::count_if(cols.begin(), cols.end(), [](auto* c) { return c->id != kEmptyCollection; }));
    int ratesLeftTotal = sp.totalRates;
    int colIndex = 0;
    size_t cursor = 0;
    for (const CollectionSeed* c : cols) {
        plan.collections.push_back({c->id, collectionTitle(*c)});
        if (c->id == kEmptyCollection) continue;  // a collection without contents entries
        const std::vector<SectionSeed>* own = nullptr;
        for (auto& [cid, secs] : contents)
            if (cid == c->id) own = &secs;
        const int quota = ratesLeftTotal / (withRates - colIndex);
        ++colIndex;
        int written = 0;
        int sectionNo = 0;
        // The collection's own sections first; then the small base repeats them, the large
        // base goes on through the sections of all collections.
        while (written < quota && sectionNo < 5000) {
            const SectionSeed* sec;
            int round;
            if (own && (sectionNo < int(own->size()) || !sp.allCollections)) {
                sec = &(*own)[size_t(sectionNo) % own->size()];
                round = sectionNo / int(own->size());
            } else {
                sec = allSections[cursor % allSections.size()].first;
                round = int(cursor / allSections.size()) + 1;
                ++cursor;
            }
            ++sectionNo;
            plan.ogl.push_back({nextOgl++, c->id, "Раздел " + std::to_string(sectionNo) + ". " + sec->title});
            int tableNo = 0;
            for (const TableSeed& t : sec->tables) {
                if (written >= quota) break;
                ++tableNo;
                PlannedTable pt;
                pt.oglId = nextOgl++;
                pt.collection = c->id;
                pt.seed = c;
                pt.table = &t;
                pt.code = codePrefix(*c) + fmt2("-%02ld-%03ld", sectionNo, tableNo * 2 - 1);
                pt.title = t.title;
                pt.rates = std::min(int(t.variants.values.size()) + rng.range(0, 3), quota - written);
                pt.variantShift = round;
                written += pt.rates;
                plan.ogl.push_back({pt.oglId, c->id, "Таблица " + pt.code + ". " + pt.title});
                plan.tables.push_back(pt);
            }
        }
        ratesLeftTotal -= written;
        plan.rateCount += uint32_t(written);
    }
    plan.collections.push_back({kMaterialsCollection, "ФССЦ. Сборник сметных цен на материалы, изделия и конструкции"});
    plan.collections.push_back({kMachinesCollection, "ФСЭМ. Сметные расценки на эксплуатацию строительных машин и автотранспортных средств"});

    int32_t nextRabmat = 1;
    planResources(plan, sp, rng, nextRabmat, nextOgl);
    int32_t nameId = 1;
    for (auto& r : plan.resources) r.nameId = nameId++;
    return plan;
}

}  // namespace talvira::demobase
