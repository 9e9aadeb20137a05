#include "storage/DateCalc.h"

#include <cstdio>

namespace talvira::storage {

namespace {
// Days from 1970-01-01 (H. Hinnant's civil-date algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
constexpr int64_t kUnixDay = 719163;  // day number of 1970-01-01
}  // namespace

int32_t dayNumber(int year, int month, int day) {
    return static_cast<int32_t>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixDay);
}

void civilDate(int32_t dayNo, int& year, int& month, int& day) {
    int64_t z = static_cast<int64_t>(dayNo) - kUnixDay + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

std::string formatDateTime(const DateTime& t) {
    char buf[64];
    std::string out;
    if (t.hasDate) {
        int y, m, d;
        civilDate(t.days, y, m, d);
        if (y >= 0) std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        else std::snprintf(buf, sizeof buf, "-%04d-%02d-%02d", -y, m, d);
        out += buf;
    }
    if (t.hasTime) {
        if (t.hasDate) out += 'T';
        int ms = t.msOfDay;
        if (ms < 0) ms = 0;
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
        out += buf;
        if (ms % 1000) {
            std::snprintf(buf, sizeof buf, ".%03d", ms % 1000);
            out += buf;
        }
    }
    return out;
}

}  // namespace talvira::storage
