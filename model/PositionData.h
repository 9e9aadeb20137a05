#pragma once
/**
 * What a position of an estimate keeps beside the table: its type of work, the НР and СП rows of
 * its norm, its coefficients and, for a material brought by a rate, the rate it follows.
 */
#include "common/Decimal.h"
#include "model/Params.h"
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvira::model {

/** Types of work, in the order the totals list them. Text forms (CLI, files): строительные,
 *  монтажные, пусконаладочные, оборудование, прочие. */
enum class WorkType { Construction, Mounting, Commissioning, Equipment, Other };
constexpr int kWorkTypes = 5;
std::string_view workTypeText(WorkType t);                      // "строительные"
std::optional<WorkType> workTypeFromText(std::string_view text);
/** The type of work a book's prefix stands for: ФЕР, ФЕРр, ГЭСН, ГЭСНр строительные; ФЕРм, ГЭСНм,
 *  ФЕРмр, ГЭСНмр монтажные; ФЕРп, ГЭСНп пусконаладочные; nothing for another prefix. A code may be
 *  given whole ("ГЭСНмр01-01-002-05"). */
std::optional<WorkType> workTypeOfBook(std::string_view prefixOrCode);

/** The elements a coefficient acts on (bits). */
enum Target : unsigned { OT = 1, EM = 2, OTM = 4, M = 8, ZT = 16, ZTM = 32 };
/** "ОТ+ЗТ" -> OT|ZT; nothing for an unknown name or an empty text. */
std::optional<unsigned> targetsFromText(std::string_view text);
std::string targetsText(unsigned targets);                      // "ЭМ+ОТМ+ЗТМ" in the order above

class NrSpTables;

struct Coefficient {
    Dec7 value;               // never 0
    unsigned targets = 0;     // Target bits, at least one
    std::string reason;       // «421/пр прил. 10 т. 1 п. 4»
    bool operator==(const Coefficient&) const = default;
};

/** What the norm base gives a rate's position, read one way (estimate/RateFacts) by Add and by
 *  the switch of an estimate made by the template to the base-index method. */
struct RateFacts {
    std::string code;                               // TAB
    std::vector<std::string> nrChoices, spChoices;  // the references its norm names: "Пр/812-011.0"
    Dec7 machinistLabour;                           // ЗТМ per unit (BH)
    std::optional<WorkType> workType;               // of its collection's name («ФЕРм 08. …»)
    /** Its unaccounted materials, in the order of its lines: code and consumption per unit. */
    std::vector<std::pair<std::string, Dec7>> materials;
    bool operator==(const RateFacts&) const = default;
};

/** Indices into current prices that a position carries itself, per element, beside the
 *  estimate's (the expertise file's «индексы … в позиции», a different index to one rate). An
 *  absent one is the estimate's. */
struct PositionIndices {
    std::optional<Dec7> ot, otm, em, m, eq;  // оплата труда, машинистов, машины, материалы, оборудование
    bool empty() const { return !ot && !otm && !em && !m && !eq; }
    bool operator==(const PositionIndices&) const = default;
};

/** The element an index acts on. */
enum class IndexOf { Ot, Otm, Em, M, Eq };

/** The index a position applies to `element`: its own (`own` may be nullptr), else the
 *  estimate's; for ОТМ its own ОТМ, else the ОТ it applies (its own, then the estimate's). An
 *  index not above zero is none. The one place that answers which index a position uses. */
std::optional<Dec7> indexFor(IndexOf element, const EstimateParams& params, const PositionIndices* own);
/** Whether the position's own index gives `element` (the totals then add its current amount
 *  instead of indexing the sum). */
bool ownIndex(IndexOf element, const PositionIndices* own);

/** The fault of a coefficient already read, as the tail of a message after the coefficient's
 *  name or value: " — нужно число больше нуля", ": не указано, к чему он применяется (ОТ, ЭМ,
 *  ОТМ, М, ЗТ, ЗТМ)"; "" when it has none. */
std::string coefficientFault(const Coefficient& c);

/** The message for a row the tables lack: "Норматив НР и СП «999.9»: такой строки нет в
 *  таблицах приказов 812/пр и 774/пр." (`what` names the field). */
std::string unknownRowMessage(std::string_view what, std::string_view row);

/**
 * What a position of an estimate keeps beside the table, found by the position's COUNT, with the
 * operations every door (Add, the switch of method, the position dialog, the command line, the
 * kept file) makes it and changes it by, each checking what it takes once, with one message per
 * fault.
 *
 *   model::PositionData d = model::PositionData::ofRate(7, facts, Territory::Ordinary, tables);
 *   if (!d.chooseRow("011.0", territory, tables)) throw Error(model::unknownRowMessage("Норматив", "011.0"));
 *   d.addCoefficient("1,15", OT | ZT, "стесненные условия", "Коэффициент 1");
 */
struct PositionData {
    int32_t count = 0;                   // COUNT of the position
    /** A material brought by a rate: the COUNT of that rate (0: a position of its own). */
    int32_t parent = 0;
    /** A material of a rate: its consumption per unit of the rate (the resource line's KOLL). */
    Dec7 perUnit;
    /** The rows of 812/пр and 774/пр the position uses ("011.0"); empty: none chosen. */
    std::string nrRow, spRow;
    /** The rows the norm names (several where the estimator chooses), as the base gives them. */
    std::vector<std::string> nrChoices, spChoices;
    /** The percentages used when the rows were chosen (kept: a later change of the shipped
     *  tables is told to the estimator, never applied silently). */
    std::optional<Dec7> nrPercent, spPercent;
    std::optional<WorkType> workType;    // none: from the code's book, else строительные
    std::vector<Coefficient> coefficients;
    Dec7 machinistLabour;                // ЗТМ per unit
    PositionIndices indices;             // its own indices; none: the estimate's
    /** The factor of the machinists' extra pay, Д = r(Q × ОТМ₁ × k), where another program's file
     *  gives Д by its own chain of coefficients (derived on import only when it reproduces the
     *  file's amount); none: K_ОТ − K_ОТМ. */
    std::optional<Dec7> extraPayFactor;
    /** The position's code (TAB) when the entry was written. An entry whose code is not the
     *  row's is not used: its position was cleared away and its number given to another (a
     *  cleared estimate numbers its positions from 1 again). Empty: not checked. */
    std::string code;
    bool operator==(const PositionData&) const = default;

    /** A rate's position as Add gives it: its code, the references its norm names, the row of
     *  НР and of СП with its percentages (the territory's НР column) where the norm names one
     *  only (none where it names several: the estimator chooses; a row the tables lack stays
     *  named, to be told), the type of work of the code's book, else of its collection's name,
     *  and the machinists' labour. */
    static PositionData ofRate(int32_t count, const RateFacts& facts, Territory territory, const NrSpTables& tables);
    /** A material brought by the rate numbered `parent`, `perUnit` of it per unit of the rate. */
    static PositionData ofMaterial(int32_t count, std::string code, int32_t parent, Dec7 perUnit);

    /** Takes the row `row` ("011.0", "Пр/812-011.0-1") for НР and СП both, with the tables'
     *  percentages of the moment (the territory's НР column), kept with it; an empty row
     *  chooses none. False, the row named without percentages, when the tables lack it. */
    bool chooseRow(std::string_view row, Territory territory, const NrSpTables& tables);
    /** Reads `value` (typedNumber, above zero) and adds the coefficient; talvira::Error named
     *  `what` for a value that is no number, too large or not above zero, or for no target. */
    void addCoefficient(std::string_view value, unsigned targets, std::string reason, std::string_view what);
    /** A material's consumption per unit of its rate, as typed; talvira::Error named "Расход на
     *  единицу расценки" for a value that is no number or below zero. */
    void setPerUnit(std::string_view value);
};

}  // namespace talvira::model
