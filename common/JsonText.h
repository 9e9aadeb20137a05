#pragma once
/**
 * A text as a JSON string, for the companion's JSON outputs (`estimate totals --json`,
 * `summary totals --json`): quotes, backslashes and control characters escaped, everything else
 * (UTF-8 included) as it is.
 *
 *   out += "\"name\":" + jsonQuoted(position.name);
 */
#include <string>
#include <string_view>

namespace talvira {

std::string jsonQuoted(std::string_view s);

}  // namespace talvira
