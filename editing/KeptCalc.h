#pragma once
/**
 * What an estimate keeps beside its table besides the title block: the parameters of its
 * computation (method, territory, indices …) and the data of each position that the table cannot
 * hold (НР/СП rows, type of work, coefficients, a material's consumption per unit of its rate),
 * found by the position's COUNT. One small UTF-8 text file beside the table, written in one step
 * as the title block's file is.
 *
 *   editing::KeptCalc calc = editing::loadKeptCalc(smeta.tablePath());
 *   calc.params.method = model::Method::BaseIndex;
 *   editing::saveKeptCalc(smeta.tablePath(), calc);
 *
 * Caveats: an estimate without the file is computed by the template (every estimate made before
 * opens so); a damaged file gives one warning through storage::warn and the defaults, never a
 * refused estimate, and is not overwritten until the estimator changes something.
 */
#include "model/Params.h"
#include "model/PositionData.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::editing {

struct KeptCalc {
    model::EstimateParams params;
    /** The norm base the positions were added from (its folder, absolute), so that the data of
     *  positions that have none can be had from it later; empty when unknown. */
    std::string base;
    std::vector<model::PositionData> positions;  // by COUNT, any order
    /** The entry of the position `count`, nullptr when it has none. */
    const model::PositionData* find(int32_t count) const;
    model::PositionData& entry(int32_t count);  // made when missing
    bool operator==(const KeptCalc&) const = default;
};

/** The file's text for `calc`: a versioned first line, the parameters, then one "[COUNT]"
 *  section per position that has data (the first entry of a number when it is given twice). */
std::string keptCalcContent(const KeptCalc& calc);

/** The calc data of the estimate whose table is `tablePath` (defaults when there is none). */
KeptCalc loadKeptCalc(const std::filesystem::path& tablePath);

/** Writes it beside the table in one step; talvira::Error when it cannot (the old file stays). */
void saveKeptCalc(const std::filesystem::path& tablePath, const KeptCalc& calc);

}  // namespace talvira::editing
