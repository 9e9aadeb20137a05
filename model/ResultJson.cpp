// The result of the base-index computation as one JSON object (talvira-cli estimate totals
// --json): amounts as numbers with two decimals, quantities, percentages and labour with the
// decimals they have, texts in UTF-8.
#include "model/BaseIndex.h"

#include "common/JsonText.h"

namespace talvira::model {

namespace {

/** Writes one JSON object's members, commas between them. */
class Obj {
public:
    explicit Obj(std::string& out) : out_(out) { out_ += '{'; }
    ~Obj() { out_ += '}'; }
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;
    std::string& key(std::string_view k) {
        if (!first_) out_ += ',';
        first_ = false;
        out_ += jsonQuoted(k) + ':';
        return out_;
    }
    void raw(std::string_view k, std::string_view v) { key(k) += v; }
    void text(std::string_view k, std::string_view v) { key(k) += jsonQuoted(v); }
    void money(std::string_view k, Money v) { key(k) += v.text(); }
    void number(std::string_view k, Dec7 v) { key(k) += v.text(); }

private:
    std::string& out_;
    bool first_ = true;
};

void elements(Obj& o, std::string_view name, const Elements& e, bool current, bool ownLines) {
    std::string& out = o.key(name);
    Obj m(out);
    m.money("ot", e.ot);
    if (ownLines || !current) m.money("em", e.em);
    m.money("otm", e.otm);
    if (!e.otmExtra.isZero()) m.money("otm_extra", e.otmExtra);  // the machinists' extra pay, where there is one
    if (ownLines || !current) {
        m.money("m", e.m);
        m.money("pz", e.pz);
    }
    m.money("fot", e.fot);
    m.money("nr", e.nr);
    m.money("sp", e.sp);
    if (ownLines || !current) m.money("total", e.total);
    if (!current) {
        m.number("zt", e.zt);
        m.number("ztm", e.ztm);
    }
}

void indices(Obj& o, const WorkTypeTotals& w) {
    std::string& out = o.key("indices");
    Obj m(out);
    for (auto [k, v] : {std::pair{"ot", &w.indexOt}, {"em", &w.indexEm}, {"m", &w.indexM}})
        if (*v) m.number(k, **v);
}

void totals(Obj& o, const WorkTypeTotals& w) {
    elements(o, "base", w.base, false, true);
    if (w.currentDefined) elements(o, "current", w.current, true, true);
    indices(o, w);
}

/** One position's members: number, code, type of work; its rows, coefficients and materials;
 *  its amounts (or why it could not be computed). */
void position(Obj& o, const PositionResult& p, const std::vector<PositionRow>& rows) {
    o.raw("n", std::to_string(p.number));
    o.text("code", p.row < rows.size() ? rows[p.row].code : std::string());
    o.number("qty", p.quantity);
    o.text("worktype", workTypeText(p.workType));
    o.text("kind", p.kind == PositionResult::Kind::Rate ? "rate" : "own");
    if (!p.computed) {
        std::string why;
        for (const Problem& pr : p.problems) why += (why.empty() ? "" : "; ") + pr.message;
        o.text("problem", why);
        return;
    }
    if (p.nrRef.empty()) o.raw("nr", "null");
    else o.text("nr", p.nrRef);
    if (p.spRef.empty()) o.raw("sp", "null");
    else o.text("sp", p.spRef);
    o.number("nr_pct", p.nrPercent);
    o.number("sp_pct", p.spPercent);
    if (!p.coefficients.empty()) {
        std::string& ca = o.key("coefficients");
        ca += '[';
        for (size_t k = 0; k < p.coefficients.size(); ++k) {
            if (k) ca += ',';
            Obj c(ca);
            c.number("value", p.coefficients[k].value);
            c.text("targets", targetsText(p.coefficients[k].targets));
            c.text("reason", p.coefficients[k].reason);
        }
        ca += ']';
    }
    if (!p.materials.empty()) {
        std::string& ma = o.key("materials");
        ma += '[';
        for (size_t k = 0; k < p.materials.size(); ++k) {
            const PricedMaterial& m = p.materials[k];
            if (k) ma += ',';
            Obj c(ma);
            c.raw("n", std::to_string(m.row < rows.size() ? rows[m.row].count : 0));
            c.text("code", m.row < rows.size() ? rows[m.row].code : std::string());
            c.number("per_unit", m.perUnit);
            c.number("qty", m.quantity);
            if (m.priced) c.money("price", m.price);
            else c.raw("price", "null");
            c.money("amount", m.amount);
        }
        ma += ']';
    }
    elements(o, "base", p.base, false, true);
    if (p.currentDefined) elements(o, "current", p.current, true, p.currentFull);
    if (!p.problems.empty()) {
        std::string why;
        for (const Problem& pr : p.problems) why += (why.empty() ? "" : "; ") + pr.message;
        o.text("problem", why);
    }
}

}  // namespace

std::string toJson(const BaseIndexResult& r, const std::vector<PositionRow>& rows) {
    std::string out;
    {
        Obj top(out);
        {
            std::string& a = top.key("positions");
            a += '[';
            for (size_t i = 0; i < r.positions.size(); ++i) {
                if (i) a += ',';
                Obj o(a);
                position(o, r.positions[i], rows);
            }
            a += ']';
        }
        {
            std::string& a = top.key("worktypes");
            a += '[';
            for (size_t i = 0; i < r.workTypes.size(); ++i) {
                if (i) a += ',';
                Obj o(a);
                o.text("type", workTypeText(r.workTypes[i].type));
                totals(o, r.workTypes[i]);
            }
            a += ']';
        }
        {
            std::string& t = top.key("total");
            Obj o(t);
            totals(o, r.total);
        }
        top.raw("current_complete", r.currentComplete ? "true" : "false");
        {
            std::string& a = top.key("problems");
            a += '[';
            for (size_t i = 0; i < r.problems.size(); ++i) {
                if (i) a += ',';
                Obj o(a);
                o.raw("n", std::to_string(r.problems[i].number));
                o.text("message", r.problems[i].message);
            }
            a += ']';
        }
    }
    return out;
}

}  // namespace talvira::model
