// Value texts, code pages and the field encodings, table-driven.
#include "storage/CodePage.h"
#include "storage/DateCalc.h"
#include "storage/ParadoxFormat.h"
#include "storage/TableDump.h"
#include "storage/Value.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

using namespace talvira::storage;

TEST(Codec, ValueTextsAreTheDumpTexts) {
    const std::pair<Value, const char*> cases[] = {
        {Value(), ""},
        {Value::integer(-42), "-42"},
        {Value::real(2.18), "2.18"},
        {Value::real(0.1 + 0.2), "0.30000000000000004"},
        {Value::real(1e21), "1e+21"},
        {Value::real(-0.000123), "-0.000123"},
        {Value::real(100), "100"},
        {Value::dateTime({dayNumber(1996, 5, 4), 0, true, false}), "1996-05-04"},
        {Value::dateTime({0, 3723004, false, true}), "01:02:03.004"},
        {Value::dateTime({0, 0, false, true}), "00:00:00"},
        {Value::dateTime({dayNumber(2024, 2, 29), 86399999, true, true}), "2024-02-29T23:59:59.999"},
        {Value::string("Смета"), "Смета"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(v.asString(), text);
    EXPECT_EQ(dayNumber(1996, 5, 4), 728783);
    EXPECT_EQ(dayNumber(1, 1, 1), 1);
}

TEST(Codec, ValueNumbers) {
    EXPECT_EQ(Value::real(-2.9).asInteger(), -2);
    EXPECT_EQ(Value::string(" 17 ").asInteger(), 17);
    EXPECT_EQ(Value::string("17x").asInteger(), 0);
    EXPECT_DOUBLE_EQ(Value::string("2.5").asFloat(), 2.5);
    EXPECT_DOUBLE_EQ(Value::string("abc").asFloat(), 0);
    EXPECT_DOUBLE_EQ(Value().asFloat(), 0);
    EXPECT_EQ(Value::real(std::nan("")).asInteger(), 0);
    EXPECT_NE(Value(), Value::integer(0));
    EXPECT_NE(Value::integer(1), Value::real(1));
}

TEST(Codec, CodePagesRoundTripTheRussianAlphabet) {
    std::string all = "абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ№";
    for (int cp : {866, 1251}) {
        auto b = fromUtf8(all, cp);
        ASSERT_TRUE(b) << cp;
        EXPECT_EQ(b->size(), 67u);
        EXPECT_EQ(toUtf8(*b, cp), all);
    }
    EXPECT_EQ(*fromUtf8("«»", 1251), "\xAB\xBB");
    std::string bad;
    EXPECT_FALSE(fromUtf8("«", 866, &bad));
    EXPECT_EQ(bad, "«");
    EXPECT_FALSE(fromUtf8("\xFF\xFE", 1251));  // not UTF-8
    EXPECT_EQ(upperByte(static_cast<uint8_t>('\xB8'), 1251), 0xA8);  // ё -> Ё
    EXPECT_EQ(upperByte(static_cast<uint8_t>('\xE0'), 866), 0x90);   // р -> Р
    EXPECT_EQ(upperByte('a', 437), 'A');
}

TEST(Codec, CodePageGuess) {
    struct Case {
        std::string utf8;
        int textCp, header, expect;
    };
    const std::string ru = "Разработка грунта с погрузкой на автомобили-самосвалы экскаваторами";
    const Case cases[] = {
        {ru, 1251, 0, 1251},   {ru, 866, 0, 866},    {ru, 1251, 936, 1251}, {ru, 866, 936, 866},
        {ru, 866, 437, 866},   {ru, 1251, 866, 1251}, {ru, 866, 1251, 866},  {"Zürich", 850, 850, 850},
        {"plain", 1252, 0, 1251}, {"plain", 1252, 437, 437},
        {"ЁЛКА ПАЛКА ДОМ", 866, 0, 866}, {"ЁЛКА ПАЛКА ДОМ", 1251, 0, 1251},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8 + " " + std::to_string(c.textCp) + " " + std::to_string(c.header));
        CodePageGuess g;
        g.add(*fromUtf8(c.utf8, c.textCp));
        EXPECT_EQ(g.decide(c.header), c.expect);
    }
}

TEST(Codec, NumbersSortAsTheirBytes) {
    const double values[] = {-1e300, -2.5, -1, -1e-300, 0, 1e-300, 0.5, 1, 3, 1e300};
    uint8_t prev[8] = {};
    for (size_t i = 0; i < std::size(values); ++i) {
        uint8_t b[8];
        encodeDouble(b, values[i]);
        EXPECT_EQ(*decodeDouble(b), values[i]);
        if (i) {
            EXPECT_LT(std::memcmp(prev, b, 8), 0) << values[i];
        }
        std::memcpy(prev, b, 8);
    }
    const int32_t longs[] = {-2147483647, -1, 0, 1, 2147483647};
    uint8_t lp[4] = {};
    for (size_t i = 0; i < std::size(longs); ++i) {
        uint8_t b[4];
        encodeLong(b, longs[i]);
        EXPECT_EQ(*decodeLong(b), longs[i]);
        if (i) {
            EXPECT_LT(std::memcmp(lp, b, 4), 0);
        }
        std::memcpy(lp, b, 4);
    }
    uint8_t z[8] = {};
    EXPECT_FALSE(decodeDouble(z));
    EXPECT_FALSE(decodeLong(z));
    EXPECT_FALSE(decodeShort(z));
}

TEST(Codec, Bcd) {
    const std::pair<double, int> cases[] = {{1.23, 2}, {-1.23, 2}, {0, 0}, {123456789.1234, 4}, {-0.5, 1}, {42, 0}};
    // The same digits under a decimal-comma locale, as the program runs in ru_RU (a missing
    // locale leaves the current one).
    for (const char* locale : {"C.UTF-8", "ru_RU.UTF-8"}) {
        std::setlocale(LC_ALL, locale);
        for (auto [v, dec] : cases) {
            SCOPED_TRACE(std::string(locale) + ": " + std::to_string(v));
            uint8_t b[17];
            ASSERT_TRUE(encodeBcd(b, v, dec));
            EXPECT_EQ(b[0] & 0x3F, dec);
            EXPECT_DOUBLE_EQ(*decodeBcd(b, dec), v);
        }
    }
    std::setlocale(LC_ALL, "C");
    uint8_t b[17];
    EXPECT_FALSE(encodeBcd(b, 1e40, 2));
    EXPECT_FALSE(encodeBcd(b, std::numeric_limits<double>::infinity(), 2));
    uint8_t empty[17] = {0x06};
    EXPECT_FALSE(decodeBcd(empty, 6));  // only the decimals set: an empty field
}

TEST(Codec, DumpCells) {
    const std::tuple<FieldDef, Value, const char*> cases[] = {
        {{"M", FieldType::Memo, 10}, Value::string("a\tb\r\nc\\d"), "a\\tb\\r\\nc\\\\d"},
        {{"L", FieldType::Logical, 0}, Value::integer(1), "true"},
        {{"L", FieldType::Logical, 0}, Value::integer(0), "false"},
        {{"L", FieldType::Logical, 0}, Value(), ""},
        {{"Y", FieldType::Bytes, 3}, Value::bytes(std::string("\x00\xab\x10", 3)), "00ab10"},
        {{"G", FieldType::Graphic, 0}, Value::bytes("GIF89a"), "<6 bytes>"},
        {{"N", FieldType::Number, 0}, Value::real(0.1), "0.1"},
        {{"@", FieldType::Timestamp, 0}, Value::dateTime({dayNumber(2005, 9, 15), 64671000, true, true}), "2005-09-15T17:57:51"},
    };
    for (const auto& [f, v, text] : cases) EXPECT_EQ(dumpCell(f, v), text);
}
