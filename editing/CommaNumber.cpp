#include "editing/CommaNumber.h"

#include "common/Error.h"

#include <cfenv>
#include <cmath>
#include <cstdint>

namespace talvira::editing {

std::string FloatToCommaStr(double value, int digits) {
    if (digits < 1) digits = 1;
    if (digits > 18) digits = 18;

    // Step 1: fixed point with four decimals, computed in extended precision; nearbyintl rounds
    // halves to even in the default rounding mode.
    const long double scaled = static_cast<long double>(value) * 10000.0L;
    const long double limit = 9223372036854775808.0L;  // 2^63
    if (!(scaled > -limit - 1.0L && scaled < limit)) throw Error("Invalid floating point operation");
    const long double rounded = std::nearbyintl(scaled);
    if (!(rounded >= -limit && rounded < limit)) throw Error("Invalid floating point operation");
    const int64_t fixed = static_cast<int64_t>(rounded);

    const bool negative = fixed < 0;
    uint64_t magnitude = negative ? uint64_t(0) - static_cast<uint64_t>(fixed) : static_cast<uint64_t>(fixed);

    // Step 2: `digits` decimals. Fewer than four: drop the rest, raising the last kept digit when
    // the first dropped one is 5 or more (magnitude rounded, sign kept apart).
    std::string fraction;
    uint64_t integer = 0;
    if (digits <= 4) {
        uint64_t drop = 1;
        for (int i = digits; i < 4; ++i) drop *= 10;
        uint64_t kept = magnitude / drop;
        if (drop > 1 && magnitude % drop >= drop / 2) ++kept;
        uint64_t unit = 1;
        for (int i = 0; i < digits; ++i) unit *= 10;
        integer = kept / unit;
        fraction = std::to_string(kept % unit);
        fraction.insert(0, std::size_t(digits) - fraction.size(), '0');
    } else {
        integer = magnitude / 10000;
        fraction = std::to_string(magnitude % 10000);
        fraction.insert(0, 4 - fraction.size(), '0');
        fraction.append(std::size_t(digits - 4), '0');
    }

    // Steps 3 and 4: a comma, and no blanks anywhere.
    std::string text = negative ? "-" : "";
    text += std::to_string(integer);
    text += ',';
    text += fraction;
    return text;
}

}  // namespace talvira::editing
