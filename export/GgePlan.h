#pragma once
/**
 * The local estimate as the state-expertise XML file (.gge, «LocalEstimateBaseIndexMethod» 3.01),
 * planned element by element from the computation's result: the header (program, construction,
 * object, the acts, region, territory, price levels), the totals by type of work, the
 * signatures, then one section with every position as an Item (НР and СП with their rows, the
 * rate's per-unit and total elements, coefficients, the indices to wages, the priced materials
 * as its lines N.1, N.2 …). The plan is plain data, a flat walk of the document (open, leaf,
 * close), every number already text by the one rule of common/Decimal.h; the writer only streams
 * it.
 *
 *   const gge::GgePlan plan = gge::planGge(input);
 *   std::string total = plan.textAt("Object/Estimate/EstimatePrice/Total/PriceBase");  // "2159.86"
 *
 * The method's indices are given as «Индексы к элементам прямых затрат»: ОТ and ОТМ in each
 * position, ЭМ, М and оборудование on the totals of each type of work, as the computation applies
 * them; a position's own ЭМ or М index in the position, a line's own index in the line. The
 * machinists' extra pay Д is a line of machines with its machinist (in ФОТ, not in the rate's
 * ЭМ); the lines under a material or equipment of its own are its freight. The Summary block holds
 * the works only (строительные, монтажные, пусконаладочные), the total everything. Numbering:
 * positions N = 1, 2 … through the estimate, their priced lines M = 1, 2 … inside them;
 * IDResource runs through the file.
 *
 * Caveats: only what the result holds is planned (a position it could not compute is left out,
 * as it is of its sums: the checks (GgeChecks) refuse such an estimate first); a current amount is
 * planned only where the computation defined it. Texts are copied as the table and the
 * parameters hold them, never normalised.
 */
#include "model/BaseIndexResult.h"
#include "model/EstimateRows.h"
#include "model/Params.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::gge {

/** One step of the document: an element opened (with its attributes as Attribute steps right
 *  after it), a leaf element with its text, an element closed. Names are static texts. */
struct GgeNode {
    enum class Kind : uint8_t { Open, Attribute, Leaf, Close };
    Kind kind = Kind::Leaf;
    const char* name = "";
    std::string text;
};

struct GgePlan {
    std::vector<GgeNode> nodes;
    size_t positions = 0;  // Items planned (for progress)
    /** The text of the first leaf at a path of element names from the root's children
     *  ("Object/Estimate/Num"); "" when there is none (tests read the plan so). */
    std::string textAt(std::string_view path) const;
    /** The texts of every leaf at the path, in order. */
    std::vector<std::string> textsAt(std::string_view path) const;
};

/** What the file says besides the computation and the parameters, as plain texts. */
struct GgeFacts {
    std::string program = "Тальвира";
    std::string version = "1.0";
    std::string edition;               // the norm base's edition, when the estimator gave no act
    std::vector<std::string> orders;   // and its orders
    std::string estimateName;          // the estimate's own name (title or file), when none is given
    std::string guid;                  // made and kept by the caller
    std::string exportDateTime;        // «2025-08-18T11:19:01+03:00» (the file requires it)
};

/** Everything the file is planned from. */
struct GgeInput {
    const std::vector<model::PositionRow>& rows;   // the table's rows (codes, names, units)
    const model::EstimateParams& params;           // acts, region, levels, indices, expertise facts
    const model::BaseIndexResult& result;          // every amount
    GgeFacts facts;
    /** The wording of each position's НР/СП row, one per result.positions, same order. */
    std::vector<std::string> chargeTitles;
};

GgePlan planGge(const GgeInput& input);

// ---- pieces shared with the checks ----------------------------------------------------------

/** The act approving the norms as the file names it: the estimator's, else the base's edition. */
std::string normsAct(const GgeInput& input);
/** A rate's code split as the file wants it: "ФЕРм10-05-011-01" gives "ФЕРм" and "10-05-011-01";
 *  a code without letters in front has no prefix. */
std::pair<std::string, std::string> prefixAndCode(std::string_view code);
/** «II кв. 2025» → quarter 2, year 2025; nothing when the text is not such a level. */
struct Quarter {
    int year = 0, quarter = 0;
};
std::optional<Quarter> quarterOf(std::string_view level);

}  // namespace talvira::gge
