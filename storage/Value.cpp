#include "storage/Value.h"

#include "common/NumberText.h"
#include "storage/DateCalc.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace talvira::storage {

namespace {

std::string shortestDouble(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

int64_t truncate(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return INT64_MAX;
    if (d <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(d);
}

}  // namespace

int64_t Value::asInteger() const {
    switch (kind()) {
    case Kind::Empty: return 0;
    case Kind::Integer: return std::get<int64_t>(data_);
    case Kind::Float: return truncate(std::get<double>(data_));
    case Kind::DateTime: return std::get<DateTime>(data_).days;
    case Kind::String:
    case Kind::Bytes: {
        const std::string& s = *text();
        size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
        if (b == std::string::npos) return 0;
        int64_t v = 0;
        auto r = std::from_chars(s.data() + b + (s[b] == '+' ? 1 : 0), s.data() + e + 1, v);
        if (r.ec == std::errc() && r.ptr == s.data() + e + 1) return v;
        return 0;
    }
    }
    return 0;
}

double Value::asFloat() const {
    switch (kind()) {
    case Kind::Empty: return 0;
    case Kind::Integer: return static_cast<double>(std::get<int64_t>(data_));
    case Kind::Float: return std::get<double>(data_);
    case Kind::DateTime: {
        const DateTime& t = std::get<DateTime>(data_);
        return t.days + t.msOfDay / 86400000.0;
    }
    case Kind::String:
    case Kind::Bytes: {
        auto v = parseFloat(*text(), '.');
        return v ? static_cast<double>(*v) : 0.0;
    }
    }
    return 0;
}

std::string Value::asString() const {
    switch (kind()) {
    case Kind::Empty: return {};
    case Kind::Integer: return std::to_string(std::get<int64_t>(data_));
    case Kind::Float: return shortestDouble(std::get<double>(data_));
    case Kind::DateTime: return formatDateTime(std::get<DateTime>(data_));
    case Kind::String:
    case Kind::Bytes: return *text();
    }
    return {};
}

}  // namespace talvira::storage
