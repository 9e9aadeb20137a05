#include "storage/FileNames.h"

#include <system_error>

namespace talvira::storage {

namespace fs = std::filesystem;

std::string foldCase(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 'A' && c <= 'Z') {
            r += static_cast<char>(c + 0x20);
            continue;
        }
        if (c == 0xD0 && i + 1 < s.size()) {  // А..Я and Ё in UTF-8
            const auto c2 = static_cast<unsigned char>(s[i + 1]);
            if (c2 >= 0x90 && c2 <= 0x9F) { r += '\xD0'; r += static_cast<char>(c2 + 0x20); ++i; continue; }
            if (c2 >= 0xA0 && c2 <= 0xAF) { r += '\xD1'; r += static_cast<char>(c2 - 0x20); ++i; continue; }
            if (c2 == 0x81) { r += "\xD1\x91"; ++i; continue; }
        }
        r += static_cast<char>(c);
    }
    return r;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;  // the fold keeps every letter's length
    return a == b || foldCase(a) == foldCase(b);
}

std::optional<fs::path> findFileAnyCase(const fs::path& dir, std::string_view fileName) {
    std::error_code ec;
    const fs::path exact = dir / fs::path(std::string(fileName));
    if (fs::is_regular_file(exact, ec)) return exact;
    const std::string want = foldCase(fileName);
    std::optional<std::string> found;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        std::error_code e2;
        if (n.size() == want.size() && foldCase(n) == want && it->is_regular_file(e2))
            if (!found || n < *found) found = n;  // several spellings: a stable choice
    }
    if (!found) return std::nullopt;
    return dir / fs::path(*found);
}

std::string findCompanion(const std::string& dbPath, const std::string& ext) {
    const fs::path p(dbPath);
    auto found = findFileAnyCase(p.parent_path(), p.stem().string() + ext);
    return found ? found->string() : std::string();
}

}  // namespace talvira::storage
