#include "export/CellAddress.h"

namespace talvira::sheet {

std::string columnLetters(int col) {
    std::string s;
    int n = col + 1;
    while (n > 0) {
        s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return s;
}

std::string a1(int row, int col, bool absolute) {
    if (absolute) return "$" + columnLetters(col) + "$" + std::to_string(row + 1);
    return columnLetters(col) + std::to_string(row + 1);
}

}  // namespace talvira::sheet
