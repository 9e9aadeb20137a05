#include "tools/demobase/DemoBase.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableFile.h"
#include "tools/demobase/DemoPlan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace talvira::demobase {

using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::Value;
using normbase::RecordKind;
namespace fld = normbase::fld;

namespace {

constexpr const char* kAuthor = "Талвира, демонстрационная база";

using NamedRecord = normbase::NormRecord;
using TableWriter = normbase::NormTableWriter;

Value num(double v) { return Value::real(v); }
Value integer(int64_t v) { return Value::integer(v); }
Value kind(RecordKind k) { return Value::integer(static_cast<int32_t>(k)); }
Value text(std::string s) { return Value::string(std::move(s)); }

std::string longComposition(Rng& rng) {
    std::string s = "\r\nСостав работ:";
    const auto& steps = workSteps();
    int n = 0;
    while (s.size() < 2400 * 2) {  // UTF-8 Cyrillic takes two bytes: over 2048 in code page 1251
        s += "\r\n" + fmt("%02ld. ", ++n) + steps[size_t(rng.range(0, int(steps.size()) - 1))];
    }
    return s;
}

std::string guidFor(uint64_t n) {
    char buf[64];
    uint64_t h = n * 0x9E3779B97F4A7C15ull;
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(h >> 32), unsigned(h >> 16) & 0xFFFF,
                  unsigned(0x4000 | (h & 0x0FFF)), unsigned(0x8000 | ((h >> 20) & 0x3FFF)),
                  static_cast<unsigned long long>((h ^ (n << 7)) & 0xFFFFFFFFFFFFull));
    return buf;
}

/** The fields every RABMAT record of the base carries, rate or resource. */
void setRabmatCommon(NamedRecord& rec, int32_t id, int32_t collection, int order, int32_t nameId, int32_t ogl,
                     int32_t unit, const Value& created) {
    rec.set(fld::ID, integer(id))
        .set("NEW_ID", integer(id))
        .set(fld::IDREESTR, integer(collection))
        .set("ORDERVIEW", integer(order))
        .set(fld::IDNAME, integer(nameId))
        .set("ID_UNIQUE", integer(id))
        .set(fld::IDOGL, integer(ogl))
        .set(fld::IDEDIZM, integer(unit))
        .set("EDIZMKOEF", num(1))
        .set("ISESN", integer(1))
        .set("CREATEDATE", created)
        .set("AUTHOR", text(kAuthor))
        .set("NEW_PAGE", integer(0))
        .set("STATUS", integer(0));
}

/** A resource's own RABMAT record: a material with its price, or a machine
 *  with its price per hour and its operators' wages. */
void setResource(NamedRecord& rec, const Resource& r) {
    rec.set(fld::TAB, text(r.code)).set(fld::RABMAT, kind(r.kind));
    if (r.kind == RecordKind::Material) {
        rec.set(fld::ALTTAB, text("ФССЦ-" + r.code));
        if (r.price) rec.set(fld::BA, num(*r.price)).set(fld::BB, num(*r.price));
        if (r.seed == 3) {  // concrete: its grade fields
            rec.set("MBETON", num(100)).set("VBETON", num(1)).set("BRUTTO", num(2.4)).set("NETTO", num(2.4));
        }
    } else {
        rec.set(fld::BA, num(*r.price)).set(fld::BD, num(r.wages)).set("MMASHINE", text(fmt("ТМ-%ld", 1000 + r.id % 9000)));
    }
}

/** The cost components of a rate, summed from its resource lines. */
struct RateCosts {
    double razrad = 0, bg = 0, be = 0, bc = 0, bd = 0, bb = 0, bf = 0;
};

/** Writes the resource lines of rate `id` (labour, machines, materials) and sums their costs. */
RateCosts writeResourceLines(TableWriter& resurs, Rng& rng, const Plan& plan, const ScaleParams& sp, DemoScale scale,
                             const PlannedTable& t, int32_t id, int32_t& lineId, uint32_t& lineCount) {
    const TableSeed& ts = *t.table;
    RateCosts c;
    int nLines = rng.chance(sp.noLines) ? 0 : rng.range(sp.linesLo, sp.linesHi);
    const double scaleOfUnit = unitScale(ts.unit);
    c.razrad = round2(rng.uniform(2.0, 4.5));
    c.bg = roundQty(ts.labourPerUnit > 0 ? ts.labourPerUnit * rng.uniform(0.7, 1.4) : rng.uniform(0.5, 3));
    c.be = round2(c.bg * (7.0 + c.razrad * 1.1));
    std::vector<uint32_t> used;
    const int machineLines = ts.machineSections.empty() ? 0 : rng.range(1, scale == DemoScale::Small ? 2 : 4);
    if (ts.materialGroups.empty()) nLines = std::min(nLines, 1 + machineLines);
    auto pick = [&](const std::vector<int>& seeds, const std::vector<std::vector<uint32_t>>& bySeed)
        -> std::optional<uint32_t> {
        for (int attempt = 0; attempt < 8; ++attempt) {
            int seed = seeds[size_t(rng.range(0, int(seeds.size()) - 1))];
            const auto& pool = bySeed[size_t(seed)];
            if (pool.empty()) continue;
            uint32_t idx = pool[size_t(rng.range(0, int(pool.size()) - 1))];
            if (std::find(used.begin(), used.end(), idx) == used.end()) {
                used.push_back(idx);
                return idx;
            }
        }
        return std::nullopt;
    };
    for (int k = 0; k < nLines; ++k) {
        NamedRecord& line = resurs.next();
        line.set(fld::ID, integer(lineId))
            .set(fld::IDRAB, integer(id))
            .set("UCH", integer(0))
            .set(fld::IDREESTR, integer(t.collection))
            .set("STATUS", integer(0));
        if (k == 0) {  // labour of the workers
            line.set("IDRES_TRUD", integer(1)).set(fld::KOLL, num(c.bg)).set(fld::VIDNR, integer(0));
        } else {
            if (ts.materialGroups.empty() && ts.machineSections.empty()) break;  // labour only
            bool machine = k <= machineLines || ts.materialGroups.empty();
            std::optional<uint32_t> idx = machine ? pick(ts.machineSections, plan.machinesBySeed)
                                                  : pick(ts.materialGroups, plan.materialsBySeed);
            if (!idx) continue;
            const Resource& r = plan.resources[*idx];
            line.set(fld::IDRES_RABMAT, integer(r.id)).set(fld::RABMAT, kind(r.kind)).set(fld::IDRES_REESTR, integer(r.collection));
            if (r.kind == RecordKind::Machine) {
                double q = roundQty(scaleOfUnit * rng.logUniform(0.003, 0.4));
                c.bc += q * r.price.value_or(0);
                c.bd += q * r.wages;
                c.bf += q;
                line.set(fld::KOLL, num(q));
                if (!rng.chance(0.03)) line.set(fld::VIDNR, integer(0));
            } else {
                double q = roundQty(scaleOfUnit * rng.logUniform(0.0005, 0.15) / unitScale(r.unit));
                double p = rng.uniform(0, 1);
                int vidnr = p < 0.22 ? 1 : p < 0.28 ? -1 : p < 0.31 ? 2 : 0;  // -1: left empty
                if (r.name == kUnpricedMaterial) vidnr = 1;
                if (vidnr != 1) c.bb += q * r.price.value_or(0);
                line.set(fld::KOLL, num(q));
                if (vidnr >= 0) line.set(fld::VIDNR, integer(vidnr));
            }
        }
        resurs.append();
        ++lineId;
        ++lineCount;
    }
    c.bc = round2(c.bc);
    c.bd = round2(c.bd);
    c.bb = round2(c.bb);
    return c;
}

}  // namespace

Record demoRecord(DemoTable t, const std::vector<NamedValue>& values) {
    NamedRecord r(t);
    for (const auto& [name, v] : values) r.set(name, v);
    return r.values();
}

void writeDemoTable(const std::string& dir, DemoTable t, const std::vector<Record>& records) {
    TableWriter w(dir, t);
    for (const Record& r : records) w.append(r);
    w.finish();
}

DemoBaseCounts writeDemoBase(const std::string& dir, DemoScale scale,
                             const std::function<void(const std::string&)>& progress) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) throw Error("Не удалось создать папку нормативной базы «" + dir + "»");
    auto say = [&](const std::string& s) { if (progress) progress(s); };
    auto idAndName = [](TableWriter& w, int32_t id, const std::string& name) {
        w.next().set(fld::ID, integer(id)).set(fld::NAME, text(name));
        w.append();
    };

    Rng rng(scale == DemoScale::Small ? 20090317 : 20240101);
    const ScaleParams sp = paramsFor(scale);
    Plan plan = makePlan(scale, rng);
    DemoBaseCounts counts;

    // Units of measure.
    {
        TableWriter w(dir, DemoTable::Edizm);
        int32_t id = 1;
        for (auto& u : units()) idAndName(w, id++, u);
        counts.units = w.finish();
    }
    // Collections.
    {
        TableWriter w(dir, DemoTable::Reestr);
        for (auto& [id, name] : plan.collections) idAndName(w, id, name);
        counts.collections = w.finish();
    }
    // Contents entries: already numbered in order.
    {
        TableWriter w(dir, DemoTable::Ogl);
        for (auto& e : plan.ogl) {
            w.next().set(fld::ID, integer(e.id)).set(fld::IDREESTR, integer(e.collection)).set(fld::NAME, text(e.name));
            w.append();
        }
        counts.contentsEntries = w.finish();
    }
    say("Записаны единицы измерения, сборники и оглавление");

    // Rates, resources, their names and resource lines, streamed together in key order.
    TableWriter rabmat(dir, DemoTable::Rabmat);
    TableWriter names(dir, DemoTable::Name);
    TableWriter resurs(dir, DemoTable::Resurs);
    const Value created = Value::dateTime({dayNumber(2009, 3, 17), 12 * 3600 * 1000, true, true});

    // Resources first: their IDs are the lowest.
    {
        int order = 0;
        int32_t lastOgl = 0;
        for (const Resource& r : plan.resources) {
            order = r.oglId == lastOgl ? order + 1 : 1;
            lastOgl = r.oglId;
            NamedRecord& rec = rabmat.next();
            setRabmatCommon(rec, r.id, r.collection, order, r.nameId, r.oglId, r.unit, created);
            setResource(rec, r);
            rabmat.append();
            idAndName(names, r.nameId, r.name);
            ++counts.resources;
        }
    }
    say("Записаны ресурсы: " + std::to_string(counts.resources));

    // Rates, table by table.
    int32_t rateId = plan.resources.empty() ? 1 : plan.resources.back().id + 1;
    rateId = (rateId / 1000 + 1) * 1000 + 1;  // rates start on a round number
    int32_t nameId = int32_t(plan.resources.size()) + 1;
    nameId = std::max(nameId, rateId);  // names of rates carry the rate's number
    int32_t lineId = 1;
    uint32_t done = 0;
    for (const PlannedTable& t : plan.tables) {
        const TableSeed& ts = *t.table;
        for (int v = 0; v < t.rates; ++v) {
            const int32_t id = rateId++;
            const int32_t nid = nameId++;
            const size_t nv = ts.variants.values.size();
            std::string variant = fill(ts.variants.pattern, ts.variants.values[size_t(v + t.variantShift) % nv]);
            if (v >= int(nv)) variant += ", вариант " + std::to_string(v / int(nv) + 1);
            std::string name = t.title + ", " + variant;
            if (rng.chance(scale == DemoScale::Small ? 0.02 : 0.002)) name += longComposition(rng);
            const std::string code = t.code + fmt("-%02ld", v + 1);

            // Resource lines: labour, machines, materials; prices add up into the rate.
            const RateCosts c = writeResourceLines(resurs, rng, plan, sp, scale, t, id, lineId, counts.resourceLines);
            NamedRecord& rec = rabmat.next();
            setRabmatCommon(rec, id, t.collection, v + 1, nid, t.oglId, ts.unit, created);
            rec.set(fld::TAB, text(code))
                .set("TABU", text(std::string(t.seed->prefix) + code))
                .set(fld::RABMAT, kind(RecordKind::Rate))
                .set(fld::ALTTAB, text(std::string(t.seed->prefix) + " " + code))
                .set("FRESN", text("ФЕР-2001"))
                .set("RAZRAD", num(c.razrad))
                .set(fld::BA, num(round2(c.be + c.bc + c.bb)))
                .set(fld::BB, num(c.bb))
                .set(fld::BC, num(c.bc))
                .set(fld::BD, num(c.bd))
                .set(fld::BE, num(c.be))
                .set(fld::BF, num(round2(c.bf)))
                .set(fld::BG, num(c.bg))
                .set("ESN_NORM_GUID", text(guidFor(uint64_t(id))));
            rabmat.append();
            idAndName(names, nid, name);
            ++counts.rates;
            if (++done % 10000 == 0) say("Записано расценок: " + std::to_string(done));
        }
    }
    counts.names = names.finish();
    counts.resourceLines = resurs.finish();
    rabmat.finish();
    say("Записаны расценки, наименования и ресурсные строки, построены индексы");
    return counts;
}

}  // namespace talvira::demobase
