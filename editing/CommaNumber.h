#pragma once
/**
 * Numbers the estimate window writes as text: a decimal comma, a fixed number of decimals.
 *
 *   FloatToCommaStr(45.8715596, 2);   // "45,87"
 *   FloatToCommaStr(-0.001, 2);       // "-0,00"
 *
 * Caveats: the value first becomes a count of ten-thousandths (signed 64 bits), so its
 * magnitude may not exceed 922337203685477.5807; beyond that, and for NaN, the call throws
 * talvira::Error "Invalid floating point operation".
 */
#include <string>

namespace talvira::editing {

/** Decimal-comma number text with `digits` decimals (at least 1; a smaller count gives 1).
 *  The value is rounded twice: to ten-thousandths (extended precision, halves to even), then
 *  to `digits` decimals (halves away from zero). A negative value keeps its "-" also when it
 *  shows as zero at the kept decimals. */
std::string FloatToCommaStr(double value, int digits);

}  // namespace talvira::editing
