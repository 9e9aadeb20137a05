// The construction's file: the title data, then one section per line of the summary estimate in
// chapter order. UTF-8; values run to the end of the line with "\\", "\n" and "\r" escaped;
// amounts in rubles with a decimal point whatever the locale.
//
//   # Тальвира: сводный сметный расчет, формат 1
//   name=Школа на 550 мест
//   level=I кв. 2026
//   reserve=2
//   [object]
//   chapter=2
//   number=02-01
//   name=Здание школы
//   [object.estimate]
//   file=Общестроительные работы.db
//   name=Общестроительные работы
//   amounts=18456789.37:0.00:0.00:0.00
//   stamp=524288:1767225600000000000:2048:1767225600000000000:-1:0:1
//   [percent]
//   chapter=8
//   name=Временные здания и сооружения
//   percent=1.8
//   of=7
//   columns=4+5
#include "editing/SummaryFile.h"
#include "editing/KeptLines.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/TextFold.h"
#include "common/Utf8.h"
#include "model/Summary.h"

#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace talvira::editing {

namespace fs = std::filesystem;
using model::CostColumns;
using model::LineKind;
using model::SummaryLine;

const std::string kSummaryHeader = "# Тальвира: сводный сметный расчет, формат ";

namespace {

constexpr int kVersion = 1;
constexpr uintmax_t kLargestFile = uintmax_t(64) << 20;  // 10 000 linked estimates take about 4 MB

std::optional<int64_t> wholeNumber(std::string_view s) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    for (size_t at = 0;;) {
        const size_t next = s.find(sep, at);
        parts.push_back(s.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos) return parts;
        at = next + 1;
    }
}

std::string amountsText(const CostColumns& c) {
    std::string out;
    for (size_t i = 0; i < c.money.size(); ++i) out += (i ? ":" : "") + c.money[i].text();
    return out;
}

std::optional<CostColumns> amountsFrom(std::string_view text) {
    const std::vector<std::string_view> parts = split(text, ':');
    if (parts.size() != size_t(model::kCostColumns)) return std::nullopt;
    CostColumns c;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::optional<Money> m = Money::tryParse(parts[i]);
        if (!m) return std::nullopt;
        c.money[i] = *m;
    }
    return c;
}

std::string stampText(const model::FileStamp& s) {
    return std::to_string(s.size) + ":" + std::to_string(s.time) + ":" + std::to_string(s.sideSize) + ":" +
           std::to_string(s.sideTime) + ":" + std::to_string(s.textSize) + ":" + std::to_string(s.textTime) + ":" +
           (s.settled ? "1" : "0");
}

std::optional<model::FileStamp> stampFrom(std::string_view text) {
    const std::vector<std::string_view> parts = split(text, ':');
    if (parts.size() != 7) return std::nullopt;
    int64_t v[7];
    for (size_t i = 0; i < 7; ++i) {
        const std::optional<int64_t> n = wholeNumber(parts[i]);
        if (!n) return std::nullopt;
        v[i] = *n;
    }
    if (v[6] != 0 && v[6] != 1) return std::nullopt;
    return model::FileStamp{v[0], v[1], v[2], v[3], v[4], v[5], v[6] == 1};
}

/** The keys of an estimate's details by type of work, in WorkType order. */
constexpr const char* kDetailKeys[model::kWorkTypes] = {"detail.building", "detail.mounting", "detail.commissioning",
                                                        "detail.equipment", "detail.other"};

/** "ot:em:otm:m:pz:fot:nr:sp:total:zt:ztm". */
std::string detailText(const model::Elements& e) {
    std::string out;
    for (Money m : {e.ot, e.em, e.otm, e.m, e.pz, e.fot, e.nr, e.sp, e.total}) out += m.text() + ":";
    return out + e.zt.text() + ":" + e.ztm.text();
}

std::optional<model::Elements> detailFrom(std::string_view text) {
    const std::vector<std::string_view> parts = split(text, ':');
    if (parts.size() != 11) return std::nullopt;
    model::Elements e;
    Money* money[] = {&e.ot, &e.em, &e.otm, &e.m, &e.pz, &e.fot, &e.nr, &e.sp, &e.total};
    for (size_t i = 0; i < 9; ++i) {
        const std::optional<Money> m = Money::tryParse(parts[i]);
        if (!m) return std::nullopt;
        *money[i] = *m;
    }
    const std::optional<Dec7> zt = Dec7::tryParse(parts[9]), ztm = Dec7::tryParse(parts[10]);
    if (!zt || !ztm) return std::nullopt;
    e.zt = *zt;
    e.ztm = *ztm;
    return e;
}

void line(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += '=';
    out += escapedValue(value);
    out += '\n';
}

void estimateLines(std::string& out, const model::LinkedEstimate& e) {
    line(out, "file", e.file);
    line(out, "name", e.name);
    line(out, "amounts", amountsText(e.amounts));
    line(out, "stamp", stampText(e.stamp));
    for (size_t t = 0; t < e.details.size(); ++t)
        if (e.details[t] != model::Elements()) line(out, kDetailKeys[t], detailText(e.details[t]));
    if (e.exempt) line(out, "exempt", "1");
}

/** The sections as they are read: what each holds is checked when it ends. */
class Reader {
public:
    explicit Reader(model::Construction& c) : c_(c) {}

    /** Empty when read, else why the file is damaged. */
    std::string read(const std::string& content) {
        if (!utf8::valid(content)) return "текст не в кодировке UTF-8";
        std::istringstream in(content);
        std::string text;
        if (!std::getline(in, text)) return "файл пуст";
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.rfind(kSummaryHeader, 0) != 0) return "первая строка не заголовок файла сводного сметного расчета";
        const std::optional<int64_t> version = wholeNumber(std::string_view(text).substr(kSummaryHeader.size()));
        if (!version || *version < 1) return "строка 1: неверный номер формата";
        if (*version > kVersion)
            return "формат " + std::to_string(*version) + " записан более новой версией программы";
        for (int number = 2; std::getline(in, text); ++number) {
            if (!text.empty() && text.back() == '\r') text.pop_back();
            if (text.empty() || text[0] == '#') continue;
            where_ = "строка " + std::to_string(number);
            if (text.front() == '[') {
                if (std::string why = finish(); !why.empty()) return why;
                if (std::string why = begin(text); !why.empty()) return why;
                continue;
            }
            const size_t eq = text.find('=');
            if (eq == std::string::npos) return where_ + ": нет знака «=»";
            const std::string key = text.substr(0, eq);
            if (!seen_.insert(key).second) return where_ + ": «" + key + "» указано второй раз";
            const std::optional<std::string> value = unescapedValue(std::string_view(text).substr(eq + 1));
            if (!value) return where_ + ": неверная последовательность с «\\»";
            if (std::string why = section_.empty() ? title(key, *value) : member(key, *value); !why.empty()) return why;
        }
        return finish();
    }

private:
    std::string bad(const std::string& key, const std::string& value) const {
        return where_ + ": «" + key + "=" + value + "» неверно";
    }

    std::string title(const std::string& key, const std::string& value) {
        if (key == "name") {
            c_.name = value;
        } else if (key == "number") {
            c_.number = value;
        } else if (key == "customer") {
            c_.customer = value;
        } else if (key == "level") {
            c_.level = value;
        } else if (key == "vat.date") {
            if (value.empty()) c_.vatDate.reset();
            else if (!(c_.vatDate = model::CalendarDate::parse(value))) return bad(key, value);
        } else if (key == "created" && !value.empty()) {
            const std::optional<model::CalendarDate> d = model::CalendarDate::parse(value);
            if (!d) return bad(key, value);
            c_.created = *d;
        } else if (key == "purpose") {
            if (value == "production") c_.purpose = model::Purpose::Production;
            else if (value == "other") c_.purpose = model::Purpose::Other;
            else return bad(key, value);
        } else if (key == "reserve") {
            const std::optional<Dec7> d = Dec7::tryParse(value);
            if (!d) return bad(key, value);
            c_.reserve = *d;
        }
        // a name this version does not know is passed over
        return {};
    }

    std::string begin(const std::string& text) {
        section_ = text;
        sectionLine_ = where_;
        seen_.clear();
        chapter_ = 0;
        line_ = SummaryLine();
        estimate_ = model::LinkedEstimate();
        if (text == "[estimate]") line_.kind = LineKind::Estimate;
        else if (text == "[object]") line_.kind = LineKind::Object;
        else if (text == "[calc]") line_.kind = LineKind::Calculation;
        else if (text == "[percent]") line_.kind = LineKind::Percent;
        else if (text == "[object.estimate]") {
            if (!object_) return where_ + ": смета объекта без раздела [object] перед ней";
        } else {
            return where_ + ": неизвестный раздел «" + text + "»";
        }
        return {};
    }

    bool inEstimate() const { return section_ == "[estimate]" || section_ == "[object.estimate]"; }

    std::string member(const std::string& key, const std::string& value) {
        if (key == "chapter" && section_ != "[object.estimate]") {
            const std::optional<int64_t> n = wholeNumber(value);
            if (!n || *n < 1 || *n > model::kChapters) return bad(key, value);
            chapter_ = int(*n);
        } else if (inEstimate() && key == "file") {
            estimate_.file = value;
        } else if (key == "name") {
            (inEstimate() ? estimate_.name : line_.name) = value;
        } else if (key == "exempt" && section_ != "[object]") {
            if (value != "0" && value != "1") return bad(key, value);
            (inEstimate() ? estimate_.exempt : line_.exempt) = value == "1";
        } else if (key == "amounts" && (inEstimate() || section_ == "[calc]")) {
            const std::optional<CostColumns> a = amountsFrom(value);
            if (!a) return bad(key, value);
            (inEstimate() ? estimate_.amounts : line_.amounts) = *a;
        } else if (key.starts_with("detail.") && inEstimate()) {
            for (size_t t = 0; t < model::kWorkTypes; ++t)
                if (key == kDetailKeys[t]) {
                    const std::optional<model::Elements> d = detailFrom(value);
                    if (!d) return bad(key, value);
                    estimate_.details[t] = *d;
                }
        } else if (key == "stamp" && inEstimate()) {
            const std::optional<model::FileStamp> s = stampFrom(value);
            if (!s) return bad(key, value);
            estimate_.stamp = *s;
        } else if (key == "reason" && (section_ == "[calc]" || section_ == "[percent]")) {
            line_.reason = value;
        } else if (key == "number" && section_ == "[object]") {
            line_.objectNumber = value;
        } else if (key == "percent" && section_ == "[percent]") {
            const std::optional<Dec7> d = Dec7::tryParse(value);
            if (!d) return bad(key, value);
            line_.percent = *d;
        } else if (key == "of" && section_ == "[percent]") {
            const std::optional<int64_t> n = wholeNumber(value);
            if (!n || *n < 1 || *n > model::kChapters) return bad(key, value);
            line_.base = int(*n);
        } else if (key == "columns" && section_ == "[percent]") {
            const std::optional<unsigned> c = model::columnsFromText(value);
            if (!c) return bad(key, value);
            line_.columns = *c;
        }
        // a name this version does not know, or of another kind of line, is passed over
        return {};
    }

    /** The section just read, checked and taken. */
    std::string finish() {
        if (section_.empty()) return {};
        const std::string at = sectionLine_ + " (" + section_ + ")";
        if (inEstimate() && estimate_.file.empty()) return at + ": нет «file=»";
        if (section_ == "[object.estimate]") {
            object_->estimates.push_back(estimate_);
            return {};
        }
        if (chapter_ == 0) return at + ": нет «chapter=»";
        if (line_.kind == LineKind::Estimate) line_.estimates.push_back(estimate_);
        if (line_.kind == LineKind::Object && line_.objectNumber.empty()) return at + ": нет «number=»";
        if (line_.kind == LineKind::Percent) {
            try {
                model::checkLine(chapter_, line_);
            } catch (const Error& e) {
                return at + ": " + e.what();
            }
        }
        std::vector<SummaryLine>& lines = c_.chapter(chapter_);
        lines.push_back(line_);
        object_ = line_.kind == LineKind::Object ? &lines.back() : nullptr;
        return {};
    }

    model::Construction& c_;
    std::string where_, section_, sectionLine_;
    std::set<std::string> seen_;
    int chapter_ = 0;
    SummaryLine line_;
    model::LinkedEstimate estimate_;
    SummaryLine* object_ = nullptr;  // the object the next "[object.estimate]" belongs to
};

}  // namespace

fs::path summaryPath(const fs::path& dir, const std::string& name) {
    const fs::path typed(name);
    return dir / (equalFolded(typed.extension().string(), ".ssr") ? typed : fs::path(name + ".ssr"));
}

std::string summaryText(const model::Construction& c) {
    std::string out = kSummaryHeader + std::to_string(kVersion) + "\n";
    line(out, "name", c.name);
    line(out, "number", c.number);
    line(out, "customer", c.customer);
    line(out, "level", c.level);
    line(out, "vat.date", c.vatDate ? c.vatDate->text() : std::string());
    line(out, "created", c.created.year ? c.created.text() : std::string());
    line(out, "purpose", c.purpose == model::Purpose::Production ? "production" : "other");
    line(out, "reserve", c.reserve.text());
    for (int n = 1; n <= model::kChapters; ++n) {
        for (const SummaryLine& l : c.chapter(n)) {
            switch (l.kind) {
            case LineKind::Estimate:
                out += "[estimate]\n";
                line(out, "chapter", std::to_string(n));
                if (!l.estimates.empty()) estimateLines(out, l.estimates[0]);
                break;
            case LineKind::Object:
                out += "[object]\n";
                line(out, "chapter", std::to_string(n));
                line(out, "number", l.objectNumber);
                line(out, "name", l.name);
                for (const model::LinkedEstimate& e : l.estimates) {
                    out += "[object.estimate]\n";
                    estimateLines(out, e);
                }
                break;
            case LineKind::Calculation:
                out += "[calc]\n";
                line(out, "chapter", std::to_string(n));
                line(out, "name", l.name);
                if (!l.reason.empty()) line(out, "reason", l.reason);
                line(out, "amounts", amountsText(l.amounts));
                if (l.exempt) line(out, "exempt", "1");
                break;
            case LineKind::Percent:
                out += "[percent]\n";
                line(out, "chapter", std::to_string(n));
                line(out, "name", l.name);
                if (!l.reason.empty()) line(out, "reason", l.reason);
                line(out, "percent", l.percent.text());
                line(out, "of", std::to_string(l.base));
                line(out, "columns", model::columnsText(l.columns));
                if (l.exempt) line(out, "exempt", "1");
                break;
            }
        }
    }
    return out;
}

model::Construction summaryFromText(const std::string& text, const fs::path& file) {
    model::Construction c;
    if (const std::string why = Reader(c).read(text); !why.empty())
        throw Error("Сводный сметный расчет «" + file.string() + "» не прочитан: " + why +
                    ". Файл оставлен как есть.");
    return c;
}

model::Construction loadSummary(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw Error("Сводный сметный расчет «" + file.string() + "» не найден");
    std::string content;
    if (const std::string why = readKeptFile(file, kLargestFile, content); !why.empty())
        throw Error("Сводный сметный расчет «" + file.string() + "» не прочитан: " + why);
    return summaryFromText(content, file);
}

void saveSummary(const fs::path& file, const model::Construction& c) {
    std::error_code ec;
    if (fs::exists(file, ec)) {
        // A file of that name that is not of this kind (the user's own) is never written over.
        std::ifstream in(file, std::ios::binary);
        std::string first(kSummaryHeader.size(), '\0');
        if (!in.read(first.data(), std::streamsize(first.size())) || first != kSummaryHeader)
            throw Error("Сводный сметный расчет не сохранен: файл «" + file.string() +
                        "» не похож на файл сводного сметного расчета и оставлен как есть.");
    }
    const std::string text = summaryText(c);
    writeFileAtomically(file, text, /*keepExisting=*/false, "сводный сметный расчет в файл");
}

}  // namespace talvira::editing
