// The construction's plain values: dates, the price level's first day, the names of line kinds
// and chapters.
#include "model/Construction.h"

#include "common/TextFold.h"

#include <cctype>
#include <cstdio>

namespace talvira::model {

namespace {

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

std::optional<CalendarDate> valid(int y, int m, int d) {
    if (y < 1900 || y > 2999 || m < 1 || m > 12 || d < 1 || d > daysIn(y, m)) return std::nullopt;
    return CalendarDate{y, m, d};
}

/** The digits of `s` at [at, at + n) as a number, or -1. */
int digits(std::string_view s, size_t at, size_t n) {
    if (at + n > s.size()) return -1;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::optional<CalendarDate> CalendarDate::parse(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return std::nullopt;
    const int y = digits(t, 0, 4), m = digits(t, 5, 2), d = digits(t, 8, 2);
    if (y < 0 || m < 0 || d < 0) return std::nullopt;
    return valid(y, m, d);
}

std::string CalendarDate::text() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

std::string CalendarDate::russian() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", day, month, year);
    return buf;
}

std::optional<CalendarDate> levelStart(std::string_view level) {
    const std::string s = foldCase(level);
    // a date written out: «01.01.2026», «2026-01-01»
    for (size_t i = 0; i + 10 <= s.size(); ++i) {
        if (i > 0 && isDigit(s[i - 1])) continue;
        if (s[i + 2] == '.' && s[i + 5] == '.') {
            const int d = digits(s, i, 2), m = digits(s, i + 3, 2), y = digits(s, i + 6, 4);
            if (d >= 0 && m >= 0 && y >= 0 && (i + 10 == s.size() || !isDigit(s[i + 10])))
                if (auto date = valid(y, m, d)) return date;
        }
        if (auto date = CalendarDate::parse(std::string_view(s).substr(i, 10)))
            if (i + 10 == s.size() || !isDigit(s[i + 10])) return date;
    }
    // a quarter: «I кв. 2026», «4 квартал 2025 г.»
    const size_t kv = s.find("кв");
    if (kv == std::string::npos) return std::nullopt;
    std::string_view before = std::string_view(s).substr(0, kv);
    while (!before.empty() && (before.back() == ' ' || before.back() == '\t')) before.remove_suffix(1);
    size_t start = before.size();
    while (start > 0 && (isDigit(before[start - 1]) || before[start - 1] == 'i' || before[start - 1] == 'v'))
        --start;
    const std::string_view q = before.substr(start);
    int quarter = 0;
    if (q == "1" || q == "i") quarter = 1;
    else if (q == "2" || q == "ii") quarter = 2;
    else if (q == "3" || q == "iii") quarter = 3;
    else if (q == "4" || q == "iv") quarter = 4;
    else return std::nullopt;
    for (size_t i = kv; i + 4 <= s.size(); ++i) {
        if (!isDigit(s[i])) continue;
        const int y = digits(s, i, 4);
        if (y < 0 || (i + 4 < s.size() && isDigit(s[i + 4]))) return std::nullopt;
        return valid(y, (quarter - 1) * 3 + 1, 1);
    }
    return std::nullopt;
}

std::string_view lineKindText(LineKind k) {
    switch (k) {
    case LineKind::Estimate: return "estimate";
    case LineKind::Object: return "object";
    case LineKind::Calculation: return "calc";
    case LineKind::Percent: return "percent";
    }
    return {};
}

SummaryLine SummaryLine::estimate(LinkedEstimate e) {
    SummaryLine l;
    l.kind = LineKind::Estimate;
    l.estimates.push_back(std::move(e));
    return l;
}

SummaryLine SummaryLine::object(std::string number, std::string name) {
    SummaryLine l;
    l.kind = LineKind::Object;
    l.objectNumber = std::move(number);
    l.name = std::move(name);
    return l;
}

SummaryLine SummaryLine::calculation(std::string name, CostColumns amounts, std::string reason) {
    SummaryLine l;
    l.kind = LineKind::Calculation;
    l.name = std::move(name);
    l.amounts = amounts;
    l.reason = std::move(reason);
    return l;
}

SummaryLine SummaryLine::percentage(std::string name, Dec7 percent, int base, unsigned columns, std::string reason) {
    SummaryLine l;
    l.kind = LineKind::Percent;
    l.name = std::move(name);
    l.percent = percent;
    l.base = base;
    l.columns = columns;
    l.reason = std::move(reason);
    return l;
}

Dec7 reserveCap(Purpose p) { return Dec7::fromInt(p == Purpose::Production ? 3 : 2); }

std::string_view chapterName(int n) {
    static constexpr std::string_view kNames[kChapters] = {
        "Подготовка территории строительства",
        "Основные объекты строительства",
        "Объекты подсобного и обслуживающего назначения",
        "Объекты энергетического хозяйства",
        "Объекты транспортного хозяйства и связи",
        "Наружные сети и сооружения водоснабжения, водоотведения, теплоснабжения и газоснабжения",
        "Благоустройство и озеленение территории",
        "Временные здания и сооружения",
        "Прочие работы и затраты",
        "Содержание службы заказчика. Строительный контроль",
        "Подготовка эксплуатационных кадров для строящегося объекта капитального строительства",
        "Публичный технологический и ценовой аудит, подготовка обоснования инвестиций, осуществляемых в "
        "инвестиционный проект по созданию объекта капитального строительства, в отношении которого "
        "планируется заключение контракта, предметом которого является одновременно выполнение работ по "
        "проектированию, строительству и вводу в эксплуатацию объекта капитального строительства, "
        "технологический и ценовой аудит такого обоснования инвестиций, аудит проектной документации, "
        "проектные и изыскательские работы",
    };
    return n >= 1 && n <= kChapters ? kNames[n - 1] : std::string_view();
}

}  // namespace talvira::model
