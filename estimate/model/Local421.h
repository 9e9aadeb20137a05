#pragma once
/**
 * The local estimate by the base-index method (Методика 421/пр): overhead (НР) and profit (СП)
 * per position by the type of work its norm names, coefficients per position on named
 * elements, current prices by the quarterly indices per element of direct costs. One module,
 * no Qt, exact decimal arithmetic (Decimal.h); the windows, the command-line tool, the totals
 * and the printed form only show what computeLocal421 returns.
 *
 *   model::EstimateParams p;  p.method = model::Method::BaseIndex421;  p.indexOt = Dec7::parse("52.21");
 *   model::Local421 r = model::computeLocal421(rows, extras, p, model::nrSpTables());
 *   show(r.total.current.total);                                   // Money
 *
 * Terms, per unit of a rate in base prices: ОТ workers' wages (OSNZP), ЭМ machines (EXPLMASH)
 * including ОТМ machinists' wages (ZPMASH), М priced materials (MATER), ЗТ / ЗТМ labour of
 * workers / machinists (TRUD / PositionExtra::machinistLabour). ПЗ = ОТ + ЭМ + М, ФОТ = ОТ + ОТМ.
 *
 *   ОТ  = r(Q × ОТ₁ × K_ОТ)      ОТМ = r(Q × ОТМ₁ × K_ОТМ)      М = r(Q × М₁ × K_М)
 *   ЭМ  = r(Q × ((ЭМ₁ − ОТМ₁) × K_ЭМ + ОТМ₁ × K_ОТМ))
 *   НР  = r(ФОТ × Н_нр × k_нр / 100)      СП = r(ФОТ × Н_сп × k_сп / 100)
 *   total = ПЗ + НР + СП, ПЗ counting the materials priced within the position, each r(qty × price)
 *   current, per position: ОТ, ОТМ by I_ОТ, ФОТ, НР, СП from them;
 *   current, per type of work: ЭМ by I_ЭМ, М by I_М (оборудование by I_оборудования) on its sums.
 *
 * Capital repair (EstimateParams::capitalRepair) multiplies НР by 0.9 and СП by 0.85 for the rows
 * of new-construction norms (sections I-III of the tables); the repair norms' own rows (IV, V)
 * and the other works (VI) keep theirs. A position with only a price (no wages, machines or
 * labour) is a material or equipment of its own: its cost is М, it bears no НР or СП; so does a
 * position of the type оборудование.
 *
 * Caveats: a position that cannot be computed (no НР/СП row where ФОТ is not 0, a row the
 * tables lack, a negative quantity, a coefficient of 0) is left out of every sum and listed in
 * `problems` with the reason; a missing index makes the current prices of what needs it absent
 * (`Local421::currentComplete` false) and is listed too. The template method is not computed
 * here: its block is the template workbook's own formulas (export/EstimateTotals).
 */
#include "estimate/model/Decimal.h"
#include "estimate/model/EstimateRows.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::model {

// ---------------------------------------------------------------------------------------------
// Parameters of the estimate
// ---------------------------------------------------------------------------------------------

enum class Method { Template, BaseIndex421 };        // "template" | "421"
enum class Territory { Ordinary = 1, Mprks = 2, Rks = 3 };  // НР column; reference suffix -1/-2/-3

/** What an estimate keeps beside its table besides the title block (all texts as the user gave
 *  them; numbers exact). */
struct EstimateParams {
    Method method = Method::Template;
    Territory territory = Territory::Ordinary;
    bool capitalRepair = false;        // НР × 0.9, СП × 0.85
    std::string region;                // «Московская область»
    std::string level;                 // the current price level: «II кв. 2025»
    std::string letter;                // the index letter: «письмо Минстроя России от … № …»
    std::optional<Dec7> indexOt, indexEm, indexM, indexEq;  // оплата труда (and ОТМ), машины, материалы, оборудование
    std::string baseLevel;             // the base's price level: «01.01.2000», «01.01.2022»
    bool operator==(const EstimateParams&) const = default;
};

// ---------------------------------------------------------------------------------------------
// What each position keeps beside the table
// ---------------------------------------------------------------------------------------------

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
struct PositionExtra {
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
    bool operator==(const PositionExtra&) const = default;
};

// ---------------------------------------------------------------------------------------------
// The НР and СП tables (812/пр, 774/пр), shipped with the program
// ---------------------------------------------------------------------------------------------

struct NrSpRow {
    std::string ref;          // "011.0"
    std::string item;         // "11"
    std::string section;      // "I"
    std::string group;        // wording of the parent item, may be empty
    std::string workType;     // wording of the row («Полы»)
    std::array<Dec7, 3> nrPercent;   // by Territory (Ordinary, Mprks, Rks)
    Dec7 spPercent;
    std::string collections;
    /** "Полы" or "Земляные работы, выполняемые: механизированным способом". */
    std::string title() const;
};

class NrSpTables {
public:
    /** Rows from the two CSV texts (nr-812.csv, sp-774.csv); talvira::Error naming the line. */
    static NrSpTables fromCsv(std::string_view nrCsv, std::string_view spCsv);
    const std::vector<NrSpRow>& rows() const { return rows_; }
    /** The row "011.0"; also accepts "Пр/812-011.0", "Пр/812-011.0-1", "Пр/774-011.0". */
    const NrSpRow* find(std::string_view ref) const;
    /** Rows whose ref, item or words contain every word of `query` (case and ё ignored). */
    std::vector<const NrSpRow*> search(std::string_view query) const;

private:
    std::vector<NrSpRow> rows_;
    std::map<std::string, size_t, std::less<>> byRef_;  // ref -> place in rows_
};
/** The tables as shipped with this program (compiled in from data/nrsp/). */
const NrSpTables& nrSpTables();

/** "Пр/812-011.0-1" for row "011.0" in `territory`; "Пр/774-011.0". */
std::string nrReference(std::string_view row, Territory territory);
std::string spReference(std::string_view row);
/** The row a reference names: "Пр/812-011.0-1", "Пр/774-011.0", "011.0" -> "011.0". */
std::string rowOfReference(std::string_view reference);

// ---------------------------------------------------------------------------------------------
// The result
// ---------------------------------------------------------------------------------------------

/** Elements of cost. In base prices every member is defined; in current prices ОТ, ОТМ, ФОТ, НР
 *  and СП per position, and every member per type of work and for the estimate. */
struct Elements {
    Money ot, em, otm, m, pz, fot, nr, sp, total;
    Dec7 zt, ztm;            // labour, чел.-ч (base only)
};

struct Problem {
    size_t row = 0;           // the table row concerned (SIZE_MAX: the whole estimate)
    int32_t number = 0;       // its COUNT (0: the whole estimate)
    std::string message;      // «Позиция 12: не выбран норматив НР и СП»
};

/** A material brought by a rate and priced in the estimate, shown as N.1, N.2 … of its rate. */
struct PricedMaterial {
    size_t row = 0;           // its row in the table (0-based)
    Dec7 perUnit;             // consumption per unit of the rate
    Dec7 quantity;            // perUnit × Q, or as stored
    Money price;              // per unit, base prices
    Money amount;             // r(quantity × price)
    bool priced = false;      // false: no price yet (printed without one, the position incomplete)
};

struct PositionResult {
    size_t row = 0;           // the position's row in the table (0-based)
    int32_t number = 0;       // COUNT, shown as «№»
    enum class Kind { Rate, Standalone } kind = Kind::Rate;  // Standalone: a material or equipment of its own
    WorkType workType = WorkType::Construction;
    Dec7 quantity;
    // Per unit, base prices, as stored:
    Money ot1, em1, otm1, m1, pz1;
    Dec7 zt1, ztm1;
    /** The products of the coefficients aimed at each element (1 when none). */
    Dec7 kOt, kEm, kOtm, kM, kZt, kZtm;
    std::vector<Coefficient> coefficients;
    /** The rows used and their percentages: norm, the repair factor (1, 0.9, 0.85), resulting. */
    std::string nrRow, spRow;
    /** The same as the estimate writes them: "Пр/812-011.0-1" (the territory's column), "Пр/774-011.0". */
    std::string nrRef, spRef;
    Dec7 nrNorm, nrFactor, nrPercent, spNorm, spFactor, spPercent;
    std::vector<PricedMaterial> materials;
    Elements base;            // m and pz include the priced materials
    Elements current;         // ot, otm, fot, nr, sp only
    /** False: the position could not be computed and is left out of every sum (its amounts
     *  are 0; `problems` says why). */
    bool computed = true;
    /** False: its current prices need the index of wages, which the estimate lacks. */
    bool currentDefined = true;
    /** Its own problems and those of its materials (a material that cannot be computed is left
     *  out of the position, the position stays). */
    std::vector<Problem> problems;
};

struct WorkTypeTotals {
    WorkType type = WorkType::Construction;
    Elements base, current;
    /** The indices this type of work used: ОТ (and ОТМ), ЭМ, М (оборудование for Equipment). */
    std::optional<Dec7> indexOt, indexEm, indexM;
    /** False: an index it needs is missing, and `current` is not complete. */
    bool currentDefined = true;
};

struct Local421 {
    std::vector<PositionResult> positions;  // in table order; materials of a rate folded into it
    std::vector<WorkTypeTotals> workTypes;  // only the types present, in WorkType order
    WorkTypeTotals total;                   // the estimate (type unused)
    std::vector<Problem> problems;
    bool currentComplete = true;            // false when an index needed is missing
};

/**
 * Computes the estimate. `rows` are the positions in table order (PositionRow::count = COUNT);
 * `extras` the data kept beside the table (any order; a position without an entry is a rate
 * with no НР/СП row and no coefficients, or a material of its own when it has only a price).
 */
Local421 computeLocal421(const std::vector<PositionRow>& rows, const std::vector<PositionExtra>& extras,
                         const EstimateParams& params, const NrSpTables& tables);

// ---------------------------------------------------------------------------------------------
// Building blocks: the totals that follow edits recompute only the positions an edit touched
// ---------------------------------------------------------------------------------------------

/** For each row, the extra kept for its COUNT (nullptr when none, or when it was written for
 *  another code). */
std::vector<const PositionExtra*> extrasByRow(const std::vector<PositionRow>& rows,
                                              const std::vector<PositionExtra>& extras);

/** For each row, the row of the position it belongs to: itself for a rate or a position of its
 *  own, its rate's row for a material whose rate (`parent`) is in the estimate. */
std::vector<size_t> positionOwners(const std::vector<PositionRow>& rows,
                                   const std::vector<const PositionExtra*>& extraOfRow);

/** One position: the rate or position of its own at `row`, with the materials of the rate at
 *  `materialRows` (table order). */
PositionResult computePosition(const std::vector<PositionRow>& rows,
                               const std::vector<const PositionExtra*>& extraOfRow, size_t row,
                               const std::vector<size_t>& materialRows, const EstimateParams& params,
                               const NrSpTables& tables);

/** The sums by type of work that the totals are made of: positions are added and taken away
 *  exactly (whole kopecks), so an edit costs the positions it touched and five types. */
class Local421Sums {
public:
    void add(const PositionResult& p) { apply(p, +1); }
    void remove(const PositionResult& p) { apply(p, -1); }
    /** `workTypes`, `total` and `currentComplete` of `out` from the sums; the missing indices
     *  are appended to `out.problems`. */
    void finish(const EstimateParams& params, Local421& out) const;

private:
    struct Type {
        int64_t positions = 0, undefined = 0;    // computed positions, those without current prices
        Elements base, current;                 // current: ot, otm, fot, nr, sp
    };
    void apply(const PositionResult& p, int sign);
    std::array<Type, kWorkTypes> types_{};
};

/** The result as the JSON object of `talvira-cli estimate totals --json`. */
std::string toJson(const Local421& result, const std::vector<PositionRow>& rows);

}  // namespace talvira::model
