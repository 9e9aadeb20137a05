// The "-> 2000" converter: results with the default rates, the user's decimal separator,
// every refusal with its message, and the factor it divides by for each method.
#include "editing/PriceConversion.h"

#include "common/Error.h"

#include <gtest/gtest.h>

namespace talvira::editing {
namespace {

TEST(PriceConversion, Results) {
    struct Case {
        const char* price;
        const char* vat;
        const char* factor;
        char sep;
        const char* result;
    };
    const Case cases[] = {
        {"118", "18", "2,18", ',', "45,87"},
        {"1000", "18", "2,18", ',', "388,74"},
        {"100", "18", "2,18", ',', "38,87"},
        {" 118 ", "18", "2,18", ',', "45,87"},  // blanks around a number are allowed
        {"1,18E2", "18", "2,18", ',', "45,87"},  // so is an exponent
        {"118", "18", "2.18", '.', "45,87"},     // a decimal-point locale reads the point
        {"0", "18", "2,18", ',', "0,00"},
        {"-118", "18", "2,18", ',', "-45,87"},
        {"118", "0", "1", ',', "118,00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convertPriceTo2000(c.price, c.vat, c.factor, c.sep), c.result) << c.price << " " << c.factor;
}

TEST(PriceConversion, Refusals) {
    struct Case {
        const char* what;
        const char* price;
        const char* vat;
        const char* factor;
        const char* message;
    };
    const Case cases[] = {
        {"empty price", "", "18", "2,18", "'' is not a valid floating point value"},
        {"letters", "сто", "18", "2,18", "'сто' is not a valid floating point value"},
        {"point under a comma locale", "118", "18", "2.18", "'2.18' is not a valid floating point value"},
        {"empty VAT", "118", "", "2,18", "'' is not a valid floating point value"},
        {"factor 0", "118", "18", "0", "Floating point division by zero"},
        {"VAT -100", "118", "-100", "2,18", "Floating point division by zero"},
        {"VAT -100 before a bad factor", "118", "-100", "x", "Floating point division by zero"},
        {"0 / 0 (price 0, factor 0)", "0", "18", "0", "Invalid floating point operation"},
        {"0 / 0 (price 0, VAT -100)", "0", "-100", "2,18", "Invalid floating point operation"},
        {"result beyond a double", "1e308", "18", "1e-300", "Floating point overflow"},
        {"beyond the extended range", "1e4000", "18", "1e-4000", "Floating point overflow"},
        {"beyond the fixed-point range", "1e20", "18", "2,18", "Invalid floating point operation"},
    };
    for (const auto& c : cases) {
        try {
            const std::string r = convertPriceTo2000(c.price, c.vat, c.factor, ',');
            ADD_FAILURE() << c.what << " gave " << r;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), c.message) << c.what;
        }
    }
}

TEST(PriceConversion, TheFactorOfTheEstimatesMethod) {
    model::EstimateParams p;
    p.indexM = Dec7::parse("8.49");
    EXPECT_EQ(conversionFactor(p, "2,18", ','), "2,18");  // by the template: as typed, whatever the index
    p.method = model::Method::BaseIndex;
    EXPECT_EQ(conversionFactor(p, "2,18", ','), "8,49");  // the disabled factor is not read
    EXPECT_EQ(convertPriceTo2000("118", "18", conversionFactor(p, "", '.'), '.'), "11,78");
    p.indexM.reset();
    EXPECT_THROW(conversionFactor(p, "2,18", ','), Error);
}

}  // namespace
}  // namespace talvira::editing
