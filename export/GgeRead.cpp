// The expertise file of a local estimate read in one pass: expat reports each element; the reader
// keeps the path of open elements, collects the text of the leaves it needs and files it by its
// place relative to the open position or line. Required parts are checked at the end of their
// parent, numbers when they are read.
#include "export/GgeRead.h"

#include "common/Error.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <fstream>
#include <new>
#include <unordered_map>

namespace talvira::exporting {

namespace {

constexpr std::string_view kEstimate = "Construction/Object/Estimate";
constexpr std::string_view kSection = "Construction/Object/Estimate/Sections/Section";
constexpr std::string_view kItem = "Construction/Object/Estimate/Sections/Section/Items/Item";
constexpr std::string_view kTotals = "Construction/Object/Estimate/EstimatePrice/";

/** The children a parent must have, by the parent's path (an Item and a Cost by their place).
 *  IndexType is checked at the end: without it the file is of the resource-index method. */
struct Required {
    std::string_view parent;
    std::vector<std::string_view> children;
};
const std::vector<Required>& requiredParts() {
    static const std::vector<Required> parts = {
        {"Construction", {"Meta", "Object"}},
        {"Construction/Meta", {"File"}},
        {"Construction/Meta/File", {"Type", "Version"}},
        {"Construction/Object", {"Estimate"}},
        {kEstimate, {"Legal", "Salary", "ТerritoryТype", "Num", "Name", "Signatures", "Sections"}},
        {"Construction/Object/Estimate/Legal", {"Main", "Metodology", "Overheads", "Profits"}},
        {kSection, {"Code", "Name", "Items", "SectionPrice"}},
        {kItem, {"SummaryType", "Totals"}},
        {"Item/Cost", {"Num", "Code", "Name", "Quantity", "Unit", "PerUnit", "Totals"}},
    };
    return parts;
}

constexpr std::string_view kLineKinds[] = {"Material", "Machine", "Equipment", "Transport", "Other"};
bool isLineKind(std::string_view n) {
    for (std::string_view k : kLineKinds)
        if (n == k) return true;
    return false;
}

enum class Field {
    SummaryType, WorkType, NrReason, NrName, NrValue, NrValueTotal, NrBase, NrCur, SpReason, SpName, SpValue,
    SpValueTotal, SpBase, SpCur, Num, Prefix, Code, Name, Comment, Quantity, Formula, QuantityTotal, Unit,
    PerDirect, PerMachines, PerOt, PerOtm, PerM, PerZt, PerZtm, BaseDirect, BaseMachines, BaseOt, BaseOtm, BaseFot,
    BaseM, CurDirect, CurMachines, CurOt, CurOtm, CurFot, CurM, Zt, Ztm, FinalTarget, FinalValue, CoefTarget,
    CoefValue, CoefName, CoefReason, IndexName, IndexFinal, IndexTarget, SalaryBase, SalaryCur, TotalBase, TotalCur,
};

const std::unordered_map<std::string_view, Field>& itemFields() {
    using F = Field;
    static const std::unordered_map<std::string_view, Field> m = {
        {"SummaryType", F::SummaryType}, {"WorkType", F::WorkType},
        {"Overheads/Reason", F::NrReason}, {"Overheads/Name", F::NrName}, {"Overheads/Value", F::NrValue},
        {"Overheads/ValueTotal", F::NrValueTotal}, {"Overheads/PriceBase", F::NrBase}, {"Overheads/PriceCur", F::NrCur},
        {"Profits/Reason", F::SpReason}, {"Profits/Name", F::SpName}, {"Profits/Value", F::SpValue},
        {"Profits/ValueTotal", F::SpValueTotal}, {"Profits/PriceBase", F::SpBase}, {"Profits/PriceCur", F::SpCur},
        {"Cost/Num", F::Num}, {"Cost/Prefix", F::Prefix}, {"Cost/Code", F::Code}, {"Cost/Name", F::Name},
        {"Cost/Comment", F::Comment}, {"Cost/Quantity", F::Quantity}, {"Cost/QuantityFormula", F::Formula},
        {"Cost/QuantityTotal", F::QuantityTotal}, {"Cost/Unit", F::Unit},
        {"Cost/PerUnit/Base/Direct", F::PerDirect}, {"Cost/PerUnit/Base/Machines", F::PerMachines},
        {"Cost/PerUnit/Base/WorkersSalary", F::PerOt}, {"Cost/PerUnit/Base/MachinistSalary", F::PerOtm},
        {"Cost/PerUnit/Base/Materials", F::PerM}, {"Cost/PerUnit/Natural/LaborCosts", F::PerZt},
        {"Cost/PerUnit/Natural/MachinistLaborCosts", F::PerZtm},
        {"Cost/Totals/Base/Direct", F::BaseDirect}, {"Cost/Totals/Base/Machines", F::BaseMachines},
        {"Cost/Totals/Base/WorkersSalary", F::BaseOt}, {"Cost/Totals/Base/MachinistSalary", F::BaseOtm},
        {"Cost/Totals/Base/Salary", F::BaseFot}, {"Cost/Totals/Base/Materials", F::BaseM},
        {"Cost/Totals/Current/Direct", F::CurDirect}, {"Cost/Totals/Current/Machines", F::CurMachines},
        {"Cost/Totals/Current/WorkersSalary", F::CurOt}, {"Cost/Totals/Current/MachinistSalary", F::CurOtm},
        {"Cost/Totals/Current/Salary", F::CurFot}, {"Cost/Totals/Current/Materials", F::CurM},
        {"Cost/Totals/Natural/LaborCosts", F::Zt}, {"Cost/Totals/Natural/MachinistLaborCosts", F::Ztm},
        {"Cost/Coefficients/Final/Values/Value/Target", F::FinalTarget},
        {"Cost/Coefficients/Final/Values/Value/CoefValue", F::FinalValue},
        {"Cost/Coefficients/Coefficient/Values/Value/Target", F::CoefTarget},
        {"Cost/Coefficients/Coefficient/Values/Value/CoefValue", F::CoefValue},
        {"Cost/Coefficients/Coefficient/Name", F::CoefName}, {"Cost/Coefficients/Coefficient/Reason", F::CoefReason},
        {"Cost/Index/Name", F::IndexName}, {"Cost/Index/Values/Value/Final", F::IndexFinal},
        {"Cost/Index/Values/Value/Target", F::IndexTarget}, {"Cost/Index/Value/Final", F::IndexFinal},
        {"Cost/Index/Value/Target", F::IndexTarget},
        {"Salary/Base", F::SalaryBase}, {"Salary/Current", F::SalaryCur},
        {"Totals/Base", F::TotalBase}, {"Totals/Current", F::TotalCur},
    };
    return m;
}

enum class LineField { Num, Prefix, Code, Name, Consumption, Unit, PriceCur, TotalCur, ConsumptionTotal, PriceBase,
                       TotalBase, IndexFinal, FinalTarget, FinalValue };

const std::unordered_map<std::string_view, LineField>& lineFields() {
    using L = LineField;
    static const std::unordered_map<std::string_view, LineField> m = {
        {"Num", L::Num}, {"Prefix", L::Prefix}, {"Code", L::Code}, {"Name", L::Name},
        {"Consumption", L::Consumption}, {"Unit", L::Unit}, {"PricePerUnitCur", L::PriceCur},
        {"PriceTotalCur", L::TotalCur}, {"ConsumptionTotal", L::ConsumptionTotal},
        {"PricePerUnitBase", L::PriceBase}, {"PriceTotalBase", L::TotalBase},
        {"Index/Value/Final", L::IndexFinal}, {"Index/Values/Value/Final", L::IndexFinal},
        {"Coefficients/Final/Values/Value/Target", L::FinalTarget},
        {"Coefficients/Final/Values/Value/CoefValue", L::FinalValue},
    };
    return m;
}

/** One open element: its name's end in the path, and which required children it has had. */
struct Open {
    size_t pathEnd = 0;
    const Required* required = nullptr;
    uint32_t seen = 0;
};

class Reader {
public:
    Reader(GgeEstimate& out, XML_Parser parser) : out_(out), parser_(parser) {}

    void start(const char* nameC, const char** atts) {
        const std::string_view name(nameC);
        if (skip_ > 0) {
            if (++skip_ + int(open_.size()) > kGgeMaxDepth) fail("вложенность элементов глубже, чем бывает в этом формате");
            return;
        }
        if (open_.size() >= size_t(kGgeMaxDepth)) fail("вложенность элементов глубже, чем бывает в этом формате");
        if (!open_.empty()) {
            Open& parent = open_.back();
            if (parent.required)
                for (size_t i = 0; i < parent.required->children.size(); ++i)
                    if (parent.required->children[i] == name) parent.seen |= 1u << i;
        } else {
            root(name, atts);
        }
        path_ += open_.empty() ? "" : "/";
        path_ += name;
        open_.push_back(Open{path_.size(), requiredFor(), 0});
        text_.clear();
        opened(name);
        XML_SetCharacterDataHandler(parser_, skip_ > 0 ? nullptr : &Reader::onText);
    }

    void end() {
        if (skip_ > 0 && --skip_ > 0) return;
        XML_SetCharacterDataHandler(parser_, nullptr);
        if (skip_ == 0 && !skipping_) closed();
        skipping_ = false;
        const Open o = open_.back();
        if (o.required)
            for (size_t i = 0; i < o.required->children.size(); ++i)
                if (!(o.seen & (1u << i)))
                    fail("нет обязательной части «" + std::string(o.required->children[i]) + "» в «" + path_ + "»");
        open_.pop_back();
        path_.resize(open_.empty() ? 0 : open_.back().pathEnd);
        text_.clear();
    }

    void addText(const char* s, int len) {
        if (text_.size() + size_t(len) > kGgeMaxText) fail("текст элемента длиннее, чем бывает в смете");
        text_.append(s, size_t(len));
    }

    void finish() {
        if (fileType_ != "ЛС") {
            if (fileType_ == "ОСР" || fileType_ == "ССР" || fileType_ == "СЗ")
                failAt("это " + std::string(fileType_ == "ОСР" ? "объектный сметный расчет" : fileType_ == "ССР"
                       ? "сводный сметный расчет" : "сводка затрат") + ", а не локальная смета");
            failAt("Meta/File/Type «" + fileType_ + "»: ожидается «ЛС» (локальная смета)");
        }
        if (out_.fileVersion != "3.01")
            failAt("версия формата «" + out_.fileVersion + "»: программа читает версию 3.01");
        if (out_.indexType.empty()) failAt("нет вида индексов (IndexType): смета составлена ресурсно-индексным методом");
        if (out_.indexType == "Индексы к СМР")
            failAt("индексы к СМР (один индекс на итог вида работ): программа считает индексами к элементам затрат");
    }

    static void onText(void* self, const XML_Char* s, int len) { static_cast<Reader*>(self)->guard([&](Reader& r) { r.addText(s, len); }); }
    static void onStart(void* self, const XML_Char* n, const XML_Char** a) { static_cast<Reader*>(self)->guard([&](Reader& r) { r.start(n, a); }); }
    static void onEnd(void* self, const XML_Char*) { static_cast<Reader*>(self)->guard([&](Reader& r) { r.end(); }); }

    template <class F>
    void guard(F&& f) {
        if (failure_) return;
        try {
            f(*this);
        } catch (...) {
            failure_ = std::current_exception();
            XML_StopParser(parser_, XML_FALSE);
        }
    }
    std::exception_ptr failure() const { return failure_; }

    [[noreturn]] void fail(const std::string& why) const {
        throw Error("Файл «" + out_.shownName + "», строка " + std::to_string(XML_GetCurrentLineNumber(parser_)) +
                    ": " + why + ".");
    }
    [[noreturn]] void failAt(const std::string& why) const { throw Error("Файл «" + out_.shownName + "»: " + why + "."); }

private:
    void root(std::string_view name, const char** atts) {
        if (name != "Construction")
            fail("корневой элемент «" + std::string(name) + "»: это не файл сметы для экспертизы (ожидается Construction)");
        for (size_t i = 0; atts && atts[i]; i += 2) {
            const std::string_view key(atts[i]), value(atts[i + 1]);
            if (key.find("noNamespaceSchemaLocation") == std::string_view::npos) continue;
            if (value.find("ResourceIndexMethod") != std::string_view::npos)
                fail("смета составлена ресурсно-индексным методом (схема «" + std::string(value) +
                     "»): программа читает сметы базисно-индексного метода");
            if (value.find("LocalEstimateBaseIndexMethod") == std::string_view::npos)
                fail("схема «" + std::string(value) + "» не схема локальной сметы базисно-индексного метода");
        }
    }

    const Required* requiredFor() const {
        std::string_view key = path_;
        if (inItem() && path_.size() == itemEnd_ + 5 && key.ends_with("/Cost")) key = "Item/Cost";
        for (const Required& r : requiredParts())
            if (r.parent == key) return &r;
        return nullptr;
    }

    bool inItem() const { return itemEnd_ > 0; }
    std::string_view rel(size_t from) const { return std::string_view(path_).substr(from + 1); }

    void opened(std::string_view name) {
        if (path_ == kSection) {
            out_.sections.emplace_back();
        } else if (path_ == kItem) {
            itemEnd_ = path_.size();
            out_.positions.emplace_back();
            item().fileLine = XML_GetCurrentLineNumber(parser_);
            item().section = out_.sections.empty() ? 0 : out_.sections.size() - 1;
        } else if (inItem()) {
            openedInItem(name);
        }
    }

    void openedInItem(std::string_view name) {
        const std::string_view r = rel(itemEnd_);
        GgePosition& p = item();
        if (r == "Cost") {
            p.rate = true;
        } else if (r == "Cost/ResourcesInternal" || r == "Cost/Resources" || r == "QTF") {
            skip_ = 1, skipping_ = true;  // the rate's own resources, the unaccounted materials: not needed
        } else if (r == "Cost/Coefficients/Coefficient") {
            p.coefficients.emplace_back();
        } else if (lineEnd_ == 0 && isLineKind(name) && (r == name || r == "Resources/" + std::string(name))) {
            openLine(name, -1);
        } else if (lineEnd_ > 0 && name == "Transport" && rel(lineEnd_) == "Transport") {
            ownerLine_ = line_;
            outerLineEnd_ = lineEnd_;
            openLine(name, ownerLine_);
        } else if (lineEnd_ > 0 && rel(lineEnd_) == "Machinist") {
            p.lines[size_t(line_)].extraPay = true;
            skip_ = 1, skipping_ = true;
        }
    }

    void openLine(std::string_view kind, int of) {
        GgeLine l;
        l.kind = kind;
        l.of = of;
        l.fileLine = XML_GetCurrentLineNumber(parser_);
        item().lines.push_back(std::move(l));
        line_ = int(item().lines.size()) - 1;
        lineEnd_ = path_.size();
    }

    GgePosition& item() { return out_.positions.back(); }

    void closed() {
        if (lineEnd_ > 0 && path_.size() > lineEnd_) return lineText();
        if (lineEnd_ > 0 && path_.size() == lineEnd_) {
            lineEnd_ = outerLineEnd_ < lineEnd_ ? outerLineEnd_ : 0;
            line_ = lineEnd_ > 0 ? ownerLine_ : -1;
            outerLineEnd_ = 0;
            return;
        }
        if (inItem() && path_.size() > itemEnd_) return itemText();
        if (inItem() && path_.size() == itemEnd_) return itemClosed();
        estimateText();
    }

    void itemClosed() {
        GgePosition& p = item();
        if (!p.rate && p.lines.empty())
            fail("в позиции нет ни расценки (Cost), ни ресурса (Material, Equipment …)");
        if (!p.rate) {
            const GgeLine& l = p.lines.front();
            p.num = l.num, p.code = l.code, p.name = l.name, p.unit = l.unit, p.prefix = l.prefix;
            p.quantity = p.quantityTotal = l.consumptionTotal;
        }
        itemEnd_ = 0;
    }

    // ---- values -------------------------------------------------------------------------------
    /** The text of a number without the blanks xs:decimal allows around it. */
    std::string_view numberText() const {
        std::string_view t = text_;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\n' || t.front() == '\r')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\n' || t.back() == '\r')) t.remove_suffix(1);
        return t;
    }
    std::optional<DecimalText> number() const {
        const std::string_view t = numberText();
        if (t.empty()) return std::nullopt;
        if (!isXsDecimal(t)) {
            std::string dotted(t);
            if (const size_t comma = dotted.find(','); comma != std::string::npos && isXsDecimal(dotted.replace(comma, 1, ".")))
                fail("число «" + std::string(t) + "» в «" + path_ + "» записано с запятой: формат требует точку");
            fail("«" + std::string(t.substr(0, 40)) + "» в «" + path_ + "» не число");
        }
        return DecimalText::parse(t, DecimalSyntax::XsDecimal);
    }
    [[noreturn]] void tooLarge() const {
        fail("число «" + std::string(numberText().substr(0, 40)) + "» в «" + path_ + "» слишком велико для сметы");
    }
    std::optional<Money> money() const {
        const std::optional<DecimalText> t = number();
        if (!t) return std::nullopt;
        const std::optional<Money> m = t->money();
        if (!m || m->kopecks() > kLargestKopecks || m->kopecks() < -kLargestKopecks) tooLarge();
        return m;
    }
    Dec7 dec() const {
        const std::optional<DecimalText> t = number();
        if (!t) return Dec7();
        const std::optional<Dec7> d = t->dec7();
        if (!d || d->units() > kLargestUnits || d->units() < -kLargestUnits) tooLarge();
        return *d;
    }
    std::optional<Dec7> optDec() const { return numberText().empty() ? std::nullopt : std::optional<Dec7>(dec()); }
    int64_t whole() const {
        const Dec7 d = dec();
        if (d.units() % Dec7::kScale != 0 || d.units() < 0) fail("номер «" + text_ + "» в «" + path_ + "» не целое число");
        return d.units() / Dec7::kScale;
    }

    void itemText();
    void lineText();
    void estimateText();
    void setIndex(GgePosition& p);

    // 10¹³ rubles and 10¹⁰ units: no estimate comes near them, and sums of thousands stay in range.
    static constexpr int64_t kLargestKopecks = 1'000'000'000'000'000;
    static constexpr int64_t kLargestUnits = 10'000'000'000 * Dec7::kScale;

    GgeEstimate& out_;
    XML_Parser parser_;
    std::string path_, text_;
    std::vector<Open> open_;
    std::string fileType_;
    size_t itemEnd_ = 0, lineEnd_ = 0, outerLineEnd_ = 0;
    int ownerLine_ = -1, line_ = -1;
    int skip_ = 0;
    bool skipping_ = false;
    std::string pendingTarget_, pendingIndexTarget_;
    std::optional<Dec7> pendingIndex_;
    std::exception_ptr failure_;
};

void Reader::setIndex(GgePosition& p) {
    if (!pendingIndex_ || pendingIndexTarget_.empty()) return;
    const std::string& t = pendingIndexTarget_;
    std::optional<Dec7>* to = t == "ОТ" ? &p.indices.ot : t == "ОТМ" ? &p.indices.otm : t == "ЭМ" ? &p.indices.em
                              : t == "М" || t == "МАТ" ? &p.indices.m : nullptr;
    if (to) *to = pendingIndex_;
    pendingIndex_.reset();
    pendingIndexTarget_.clear();
}

void Reader::itemText() {
    const auto at = itemFields().find(rel(itemEnd_));
    if (at == itemFields().end()) return;
    GgePosition& p = item();
    using F = Field;
    switch (at->second) {
    case F::SummaryType: p.summaryType = text_; break;
    case F::WorkType: p.workType = text_; break;
    case F::NrReason: p.overheads.reason = text_; break;
    case F::NrName: p.overheads.name = text_; break;
    case F::NrValue: p.overheads.value = optDec(); break;
    case F::NrValueTotal: p.overheads.valueTotal = optDec(); break;
    case F::NrBase: p.overheads.priceBase = money(); break;
    case F::NrCur: p.overheads.priceCur = money(); break;
    case F::SpReason: p.profits.reason = text_; break;
    case F::SpName: p.profits.name = text_; break;
    case F::SpValue: p.profits.value = optDec(); break;
    case F::SpValueTotal: p.profits.valueTotal = optDec(); break;
    case F::SpBase: p.profits.priceBase = money(); break;
    case F::SpCur: p.profits.priceCur = money(); break;
    case F::Num: p.num = whole(); break;
    case F::Prefix: p.prefix = text_; break;
    case F::Code: p.code = text_; break;
    case F::Name: p.name = text_; break;
    case F::Comment: p.comment = text_; break;
    case F::Quantity: p.quantity = dec(); break;
    case F::Formula: p.formula = text_; break;
    case F::QuantityTotal: p.quantityTotal = dec(); break;
    case F::Unit: p.unit = text_; break;
    case F::PerDirect: p.perUnit.direct = money(); break;
    case F::PerMachines: p.perUnit.machines = money(); break;
    case F::PerOt: p.perUnit.ot = money(); break;
    case F::PerOtm: p.perUnit.otm = money(); break;
    case F::PerM: p.perUnit.m = money(); break;
    case F::PerZt: p.zt1 = dec(); break;
    case F::PerZtm: p.ztm1 = dec(); break;
    case F::BaseDirect: p.base.direct = money(); break;
    case F::BaseMachines: p.base.machines = money(); break;
    case F::BaseOt: p.base.ot = money(); break;
    case F::BaseOtm: p.base.otm = money(); break;
    case F::BaseFot: p.base.fot = money(); break;
    case F::BaseM: p.base.m = money(); break;
    case F::CurDirect: p.current.direct = money(); break;
    case F::CurMachines: p.current.machines = money(); break;
    case F::CurOt: p.current.ot = money(); break;
    case F::CurOtm: p.current.otm = money(); break;
    case F::CurFot: p.current.fot = money(); break;
    case F::CurM: p.current.m = money(); break;
    case F::Zt: p.zt = dec(); break;
    case F::Ztm: p.ztm = dec(); break;
    case F::FinalTarget: pendingTarget_ = text_; break;
    case F::FinalValue: p.finals.emplace_back(pendingTarget_, dec()); break;
    case F::CoefTarget: pendingTarget_ = text_; break;
    case F::CoefValue:
        if (!p.coefficients.empty()) p.coefficients.back().values.emplace_back(pendingTarget_, dec());
        break;
    case F::CoefName:
        if (!p.coefficients.empty()) p.coefficients.back().name = text_;
        break;
    case F::CoefReason:
        if (!p.coefficients.empty()) p.coefficients.back().reason = text_;
        break;
    case F::IndexName: p.indexName = text_; break;
    case F::IndexFinal: pendingIndex_ = optDec(), setIndex(p); break;
    case F::IndexTarget: pendingIndexTarget_ = text_, setIndex(p); break;
    case F::SalaryBase: p.salaryBase = money(); break;
    case F::SalaryCur: p.salaryCur = money(); break;
    case F::TotalBase: p.totalBase = money(); break;
    case F::TotalCur: p.totalCur = money(); break;
    }
}

void Reader::lineText() {
    const auto at = lineFields().find(rel(lineEnd_));
    if (at == lineFields().end()) return;
    GgeLine& l = item().lines[size_t(line_)];
    using L = LineField;
    switch (at->second) {
    case L::Num: l.num = whole(); break;
    case L::Prefix: l.prefix = text_; break;
    case L::Code: l.code = text_; break;
    case L::Name: l.name = text_; break;
    case L::Consumption: l.consumption = dec(); break;
    case L::Unit: l.unit = text_; break;
    case L::PriceCur: l.priceCur = money(); break;
    case L::TotalCur: l.totalCur = money(); break;
    case L::ConsumptionTotal: l.consumptionTotal = dec(); break;
    case L::PriceBase: l.priceBase = money(); break;
    case L::TotalBase: l.totalBase = money(); break;
    case L::IndexFinal: l.index = optDec(); break;
    case L::FinalTarget: pendingTarget_ = text_; break;
    case L::FinalValue:
        if (pendingTarget_ == "Стоимость") l.kCost = dec();
        else if (pendingTarget_ == "Расход") l.kConsumption = dec();
        break;
    }
}

void Reader::estimateText() {
    const std::string_view p = path_;
    if (p.starts_with(kTotals)) {
        std::string_view r = p.substr(kTotals.size());
        const auto cut = [&](std::string_view tail) {
            if (!r.ends_with(tail)) return false;
            r.remove_suffix(tail.size());
            return true;
        };
        if (cut("/PriceBase")) out_.totals[std::string(r)].base = money();
        else if (cut("/PriceCurrent")) out_.totals[std::string(r)].current = money();
        else if (cut("/PriceIndex/Final")) out_.totals[std::string(r)].index = optDec();
        else if (cut("/PriceIndex/IndexName")) out_.totals[std::string(r)].indexName = text_;
        return;
    }
    if (p.starts_with(kSection) && p.size() > kSection.size() && !out_.sections.empty()) {
        const std::string_view r = p.substr(kSection.size() + 1);
        if (r == "Code") out_.sections.back().code = text_;
        else if (r == "Name") out_.sections.back().name = text_;
        return;
    }
    constexpr std::string_view kNorms = "Construction/Object/Estimate/Legal/Main/";
    constexpr std::string_view kDate = "Construction/Object/Estimate/Date/";
    if (p.starts_with(kNorms) || p.starts_with(kDate)) {
        const bool main = p.starts_with(kNorms);
        const std::string_view leaf = p.substr(main ? kNorms.size() : kDate.size());
        GgeDate& d = main ? out_.normsDate : out_.estimateDate;
        int* part = leaf == "Date/Year" || leaf == "Year"     ? &d.year
                    : leaf == "Date/Month" || leaf == "Month" ? &d.month
                    : leaf == "Date/Day" || leaf == "Day"     ? &d.day
                                                              : nullptr;
        if (part) {
            const std::optional<DecimalText> n = DecimalText::parse(text_, DecimalSyntax::XsDecimal);
            const std::optional<Dec7> v = n ? n->dec7() : std::nullopt;
            if (v && v->units() % Dec7::kScale == 0 && v->units() > 0 && v->units() / Dec7::kScale <= 9999)
                *part = int(v->units() / Dec7::kScale);
            return;
        }
        if (main && leaf == "Num") out_.normsNum = text_;
        else if (main && leaf == "Orders") out_.normsOrders = text_;
        if (leaf != "Name") return;
    }
    if (p.starts_with("Construction/Object/Estimate/Legal/") && p.ends_with("/Name") &&
        std::count(p.begin(), p.end(), '/') == 5) {
        const std::string_view kind = p.substr(35, p.size() - 35 - 5);
        out_.legal.emplace_back(std::string(kind), text_);
        return;
    }
    static const std::unordered_map<std::string_view, std::string GgeEstimate::*> texts = {
        {"Construction/Meta/Soft/Name", &GgeEstimate::softName},
        {"Construction/Meta/Soft/Version", &GgeEstimate::softVersion},
        {"Construction/Meta/File/Version", &GgeEstimate::fileVersion},
        {"Construction/Num", &GgeEstimate::constructionNum},
        {"Construction/Name", &GgeEstimate::constructionName},
        {"Construction/Object/Num", &GgeEstimate::objectNum},
        {"Construction/Object/Name", &GgeEstimate::objectName},
        {"Construction/Object/Address", &GgeEstimate::objectAddress},
        {"Construction/Object/Estimate/GUID", &GgeEstimate::guid},
        {"Construction/Object/Estimate/Salary", &GgeEstimate::salaryAct},
        {"Construction/Object/Estimate/IndexType", &GgeEstimate::indexType},
        {"Construction/Object/Estimate/IndexObjectType", &GgeEstimate::indexObjectType},
        {"Construction/Object/Estimate/IndexIndustryType", &GgeEstimate::indexIndustryType},
        {"Construction/Object/Estimate/Region/RegionCode", &GgeEstimate::regionCode},
        {"Construction/Object/Estimate/Region/RegionName", &GgeEstimate::regionName},
        {"Construction/Object/Estimate/ТerritoryТype", &GgeEstimate::territory},
        {"Construction/Object/Estimate/Num", &GgeEstimate::num},
        {"Construction/Object/Estimate/Name", &GgeEstimate::name},
        {"Construction/Object/Estimate/Date", &GgeEstimate::date},
        {"Construction/Object/Estimate/EstimateType", &GgeEstimate::estimateType},
        {"Construction/Object/Estimate/Reason", &GgeEstimate::reason},
        {"Construction/Object/Estimate/Signatures/ComposeFIO", &GgeEstimate::composer},
        {"Construction/Object/Estimate/Signatures/VerifyFIO", &GgeEstimate::verifier},
    };
    if (p == "Construction/Meta/File/Type") {
        fileType_ = text_;
    } else if (const auto at = texts.find(p); at != texts.end()) {
        out_.*(at->second) = text_;
    } else if (p.starts_with("Construction/Object/Estimate/PriceLevel")) {
        const bool base = p.starts_with("Construction/Object/Estimate/PriceLevelBase/");
        std::string& to = base ? out_.priceLevelBase : out_.priceLevelCur;
        const std::string_view leaf = p.substr(p.rfind('/') + 1);
        static const char* const kQuarters[] = {"I", "II", "III", "IV"};
        if (text_.empty()) return;
        if (leaf == "Quarter" && text_.size() == 1 && text_[0] >= '1' && text_[0] <= '4')
            to = std::string(kQuarters[text_[0] - '1']) + " кв." + (to.empty() ? "" : " " + to);
        else if (leaf == "Year") to += (to.empty() ? "" : " ") + text_;
        else if (leaf == "Note" && base) to += (to.empty() ? "" : " ") + ("(" + text_ + ")");
    }
}

}  // namespace

bool GgeEstimate::indicesInPositions() const { return indexType.find("в позиции") != std::string::npos; }

namespace {

/** The parser's complaint in the estimator's words. */
std::string describe(XML_Error code) {
    switch (code) {
    case XML_ERROR_NO_ELEMENTS:
    case XML_ERROR_UNCLOSED_TOKEN:
    case XML_ERROR_PARTIAL_CHAR:
    case XML_ERROR_UNCLOSED_CDATA_SECTION: return "файл обрывается на середине (обрезан или записан не до конца)";
    case XML_ERROR_INVALID_TOKEN: return "недопустимый символ: это не XML в кодировке UTF-8 или файл повреждён";
    case XML_ERROR_UNKNOWN_ENCODING:
    case XML_ERROR_INCORRECT_ENCODING: return "кодировка не UTF-8: формат требует UTF-8";
    case XML_ERROR_TAG_MISMATCH: return "закрывающий тег не совпадает с открытым";
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT: return "лишнее содержимое после конца документа";
    case XML_ERROR_SYNTAX: return "это не XML (синтаксическая ошибка)";
    default: return std::string("ошибка разбора XML (") + XML_ErrorString(code) + ")";
    }
}

void refuseDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<Reader*>(self)->guard(
        [](Reader& r) { r.fail("в файле объявлен тип документа (DOCTYPE): в файле сметы его не бывает, сущности не допускаются"); });
}

/** A declared encoding other than UTF-8 (expat itself reads ISO-8859-1 and UTF-16 too). */
void checkDeclaration(void* self, const XML_Char*, const XML_Char* encoding, int) {
    static_cast<Reader*>(self)->guard([&](Reader& r) {
        std::string e = encoding ? encoding : "UTF-8";
        for (char& c : e) c = char(std::toupper(static_cast<unsigned char>(c)));
        if (e != "UTF-8" && e != "UTF8") r.fail("кодировка не UTF-8 («" + std::string(encoding) + "»): формат требует UTF-8");
    });
}

/** Feeds `next` pieces to a new parser; `next` gives an empty view at the end. */
template <class Next>
GgeEstimate parse(const std::string& shownName, Next&& next) {
    GgeEstimate out;
    out.shownName = shownName;
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr), &XML_ParserFree);
    if (!parser) throw Error("Не хватает памяти для чтения файла «" + shownName + "»");
    Reader reader(out, parser.get());
    XML_SetUserData(parser.get(), &reader);
    XML_SetElementHandler(parser.get(), &Reader::onStart, &Reader::onEnd);
    XML_SetStartDoctypeDeclHandler(parser.get(), &refuseDoctype);
    XML_SetXmlDeclHandler(parser.get(), &checkDeclaration);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    while (true) {
        const std::string_view piece = next();
        const bool last = piece.empty();
        const XML_Status st = XML_Parse(parser.get(), piece.data(), int(piece.size()), last ? XML_TRUE : XML_FALSE);
        if (reader.failure()) std::rethrow_exception(reader.failure());
        if (st == XML_STATUS_ERROR)
            throw Error("Файл «" + shownName + "», строка " + std::to_string(XML_GetCurrentLineNumber(parser.get())) +
                        ": " + describe(XML_GetErrorCode(parser.get())) + ".");
        if (last) break;
    }
    reader.finish();
    return out;
}

}  // namespace

GgeEstimate readGgeText(std::string_view xml, const std::string& shownName) {
    return parse(shownName, [&]() -> std::string_view {
        const std::string_view piece = xml.substr(0, size_t(INT_MAX / 2));  // pieces expat takes
        xml.remove_prefix(piece.size());
        return piece;
    });
}

GgeEstimate readGge(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string shown = file.filename().string();
    if (!in) throw Error("Файл «" + file.string() + "» не открывается для чтения.");
    std::vector<char> buffer(size_t(1) << 20);
    return parse(shown, [&]() -> std::string_view {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        if (in.bad()) throw Error("Файл «" + file.string() + "» не прочитан: ошибка чтения с диска.");
        return std::string_view(buffer.data(), size_t(in.gcount()));
    });
}

std::string GgeDate::text() const {
    if (year <= 0 || month <= 0 || day <= 0) return {};
    auto two = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
    return two(day) + "." + two(month) + "." + std::to_string(year);
}

}  // namespace talvira::exporting
