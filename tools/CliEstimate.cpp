// talvira-cli estimate: create an estimate, add a rate of a norm base to it, show its positions.
#include "tools/Commands.h"
#include "tools/CliEstimateData.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateSearch.h"
#include "normbase/ResourcePrices.h"
#include "storage/TableDump.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <iostream>
#include <string>

namespace talvira::cli {

namespace {

const char* const kUsage =
    "использование: talvira-cli estimate new DIR NAME [--base BASE_DIR]\n"
    "               talvira-cli estimate add BASE_DIR ESTIMATE.db CODE [--filter]\n"
    "               talvira-cli estimate show ESTIMATE.db\n"
    "               talvira-cli estimate totals ESTIMATE.db [--json] [--text CONTROL=TEXT]... [--locale ru_RU]\n"
    "               talvira-cli estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]\n"
    "               talvira-cli estimate set ESTIMATE.db POSITION KEY=VALUE...\n"
    "               talvira-cli estimate import FILE.gge DIR [--name NAME]";

/** The norm base beside the estimates' folder (<start>/Smeti beside <start>/Base), as the
 *  program started in <start> has it; empty when there is none. */
std::filesystem::path baseBeside(const std::string& estimatesDir) {
    const std::filesystem::path base =
        normbase::baseDirectory(std::filesystem::absolute(estimatesDir).lexically_normal().parent_path().string());
    std::error_code ec;
    return std::filesystem::is_directory(base, ec) ? base : std::filesystem::path();
}

int newCommand(const Args& args) {
    std::string baseDir;
    Args rest;
    const ArgReader reader{"talvira-cli estimate new", kUsage};
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--base") baseDir = reader.value(args, i);
        else rest.push_back(args[i]);
    }
    if (rest.size() != 2) throw Error(kUsage);
    const std::string& dir = rest[0];
    const std::string& name = rest[1];
    if (editing::EstimateDocument::wouldReplace(dir, name))
        throw Error("Смета «" + name + "» в папке «" + dir + "» уже существует: она не заменена.");
    // As the window makes it: the title block and rates kept beside it, and on an imported base
    // the base-index method at the base's level.
    storage::TableHandle smeta("SmetaTable");
    editing::EstimateDocument doc(smeta, '.', shippedTables());
    doc.setNormBaseDirectory(baseDir.empty() ? baseBeside(dir) : std::filesystem::path(baseDir));
    doc.create(dir, name);
    doc.close();
    std::cout << estimate::estimatePath(dir, name) << "\n";
    return 0;
}

int showCommand(const Args& args) {
    if (args.size() != 2) throw Error(kUsage);
    storage::TableHandle smeta("SmetaTable");
    openEstimate(smeta, args[1]);
    const int n = smeta.fieldCount();
    for (int i = 0; i < n; ++i) std::cout << (i ? "\t" : "") << smeta.field(i).name;
    std::cout << "\n";
    for (smeta.first(); !smeta.eof(); smeta.next()) {
        for (int i = 0; i < n; ++i) std::cout << (i ? "\t" : "") << storage::dumpCell(smeta.field(i), smeta.fieldValue(i));
        std::cout << "\n";
    }
    return 0;
}

/** Makes the rate of code `code` current in the browser's handles (RateSearch::rateOfCode: a
 *  bare code that several books carry is refused with their codes). */
bool findRate(normbase::NormBase& nb, const std::string& code) {
    normbase::RateSearch search(nb);
    const auto n = search.rateOfCode(code);
    if (n) search.goTo(*n);
    return n.has_value();
}

int addCommand(const Args& args) {
    bool filter = false;
    Args rest;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--filter") filter = true;
        else rest.push_back(args[i]);
    }
    if (rest.size() != 3) throw Error(kUsage);
    const std::string& baseDir = rest[0];
    const std::string& code = rest[2];

    normbase::NormBase nb;
    nb.setDirectory(baseDir);
    nb.openAll();
    if (filter) nb.setResourceFilter(true);
    if (!findRate(nb, code)) {
        std::cerr << "Расценка с шифром «" << code << "» в нормативной базе «" << baseDir << "» не найдена.\n";
        return 1;
    }
    OpenedEstimate opened(rest[1], baseDir);
    const int before = opened.smeta.recordCount();
    // What each new position keeps beside the table goes with it, as the window's Add gives it.
    opened.doc.addRate(nb);
    std::cout << "Добавлено позиций: " << opened.smeta.recordCount() - before << "\n";
    normbase::ResourcePrices prices(nb);
    if (const auto id = nb.Table2.fieldValue(normbase::fld::ID); !id.isEmpty())
        if (const auto& missing = prices.unpriced(id.asInteger()); !missing.empty())
            std::cerr << "Внимание: " << normbase::ResourcePrices::warningText(nb.Table2.fieldAsString(normbase::fld::TAB), missing)
                      << "\n";
    return 0;
}

}  // namespace

int estimateCommand(const Args& args) {
    if (args.empty()) throw Error(kUsage);
    if (args[0] == "new") return newCommand(args);
    if (args[0] == "add") return addCommand(args);
    if (args[0] == "show") return showCommand(args);
    if (args[0] == "totals") return totalsCommand(args);
    if (args[0] == "params") return paramsCommand(args);
    if (args[0] == "set") return setCommand(args);
    if (args[0] == "import") return ggeImportCommand(args);
    throw Error(std::string("talvira-cli estimate: неизвестная команда «") + args[0] + "»\n" + kUsage);
}

}  // namespace talvira::cli
