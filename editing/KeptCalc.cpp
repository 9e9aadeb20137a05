// The estimate's calc file: its parameters of computation and the data of its positions, one
// "key=value" line each, positions as "[COUNT]" sections. UTF-8; values run to the end of the
// line with "\\", "\n" and "\r" escaped; numbers with a decimal point whatever the locale.
//
//   # Тальвира: параметры расчета и данные позиций сметы, формат 1
//   # файл кончается строкой «# конец»
//   method=421
//   territory=1
//   index.ot=52.21
//   region.code=50
//   [1]
//   code=ФЕР08-01-001-01
//   nr=008.0
//   coef=1.15:ОТ+ЗТ:421/пр прил. 10 т. 1 п. 4
//   index.ot=1                    (a position's own index, beside the estimate's)
//   # конец
#include "editing/KeptCalc.h"
#include "editing/KeptLines.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/Utf8.h"
#include "estimate/EstimateFile.h"
#include "storage/Warnings.h"

#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_set>

namespace talvira::editing {

namespace fs = std::filesystem;
using talvira::Dec7;

namespace {

const std::string& kHeader = estimate::kKeptCalcHeader;
constexpr int kVersion = 1;
// A file cut at a line end reads as a shorter one: the rows and coefficients of the positions
// past the cut would be lost without a word. So the file declares on its second line that it
// ends with kEnd, and a declared end that is missing is damage. Both are comments: the previous
// version reads these files as ever; its own files, without the declaration, are read as before
// (only one cut short to its first line is known to be damaged: it always wrote the parameters).
const std::string kEndDeclared = "# файл кончается строкой «# конец»";
const std::string kEnd = "# конец";
constexpr uintmax_t kLargestFile = uintmax_t(256) << 20;  // 10 000 positions take about 2 MB

/** A damaged file: why, with the line. */
struct Damaged {
    std::string why;
};

std::optional<int64_t> wholeNumber(std::string_view s) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

/** "1.15:ОТ+ЗТ:reason" (the reason may hold colons). */
std::optional<model::Coefficient> coefficientFrom(std::string_view text) {
    const size_t a = text.find(':');
    if (a == std::string_view::npos) return std::nullopt;
    const size_t b = text.find(':', a + 1);
    const std::optional<Dec7> value = Dec7::tryParse(text.substr(0, a));
    const std::optional<unsigned> targets =
        model::targetsFromText(text.substr(a + 1, b == std::string_view::npos ? std::string_view::npos : b - a - 1));
    if (!value || !targets) return std::nullopt;
    model::Coefficient c{*value, *targets, b == std::string_view::npos ? std::string() : std::string(text.substr(b + 1))};
    return c;
}

/** A position's own indices, in the order they are written. */
constexpr std::string_view kOwnIndexKeys[] = {"index.ot", "index.otm", "index.em", "index.m", "index.eq"};

std::optional<Dec7>* ownIndex(model::PositionIndices& i, std::string_view key) {
    std::optional<Dec7>* const to[] = {&i.ot, &i.otm, &i.em, &i.m, &i.eq};
    for (size_t k = 0; k < std::size(kOwnIndexKeys); ++k)
        if (key == kOwnIndexKeys[k]) return to[k];
    return nullptr;
}

class Reader {
public:
    explicit Reader(KeptCalc& calc) : calc_(calc) {}

    /** Empty when read, else why the file is damaged. */
    std::string read(const std::string& content) {
        if (!utf8::valid(content)) return "текст не в кодировке UTF-8";
        std::istringstream in(content);
        std::string line;
        if (!std::getline(in, line)) return "файл пуст";
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(kHeader, 0) != 0) return "первая строка не заголовок файла данных сметы";
        const std::optional<int64_t> version = wholeNumber(std::string_view(line).substr(kHeader.size()));
        if (!version || *version < 1) return "строка 1: неверный номер формата";
        if (*version > kVersion)
            return "формат " + std::to_string(*version) + " записан более новой версией программы";
        std::unordered_set<int32_t> sections;
        bool endDeclared = false, ended = false, anyLine = false;
        for (int number = 2; std::getline(in, line); ++number) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            anyLine = true;
            if (number == 2 && line == kEndDeclared) endDeclared = true;
            if (ended && !line.empty()) return "после строки «" + kEnd + "» ещё строки";
            if (endDeclared && line == kEnd) ended = true;
            if (line.empty() || line[0] == '#') continue;
            where_ = "строка " + std::to_string(number);
            if (line.front() == '[') {
                const std::optional<int64_t> count =
                    line.back() == ']' ? wholeNumber(std::string_view(line).substr(1, line.size() - 2)) : std::nullopt;
                if (!count || *count <= 0 || *count > INT32_MAX) return where_ + ": неверный номер позиции «" + line + "»";
                if (!sections.insert(int32_t(*count)).second)
                    return where_ + ": позиция " + std::to_string(*count) + " указана второй раз";
                calc_.positions.emplace_back();
                calc_.positions.back().count = int32_t(*count);
                seen_.clear();
                continue;
            }
            const size_t eq = line.find('=');
            if (eq == std::string::npos) return where_ + ": нет знака «=»";
            const std::string key = line.substr(0, eq);
            if (key != "nr_choice" && key != "sp_choice" && key != "coef" && !seen_.insert(key).second)
                return where_ + ": «" + key + "» указано второй раз";
            const std::optional<std::string> value = unescapedValue(std::string_view(line).substr(eq + 1));
            if (!value) return where_ + ": неверная последовательность с «\\»";
            const std::string why = calc_.positions.empty() ? param(key, *value) : extra(calc_.positions.back(), key, *value);
            if (!why.empty()) return why;
        }
        if (endDeclared && !ended) return "файл обрезан: нет последней строки «" + kEnd + "»";
        if (!anyLine) return "файл обрезан после первой строки";
        return {};
    }

private:
    std::string bad(const std::string& key, const std::string& value) const {
        return where_ + ": «" + key + "=" + value + "» неверно";
    }

    std::string number(const std::string& key, const std::string& value, std::optional<Dec7>& to) const {
        if (value.empty()) {
            to.reset();
            return {};
        }
        to = Dec7::tryParse(value);
        return to ? std::string() : bad(key, value);
    }

    std::string param(const std::string& key, const std::string& value) {
        if (key == "base") {
            calc_.base = value;
            return {};
        }
        bool known = true;
        // a name this version does not know is passed over
        return model::setParam(calc_.params, key, value, known, /*typed=*/false).empty() ? std::string() : bad(key, value);
    }

    std::string extra(model::PositionData& e, const std::string& key, const std::string& value) {
        std::optional<Dec7> d;
        if (key == "code") {
            e.code = value;
        } else if (key == "parent") {
            const std::optional<int64_t> v = wholeNumber(value);
            if (!v || *v < 0 || *v > INT32_MAX) return bad(key, value);
            e.parent = int32_t(*v);
        } else if (key == "per_unit" || key == "ztm") {
            if (!(d = Dec7::tryParse(value))) return bad(key, value);
            (key == "ztm" ? e.machinistLabour : e.perUnit) = *d;
        } else if (key == "nr") {
            e.nrRow = value;
        } else if (key == "sp") {
            e.spRow = value;
        } else if (key == "nr_choice") {
            e.nrChoices.push_back(value);
        } else if (key == "sp_choice") {
            e.spChoices.push_back(value);
        } else if (key == "nr_pct") {
            return number(key, value, e.nrPercent);
        } else if (key == "sp_pct") {
            return number(key, value, e.spPercent);
        } else if (key == "worktype") {
            e.workType = model::workTypeFromText(value);
            if (!e.workType) return bad(key, value);
        } else if (key == "extra_k") {
            if (!(d = Dec7::tryParse(value)) || d->units() < 0) return bad(key, value);
            e.extraPayFactor = d;
        } else if (key.rfind("index.", 0) == 0) {
            std::optional<Dec7>* const to = ownIndex(e.indices, key);
            if (!to) return {};  // an index this version does not know is passed over
            if (!(*to = Dec7::tryParse(value)) || (*to)->units() <= 0) return bad(key, value);
        } else if (key == "coef") {
            const std::optional<model::Coefficient> c = coefficientFrom(value);
            if (!c) return bad(key, value);
            e.coefficients.push_back(*c);
        }
        return {};
    }

    KeptCalc& calc_;
    std::string where_;
    std::set<std::string> seen_;
};

std::string optionalText(const std::optional<Dec7>& d) { return d ? d->text() : std::string(); }

void line(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += '=';
    out += escapedValue(value);
    out += '\n';
}

}  // namespace

const model::PositionData* KeptCalc::find(int32_t count) const {
    for (const model::PositionData& e : positions)
        if (e.count == count) return &e;
    return nullptr;
}

model::PositionData& KeptCalc::entry(int32_t count) {
    for (model::PositionData& e : positions)
        if (e.count == count) return e;
    positions.emplace_back();
    positions.back().count = count;
    return positions.back();
}

std::string keptCalcContent(const KeptCalc& calc) {
    std::string out = kHeader + std::to_string(kVersion) + "\n" + kEndDeclared + "\n";
    const model::EstimateParams& p = calc.params;
    line(out, "method", p.method == model::Method::BaseIndex ? "421" : "template");
    line(out, "territory", std::to_string(static_cast<int>(p.territory)));
    line(out, "repair", p.capitalRepair ? "1" : "0");
    line(out, "region", p.region);
    line(out, "level", p.level);
    line(out, "letter", p.letter);
    line(out, "index.ot", optionalText(p.indexOt));
    line(out, "index.em", optionalText(p.indexEm));
    line(out, "index.m", optionalText(p.indexM));
    line(out, "index.eq", optionalText(p.indexEq));
    line(out, "baselevel", p.baseLevel);
    // the expertise facts only when given: an estimate without them keeps the file it had
    for (const model::ExpertiseKey& k : model::kExpertiseKeys)
        if (const std::string& v = p.gge.*k.member; !v.empty()) line(out, k.key, v);
    if (!calc.base.empty()) line(out, "base", calc.base);
    std::set<int32_t> written;
    for (const model::PositionData& e : calc.positions) {
        if (!written.insert(e.count).second) continue;  // the first entry of a number is the one used
        out += "[" + std::to_string(e.count) + "]\n";
        if (!e.code.empty()) line(out, "code", e.code);
        if (e.parent != 0) line(out, "parent", std::to_string(e.parent));
        if (!e.perUnit.isZero()) line(out, "per_unit", e.perUnit.text());
        if (!e.nrRow.empty()) line(out, "nr", e.nrRow);
        if (!e.spRow.empty()) line(out, "sp", e.spRow);
        for (const std::string& c : e.nrChoices) line(out, "nr_choice", c);
        for (const std::string& c : e.spChoices) line(out, "sp_choice", c);
        if (e.nrPercent) line(out, "nr_pct", e.nrPercent->text());
        if (e.spPercent) line(out, "sp_pct", e.spPercent->text());
        if (e.workType) line(out, "worktype", model::workTypeText(*e.workType));
        if (!e.machinistLabour.isZero()) line(out, "ztm", e.machinistLabour.text());
        if (e.extraPayFactor) line(out, "extra_k", e.extraPayFactor->text());
        model::PositionIndices own = e.indices;
        for (std::string_view key : kOwnIndexKeys)
            if (const std::optional<Dec7>* i = ownIndex(own, key); *i) line(out, key, (*i)->text());
        for (const model::Coefficient& c : e.coefficients)
            line(out, "coef", c.value.text() + ":" + model::targetsText(c.targets) + ":" + c.reason);
    }
    return out + kEnd + "\n";
}

KeptCalc loadKeptCalc(const fs::path& tablePath) {
    const fs::path file = estimate::keptCalcPath(tablePath);
    std::error_code ec;
    if (!fs::exists(file, ec)) return {};
    std::string content;
    KeptCalc calc;
    std::string why = readKeptFile(file, kLargestFile, content);
    if (why.empty()) why = Reader(calc).read(content);
    if (why.empty()) return calc;
    storage::warn("Параметры расчета сметы из файла «" + file.string() + "» не прочитаны (" + why +
                  "): смета считается по шаблону, данные позиций не взяты. Файл не изменится, пока "
                  "параметры или позиции не будут изменены.");
    return {};
}

void saveKeptCalc(const fs::path& tablePath, const KeptCalc& calc) {
    const fs::path file = estimate::keptCalcPath(tablePath);
    std::error_code ec;
    // A file of that name that is not of this kind (the user's own) is never written over.
    if (fs::exists(file, ec) && !estimate::keptCalcIsOurs(tablePath))
        throw Error("Параметры расчета сметы не сохранены: файл «" + file.string() +
                    "» не похож на файл данных сметы и оставлен как есть.");
    const std::string text = keptCalcContent(calc);
    writeFileAtomically(file, text, /*keepExisting=*/false, "параметры расчета сметы в файл");
}

}  // namespace talvira::editing
