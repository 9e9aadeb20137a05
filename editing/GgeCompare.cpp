// The expertise file's amounts against the program's computation, and the import as one step.
#include "editing/GgeImport.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "model/BaseIndex.h"
#include "storage/TableHandle.h"

#include <unordered_map>

namespace talvira::editing {

namespace {

using exporting::GgeEstimate;
using exporting::GgePosition;

struct Comparer {
    std::vector<GgeDifference>& out;
    int64_t number = 0;

    void check(const std::string& element, const std::optional<Money>& file, Money ours) {
        if (file && *file != ours) out.push_back({number, element, *file, ours});
    }
};

Money linesAmount(const model::PositionResult& p) {
    Money sum;
    for (const model::PricedMaterial& m : p.materials) sum += m.amount;
    return sum;
}

void comparePosition(Comparer& c, const GgePosition& f, const model::PositionResult& p) {
    c.number = f.num;
    if (!p.computed) return;  // listed among the problems
    const model::Elements& b = p.base;
    const model::Elements& cur = p.current;
    if (f.rate) {
        c.check("ОТ", f.base.ot, b.ot);
        c.check("ЭМ", f.base.machines, b.em - b.otmExtra);
        c.check("в т.ч. ОТМ", f.base.otm, b.otm);
        c.check("М", f.base.m, b.m - linesAmount(p));
        c.check("ФОТ", f.salaryBase, b.fot);
        c.check("НР", f.overheads.priceBase, b.nr);
        c.check("СП", f.profits.priceBase, b.sp);
        if (p.currentDefined) {
            c.check("ОТ (текущие цены)", f.current.ot, cur.ot);
            c.check("ОТМ (текущие цены)", f.current.otm, cur.otm);
            c.check("ФОТ (текущие цены)", f.salaryCur, cur.fot);
            c.check("НР (текущие цены)", f.overheads.priceCur, cur.nr);
            c.check("СП (текущие цены)", f.profits.priceCur, cur.sp);
        }
    }
    c.check("Всего", f.totalBase, b.total);
    if (p.currentFull) c.check("Всего (текущие цены)", f.totalCur, cur.total);
}

const model::WorkTypeTotals* typeTotals(const model::BaseIndexResult& r, model::WorkType t) {
    for (const model::WorkTypeTotals& w : r.workTypes)
        if (w.type == t) return &w;
    return nullptr;
}

void compareTotals(Comparer& c, const GgeEstimate& f, const model::BaseIndexResult& r) {
    c.number = 0;
    struct Block {
        const char* place;
        const char* caption;
        std::vector<model::WorkType> types;
    };
    using W = model::WorkType;
    const Block blocks[] = {
        {"Building/Total", "Итого строительные работы", {W::Construction}},
        {"Mounting/Total", "Итого монтажные работы", {W::Mounting}},
        {"Equipment/Total", "Итого оборудование", {W::Equipment}},
        {"OtherTotal", "Итого прочие затраты", {W::Commissioning, W::Other}},
    };
    auto get = [&](const std::string& place) {
        const auto at = f.totals.find(place);
        return at == f.totals.end() ? exporting::GgeAmount{} : at->second;
    };
    for (const Block& b : blocks) {
        Money base, current;
        bool defined = true;
        for (W t : b.types)
            if (const model::WorkTypeTotals* w = typeTotals(r, t)) {
                base += w->base.total;
                current += w->current.total;
                defined = defined && w->currentDefined;
            }
        const exporting::GgeAmount a = get(b.place);
        c.check(b.caption, a.base, base);
        if (defined) c.check(std::string(b.caption) + " (текущие цены)", a.current, current);
    }
    const exporting::GgeAmount total = get("Total");
    c.check("Всего по смете", total.base, r.total.base.total);
    if (r.total.currentDefined) c.check("Всего по смете (текущие цены)", total.current, r.total.current.total);
    // Summary: the works (строительные, монтажные, пусконаладочные), without equipment and other costs.
    Money nr, sp;
    for (W t : {W::Construction, W::Mounting, W::Commissioning})
        if (const model::WorkTypeTotals* w = typeTotals(r, t)) nr += w->base.nr, sp += w->base.sp;
    c.check("НР по смете", get("Summary/Overhead").base, nr);
    c.check("СП по смете", get("Summary/Profit").base, sp);
}

}  // namespace

std::vector<GgeDifference> compareWithFile(const GgeEstimate& file, const GgePlan& plan,
                                           const model::BaseIndexResult& result) {
    std::vector<GgeDifference> out;
    Comparer c{out};
    for (const model::PositionResult& p : result.positions) {
        if (p.row >= plan.source.size()) continue;
        const auto [from, line] = plan.source[p.row];
        if (line <= 0) comparePosition(c, file.positions[from], p);
    }
    compareTotals(c, file, result);
    return out;
}

std::string differenceText(const GgeDifference& d, char sep) {
    const std::string where = d.position ? "Позиция " + std::to_string(d.position) + ", " : std::string();
    return where + d.element + ": в файле " + d.file.grouped(sep, " ") + ", в программе " + d.ours.grouped(sep, " ");
}

std::string estimateNameOf(const GgeEstimate& file) {
    std::string raw = file.num.empty() ? file.name : file.name.empty() ? file.num : file.num + " " + file.name;
    std::string out;
    for (unsigned char ch : raw) {
        const bool unsafe = ch < 0x20 || ch == 0x7f || std::string_view("/\\:*?\"<>|").find(char(ch)) != std::string_view::npos;
        out += unsafe ? '_' : char(ch);
    }
    // A name of at most 100 bytes, cut at a character's start; no blanks or dots at its ends.
    if (out.size() > 100) {
        size_t cut = 100;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    while (!out.empty() && (out.front() == ' ' || out.front() == '.')) out.erase(0, 1);
    return out.empty() ? "Смета из файла экспертизы" : out;
}

namespace {

/** Appends the plan's rows to the open estimate; the kept data with the COUNTs they got. */
KeptCalc appendRows(storage::TableHandle& smeta, const GgePlan& plan) {
    namespace fld = estimate::fld;
    KeptCalc calc = plan.calc;
    std::unordered_map<int32_t, int32_t> countOf;
    for (const model::PositionRow& r : plan.rows) {
        smeta.last();
        smeta.append();
        smeta.setFieldValue(fld::TAB, storage::Value::string(r.code));
        smeta.setFieldValue(fld::NAME, storage::Value::string(r.name));
        smeta.setFieldValue(fld::IZM, storage::Value::string(r.unit));
        smeta.setFieldValue(fld::KOLVO, storage::Value::real(r.quantity));
        smeta.setFieldValue(fld::STOIM, storage::Value::real(r.cost));
        smeta.setFieldValue(fld::OSNZP, storage::Value::real(r.baseWages));
        smeta.setFieldValue(fld::MATER, storage::Value::real(r.materials));
        smeta.setFieldValue(fld::EXPLMASH, storage::Value::real(r.machines));
        smeta.setFieldValue(fld::ZPMASH, storage::Value::real(r.machineWages));
        smeta.setFieldValue(fld::TRUD, storage::Value::real(r.labour));
        smeta.post();
        countOf[r.count] = int32_t(smeta.fieldValue(fld::COUNT).asInteger());
    }
    for (model::PositionData& d : calc.positions) {
        d.count = countOf.at(d.count);
        if (d.parent != 0) d.parent = countOf.at(d.parent);
    }
    return calc;
}

}  // namespace

GgeImported importGge(const std::filesystem::path& file, const std::string& dir, std::string name, char decimalSep,
                      const model::NrSpTables& tables) {
    const GgeEstimate e = exporting::readGge(file);
    GgePlan plan = planGgeImport(e, decimalSep);
    if (name.empty()) name = estimateNameOf(e);
    estimate::checkEstimateName(name);
    if (EstimateDocument::wouldReplace(dir, name))
        throw Error("Смета «" + name + "» в папке «" + dir + "» уже существует: она не заменена, файл «" +
                    file.filename().string() + "» не загружен.");
    storage::TableHandle smeta("SmetaTable");
    EstimateDocument doc(smeta, decimalSep, tables);
    GgeImported out;
    out.table = doc.createWhole(dir, name, [&](storage::TableHandle& t) { return appendRows(t, plan); }, plan.texts);
    const model::BaseIndexResult result =
        model::computeBaseIndex(plan.rows, plan.calc.positions, plan.calc.params, tables);
    out.differences = compareWithFile(e, plan, result);
    out.notes = plan.notes;
    for (const model::Problem& p : result.problems) out.problems.push_back(p.message);
    return out;
}

}  // namespace talvira::editing
