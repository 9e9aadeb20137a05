// talvira-cli search BASE_DIR WORD... [--limit N]: the rates that the main window's search
// field finds, one line each: ID, code and the first line of the name, tab-separated.
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
    const char* usage = "talvira-cli search BASE_DIR WORD... [--limit N]";
    std::string dir, query;
    long limit = 200;
    bool words = false, optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
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
    const auto found = search.find(query);
    const size_t shown = limit == 0 ? found.size() : std::min(found.size(), size_t(limit));
    for (size_t i = 0; i < shown; ++i) {
        const auto row = search.row(found[i]);
        std::cout << row.id << '\t' << row.code << '\t' << row.firstLine << '\n';
    }
    return 0;
}

}  // namespace talvira::cli
