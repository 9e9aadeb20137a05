#pragma once
/**
 * A number the estimator typed (a dialog's field, a command-line value) read into an exact
 * number, with one message for each way it can be wrong, whichever door it came through:
 *
 *   Dec7 k = model::typedNumber("1,15", "Коэффициент 1", model::Sign::Positive);
 *   model::typedNumber("1e30", "Индекс ОТ", model::Sign::Positive);
 *       // talvira::Error «Индекс ОТ: «1e30» — число слишком велико.»
 *
 * A decimal point or comma whatever the locale, blanks around it, an exponent ("1,5e3"); more
 * than seven decimals are rounded half up. The faults, in the order they are looked for: «— не
 * число» (no number at all), «— число слишком велико» (a number beyond what an estimate holds,
 * about 9,2·10¹¹), «— нужно число больше нуля» / «— нужно число не меньше нуля».
 */
#include "common/Decimal.h"

#include <string>
#include <string_view>

namespace talvira::model {

enum class Sign { Any, NotNegative, Positive };

/** The number `text` stands for, or "" and `out` set; else the fault as a message's tail
 *  ("— не число"), `out` unchanged. */
std::string typedNumberFault(std::string_view text, Sign sign, Dec7& out);

/** typedNumber's message for a fault: "Индекс ОТ: «abc» — не число." */
std::string typedFaultMessage(std::string_view what, std::string_view text, std::string_view fault);

/** The number `text` stands for; talvira::Error with typedFaultMessage otherwise. */
Dec7 typedNumber(std::string_view text, std::string_view what, Sign sign);

}  // namespace talvira::model
