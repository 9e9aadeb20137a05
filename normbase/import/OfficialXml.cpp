#include "normbase/import/OfficialXml.h"

#include "common/Error.h"
#include "normbase/import/ExpatParser.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace talvira::normimport {

namespace {

const char* attr(const char** atts, const char* name) {
    for (; atts && *atts; atts += 2)
        if (atts[0][0] == name[0] && std::strcmp(atts[0], name) == 0) return atts[1];  // most differ at once
    return nullptr;
}
std::string attrText(const char** atts, const char* name) {
    const char* v = attr(atts, name);
    return v ? std::string(v) : std::string();
}

std::string_view attrView(const char** atts, const char* name) {
    const char* v = attr(atts, name);
    return v ? std::string_view(v) : std::string_view();
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/** Blanks (spaces, tabs, line breaks) collapsed to one space, none at the ends: `s` itself
 *  when it has none to collapse (the usual case), else the text made in `scratch`. */
std::string_view collapsed(std::string_view s, std::string& scratch) {
    bool clean = true;
    for (size_t i = 0; clean && i < s.size(); ++i) {
        if (static_cast<unsigned char>(s[i]) > ' ') continue;  // the usual character: one test
        // A single space between words is clean; any other blank, a space at either end or
        // two spaces are not.
        clean = s[i] == ' ' ? i > 0 && i + 1 < s.size() && s[i + 1] != ' ' : !isBlank(s[i]);
    }
    if (clean) return s;
    scratch.clear();
    bool gap = false;
    for (char c : s) {
        if (isBlank(c)) {
            gap = true;
            continue;
        }
        if (gap && !scratch.empty()) scratch += ' ';
        gap = false;
        scratch += c;
    }
    return scratch;
}

/** Blanks (spaces, tabs, line breaks) collapsed to one space, none at the ends. */
std::string collapse(std::string_view s) {
    std::string scratch;
    return std::string(collapsed(s, scratch));
}

/** "A. B" of a code and a name, either of which may be missing. */
std::string titled(const std::string& head, const std::string& code, const std::string& name) {
    std::string s = head;
    if (!code.empty()) s += (s.empty() ? "" : " ") + code + ".";
    if (!name.empty()) s += (s.empty() ? "" : " ") + name;
    return s;
}

/** The state machine over one document; it owns the parser that drives it. */
class OfficialXmlReader final : public XmlHandler {
public:
    OfficialXmlReader(const std::string& shownName, BaseAssembler& base, SourceInfo& source)
        : base_(base), source_(source), parser_(shownName, *this) {}

    ExpatParser& parser() { return parser_; }
    DocumentKind kind() const { return kind_; }
    const std::string& rootName() const { return rootName_; }

    void startElement(const char* name, const char** atts) override;
    void endElement(const char* name) override;
    void text(const char* s, size_t n) override { text_.append(s, n); }
    bool wantText() const override { return capture_; }

private:
    enum class El {
        Root, Decrees, Decree, ActNumber, ActDate, Directory, Category, Section, NameGroup, Work, Resources, Line,
        NrSp, Reason, WorkPrices, WorkPrice, Resource, ResourcePrices, ResourcePrice, Ignored, Skipped
    };
    struct SectionFrame {
        int32_t entry = 0;  // 0: the collection itself
    };
    El childOf(El parent, std::string_view name) const;
    void startRoot(std::string_view name, const char** atts);
    void startSection(const char** atts);
    void startWork(const char** atts);
    void startLine(std::string_view name, const char** atts);
    void startResource(const char** atts);
    void startResourcePrice(const char** atts);
    /** A number attribute, exactly; nothing when absent or not a number. */
    std::optional<DecimalText> number(const char* value, const char* what);
    std::optional<Money> money(const char** atts, const char* name);
    int32_t currentEntry(const char* what) const;
    std::string place() const;
    const std::string& prefix() const { return !codePrefix_.empty() ? codePrefix_ : source_.baseType; }

    BaseAssembler& base_;
    SourceInfo& source_;
    ExpatParser parser_;
    DocumentKind kind_ = DocumentKind::Other;
    std::string rootName_;
    std::vector<El> stack_;
    std::vector<SectionFrame> sections_;
    std::string codePrefix_;
    std::string beginName_;
    std::string workCode_;
    // A price file's resource, stored when it ends (its price comes in a child element).
    std::string resCode_, resName_, resUnit_;
    std::optional<ResourcePrice> resPrice_;
    bool resHasPrice_ = false;
    int32_t resEntry_ = 0;
    bool capture_ = false;
    std::string text_, actNumber_, actDate_;
    std::string scratch_[5];  // room for collapsed attributes (code, name, unit, number) and a norm's name
};

std::string OfficialXmlReader::place() const { return "строка " + std::to_string(parser_.line()); }

std::optional<DecimalText> OfficialXmlReader::number(const char* value, const char* what) {
    if (!value) return std::nullopt;
    auto n = DecimalText::parse(collapsed(value, scratch_[3]), DecimalSyntax::Lenient);
    if (n && n->unusual()) base_.notice(Notice::UnusualNumber, std::string(what) + " «" + value + "», " + place());
    return n;
}

std::optional<Money> OfficialXmlReader::money(const char** atts, const char* name) {
    const auto n = number(attr(atts, name), name);
    return n ? n->money() : std::nullopt;
}

int32_t OfficialXmlReader::currentEntry(const char* what) const {
    if (sections_.empty())
        throw Error(parser_.where(std::string("элемент ") + what + " вне раздела (Section): такой файл не читается"));
    const int32_t e = sections_.back().entry;
    if (e == 0)
        throw Error(parser_.where(std::string("элемент ") + what + " прямо в сборнике, вне таблицы: такой файл не читается"));
    return e;
}

OfficialXmlReader::El OfficialXmlReader::childOf(El parent, std::string_view n) const {
    const bool norms = kind_ == DocumentKind::Norms;
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
std::string russianDate(const std::string& us) {
    unsigned m = 0, d = 0, y = 0;
    char tail = 0;
    if (std::sscanf(us.c_str(), "%u/%u/%u%c", &m, &d, &y, &tail) != 3 || m < 1 || m > 12 || d < 1 || d > 31 ||
        y < 1000 || y > 9999)
        return us;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04u", d, m, y);
    return buf;
}

void OfficialXmlReader::startRoot(std::string_view n, const char** atts) {
    rootName_ = n;
    if (n == "base") {
        kind_ = DocumentKind::Norms;
        source_.kind = "нормы";
        source_.baseType = collapse(attrText(atts, "BaseType"));
        source_.priceLevel = collapse(attrText(atts, "PriceLevel"));
        source_.date = russianDate(attrText(atts, "CreationDate"));
    } else if (n == "ResourceCatalog") {
        kind_ = DocumentKind::Prices;
        source_.kind = "цены";
        source_.priceLevel = collapse(attrText(atts, "PriceLevel"));
    } else {
        parser_.stop();
        return;
    }
    stack_.push_back(El::Root);
}

void OfficialXmlReader::startElement(const char* name, const char** atts) {
    const std::string_view n(name);
    if (stack_.empty()) return startRoot(n, atts);
    const El parent = stack_.back();
    El el = childOf(parent, n);
    if (el == El::Skipped) {
        // A norm or a resource in a place no section holds it is refused, not dropped.
        if ((n == "Work" && kind_ == DocumentKind::Norms) || (n == "Resource" && kind_ == DocumentKind::Prices && parent != El::Line))
            currentEntry(name);
        if (parent != El::Skipped && parent != El::Ignored) base_.notice(Notice::UnknownElement, "<" + std::string(n) + ">, " + place());
    }
    stack_.push_back(el);
    switch (el) {
    case El::Decree: {
        const std::string d = collapse(attrText(atts, "Name"));
        if (!d.empty()) source_.decree += (source_.decree.empty() ? "" : "; ") + d;
        if (!d.empty()) source_.orders.push_back(d);
        break;
    }
    case El::ActNumber:
    case El::ActDate:
        capture_ = true;
        text_.clear();
        break;
    case El::Category: codePrefix_ = collapse(attrText(atts, "CodePrefix")); break;
    case El::Section: startSection(atts); break;
    case El::NameGroup: beginName_ = collapse(attrText(atts, "BeginName")); break;
    case El::Work: startWork(atts); break;
    case El::Line: startLine(n, atts); break;
    case El::Reason: base_.addReasons(collapse(attrText(atts, "Nr")), collapse(attrText(atts, "Sp"))); break;
    case El::WorkPrice: {
        DirectPrices p;
        auto get = [&](const char* a) { return money(atts, a).value_or(Money()); };
        p.total = get("Cost");
        p.wages = get("Salary");
        p.machines = get("Machines");
        p.machineWages = get("SalaryMach");
        p.materials = get("Materials");
        base_.setDirectPrices(p);
        break;
    }
    case El::Resource: startResource(atts); break;
    case El::ResourcePrice: startResourcePrice(atts); break;
    default: break;
    }
}

void OfficialXmlReader::startResourcePrice(const char** atts) {
    if (resHasPrice_) return;  // the first price counts
    resHasPrice_ = true;
    if (attr(atts, "Cost")) {
        if (auto cost = money(atts, "Cost")) resPrice_ = ResourcePrice{false, *cost, Money()};
        return;
    }
    // A machine: its price per machine-hour is the machinist's wage and the rest.
    const auto wages = money(atts, "SalaryMach");
    const auto rest = money(atts, "PriceCostWithoutSalary");
    if (wages || rest) resPrice_ = ResourcePrice{true, wages.value_or(Money()) + rest.value_or(Money()), wages.value_or(Money())};
}

void OfficialXmlReader::startSection(const char** atts) {
    const std::string type = collapse(attrText(atts, "Type"));
    const std::string code = collapse(attrText(atts, "Code"));
    const std::string name = collapse(attrText(atts, "Name"));
    if (code.empty()) base_.notice(Notice::MissingCode, "раздел «" + name + "», " + place());
    if (sections_.empty()) {
        // The top section is the collection: a "Сборник" of norms, a "Книга" of prices.
        const std::string head = kind_ == DocumentKind::Prices ? "ФСБЦ" : prefix();
        base_.addCollection(titled(head, code, name));
        sections_.push_back({0});
        return;
    }
    sections_.push_back({base_.addEntry(titled(type, code, name))});
}

void OfficialXmlReader::startWork(const char** atts) {
    const int32_t entry = currentEntry("Work");
    workCode_ = collapsed(attrView(atts, "Code"), scratch_[0]);
    const std::string_view end = collapsed(attrView(atts, "EndName"), scratch_[1]);
    const bool inGroup = stack_.size() >= 2 && stack_[stack_.size() - 2] == El::NameGroup;
    const std::string_view begin = inGroup ? std::string_view(beginName_) : std::string_view();
    std::string& name = scratch_[4];
    name.clear();
    ((name += begin) += (begin.empty() || end.empty() ? "" : " ")) += end;
    if (workCode_.empty()) base_.notice(Notice::MissingCode, "расценка «" + name + "», " + place());
    base_.beginRate(entry, workCode_, name, collapsed(attrView(atts, "MeasureUnit"), scratch_[2]), prefix());
    if (source_.codePrefix.empty()) source_.codePrefix = prefix();
}

void OfficialXmlReader::startLine(std::string_view element, const char** atts) {
    const std::string_view code = collapsed(attrView(atts, "Code"), scratch_[0]);
    std::string_view name = collapsed(attrView(atts, "EndName"), scratch_[1]);
    if (name.empty()) name = collapsed(attrView(atts, "Name"), scratch_[1]);
    const char* q = attr(atts, "Quantity");
    const auto n = number(q, "Quantity");
    const std::optional<Dec7> quantity = n ? n->dec7() : std::nullopt;
    if (!quantity)
        base_.notice(Notice::NonNumericQuantity, workCode_ + ": " + std::string(code) + " «" + (q ? q : "") + "»");
    const std::string_view unit = collapsed(attrView(atts, "MeasureUnit"), scratch_[2]);
    const bool abstract = element == "AbstractResource";
    if (!code.empty()) return base_.addLine(code, name, unit, quantity, abstract);
    base_.notice(Notice::MissingCode, "ресурс расценки " + workCode_ + ", " + place());
    base_.addLine("(без шифра) " + std::string(name), name, unit, quantity, abstract);
}

void OfficialXmlReader::startResource(const char** atts) {
    resEntry_ = currentEntry("Resource");
    resCode_ = collapse(attrText(atts, "Code"));
    resName_ = collapse(attrText(atts, "Name"));
    resUnit_ = collapse(attrText(atts, "MeasureUnit"));
    resPrice_.reset();
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
    case El::Decrees:
        // A price file's approving act is known once its number and date are both read.
        if (kind_ == DocumentKind::Prices && !source_.decree.empty()) source_.orders.push_back(source_.decree);
        break;
    case El::Section: sections_.pop_back(); break;
    case El::NameGroup: beginName_.clear(); break;
    case El::Resource:
        base_.addPriceRecord(resEntry_, resCode_, resName_, resUnit_, resPrice_);
        break;
    default: break;
    }
}

}  // namespace

DocumentRead readDocument(const XmlInput& input, BaseAssembler& base, SourceInfo& source) {
    OfficialXmlReader reader(input.shownName, base, source);
    ExpatParser& parser = reader.parser();
    bool more = true;
    input.read([&](const char* p, size_t n) { return more = parser.feed(p, n, false); });
    if (more) parser.feed(nullptr, 0, true);
    return {reader.kind(), reader.rootName()};
}

}  // namespace talvira::normimport
