#include "editing/PriceConversion.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "editing/CommaNumber.h"

#include <cfloat>
#include <cmath>

namespace talvira::editing {

namespace {

// Division as the extended-precision unit reports it: x / 0 is a division by zero, 0 / 0 an
// invalid operation, a quotient beyond the extended range an overflow.
long double divide(long double dividend, long double divisor) {
    if (divisor == 0.0L) {
        if (dividend == 0.0L || std::isnan(dividend)) throw Error("Invalid floating point operation");
        throw Error("Floating point division by zero");
    }
    const long double q = dividend / divisor;
    if (std::isnan(q)) throw Error("Invalid floating point operation");
    if (std::isinf(q)) throw Error("Floating point overflow");
    return q;
}

}  // namespace

std::string convertPriceTo2000(std::string_view price, std::string_view vat, std::string_view factor, char sep) {
    const long double p = strToFloat(price, sep);
    const long double n = strToFloat(vat, sep);
    const long double divisor = n / 100.0L + 1.0L;
    const long double net = divide(p, divisor);
    const long double k = strToFloat(factor, sep);
    const long double result = divide(net, k);
    if (std::fabs(result) > static_cast<long double>(DBL_MAX)) throw Error("Floating point overflow");
    return FloatToCommaStr(static_cast<double>(result), 2);
}

std::string conversionFactor(const model::EstimateParams& params, std::string_view typedFactor, char sep) {
    if (params.method != model::Method::BaseIndex) return std::string(typedFactor);
    if (!params.indexM || params.indexM->units() <= 0)
        throw Error("В параметрах сметы не указан индекс материалов: цена переводится в базисные цены делением на "
                    "него (Смета → Параметры сметы...)");
    return params.indexM->text(sep);
}

}  // namespace talvira::editing
