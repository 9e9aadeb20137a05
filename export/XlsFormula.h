#pragma once
/**
 * Cell formulas: the text a user types ("=СУММ(K12:K14)", "=D16/100*(L15+O15)") compiled to
 * the file format's tokens, and those tokens evaluated to the result the file carries as the
 * cell's last computed value.
 *
 *   std::vector<uint8_t> rgce = xls::compileFormula("=E12*F12", ',');
 *   xls::FormulaValue v = xls::evaluateFormula(rgce, lookup, ',');
 *
 * Supported: numbers (the user's decimal separator), cell references and ranges in A1 form
 * with optional "$", + - * / ^, unary minus and plus, parentheses, and the summation function
 * under its Russian and English names (СУММ, SUM) with arguments separated by ";" (and by ","
 * where the decimal separator is not a comma). Anything else: talvira::Error.
 */
#include "export/CellAddress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::xls {

/** A cell address, 0-based. */
struct CellRef {
    int row = 0;
    int col = 0;
    bool operator==(const CellRef&) const = default;
};

/** "K12" → {11, 10}; "$A$1" also reads. Nothing for anything else or beyond the sheet. */
bool parseCellRef(std::string_view text, CellRef& out);
/** {11, 10} → "K12" (the one A1 helper, export/CellAddress.h). */
inline std::string cellName(int row, int col) { return sheet::a1(row, col); }
using sheet::columnLetters;

/** Error codes of the file format. */
enum class CellError : uint8_t { Null = 0x00, Div0 = 0x07, Value = 0x0F, Ref = 0x17, Name = 0x1D, Num = 0x24, NA = 0x2A };

/** What a cell holds as far as formulas are concerned. */
struct CellValue {
    enum class Kind { Empty, Number, Text, Bool, Error } kind = Kind::Empty;
    double number = 0;   // Number, Bool (0 / 1)
    std::string text;    // Text (UTF-8)
    CellError error = CellError::Value;
};

struct FormulaValue {
    bool isError = false;
    double number = 0;
    CellError error = CellError::Value;
};

using CellLookup = std::function<CellValue(int row, int col)>;

/** Compiles the formula text (with or without the leading "=") to tokens (rgce). */
std::vector<uint8_t> compileFormula(std::string_view text, char decimalSep);

/** Evaluates compiled tokens: an empty cell is 0; a text cell reads as a number when it is
 *  one in the user's notation, otherwise the result is #VALUE! (the summation skips text). */
FormulaValue evaluateFormula(const uint8_t* rgce, size_t size, const CellLookup& lookup,
                             char decimalSep);
inline FormulaValue evaluateFormula(const std::vector<uint8_t>& rgce, const CellLookup& lookup,
                                    char decimalSep) {
    return evaluateFormula(rgce.data(), rgce.size(), lookup, decimalSep);
}

}  // namespace talvira::xls
