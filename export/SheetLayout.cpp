#include "export/SheetLayout.h"

#include "common/NumberText.h"

#include <cmath>

namespace talvira::xls {

CellValue typedCell(const std::string& text, char decimalSep) {
    CellValue v;
    if (text.empty()) return v;
    const auto d = parseFloat(text, decimalSep);
    if (d && std::isfinite(static_cast<double>(*d))) {
        v.kind = CellValue::Kind::Number;
        v.number = static_cast<double>(*d);
    } else {
        v.kind = CellValue::Kind::Text;
        v.text = text;
    }
    return v;
}

}  // namespace talvira::xls
