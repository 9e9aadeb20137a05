#pragma once
#include "model/BaseIndexResult.h"
#include "model/EstimateRows.h"
#include <string>
#include <vector>

namespace talvira::model {

/** The result as the JSON object of `talvira-cli estimate totals --json`. */
std::string toJson(const BaseIndexResult& result, const std::vector<PositionRow>& rows);

}  // namespace talvira::model
