// talvira-cli table info|dump: the facts and the records of a Paradox table.
#include "tools/Commands.h"

#include "common/Error.h"
#include "storage/TableDump.h"
#include "storage/TableFile.h"

#include <iostream>

namespace talvira::cli {

int tableCommand(const Args& args) {
    if (args.size() < 2 || (args[0] != "info" && args[0] != "dump"))
        throw Error("Использование: talvira-cli table info FILE.DB | table dump FILE.DB [--index NAME] [--codepage N]");
    std::string index;
    bool useIndex = false;
    int codePage = 0;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--index" && i + 1 < args.size()) {
            index = args[++i];
            useIndex = true;
        } else if (args[i] == "--codepage" && i + 1 < args.size()) {
            try {
                codePage = std::stoi(args[++i]);
            } catch (const std::exception&) {
                throw Error("Неверная кодовая страница «" + args[i] + "»");
            }
        } else {
            throw Error("talvira-cli table: неизвестный параметр «" + args[i] + "»");
        }
    }
    auto t = storage::openParadoxTable(args[1], storage::OpenMode::ReadOnly, codePage);
    std::ios::sync_with_stdio(false);
    if (args[0] == "info") storage::describeTable(*t, std::cout);
    else storage::dumpTable(*t, std::cout, index, useIndex);
    std::cout.flush();
    return 0;
}

}  // namespace talvira::cli
