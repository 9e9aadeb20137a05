// The НР and СП tables of 812/пр and 774/пр: read from their CSV texts (RFC 4180), joined by
// row code, found by any form of reference an estimate or the official base writes.
#include "model/BaseIndex.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "model/NrSpData.h"

#include <map>

namespace talvira::model {

namespace {

using Record = std::vector<std::string>;

/** The records of a CSV text with the line each starts on; a quoted field may hold commas,
 *  doubled quotes and line breaks. */
std::vector<std::pair<int, Record>> csvRecords(std::string_view text, const std::string& what) {
    std::vector<std::pair<int, Record>> out;
    Record rec;
    std::string field;
    int line = 1, startLine = 1;
    bool quoted = false, fieldStarted = false;
    auto endField = [&] {
        rec.push_back(std::move(field));
        field.clear();
        fieldStarted = false;
    };
    auto endRecord = [&] {
        endField();
        if (!(rec.size() == 1 && rec[0].empty())) out.emplace_back(startLine, std::move(rec));
        rec.clear();
        startLine = line;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n') {
            ++line;
            endRecord();
        } else if (c != '\r') {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) throw Error(what + ", строка " + std::to_string(startLine) + ": кавычка не закрыта");
    if (fieldStarted || !rec.empty()) endRecord();
    return out;
}

/** Column places by header name; talvira::Error for a column that is missing. */
std::map<std::string, size_t> columns(const Record& header, std::initializer_list<const char*> needed,
                                      const std::string& what) {
    std::map<std::string, size_t> at;
    for (size_t i = 0; i < header.size(); ++i) at[header[i]] = i;
    for (const char* name : needed)
        if (!at.count(name)) throw Error(what + ": нет столбца «" + name + "»");
    return at;
}

Dec7 percentAt(const Record& r, size_t column, const std::string& where) {
    const std::optional<Dec7> p = Dec7::tryParse(r[column]);
    if (!p || p->units() < 0) throw Error(where + ": процент «" + r[column] + "» не число");
    return *p;
}

/** "Пр/812-011.0-1", "Пр/774-011.0", "011.0" -> "011.0". */
std::string_view bareRef(std::string_view ref) {
    while (!ref.empty() && ref.front() == ' ') ref.remove_prefix(1);
    while (!ref.empty() && ref.back() == ' ') ref.remove_suffix(1);
    for (std::string_view prefix : {"Пр/812-", "Пр/774-", "пр/812-", "пр/774-"})
        if (ref.substr(0, prefix.size()) == prefix) ref.remove_prefix(prefix.size());
    const size_t dot = ref.find('.');
    if (dot != std::string_view::npos) {
        const size_t dash = ref.find('-', dot);
        if (dash != std::string_view::npos) ref = ref.substr(0, dash);  // the territory's column
    }
    return ref;
}

}  // namespace

std::string NrSpRow::title() const { return group.empty() ? workType : group + " " + workType; }

NrSpTables NrSpTables::fromCsv(std::string_view nrCsv, std::string_view spCsv) {
    const std::string nrWhat = "Таблица нормативов НР (812/пр)";
    const std::string spWhat = "Таблица нормативов СП (774/пр)";
    const auto nr = csvRecords(nrCsv, nrWhat);
    const auto sp = csvRecords(spCsv, spWhat);
    if (nr.empty()) throw Error(nrWhat + " пуста");
    if (sp.empty()) throw Error(spWhat + " пуста");
    const auto nc = columns(nr[0].second, {"ref", "item", "section", "group", "work_type", "percent", "percent_mprks",
                                           "percent_rks", "collections"}, nrWhat);
    const auto sc = columns(sp[0].second, {"ref", "percent"}, spWhat);

    std::map<std::string, std::pair<int, Dec7>> spByRef;
    for (size_t i = 1; i < sp.size(); ++i) {
        const auto& [line, r] = sp[i];
        const std::string where = spWhat + ", строка " + std::to_string(line);
        if (r.size() != sp[0].second.size()) throw Error(where + ": не то число полей");
        if (!spByRef.emplace(r[sc.at("ref")], std::pair{line, percentAt(r, sc.at("percent"), where)}).second)
            throw Error(where + ": строка «" + r[sc.at("ref")] + "» повторяется");
    }

    NrSpTables t;
    for (size_t i = 1; i < nr.size(); ++i) {
        const auto& [line, r] = nr[i];
        const std::string where = nrWhat + ", строка " + std::to_string(line);
        if (r.size() != nr[0].second.size()) throw Error(where + ": не то число полей");
        NrSpRow row;
        row.ref = r[nc.at("ref")];
        row.item = r[nc.at("item")];
        row.section = r[nc.at("section")];
        row.group = r[nc.at("group")];
        row.workType = r[nc.at("work_type")];
        row.collections = r[nc.at("collections")];
        row.nrPercent = {percentAt(r, nc.at("percent"), where), percentAt(r, nc.at("percent_mprks"), where),
                         percentAt(r, nc.at("percent_rks"), where)};
        if (row.ref.empty() || bareRef(row.ref) != row.ref) throw Error(where + ": код строки «" + row.ref + "» неверен");
        const auto s = spByRef.find(row.ref);
        if (s == spByRef.end()) throw Error(spWhat + ": нет строки " + row.ref);
        row.spPercent = s->second.second;
        spByRef.erase(s);
        if (t.find(row.ref)) throw Error(where + ": строка «" + row.ref + "» повторяется");
        t.byRef_.emplace(row.ref, t.rows_.size());
        t.rows_.push_back(std::move(row));
    }
    if (!spByRef.empty())
        throw Error(spWhat + ", строка " + std::to_string(spByRef.begin()->second.first) + ": строки " +
                    spByRef.begin()->first + " нет в таблице НР");
    return t;
}

const NrSpRow* NrSpTables::find(std::string_view ref) const {
    const std::string_view bare = bareRef(ref);
    const auto at = byRef_.find(bare);
    return at == byRef_.end() ? nullptr : &rows_[at->second];
}

std::vector<const NrSpRow*> NrSpTables::search(std::string_view query) const {
    std::vector<std::string> words;
    const std::string q = foldCase(query, Yo::AsE);
    for (size_t at = 0; at < q.size();) {
        const size_t end = q.find(' ', at);
        const size_t stop = end == std::string::npos ? q.size() : end;
        if (stop > at) words.push_back(q.substr(at, stop - at));
        at = stop + 1;
    }
    std::vector<const NrSpRow*> out;
    for (const NrSpRow& r : rows_) {
        const std::string hay = foldCase(r.ref + " " + r.item + " " + r.title() + " " + r.collections, Yo::AsE);
        bool all = true;
        for (const std::string& w : words) all = all && hay.find(w) != std::string::npos;
        if (all) out.push_back(&r);
    }
    return out;
}

const NrSpTables& nrSpTables() {
    static const NrSpTables tables = NrSpTables::fromCsv(shippedNrCsv(), shippedSpCsv());
    return tables;
}

std::string nrReference(std::string_view row, Territory territory) {
    return "Пр/812-" + std::string(row) + "-" + std::to_string(static_cast<int>(territory));
}

std::string spReference(std::string_view row) { return "Пр/774-" + std::string(row); }

std::string rowOfReference(std::string_view reference) { return std::string(bareRef(reference)); }

}  // namespace talvira::model
