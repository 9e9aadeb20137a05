#include "common/Error.h"
#include "storage/Filter.h"

#include <gtest/gtest.h>

using namespace talvira;
using namespace talvira::storage;

namespace {

const std::vector<FieldDef> kFields = {
    {"VIDNR", FieldType::Short, 0}, {"KOLL", FieldType::Number, 0}, {"TAB", FieldType::Alpha, 50}};

bool eval(const std::string& expr, const Record& rec) {
    Filter f = Filter::parse(expr, "RESURS.DB");
    f.bind(kFields, "RESURS.DB");
    return f.matches([&](int c) { return rec[size_t(c)]; });
}

}  // namespace

TEST(Filter, EvaluatesComparisons) {
    const Record one = {Value::integer(1), Value::real(2.5), Value::string("01-01")};
    const Record blank = {Value(), Value(), Value()};
    const Record zero = {Value::integer(0), Value::real(0), Value::string("")};
    struct Case { const char* expr; bool one, blank, zero; };
    const Case cases[] = {
        {"VIDNR = 1", true, false, false},
        {"VIDNR=1", true, false, false},
        {"  vidnr   =   1  ", true, false, false},
        {"VIDNR = 1.0", true, false, false},
        {"VIDNR <> 1", false, true, true},
        {"VIDNR != 1", false, true, true},
        {"VIDNR = 0", false, false, true},  // an empty field is not 0 either
        {"VIDNR < 1", false, false, true},
        {"VIDNR >= 1", true, false, false},
        {"KOLL > 2", true, false, false},
        {"KOLL <= 2.5", true, false, true},
        {"KOLL = -1e3", false, false, false},
        {"TAB = '01-01'", true, false, false},
        {"TAB = \"01-01\"", true, false, false},
        {"TAB = ''", false, false, true},
        {"TAB = 1", false, false, false},  // a text never equals a number
        {"VIDNR = NULL", false, true, false},
        {"VIDNR IS NOT NULL", true, false, true},
        {"VIDNR = 1 OR VIDNR = 0", true, false, true},
        {"VIDNR = 1 and KOLL > 100", false, false, false},
        {"NOT (VIDNR = 1)", false, true, true},
        {"(VIDNR = 0 or TAB = '01-01') and not KOLL = 0", true, false, false},
        {"", true, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eval(c.expr, one), c.one) << c.expr;
        EXPECT_EQ(eval(c.expr, blank), c.blank) << c.expr;
        EXPECT_EQ(eval(c.expr, zero), c.zero) << c.expr;
    }
}

TEST(Filter, UnreadableTextNamesTableAndFilter) {
    for (const char* expr : {"VIDNR", "VIDNR =", "VIDNR == 1", "= 1", "VIDNR = 1 AND", "(VIDNR = 1",
                             "VIDNR = 'open", "VIDNR = 1x", "VIDNR = 1 2", "VIDNR < NULL", "VIDNR IS 1"}) {
        try {
            (void)Filter::parse(expr, "RESURS.DB");
            ADD_FAILURE() << "accepted: " << expr;
        } catch (const Error& e) {
            const std::string msg = e.what();
            EXPECT_NE(msg.find("RESURS.DB"), std::string::npos) << msg;
            EXPECT_NE(msg.find(expr), std::string::npos) << msg;
        }
    }
}

TEST(Filter, DeepNestingIsRefusedNotOverflowed) {
    std::string deep(100000, '(');
    EXPECT_THROW((void)Filter::parse(deep + "VIDNR = 1", "T.DB"), Error);
}

TEST(Filter, UnknownFieldFailsAtBind) {
    Filter f = Filter::parse("NOSUCH = 1", "RESURS.DB");
    try {
        f.bind(kFields, "RESURS.DB");
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos);
    }
}
