#pragma once
/**
 * What a position of an estimate keeps beside the table: its type of work, the НР and СП rows of
 * its norm, its coefficients and, for a material brought by a rate, the rate it follows.
 */
#include "common/Decimal.h"
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

struct Coefficient {
    Dec7 value;               // never 0
    unsigned targets = 0;     // Target bits, at least one
    std::string reason;       // «421/пр прил. 10 т. 1 п. 4»
    bool operator==(const Coefficient&) const = default;
};

/** Per-position data kept beside the table, found by the position's COUNT. */
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
    /** The position's code (TAB) when the entry was written. An entry whose code is not the
     *  row's is not used: its position was cleared away and its number given to another (a
     *  cleared estimate numbers its positions from 1 again). Empty: not checked. */
    std::string code;
    bool operator==(const PositionData&) const = default;
};

}  // namespace talvira::model
