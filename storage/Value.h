#pragma once
/**
 * One field value of a record: empty, integer, float, date-time, string (UTF-8; memos whole)
 * or bytes (binary blobs, graphics, bytes fields). As a number an empty value gives 0, as text
 * an empty text; an empty value equals no number.
 *
 *   Value v = Value::integer(42);
 *   double d = v.asFloat();   // 42.0
 */
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace talvira::storage {

/** A point in time as the tables keep it: days since 0001-01-01 (day 1) plus milliseconds of
 *  the day. `hasDate` / `hasTime` tell a date field, a time field and a timestamp apart. */
struct DateTime {
    int32_t days = 0;        // 1 = 0001-01-01 (proleptic Gregorian)
    int32_t msOfDay = 0;     // 0 .. 86 399 999
    bool hasDate = true;
    bool hasTime = true;
    bool operator==(const DateTime&) const = default;
};

class Value {
public:
    enum class Kind { Empty, Integer, Float, DateTime, String, Bytes };

    Value() = default;
    static Value empty() { return Value(); }
    static Value integer(int64_t v) { Value r; r.data_ = v; return r; }
    static Value real(double v) { Value r; r.data_ = v; return r; }
    static Value dateTime(DateTime v) { Value r; r.data_ = v; return r; }
    static Value string(std::string utf8) { Value r; r.data_ = Text{std::move(utf8)}; return r; }
    static Value bytes(std::string raw) { Value r; r.data_ = Raw{std::move(raw)}; return r; }

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }

    /** Integer as is, float truncated toward zero, empty 0; text that reads as a whole
     *  number gives it, other text 0. */
    int64_t asInteger() const;
    /** Number as double; empty 0; text read with a decimal point, 0 when it is not a number. */
    double asFloat() const;
    /** Text as is; numbers in the shortest form that reads back (point as separator);
     *  date-times in ISO 8601; bytes as they are; empty gives "". */
    std::string asString() const;
    const DateTime* asDateTime() const { return std::get_if<DateTime>(&data_); }

    /** Same kind and same content; an empty value equals only an empty value. */
    bool operator==(const Value& o) const { return data_ == o.data_; }

private:
    struct Text { std::string s; bool operator==(const Text&) const = default; };
    struct Raw { std::string s; bool operator==(const Raw&) const = default; };
    std::variant<std::monostate, int64_t, double, DateTime, Text, Raw> data_;
    friend struct ValueAccess;
public:
    /** The text of a String or Bytes value without copying; nullptr for other kinds. */
    const std::string* text() const {
        if (auto* t = std::get_if<Text>(&data_)) return &t->s;
        if (auto* r = std::get_if<Raw>(&data_)) return &r->s;
        return nullptr;
    }
};

/** A record: one value per field, in the table's field order. */
using Record = std::vector<Value>;

}  // namespace talvira::storage
