#include "editing/KeptLines.h"

#include <fstream>
#include <sstream>

namespace talvira::editing {

std::string escapedValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::optional<std::string> unescapedValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return std::nullopt;
        }
    }
    return out;
}

std::string readKeptFile(const std::filesystem::path& file, uintmax_t largest, std::string& content) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) return "файл не читается";
    if (size > largest) return "файл слишком велик";
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return "файл не читается";
    content = text.str();
    return {};
}

}  // namespace talvira::editing
