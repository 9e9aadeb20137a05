#include "normbase/import/OfficialXml.h"

#include "common/Error.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace talvira::normimport {

namespace {

const char* attr(const char** atts, const char* name) {
    for (; atts && *atts; atts += 2)
        if (std::strcmp(atts[0], name) == 0) return atts[1];
    return nullptr;
}
std::string attrText(const char** atts, const char* name) {
    const char* v = attr(atts, name);
    return v ? std::string(v) : std::string();
}

/** Blanks (spaces, tabs, line breaks) collapsed to one space, none at the ends. */
std::string collapse(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (s.empty() || (!blank(s.front()) && !blank(s.back()) && s.find_first_of("\t\r\n") == std::string_view::npos &&
                      s.find("  ") == std::string_view::npos))
        return std::string(s);  // the usual case: nothing to collapse
    std::string out;
    out.reserve(s.size());
    bool gap = false;
    for (char c : s) {
        if (blank(c)) {
            gap = true;
            continue;
        }
        if (gap && !out.empty()) out += ' ';
        gap = false;
        out += c;
    }
    return out;
}

/** "A. B" of a code and a name, either of which may be missing. */
std::string titled(const std::string& head, const std::string& code, const std::string& name) {
    std::string s = head;
    if (!code.empty()) s += (s.empty() ? "" : " ") + code + ".";
    if (!name.empty()) s += (s.empty() ? "" : " ") + name;
    return s;
}

}  // namespace

std::string OfficialXmlReader::place() const {
    return parser_ ? "строка " + std::to_string(parser_->line()) : std::string();
}

std::optional<double> OfficialXmlReader::number(const char* value, const char* what) {
    if (!value) return std::nullopt;
    std::string s = collapse(value);
    if (s.empty()) return std::nullopt;
    bool unusual = false;
    if (auto comma = s.find(','); comma != std::string::npos && s.find(',', comma + 1) == std::string::npos &&
                                  s.find('.') == std::string::npos) {
        s[comma] = '.';
        unusual = true;
    }
    double v = 0;
    const char* b = s.data();
    const char* e = b + s.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || !std::isfinite(v)) return std::nullopt;
    if (s.find_first_of("eE") != std::string::npos) unusual = true;
    if (unusual) base_.notice(Notice::UnusualNumber, std::string(what) + " «" + value + "», " + place());
    return v;
}

int32_t OfficialXmlReader::currentEntry(const char* what) const {
    if (sections_.empty())
        throw Error(parser_->where(std::string("элемент ") + what + " вне раздела (Section): такой файл не читается"));
    const int32_t e = sections_.back().entry;
    if (e == 0)
        throw Error(parser_->where(std::string("элемент ") + what + " прямо в сборнике, вне таблицы: такой файл не читается"));
    return e;
}

OfficialXmlReader::El OfficialXmlReader::childOf(El parent, std::string_view n) const {
    const bool norms = root_ == Root::Norms;
    switch (parent) {
    case El::Root:
        if (n == "Decrees") return El::Decrees;
        if (n == "ResourcesDirectory") return El::Directory;
        break;
    case El::Decrees:
        if (n == "Decree") return El::Decree;
        if (n == "ApprovingActNumber") return El::ActNumber;
        if (n == "ApprovingActDate") return El::ActDate;
        break;
    case El::Directory:
        if (n == "ResourceCategory") return El::Category;
        if (n == "Section") return El::Section;
        break;
    case El::Category:
        if (n == "Section") return El::Section;
        break;
    case El::Section:
        if (n == "Section") return El::Section;
        if (norms && n == "NameGroup") return El::NameGroup;
        if (norms && n == "Work") return El::Work;
        if (!norms && n == "Resource") return El::Resource;
        break;
    case El::NameGroup:
        if (n == "Work") return El::Work;
        break;
    case El::Work:
        if (n == "Resources") return El::Resources;
        if (n == "NrSp") return El::NrSp;
        if (n == "Prices") return El::WorkPrices;
        if (n == "Content") return El::Ignored;
        break;
    case El::Resources: return El::Line;  // every child is a line of the norm
    case El::NrSp:
        if (n == "ReasonItem") return El::Reason;
        break;
    case El::WorkPrices:
        if (n == "Price") return El::WorkPrice;
        break;
    case El::Resource:
        if (n == "Prices") return El::ResourcePrices;
        if (n == "ExpendableMaterials") return El::Ignored;
        break;
    case El::ResourcePrices:
        if (n == "Price") return El::ResourcePrice;
        break;
    case El::Decree:
    case El::ActNumber:
    case El::ActDate:
    case El::Line:
    case El::Reason:
    case El::WorkPrice:
    case El::ResourcePrice:
    case El::Ignored:
    case El::Skipped: return El::Ignored;
    }
    return El::Skipped;
}

/** The norm files write their creation date the American way ("8/18/2025"); the report and the
 *  origin note show it as the user reads dates ("18.08.2025"). Anything else stays as written. */
static std::string russianDate(const std::string& us) {
    unsigned m = 0, d = 0, y = 0;
    char tail = 0;
    if (std::sscanf(us.c_str(), "%u/%u/%u%c", &m, &d, &y, &tail) != 3 || m < 1 || m > 12 || d < 1 || d > 31 ||
        y < 1000 || y > 9999)
        return us;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04u", d, m, y);
    return buf;
}

void OfficialXmlReader::startElement(const char* name, const char** atts) {
    const std::string_view n(name);
    if (stack_.empty()) {
        rootName_ = name;
        if (n == "base") {
            root_ = Root::Norms;
            source_.kind = "нормы";
            source_.baseType = attrText(atts, "BaseType");
            source_.priceLevel = attrText(atts, "PriceLevel");
            source_.date = russianDate(attrText(atts, "CreationDate"));
        } else if (n == "ResourceCatalog") {
            root_ = Root::Prices;
            source_.kind = "цены";
            source_.priceLevel = attrText(atts, "PriceLevel");
        } else {
            root_ = Root::Other;
            parser_->stop();
            return;
        }
        stack_.push_back(El::Root);
        return;
    }
    const El parent = stack_.back();
    El el = childOf(parent, n);
    if (el == El::Skipped) {
        // A norm or a resource in a place no section holds it is refused, not dropped.
        if ((n == "Work" && root_ == Root::Norms) || (n == "Resource" && root_ == Root::Prices && parent != El::Line))
            currentEntry(name);
        if (parent != El::Skipped && parent != El::Ignored) base_.notice(Notice::UnknownElement, "<" + std::string(n) + ">, " + place());
    }
    stack_.push_back(el);
    switch (el) {
    case El::Decree: {
        const std::string d = attrText(atts, "Name");
        if (!d.empty()) source_.decree += (source_.decree.empty() ? "" : "; ") + d;
        break;
    }
    case El::ActNumber:
    case El::ActDate:
        capture_ = true;
        text_.clear();
        break;
    case El::Category: codePrefix_ = attrText(atts, "CodePrefix"); break;
    case El::Section: startSection(atts); break;
    case El::NameGroup: beginName_ = collapse(attrText(atts, "BeginName")); break;
    case El::Work: startWork(atts); break;
    case El::Line: startLine(n, atts); break;
    case El::Reason: base_.setReasons(attrText(atts, "Nr"), attrText(atts, "Sp")); break;
    case El::WorkPrice: {
        DirectPrices p;
        auto get = [&](const char* a) { return number(attr(atts, a), a).value_or(0); };
        p.total = get("Cost");
        p.wages = get("Salary");
        p.machines = get("Machines");
        p.machineWages = get("SalaryMach");
        p.materials = get("Materials");
        base_.setDirectPrices(p);
        break;
    }
    case El::Resource: startResource(atts); break;
    case El::ResourcePrice:
        if (resHasPrice_) break;  // the first price counts
        resHasPrice_ = true;
        if (const char* cost = attr(atts, "Cost")) {
            resPrice_ = number(cost, "Cost");
        } else {
            auto wages = number(attr(atts, "SalaryMach"), "SalaryMach");
            auto rest = number(attr(atts, "PriceCostWithoutSalary"), "PriceCostWithoutSalary");
            if (wages || rest) {
                resPrice_ = wages.value_or(0) + rest.value_or(0);
                resMachineWages_ = wages.value_or(0);
            }
        }
        break;
    default: break;
    }
}

void OfficialXmlReader::startSection(const char** atts) {
    const std::string type = collapse(attrText(atts, "Type"));
    const std::string code = collapse(attrText(atts, "Code"));
    const std::string name = collapse(attrText(atts, "Name"));
    if (code.empty()) base_.notice(Notice::MissingCode, "раздел «" + name + "», " + place());
    if (sections_.empty()) {
        // The top section is the collection: a "Сборник" of norms, a "Книга" of prices.
        const std::string head = root_ == Root::Prices ? "ФСБЦ" : !codePrefix_.empty() ? codePrefix_ : source_.baseType;
        base_.addCollection(titled(head, code, name));
        sections_.push_back({0});
        return;
    }
    sections_.push_back({base_.addEntry(titled(type, code, name))});
}

void OfficialXmlReader::startWork(const char** atts) {
    const int32_t entry = currentEntry("Work");
    workCode_ = collapse(attrText(atts, "Code"));
    const std::string end = collapse(attrText(atts, "EndName"));
    const bool inGroup = stack_.size() >= 2 && stack_[stack_.size() - 2] == El::NameGroup;
    const std::string& begin = inGroup ? beginName_ : std::string();
    std::string name = begin.empty() ? end : end.empty() ? begin : begin + " " + end;
    if (workCode_.empty()) base_.notice(Notice::MissingCode, "расценка «" + name + "», " + place());
    base_.beginRate(entry, workCode_, std::move(name), collapse(attrText(atts, "MeasureUnit")),
                    !codePrefix_.empty() ? codePrefix_ : source_.baseType);
}

void OfficialXmlReader::startLine(std::string_view element, const char** atts) {
    const std::string code = collapse(attrText(atts, "Code"));
    std::string name = collapse(attrText(atts, "EndName"));
    if (name.empty()) name = collapse(attrText(atts, "Name"));
    const char* q = attr(atts, "Quantity");
    std::optional<double> quantity = number(q, "Quantity");
    if (!quantity)
        base_.notice(Notice::NonNumericQuantity, workCode_ + ": " + code + " «" + (q ? q : "") + "»");
    if (code.empty()) base_.notice(Notice::MissingCode, "ресурс расценки " + workCode_ + ", " + place());
    base_.addLine(code.empty() ? "(без шифра) " + name : code, name, collapse(attrText(atts, "MeasureUnit")), quantity,
                  element == "AbstractResource");
}

void OfficialXmlReader::startResource(const char** atts) {
    resEntry_ = currentEntry("Resource");
    resCode_ = collapse(attrText(atts, "Code"));
    resName_ = collapse(attrText(atts, "Name"));
    resUnit_ = collapse(attrText(atts, "MeasureUnit"));
    resPrice_.reset();
    resMachineWages_.reset();
    resHasPrice_ = false;
    if (resCode_.empty()) base_.notice(Notice::MissingCode, "ресурс «" + resName_ + "», " + place());
}

void OfficialXmlReader::endElement(const char*) {
    if (stack_.empty()) return;
    const El el = stack_.back();
    stack_.pop_back();
    switch (el) {
    case El::ActNumber:
    case El::ActDate: {
        capture_ = false;
        (el == El::ActNumber ? actNumber_ : actDate_) = collapse(text_);
        if (el == El::ActDate) source_.date = actDate_;
        std::string act = actNumber_.empty() ? std::string() : "Приказ " + actNumber_;
        if (!actDate_.empty()) act += (act.empty() ? "Приказ от " : " от ") + actDate_;
        source_.decree = act;
        break;
    }
    case El::Section: sections_.pop_back(); break;
    case El::NameGroup: beginName_.clear(); break;
    case El::Resource:
        base_.addPriceRecord(resEntry_, resCode_, resName_, resUnit_, resPrice_, resMachineWages_);
        break;
    default: break;
    }
}

}  // namespace talvira::normimport
