#include "common/LazyLibrary.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talvira {
namespace {

TEST(LazyLibrary, LoadsOnFirstUseAndNamesWhatIsMissing) {
    const LazyLibrary math({"libm-missing.so.9", "libm.so.6"}, "вычислений", "libc6");
    auto cosine = math.function<double (*)(double)>("cos");
    EXPECT_EQ(cosine(0.0), 1.0) << "the second name is taken when the first is not there";

    struct Case {
        const char* library;
        const char* function;
        const char* said;
    } cases[] = {
        {"libnothing-here.so.1", "cos", "Установите пакет libnothing1"},
        {"libm.so.6", "no_such_function_here", "нет функции no_such_function_here"},
    };
    for (const Case& c : cases) {
        const LazyLibrary lib({c.library}, "проверки", "libnothing1");
        try {
            lib.function<void (*)()>(c.function);
            ADD_FAILURE() << c.function << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace talvira
