#include "model/PositionData.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "model/NrSpTables.h"
#include "model/TypedNumber.h"

#include <cstdint>

namespace talvira::model {

// ---------------------------------------------------------------------------------------------
// Types of work and the elements a coefficient acts on
// ---------------------------------------------------------------------------------------------

namespace {

constexpr std::string_view kWorkTypeTexts[kWorkTypes] = {"строительные", "монтажные", "пусконаладочные",
                                                         "оборудование", "прочие"};

struct Book {
    std::string_view prefix;
    WorkType type;
};
// Federal and territorial unit rates carry the same book letters.
constexpr Book kBooks[] = {
    {"ФЕР", WorkType::Construction},   {"ФЕРр", WorkType::Construction},   {"ГЭСН", WorkType::Construction},
    {"ГЭСНр", WorkType::Construction}, {"ТЕР", WorkType::Construction},    {"ТЕРр", WorkType::Construction},
    {"ФЕРм", WorkType::Mounting},      {"ГЭСНм", WorkType::Mounting},      {"ФЕРмр", WorkType::Mounting},
    {"ГЭСНмр", WorkType::Mounting},    {"ТЕРм", WorkType::Mounting},       {"ТЕРмр", WorkType::Mounting},
    {"ФЕРп", WorkType::Commissioning}, {"ГЭСНп", WorkType::Commissioning}, {"ТЕРп", WorkType::Commissioning},
};

struct TargetName {
    std::string_view name;
    unsigned bit;
};
constexpr TargetName kTargets[] = {{"ОТ", OT}, {"ЭМ", EM}, {"ОТМ", OTM}, {"М", M}, {"ЗТ", ZT}, {"ЗТМ", ZTM}};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string_view workTypeText(WorkType t) { return kWorkTypeTexts[static_cast<int>(t)]; }

std::optional<WorkType> workTypeFromText(std::string_view text) {
    const std::string folded = foldCase(trim(text), Yo::AsE);
    for (int i = 0; i < kWorkTypes; ++i)
        if (folded == foldCase(kWorkTypeTexts[i], Yo::AsE)) return static_cast<WorkType>(i);
    return std::nullopt;
}

std::optional<WorkType> workTypeOfBook(std::string_view prefixOrCode) {
    std::string_view s = trim(prefixOrCode);
    size_t end = 0;  // the book's letters end at the first digit, blank, dash or dot
    while (end < s.size() && !(s[end] >= '0' && s[end] <= '9') && s[end] != ' ' && s[end] != '-' && s[end] != '.')
        ++end;
    if (end == 0 || end > 12) return std::nullopt;  // no book is longer than "ГЭСНмр"
    static const std::vector<std::pair<std::string, WorkType>> folded = [] {
        std::vector<std::pair<std::string, WorkType>> v;
        for (const Book& b : kBooks) v.emplace_back(foldCase(b.prefix), b.type);
        return v;
    }();
    const std::string book = foldCase(s.substr(0, end));
    for (const auto& [prefix, type] : folded)
        if (book == prefix) return type;
    return std::nullopt;
}

std::optional<unsigned> targetsFromText(std::string_view text) {
    unsigned bits = 0;
    text = trim(text);
    if (text.empty()) return std::nullopt;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('+', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string name = foldCase(trim(text.substr(at, end - at)));
        unsigned bit = 0;
        for (const TargetName& t : kTargets)
            if (name == foldCase(t.name)) bit = t.bit;
        if (bit == 0) return std::nullopt;
        bits |= bit;
        at = end + 1;
    }
    return bits;
}

std::string targetsText(unsigned targets) {
    std::string out;
    for (const TargetName& t : kTargets) {
        if (!(targets & t.bit)) continue;
        if (!out.empty()) out += '+';
        out += t.name;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// A position's data
// ---------------------------------------------------------------------------------------------

std::string coefficientFault(const Coefficient& c) {
    if (c.value.units() <= 0) return " — нужно число больше нуля";
    if ((c.targets & (OT | EM | OTM | M | ZT | ZTM)) == 0)
        return ": не указано, к чему он применяется (ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ)";
    return {};
}

namespace {
const std::optional<Dec7>* ownOf(IndexOf element, const PositionIndices& own) {
    switch (element) {
    case IndexOf::Ot: return &own.ot;
    case IndexOf::Otm: return &own.otm;
    case IndexOf::Em: return &own.em;
    case IndexOf::M: return &own.m;
    case IndexOf::Eq: return &own.eq;
    }
    return &own.ot;
}
std::optional<Dec7> usable(const std::optional<Dec7>& i) { return i && i->units() > 0 ? i : std::nullopt; }
}  // namespace

bool ownIndex(IndexOf element, const PositionIndices* own) {
    if (!own) return false;
    if (usable(*ownOf(element, *own))) return true;
    return element == IndexOf::Otm && usable(own->ot);
}

std::optional<Dec7> indexFor(IndexOf element, const EstimateParams& params, const PositionIndices* own) {
    if (own) {
        if (std::optional<Dec7> i = usable(*ownOf(element, *own))) return i;
        if (element == IndexOf::Otm) return indexFor(IndexOf::Ot, params, own);
    }
    switch (element) {
    case IndexOf::Ot:
    case IndexOf::Otm: return usable(params.indexOt);
    case IndexOf::Em: return usable(params.indexEm);
    case IndexOf::M: return usable(params.indexM);
    case IndexOf::Eq: return usable(params.indexEq);
    }
    return std::nullopt;
}

std::string unknownRowMessage(std::string_view what, std::string_view row) {
    return std::string(what) + " «" + std::string(row) + "»: такой строки нет в таблицах приказов 812/пр и 774/пр.";
}

PositionData PositionData::ofRate(int32_t count, const RateFacts& facts, Territory territory,
                                  const NrSpTables& tables) {
    PositionData d;
    d.count = count;
    d.code = facts.code;
    d.nrChoices = facts.nrChoices;
    d.spChoices = facts.spChoices;
    // One reference: the row is the norm's own. Several: the estimator chooses, none is taken.
    // A row the tables lack stays named: the computation tells it.
    if (facts.nrChoices.size() == 1) {
        d.nrRow = rowOfReference(facts.nrChoices[0]);
        if (const NrSpRow* r = tables.find(d.nrRow)) d.nrPercent = r->nrPercentIn(territory);
    }
    if (facts.spChoices.size() == 1) {
        d.spRow = rowOfReference(facts.spChoices[0]);
        if (const NrSpRow* r = tables.find(d.spRow)) d.spPercent = r->spPercent;
    }
    d.workType = workTypeOfBook(facts.code);
    if (!d.workType) d.workType = facts.workType;
    d.machinistLabour = facts.machinistLabour;
    return d;
}

PositionData PositionData::ofMaterial(int32_t count, std::string code, int32_t parent, Dec7 perUnit) {
    PositionData d;
    d.count = count;
    d.code = std::move(code);
    d.parent = parent;
    d.perUnit = perUnit;
    return d;
}

bool PositionData::chooseRow(std::string_view row, Territory territory, const NrSpTables& tables) {
    nrPercent.reset();
    spPercent.reset();
    const NrSpRow* found = row.empty() ? nullptr : tables.find(row);
    nrRow = spRow = found ? found->ref : rowOfReference(row);
    // The percentages of the moment are kept with the row: a later change of the tables is
    // told, never taken silently.
    if (found) {
        nrPercent = found->nrPercentIn(territory);
        spPercent = found->spPercent;
    }
    return found || row.empty();
}

void PositionData::addCoefficient(std::string_view value, unsigned targets, std::string reason, std::string_view what) {
    const Coefficient c{typedNumber(value, what, Sign::Positive), targets & (OT | EM | OTM | M | ZT | ZTM), std::move(reason)};
    if (const std::string fault = coefficientFault(c); !fault.empty())
        throw Error(std::string(what) + fault + ".");
    coefficients.push_back(c);
}

void PositionData::setPerUnit(std::string_view value) {
    perUnit = typedNumber(value, "Расход на единицу расценки", Sign::NotNegative);
}

}  // namespace talvira::model
