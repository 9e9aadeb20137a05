// libFuzzer entry for the reader of decimal text: the input is one text, read in each of the
// three syntaxes. What is read must write back and read again as the same value at every
// number of places, and the exact arithmetic over it either gives a value or refuses with
// talvira::Error; anything else (crash, sanitizer report, another exception, a value that
// does not come back) is a finding.
#include "common/Decimal.h"
#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace talvira;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void exercise(const DecimalText& d, DecimalSyntax syntax) {
    for (int places = 0; places <= 18; ++places) {
        const std::optional<int64_t> u = d.scaled(places);
        if (!u) continue;
        // Written with all its places, it reads back as itself, in every syntax.
        const std::string text = decimalText(*u, places, {0, places});
        check(isXsDecimal(text));
        const std::optional<DecimalText> again = DecimalText::parse(text, DecimalSyntax::XsDecimal);
        check(again && again->scaled(places) == u);
        // Rounded to fewer places, it is the value rescaled.
        if (places > 0)
            check(decimalText(*u, places, {0, places - 1}) ==
                  decimalText(rescale(*u, places, places - 1), places - 1, {0, places - 1}));
    }
    if (syntax == DecimalSyntax::XsDecimal) check(!d.unusual());
    try {
        const std::optional<Money> m = d.money();
        const std::optional<Dec7> q = d.dec7();
        if (m && q) {
            (void)(Exact(*q) * (Exact(*m - *m) * *q + Exact(*m) * *q)).money();
            (void)percentOf(*m, *q, *q);
            (void)(*m + *m);
            (void)(*q - *q - *q);
            (void)mul(*q, *q);
            check((-(-*m)) == *m);
        }
    } catch (const Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const DecimalSyntax s : {DecimalSyntax::Typed, DecimalSyntax::Lenient, DecimalSyntax::XsDecimal}) {
        const std::optional<DecimalText> d = DecimalText::parse(text, s);
        if (s == DecimalSyntax::XsDecimal) check(d.has_value() == isXsDecimal(text));
        if (d) exercise(*d, s);
    }
    return 0;
}
