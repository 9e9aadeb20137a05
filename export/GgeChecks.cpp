// The expert's checks before the expertise file is written, their texts read from the shipped
// data file.
#include "export/GgeChecks.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "common/Utf8.h"
#include "export/GgeSchema.h"

#include <fstream>
#include <regex>

namespace talvira::gge {

namespace fs = std::filesystem;

namespace {

const std::string kWordsPrefix = "слова.";

std::vector<std::string> split(std::string_view s, char by) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = s.find(by, from)) != std::string_view::npos; from = at + 1) parts.emplace_back(s.substr(from, at - from));
    parts.emplace_back(s.substr(from));
    return parts;
}

void replaceAll(std::string& text, std::string_view key, std::string_view value) {
    for (size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) text.replace(at, key.size(), value);
}

/** Whether XML 1.0 can carry `s` as it is: UTF-8 without control characters but tab and line ends. */
bool xmlCarries(std::string_view s) {
    if (!utf8::valid(s)) return false;
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

class Checker {
public:
    Checker(const GgeInput& in, const CheckTexts& texts) : in_(in), texts_(texts) {}

    void add(const std::string& code, int32_t position, const std::string& name = {}, const std::string& what = {}) {
        GgeCheck c;
        c.code = code;
        c.position = position;
        const auto found = texts_.byCode.find(code);
        c.blocking = found == texts_.byCode.end() || found->second.blocking;
        c.text = found == texts_.byCode.end() ? "Проверка «" + code + "»: " + what : found->second.text;
        replaceAll(c.text, "{N}", std::to_string(position));
        replaceAll(c.text, "{name}", name);
        replaceAll(c.text, "{what}", what);
        list.push_back(std::move(c));
    }

    void estimate();
    void indices();
    void positions(const std::vector<std::string>& baseNames);

    std::vector<GgeCheck> list;

private:
    void position(size_t index, const std::vector<std::string>& baseNames);
    /** What kind of line a name gives away («НДС»), "" for an ordinary one. */
    std::string forbiddenKind(const std::string& name) const;

    const GgeInput& in_;
    const CheckTexts& texts_;
};

void Checker::estimate() {
    const model::EstimateParams& p = in_.params;
    const model::ExpertiseFacts& f = p.gge;
    if (p.letter.empty()) add("letter", 0);
    if (f.wageAct.empty()) add("wage_act", 0);
    if (normsAct(in_).empty()) add("norms", 0);
    if (!model::dateFromText(f.normsDate) || f.normsNum.empty()) add("norms_register", 0);
    if (f.regionCode.empty()) add("region_code", 0);
    if (p.region.empty()) add("region", 0);
    static const std::regex threeGroups(R"(\d+-\d+-\d+)");
    if (!std::regex_search(f.estimateNum, threeGroups)) add("estimate_num", 0, {}, f.estimateNum);
    if (!quarterOf(p.level)) add("level", 0);
    if (!model::dateFromText(p.baseLevel)) add("base_level", 0);
    if (f.construction.empty()) add("construction", 0);
    if (f.object.empty()) add("object", 0);
    if (f.composedBy.empty()) add("signatures", 0, {}, "составил");
    if (f.checkedBy.empty()) add("signatures", 0, {}, "проверил");
    for (const std::string* text : {&p.region, &p.level, &p.letter})
        if (!xmlCarries(*text)) add("bad_param_text", 0, {}, *text);
    for (const model::ExpertiseKey& k : model::kExpertiseKeys)
        if (!xmlCarries(f.*k.member)) add("bad_param_text", 0, {}, k.caption);
}

void Checker::indices() {
    const model::EstimateParams& p = in_.params;
    bool rates = false;
    for (const model::PositionResult& r : in_.result.positions) rates = rates || r.kind == model::PositionResult::Kind::Rate;
    if (rates && !p.indexOt) add("index_ot", 0);
    std::string works;
    bool equipment = false;
    for (const model::WorkTypeTotals& w : in_.result.workTypes) {
        if (w.type == model::WorkType::Equipment) equipment = true;
        else works += (works.empty() ? "" : ", ") + std::string(model::workTypeText(w.type));
    }
    if (!works.empty() && !p.indexEm) add("index_em", 0, {}, works);
    if (!works.empty() && !p.indexM) add("index_m", 0, {}, works);
    if (equipment && !p.indexEq) add("index_eq", 0);
}

std::string Checker::forbiddenKind(const std::string& name) const {
    const std::string folded = foldCase(name);
    for (const auto& [kind, words] : texts_.words)
        for (const std::string& w : words)
            if (!w.empty() && folded.find(foldCase(w)) != std::string::npos) return kind;
    return {};
}

void Checker::position(size_t index, const std::vector<std::string>& baseNames) {
    const model::PositionResult& p = in_.result.positions[index];
    const int32_t n = int32_t(index + 1);
    const model::PositionRow& row = in_.rows.at(p.row);
    if (!p.computed) {
        std::string why;
        for (const model::Problem& problem : p.problems) why += (why.empty() ? "" : "; ") + problem.message;
        add("not_priced", n, row.name, why.empty() ? std::string("причина не указана") : why);
        return;
    }
    if (p.kind == model::PositionResult::Kind::Rate && (p.nrRef.empty() || p.spRef.empty())) add("no_nrsp", n, row.name);
    if (p.quantity <= Dec7()) add("quantity", n, row.name, p.quantity.text());
    for (const model::PricedMaterial& m : p.materials)
        if (!m.priced) add("material_unpriced", n, row.name, in_.rows.at(m.row).code);
    if (const std::string kind = forbiddenKind(row.name); !kind.empty()) add("forbidden_line", n, row.name, kind);
    std::vector<size_t> rowsOfIt{p.row};
    for (const model::PricedMaterial& m : p.materials) rowsOfIt.push_back(m.row);
    for (size_t r : rowsOfIt)
        for (const std::string* text : {&in_.rows.at(r).code, &in_.rows.at(r).name, &in_.rows.at(r).unit})
            if (!xmlCarries(*text)) add("bad_text", n, {}, *text);
    if (p.row < baseNames.size() && !baseNames[p.row].empty() && baseNames[p.row] != row.name)
        add("name_differs", n, row.name, baseNames[p.row]);
}

void Checker::positions(const std::vector<std::string>& baseNames) {
    bool any = false;
    for (size_t i = 0; i < in_.result.positions.size(); ++i) {
        any = any || in_.result.positions[i].computed;
        position(i, baseNames);
    }
    if (!any) add("no_positions", 0);
}

}  // namespace

CheckTexts readCheckTexts(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Не удалось прочитать тексты проверок файла для экспертизы «" + path.string() + "»");
    CheckTexts texts;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line.starts_with(kWordsPrefix) && line.find('=') != std::string::npos) {
            const size_t eq = line.find('=');
            texts.words.emplace_back(line.substr(kWordsPrefix.size(), eq - kWordsPrefix.size()), split(line.substr(eq + 1), '|'));
            continue;
        }
        const std::vector<std::string> parts = split(line, '|');
        if (parts.size() < 3 || (parts[1] != "блокирует" && parts[1] != "предупреждает"))
            throw Error("Тексты проверок «" + path.string() + "», строка " + std::to_string(number) +
                        ": ожидается КОД|блокирует или предупреждает|текст");
        std::string text = parts[2];
        for (size_t i = 3; i < parts.size(); ++i) text += "|" + parts[i];
        texts.byCode[parts[0]] = {parts[1] == "блокирует", text};
    }
    return texts;
}

CheckTexts shippedCheckTexts() { return readCheckTexts(exporting::ggeSchemaDir() / "checks.txt"); }

std::vector<GgeCheck> checkGge(const GgeInput& input, const CheckTexts& texts, const std::vector<std::string>& baseNames) {
    Checker c(input, texts);
    c.estimate();
    c.indices();
    c.positions(baseNames);
    return std::move(c.list);
}

bool blocks(const std::vector<GgeCheck>& checks) {
    for (const GgeCheck& c : checks)
        if (c.blocking) return true;
    return false;
}

std::string checkLine(const GgeCheck& c) { return (c.blocking ? "блокирует: " : "предупреждение: ") + c.text; }

}  // namespace talvira::gge
