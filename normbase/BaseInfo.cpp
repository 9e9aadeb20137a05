#include "normbase/BaseInfo.h"

#include "common/AtomicFile.h"

#include <fstream>
#include <sstream>
#include <string_view>

namespace talvira::normbase {

namespace fs = std::filesystem;

namespace {

// A note larger than this is not one the import wrote.
constexpr std::uintmax_t kMostBytes = 1 << 20;

/** A value on one line: line breaks become blanks. */
std::string oneLine(std::string v) {
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    return v;
}

}  // namespace

BaseInfo readBaseInfo(const fs::path& baseDir) {
    const fs::path path = baseDir / kBaseInfoFile;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMostBytes) return {};
    std::ifstream f(path, std::ios::binary);
    BaseInfo info;
    bool imported = false;
    for (std::string line; std::getline(f, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return {};  // not a note of ours
        const std::string_view key(line.data(), eq);
        std::string value = line.substr(eq + 1);
        if (key == "imported") imported = value == "1";
        else if (key == "priceLevel") info.priceLevel = std::move(value);
        else if (key == "edition") info.edition = std::move(value);
        else if (key == "book") info.books.push_back(std::move(value));
        else if (key == "order") info.orders.push_back(std::move(value));
        // other keys: written by a later version, ignored
    }
    if (!imported) return {};
    info.imported = true;
    return info;
}

void writeBaseInfo(const fs::path& baseDir, const BaseInfo& info) {
    std::ostringstream s;
    s << "# Сведения о нормативной базе (читаются программой; правка вручную не нужна)\n";
    s << "imported=" << (info.imported ? 1 : 0) << "\n";
    s << "priceLevel=" << oneLine(info.priceLevel) << "\n";
    s << "edition=" << oneLine(info.edition) << "\n";
    for (const std::string& b : info.books) s << "book=" << oneLine(b) << "\n";
    for (const std::string& o : info.orders) s << "order=" << oneLine(o) << "\n";
    writeFileAtomically(baseDir / kBaseInfoFile, s.str(), false, "сведения о нормативной базе в файл");
}

}  // namespace talvira::normbase
