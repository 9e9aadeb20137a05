#include "storage/FileNames.h"

#include <cctype>
#include <system_error>

namespace talvira::storage {

namespace fs = std::filesystem;

bool sameName(std::string_view a, std::string_view b) {
    return equalFolded(a, b);
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

std::string companionPath(const std::string& dbPath, std::string_view ext) {
    const fs::path p(dbPath);
    const std::string own = p.extension().string();
    bool lower = own.size() > 1;
    for (size_t i = 1; i < own.size(); ++i) lower = lower && !std::isupper(static_cast<unsigned char>(own[i]));
    std::string e(ext);
    for (char& c : e) c = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(c)) : std::toupper(static_cast<unsigned char>(c)));
    return (p.parent_path() / p.stem()).string() + "." + e;
}

}  // namespace talvira::storage
