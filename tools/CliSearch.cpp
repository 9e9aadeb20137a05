// talvira-cli search BASE_DIR WORD... [--limit N] [--exact]: the rates that the main window's
// search field finds, one line each: ID, code and the line of the name the window shows,
// tab-separated; the exact matches first, then those found by word forms. --exact: the exact
// rule alone, each name's first line.
#include "tools/Commands.h"

#include "common/Error.h"
#include "normbase/NormBase.h"
#include "normbase/RateSearch.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace talvira::cli {

namespace {

/** Opens the nine handles of the base in `dir`, every one read-only. */
void openReadOnly(normbase::NormBase& nb, const std::string& dir) {
    if (!std::filesystem::is_directory(dir)) throw Error("Папка нормативной базы «" + dir + "» не найдена");
    for (int i = 1; i <= 9; ++i) nb.table(i).setReadOnly(true);
    nb.setDirectory(dir);
    nb.openAll();
}

}  // namespace

int searchCommand(const Args& args) {
    const char* usage = "talvira-cli search BASE_DIR WORD... [--limit N] [--exact]";
    std::string dir, query;
    long limit = 200;
    bool words = false, optionsEnd = false, exact = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && a == "--exact") {
            exact = true;
        } else if (!optionsEnd && a == "--limit") {
            if (i + 1 >= args.size()) throw Error("talvira-cli search: после --limit укажите число");
            const std::string& v = args[++i];
            char* end = nullptr;
            limit = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || limit < 0)
                throw Error("talvira-cli search: «" + v + "» не число строк (0 — все)");
        } else if (dir.empty()) {
            dir = a;
        } else {
            if (words) query += ' ';
            query += a;
            words = true;
        }
    }
    if (dir.empty() || !words) throw Error(std::string("talvira-cli search: укажите папку базы и слова: ") + usage);

    normbase::NormBase nb;
    openReadOnly(nb, dir);
    normbase::RateSearch search(nb);
    const auto found = exact ? search.findExact(query) : search.find(query).rates;
    const size_t shown = limit == 0 ? found.size() : std::min(found.size(), size_t(limit));
    for (size_t i = 0; i < shown; ++i) {
        const auto row = search.row(found[i], exact ? std::string_view() : std::string_view(query));
        std::cout << row.id << '\t' << row.code << '\t' << row.line << '\n';
    }
    return 0;
}

}  // namespace talvira::cli
