#pragma once
/**
 * Cell addresses. Every sheet writer counts rows and columns from 0 (row 0 is the sheet's
 * first row, column 0 is A); the A1 text is made only where a formula or a message names a
 * cell.
 *
 *   sheet::a1(11, 10);            // "K12"
 *   sheet::a1(11, 10, true);      // "$K$12"
 */
#include <string>

namespace talvira::sheet {

/** 0 → "A", 25 → "Z", 26 → "AA". */
std::string columnLetters(int col);

/** The A1 name of the cell (`row`, `col`), both 0-based; `absolute` gives "$K$12". */
std::string a1(int row, int col, bool absolute = false);

}  // namespace talvira::sheet
