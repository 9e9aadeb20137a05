#pragma once
/**
 * Sub-commands of talvira-cli. Each takes the arguments after its own name, prints its
 * output to standard output and returns the exit status. A talvira::Error (or any
 * std::exception) that escapes is printed on standard error by main, with exit status 1.
 */
#include <string>
#include <vector>

namespace talvira::cli {

using Args = std::vector<std::string>;

int tableCommand(const Args& args);     // table info FILE.DB | table dump FILE.DB [--index NAME] [--codepage N]
int mkbaseCommand(const Args& args);    // mkbase DIR [--scale small|large]
int estimateCommand(const Args& args);  // estimate new|add|show|totals ...
int ggeImportCommand(const Args& args);  // estimate import FILE.gge DIR [--name NAME]
int totalsCommand(const Args& args);    // estimate totals ESTIMATE.db [--text CONTROL=TEXT]... [--locale L]
int summaryCommand(const Args& args);   // summary new|set|add|totals ...
int exportSummaryCommand(const Args& args);  // export SUMMARY.ssr --form ssr|osr [--object NUM] --out FILE
int exportCommand(const Args& args);    // export ESTIMATE.db --template FILE.xls --out OUT.xls ...
int benchCommand(const Args& args);     // bench ... (measurements, never run by tests)
int searchCommand(const Args& args);    // search BASE_DIR WORD... [--limit N]
int benchSearch(const std::string& dir);  // bench search BASE_DIR
int importCommand(const Args& args);    // import BASE_DIR FILE... [--wage RUB_PER_HOUR]
int benchGge(const Args& args);         // bench gge FILE.gge [--positions N] [--rounds N]
int benchImport(const Args& args);      // bench import FILE... [--rounds N] | bench import --make-national OUT.xml FILE.xml

}  // namespace talvira::cli
