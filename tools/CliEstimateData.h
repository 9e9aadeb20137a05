#pragma once
/**
 * talvira-cli for an estimate by the base-index method: its parameters (estimate params), the
 * data of a position (estimate set) and its totals (estimate totals on such an estimate).
 */
#include "tools/Commands.h"

#include <string>

namespace talvira::cli {

int paramsCommand(const Args& args);  // estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]
int setCommand(const Args& args);     // estimate set ESTIMATE.db POSITION KEY=VALUE...

/** Prints the totals of the estimate at `path` when it is computed by the base-index method
 *  (as JSON, or as text with `sep` as decimal separator) and answers true; false for an
 *  estimate by the template (nothing printed), or, with `json`, talvira::Error. */
bool baseIndexTotals(const std::string& path, bool json, char sep);

}  // namespace talvira::cli
