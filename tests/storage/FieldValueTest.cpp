// The one rule that makes a value fit a field, and the table handle and the record encoder
// agreeing with it: a value refused by one is refused by the other, for the same reason.
#include "common/Error.h"
#include "storage/FieldValue.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"
#include "tests/storage/StorageTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace talvira;
using namespace talvira::storage;
using namespace talvira::test;
namespace fs = std::filesystem;

namespace {

struct Case {
    const char* what;
    FieldDef field;
    Value given;
    Value stored;         // what the field keeps (when taken)
    const char* refused;  // a part of the reason, nullptr when taken
};

DateTime day(int32_t d) { return {d, 0, true, false}; }

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        {"short at its top", {"S", FieldType::Short, 0}, Value::integer(32767), Value::integer(32767), nullptr},
        {"short at its bottom", {"S", FieldType::Short, 0}, Value::integer(-32767), Value::integer(-32767), nullptr},
        {"-32768 marks an empty short", {"S", FieldType::Short, 0}, Value::integer(-32768), {}, "вне диапазона -32767..32767"},
        {"short from text", {"S", FieldType::Short, 0}, Value::string(" +12 "), Value::integer(12), nullptr},
        {"short from blank text", {"S", FieldType::Short, 0}, Value::string("  "), {}, nullptr},
        {"short from a whole float", {"S", FieldType::Short, 0}, Value::real(40), Value::integer(40), nullptr},
        {"short from a fraction", {"S", FieldType::Short, 0}, Value::real(1.5), {}, "не целое"},
        {"short from words", {"S", FieldType::Short, 0}, Value::string("abc"), {}, "не является целым числом"},
        {"long beyond its range", {"I", FieldType::Long, 0}, Value::integer(2147483648LL), {}, "вне диапазона"},
        {"long from huge text", {"I", FieldType::Long, 0}, Value::string("99999999999999999999"), {}, "вне допустимого диапазона"},
        {"number from an integer", {"N", FieldType::Number, 0}, Value::integer(3), Value::real(3), nullptr},
        {"number from text with a point", {"N", FieldType::Number, 0}, Value::string("2.5"), Value::real(2.5), nullptr},
        {"number from text with a comma", {"N", FieldType::Number, 0}, Value::string("2,5"), Value::real(2.5), nullptr},
        {"number from words", {"N", FieldType::Number, 0}, Value::string("abc"), {}, "не является числом"},
        {"number not finite", {"N", FieldType::Number, 0}, Value::real(HUGE_VAL), {}, "конечным"},
        {"text from a number", {"A", FieldType::Alpha, 10}, Value::integer(7), Value::string("7"), nullptr},
        {"empty text is empty", {"A", FieldType::Alpha, 10}, Value::string(""), {}, nullptr},
        {"date from a date", {"D", FieldType::Date, 0}, Value::dateTime(day(730000)), Value::dateTime(day(730000)), nullptr},
        {"date from a number", {"D", FieldType::Date, 0}, Value::integer(5), {}, "не является датой"},
        {"time beyond the day", {"T", FieldType::Time, 0}, Value::dateTime({0, 86400000, false, true}), {}, "время вне"},
        {"logical from text", {"L", FieldType::Logical, 0}, Value::string("T"), Value::integer(1), nullptr},
        {"long as it is", {"I", FieldType::Long, 0}, Value::integer(-2147483647LL), Value::integer(-2147483647LL), nullptr},
        {"number as it is", {"N", FieldType::Number, 0}, Value::real(-0.25), Value::real(-0.25), nullptr},
        {"memo as it is", {"M", FieldType::Memo, 10}, Value::string("бетон"), Value::string("бетон"), nullptr},
    };
    return c;
}

TEST(FieldValue, EachTypeTakesWhatFitsAndSaysWhyOtherwise) {
    for (const Case& c : cases()) {
        // A value the encoder takes as it is must be what the rule gives.
        if (fitsAsIs(c.given, c.field)) {
            EXPECT_EQ(c.stored, c.given) << c.what << ": taken as it is";
        }
        try {
            const Value v = coerceToField(c.given, c.field);
            EXPECT_EQ(c.refused, nullptr) << c.what << ": taken";
            EXPECT_EQ(v, c.stored) << c.what;
        } catch (const FieldValueError& e) {
            ASSERT_NE(c.refused, nullptr) << c.what << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.refused), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(FieldValue, HandleAndEncoderGiveTheSameAnswer) {
    TempDir dir;
    for (const Case& c : cases()) {
        const std::string path = (dir / "V.DB").string();
        createParadoxTable(path, {{"ID", FieldType::AutoInc, 0}, c.field});
        std::string encoderSays, handleSays;
        Value encoderStored, handleStored;
        {
            auto t = openParadoxTable(path, OpenMode::ReadWrite);
            Record r = {{}, c.given};
            try {
                t->append(r);
                encoderStored = t->read(*t->last())[1];
            } catch (const Error& e) {
                encoderSays = e.what();
            }
        }
        createParadoxTable(path, {{"ID", FieldType::AutoInc, 0}, c.field});
        TableHandle h;
        h.setDatabaseName(dir.path().string());
        h.setTableName("V.DB");
        h.open();
        h.append();
        try {
            h.setFieldValue(c.field.name, c.given);
            h.post();
            h.last();
            handleStored = h.fieldValue(c.field.name);
        } catch (const Error& e) {
            handleSays = e.what();
        }
        h.close();
        EXPECT_EQ(encoderSays.empty(), handleSays.empty()) << c.what << ": " << encoderSays << " / " << handleSays;
        if (c.refused) {
            EXPECT_NE(encoderSays.find(c.refused), std::string::npos) << c.what << ": " << encoderSays;
            EXPECT_NE(handleSays.find(c.refused), std::string::npos) << c.what << ": " << handleSays;
            EXPECT_NE(handleSays.find("«" + c.field.name + "»"), std::string::npos) << handleSays;
        } else {
            EXPECT_EQ(encoderStored, c.stored) << c.what;
            EXPECT_EQ(handleStored, c.stored) << c.what;
        }
    }
}

}  // namespace
