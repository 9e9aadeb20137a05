#include "storage/FieldValue.h"

#include "common/NumberText.h"
#include "storage/ParadoxFormat.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace talvira::storage {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

/** `n` within the range of an integer field of type `t` (the type's lowest value marks an
 *  empty field on disk). */
bool integerInRange(int64_t n, FieldType t) {
    return t == FieldType::Short ? n >= -32767 && n <= 32767 : n >= -2147483647LL && n <= 2147483647LL;
}

Value toInteger(const Value& v, FieldType t) {
    int64_t n = 0;
    switch (v.kind()) {
    case Value::Kind::Integer: n = v.asInteger(); break;
    case Value::Kind::Float: {
        const double x = v.asFloat();
        if (!std::isfinite(x) || x != std::floor(x)) throw FieldValueError("значение " + v.asString() + " не целое");
        if (std::fabs(x) > 4e18) throw FieldValueError("значение " + v.asString() + " вне допустимого диапазона");
        n = static_cast<int64_t>(x);
        break;
    }
    case Value::Kind::String: {
        std::string_view s = trimmed(*v.text());
        if (s.empty()) return Value();
        std::string_view digits = !s.empty() && s.front() == '+' ? s.substr(1) : s;
        auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (digits.empty() || ec == std::errc::result_out_of_range)
            throw FieldValueError("«" + std::string(s) + "» " + (digits.empty() ? "не является целым числом" : "вне допустимого диапазона"));
        if (ec != std::errc() || p != digits.data() + digits.size())
            throw FieldValueError("«" + std::string(s) + "» не является целым числом");
        break;
    }
    default: throw FieldValueError("«" + v.asString() + "» не является целым числом");
    }
    if (t == FieldType::Logical) return Value::integer(n != 0 ? 1 : 0);
    if (!integerInRange(n, t))
        throw FieldValueError("значение " + std::to_string(n) + " вне диапазона " +
                              (t == FieldType::Short ? "-32767..32767" : "-2147483647..2147483647"));
    return Value::integer(n);
}

Value toFloat(const Value& v) {
    double x = 0;
    switch (v.kind()) {
    case Value::Kind::Integer: return Value::real(static_cast<double>(v.asInteger()));
    case Value::Kind::Float: x = v.asFloat(); break;
    case Value::Kind::String: {
        const std::string& s = *v.text();
        if (trimmed(s).empty()) return Value();
        auto r = parseFloat(s, '.');
        if (!r) r = parseFloat(s, ',');
        if (!r) throw FieldValueError("«" + s + "» не является числом");
        x = static_cast<double>(*r);
        break;
    }
    default: throw FieldValueError("«" + v.asString() + "» не является числом");
    }
    if (!std::isfinite(x)) throw FieldValueError("значение не является конечным числом");
    return Value::real(x);
}

}  // namespace

Value coerceToField(const Value& v, const FieldDef& f) {
    if (v.isEmpty()) return v;
    switch (f.type) {
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc: return toInteger(v, f.type);
    case FieldType::Logical:
        if (v.kind() == Value::Kind::String) {
            const std::string s(trimmed(*v.text()));
            if (s.empty()) return Value();
            return Value::integer(s == "true" || s == "T" || s == "1" ? 1 : 0);
        }
        return toInteger(v, f.type);
    case FieldType::Number:
    case FieldType::Currency:
    case FieldType::BCD: return toFloat(v);
    case FieldType::Alpha:
    case FieldType::Memo:
    case FieldType::FmtMemo: {
        // Paradox keeps no difference between an empty text and an empty field.
        if (v.kind() == Value::Kind::String) return v.text()->empty() ? Value() : v;
        std::string text = v.asString();
        return text.empty() ? Value() : Value::string(std::move(text));
    }
    case FieldType::Date:
        if (!v.asDateTime()) throw FieldValueError("значение не является датой");
        return v;
    case FieldType::Time: {
        const DateTime* t = v.asDateTime();
        if (!t) throw FieldValueError("значение не является временем");
        if (t->msOfDay < 0 || t->msOfDay >= kMsPerDay) throw FieldValueError("время вне допустимого диапазона");
        return v;
    }
    case FieldType::Timestamp:
        if (!v.asDateTime()) throw FieldValueError("значение не является датой-временем");
        return v;
    default: return v;
    }
}

bool fitsAsIs(const Value& v, const FieldDef& f) {
    switch (v.kind()) {
    case Value::Kind::Empty: return true;
    case Value::Kind::Integer: {
        const bool integerField = f.type == FieldType::Short || f.type == FieldType::Long || f.type == FieldType::AutoInc;
        return integerField && integerInRange(v.asInteger(), f.type);
    }
    case Value::Kind::Float:
        return (f.type == FieldType::Number || f.type == FieldType::Currency || f.type == FieldType::BCD) &&
               std::isfinite(v.asFloat());
    case Value::Kind::String:
        return (f.type == FieldType::Alpha || f.type == FieldType::Memo || f.type == FieldType::FmtMemo) && !v.text()->empty();
    default: return false;
    }
}

}  // namespace talvira::storage
