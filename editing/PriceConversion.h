#pragma once
/**
 * The "-> 2000" converter of the estimate window: a material price with VAT in current prices
 * becomes the price in 2000 prices without VAT, divided by (VAT / 100 + 1) and by the factor
 * converting base prices into current ones.
 *
 *   convertPriceTo2000("118", "18", "2,18", ',');   // "45,87"
 *
 * Caveats: the three texts are read as typed, in the user's notation (`sep` is the decimal
 * separator). Failures throw talvira::Error with the message the user sees:
 * "'<text>' is not a valid floating point value", "Floating point division by zero",
 * "Invalid floating point operation" (0 / 0, or a result beyond the fixed-point range of the
 * decimal-comma text), "Floating point overflow" (a result too large for a double).
 */
#include "model/Params.h"

#include <string>
#include <string_view>

namespace talvira::editing {

/** The factor the converter divides by, as text: the one typed in KoefEdit (`typedFactor`) for an
 *  estimate by the template; for one by the base-index method, whose current prices come from
 *  its indices, its index of materials (talvira::Error saying where to give it when it has none). */
std::string conversionFactor(const model::EstimateParams& params, std::string_view typedFactor, char sep);

/** Returns the text for Edit2 from the texts of Edit1, NDSEdit and KoefEdit. */
std::string convertPriceTo2000(std::string_view price, std::string_view vat, std::string_view factor, char sep);

}  // namespace talvira::editing
