// The expertise file's plan: the header and the acts here, the totals blocks and the positions
// in GgePlanItems.cpp, both through the builder of GgePlanBuilder.h.
#include "export/GgePlan.h"
#include "export/GgePlanBuilder.h"

namespace talvira::gge {

namespace {

// The acts every local estimate by this method is made under, with their entries in the
// federal register of estimating norms (ФРСН).
struct Act {
    const char* element;
    const char* name;
    Date date;
    const char* num;
    const char* orders;
};
constexpr Act kMethodology{"Metodology", "Приказ Минстроя России от 04.08.2020 № 421/пр", {2020, 9, 29}, "348",
                           "Приказ Минстроя России от 07.07.2022 № 557/пр; Приказ Минстроя России от 30.01.2024 № "
                           "55/пр; Приказ Минстроя России от 23.01.2025 № 30/пр"};
constexpr Act kOverheads{"Overheads", "Приказ Минстроя России от 21.12.2020 № 812/пр", {2022, 9, 2}, "430",
                         "Приказ Минстроя России от 02.09.2021 № 636/пр; Приказ Минстроя России от 26.07.2022 № 611/пр"};
constexpr Act kProfits{"Profits", "Приказ Минстроя России от 11.12.2020 № 774/пр", {2022, 7, 18}, "425",
                       "Приказ Минстроя России от 22.04.2022 № 317/пр"};
// The letters of indices are entered in the register under one entry of reference information.
constexpr Date kIndexesDate{2021, 2, 12};
constexpr const char* kIndexesNum = "354";

void date(Builder& b, const char* element, const Date& d) {
    b.open(element);
    b.leaf("Year", std::to_string(d.year));
    b.leaf("Month", std::to_string(d.month));
    b.leaf("Day", std::to_string(d.day));
    b.close();
}

void act(Builder& b, const char* element, const std::string& name, const char* type, const std::optional<Date>& d,
         const std::string& num, const std::string& orders) {
    b.open(element);
    b.leaf("Name", name);
    b.leaf("Type", type);
    if (d) date(b, "Date", *d);
    b.leaf("Num", num);
    if (!orders.empty()) b.leaf("Orders", orders);
    b.close();
}

void legal(Builder& b, const GgeInput& in) {
    const model::ExpertiseFacts& f = in.params.gge;
    std::optional<Date> normsDate;
    if (auto d = model::dateFromText(f.normsDate)) normsDate = Date{d->year, d->month, d->day};
    std::string orders = f.normsOrders;
    if (f.norms.empty() && orders.empty())
        for (const std::string& o : in.facts.orders) orders += (orders.empty() ? "" : "; ") + o;
    b.open("Legal");
    act(b, "Main", normsAct(in), "ГСН", normsDate, f.normsNum, orders);
    for (const Act* a : {&kMethodology, &kOverheads, &kProfits}) act(b, a->element, a->name, "ГСН", a->date, a->num, a->orders);
    if (!in.params.letter.empty()) act(b, "Indexes", in.params.letter, "Справочная информация", kIndexesDate, kIndexesNum, {});
    b.close();
}

void priceLevels(Builder& b, const GgeInput& in) {
    if (auto base = model::dateFromText(in.params.baseLevel)) {
        b.open("PriceLevelBase");
        b.leaf("Year", std::to_string(base->year));
        b.leaf("Month", std::to_string(base->month));
        b.leaf("Quarter", std::to_string((base->month + 2) / 3));
        b.close();
    }
    if (auto cur = quarterOf(in.params.level)) {
        b.open("PriceLevelCur");
        b.leaf("Year", std::to_string(cur->year));
        b.leaf("Quarter", std::to_string(cur->quarter));
        b.close();
    }
}

const char* territoryName(model::Territory t) {
    switch (t) {
        case model::Territory::Mprks: return "МПРКС";
        case model::Territory::Rks: return "РКС";
        default: return "Территория";
    }
}

/** The estimate's own part before its totals. */
void estimateHead(Builder& b, const GgeInput& in) {
    const model::ExpertiseFacts& f = in.params.gge;
    if (!in.facts.guid.empty()) b.leaf("GUID", in.facts.guid);
    legal(b, in);
    b.leaf("Salary", f.wageAct);
    b.leaf("IndexType", "Индексы к элементам прямых затрат");
    if (!f.indexObject.empty()) b.leaf("IndexObjectType", f.indexObject);
    b.open("Region");
    b.leaf("RegionCode", f.regionCode);
    b.leaf("RegionName", in.params.region);
    b.close();
    b.leaf(kTerritoryType, territoryName(in.params.territory));
    b.leaf("Num", f.estimateNum);
    b.leaf("Name", !f.estimateName.empty() ? f.estimateName : in.facts.estimateName);
    if (auto d = model::dateFromText(f.estimateDate)) date(b, "Date", Date{d->year, d->month, d->day});
    b.leaf("EstimateType", f.kind.empty() ? std::string("Строительство") : f.kind);
    priceLevels(b, in);
}

}  // namespace

std::string normsAct(const GgeInput& in) {
    return !in.params.gge.norms.empty() ? in.params.gge.norms : in.facts.edition;
}

std::pair<std::string, std::string> prefixAndCode(std::string_view code) {
    size_t i = 0;
    while (i < code.size() && !(code[i] >= '0' && code[i] <= '9')) ++i;
    std::string prefix(code.substr(0, i));
    while (!prefix.empty() && (prefix.back() == '-' || prefix.back() == ' ')) prefix.pop_back();
    if (i == code.size()) return {std::string(), std::string(code)};  // no digits: a code of its own
    return {prefix, std::string(code.substr(i))};
}

std::optional<Quarter> quarterOf(std::string_view level) {
    static constexpr std::string_view kRoman[] = {"IV", "III", "II", "I"};  // longest first
    static constexpr int kNumber[] = {4, 3, 2, 1};
    size_t at = level.find_first_not_of(' ');
    if (at == std::string_view::npos) return std::nullopt;
    level.remove_prefix(at);
    Quarter q;
    for (size_t i = 0; i < 4 && q.quarter == 0; ++i)
        if (level.starts_with(kRoman[i])) {
            q.quarter = kNumber[i];
            level.remove_prefix(kRoman[i].size());
        }
    if (q.quarter == 0 && !level.empty() && level[0] >= '1' && level[0] <= '4') {
        q.quarter = level[0] - '0';
        level.remove_prefix(1);
    }
    const size_t digits = level.find_first_of("0123456789");
    if (q.quarter == 0 || digits == std::string_view::npos || level.size() - digits < 4) return std::nullopt;
    const std::string_view year = level.substr(digits, 4);
    if (year.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    q.year = std::stoi(std::string(year));
    return q;
}

GgePlan planGge(const GgeInput& in) {
    Builder b(in.result.positions.size() * 160 + 1200);  // a rate with its lines takes about 130 steps
    const model::ExpertiseFacts& f = in.params.gge;
    b.open("Construction");
    b.attribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
    b.attribute("xsi:noNamespaceSchemaLocation", "LocalEstimateBaseIndexMethod-3_01.xsd");
    b.open("Meta");
    b.open("Soft");
    b.leaf("Name", in.facts.program);
    b.leaf("Version", in.facts.version);
    b.close();
    b.open("File");
    b.leaf("Type", "ЛС");
    b.leaf("Version", "3.01");
    b.close();
    b.close();
    b.leaf("Num", f.constructionNum);
    b.leaf("Name", f.construction);
    b.open("Object");
    b.leaf("Num", f.objectNum);
    b.leaf("AccessLevel", "общедоступная информация");
    b.leaf("Name", f.object);
    if (!f.objectAddress.empty()) b.leaf("Address", f.objectAddress);
    b.open("Estimate");
    estimateHead(b, in);
    planSummary(b, in, "EstimatePrice");
    b.open("Signatures");
    b.leaf("ComposeFIO", f.composedBy);
    b.leaf("VerifyFIO", f.checkedBy);
    b.close();
    b.open("Sections");
    b.open("Section");
    b.leaf("Code", "1");
    b.leaf("Name", !f.estimateName.empty() ? f.estimateName : in.facts.estimateName);
    b.open("Items");
    const size_t items = planItems(b, in);
    b.close();
    planSummary(b, in, "SectionPrice");
    b.close();
    b.close();
    b.close();  // Estimate
    b.close();  // Object
    b.leaf("ExportDateTime", in.facts.exportDateTime);
    b.close();
    GgePlan plan = b.take();
    plan.positions = items;
    return plan;
}

std::vector<std::string> GgePlan::textsAt(std::string_view path) const {
    std::vector<std::string> found;
    std::vector<std::string_view> at;  // the open elements below the root
    bool root = true;
    std::string joined;
    auto pathOf = [&](std::string_view leaf) {
        joined.clear();
        for (std::string_view s : at) (joined += s) += '/';
        return joined += leaf;
    };
    for (const GgeNode& n : nodes) {
        if (n.kind == GgeNode::Kind::Open) {
            if (root) root = false;
            else at.push_back(n.name);
        } else if (n.kind == GgeNode::Kind::Close) {
            if (!at.empty()) at.pop_back();
        } else if (n.kind == GgeNode::Kind::Leaf && pathOf(n.name) == path) {
            found.push_back(n.text);
        }
    }
    return found;
}

std::string GgePlan::textAt(std::string_view path) const {
    std::vector<std::string> all = textsAt(path);
    return all.empty() ? std::string() : all.front();
}

}  // namespace talvira::gge
