// talvira-cli: the command-line companion of the program, over the same modules.
#include "tools/Commands.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <string>

namespace {

void usage(std::ostream& out) {
    out << "talvira-cli: команды\n"
           "  table info FILE.DB\n"
           "  table dump FILE.DB [--index NAME] [--codepage N]\n"
           "  mkbase DIR [--scale small|large]\n"
           "  estimate new DIR NAME\n"
           "  estimate add BASE_DIR ESTIMATE.db CODE [--filter]\n"
           "  estimate show ESTIMATE.db\n"
           "  estimate totals ESTIMATE.db [--json] [--text CONTROL=TEXT]... [--locale ru_RU]\n"
           "  estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]\n"
           "  estimate set ESTIMATE.db POSITION KEY=VALUE...\n"
           "  estimate import FILE.gge DIR [--name NAME]\n"
           "  summary new DIR NAME\n"
           "  summary set SUMMARY.ssr KEY=VALUE...\n"
           "  summary add SUMMARY.ssr CHAPTER (--estimate EST.db [--object NUM:NAME] | --calc NAME --amounts B:M:E:O\n"
           "              [--reason TEXT] | --percent P --of 1-K --columns 4+5 --calc NAME [--reason TEXT]) [--exempt]\n"
           "  summary totals SUMMARY.ssr [--json] [--locale ru_RU]\n"
           "  export ESTIMATE.db --template FILE.xls --out OUT.xls [--text CONTROL=TEXT]... [--locale ru_RU]\n"
           "  export ESTIMATE.db --form lsr --out OUT.xlsx [--text CONTROL=TEXT]... [--locale ru_RU]\n"
           "  export ESTIMATE.db --form gge --out OUT.gge [--base BASE_DIR]\n"
           "  export SUMMARY.ssr --form ssr|osr [--object NUM] --out FILE.xlsx|FILE.gge\n"
           "  search BASE_DIR WORD... [--limit N] [--exact]\n"
           "  import BASE_DIR FILE... [--wage RUB_PER_HOUR]\n"
           "  bench ...\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 1 : 0;
    }
    std::string cmd = argv[1];
    talvira::cli::Args args(argv + 2, argv + argc);
    try {
        if (cmd == "table") return talvira::cli::tableCommand(args);
        if (cmd == "mkbase") return talvira::cli::mkbaseCommand(args);
        if (cmd == "estimate") return talvira::cli::estimateCommand(args);
        if (cmd == "summary") return talvira::cli::summaryCommand(args);
        if (cmd == "export") return talvira::cli::exportCommand(args);
        if (cmd == "search") return talvira::cli::searchCommand(args);
        if (cmd == "import") return talvira::cli::importCommand(args);
        if (cmd == "bench") return talvira::cli::benchCommand(args);
        std::cerr << "talvira-cli: неизвестная команда «" << cmd << "»\n";
        usage(std::cerr);
        return 1;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
