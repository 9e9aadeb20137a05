// The summary estimate as one JSON object, amounts in rubles as numbers with two decimals.
#include "model/SummaryJson.h"

#include "common/JsonText.h"


namespace talvira::model {

namespace {

/** The five amount members, after `lead` (members written before them, with their comma). */
std::string amounts(const CostColumns& c, const std::string& lead = {}) {
    return "{" + lead + "\"building\":" + c[CostColumn::Building].text() + ",\"mounting\":" +
           c[CostColumn::Mounting].text() + ",\"equipment\":" + c[CostColumn::Equipment].text() +
           ",\"other\":" + c[CostColumn::Other].text() + ",\"total\":" + c.total().text() + "}";
}

std::string line(const SummaryLineResult& l) {
    std::string lead = "\"num\":" + std::to_string(l.num) + ",\"kind\":" + jsonQuoted(lineKindText(l.kind)) +
                       ",\"name\":" + jsonQuoted(l.name) + ",";
    if (!l.problems.empty()) {
        lead += "\"stale\":[";
        for (size_t i = 0; i < l.problems.size(); ++i) lead += (i ? "," : "") + jsonQuoted(l.problems[i]);
        lead += "],";
    }
    return amounts(l.amounts, lead);
}

}  // namespace

std::string summaryJson(const SummaryResult& r) {
    std::string out = "{\"chapters\":[";
    for (const ChapterResult& ch : r.chapters) {
        if (ch.n > 1) out += ',';
        out += "{\"n\":" + std::to_string(ch.n) + ",\"lines\":[";
        for (size_t i = 0; i < ch.lines.size(); ++i) out += (i ? "," : "") + line(ch.lines[i]);
        out += "],\"total\":" + amounts(ch.total) + "}";
    }
    out += "],\"subtotals\":{";
    for (int k = kFirstSubtotal; k <= kChapters; ++k)
        out += (k > kFirstSubtotal ? ",\"1-" : "\"1-") + std::to_string(k) + "\":" + amounts(r.subtotal(k));
    out += "},\"reserve\":" + amounts(r.reserve, "\"pct\":" + r.reservePercent.text() + ",");
    out += ",\"with_reserve\":" + amounts(r.withReserve);
    out += ",\"vat\":" + amounts(r.vat, "\"rate\":" + r.vatRate.text() + ",");
    out += ",\"total\":" + amounts(r.total) + "}";
    return out;
}

}  // namespace talvira::model
