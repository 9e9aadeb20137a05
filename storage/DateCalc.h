#pragma once
/**
 * Calendar arithmetic of the tables' dates: day numbers counted from 0001-01-01 (day 1) in
 * the proleptic Gregorian calendar, and the ISO 8601 texts of dates, times and timestamps.
 *
 *   int32_t d = dayNumber(1996, 5, 4);   // 728783
 *   formatDateTime({728783, 0, true, false});   // "1996-05-04"
 */
#include "storage/Value.h"

#include <cstdint>
#include <string>

namespace talvira::storage {

int32_t dayNumber(int year, int month, int day);
void civilDate(int32_t dayNo, int& year, int& month, int& day);
/** "YYYY-MM-DD", "HH:MM:SS[.mmm]" or "YYYY-MM-DDTHH:MM:SS[.mmm]" after hasDate / hasTime. */
std::string formatDateTime(const DateTime& t);

}  // namespace talvira::storage
