// talvira-cli estimate: create an estimate, add a rate of a norm base to it, show its positions.
#include "tools/Commands.h"
#include "tools/CliEstimateData.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "editing/KeptCalc.h"
#include "estimate/AddPositions.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateSearch.h"
#include "normbase/ResourcePrices.h"
#include "storage/TableDump.h"
#include "storage/TableHandle.h"

#include <iostream>
#include <string>

namespace talvira::cli {

namespace {

const char* const kUsage =
    "использование: talvira-cli estimate new DIR NAME\n"
    "               talvira-cli estimate add BASE_DIR ESTIMATE.db CODE [--filter]\n"
    "               talvira-cli estimate show ESTIMATE.db\n"
    "               talvira-cli estimate totals ESTIMATE.db [--json] [--text CONTROL=TEXT]... [--locale ru_RU]\n"
    "               talvira-cli estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]\n"
    "               talvira-cli estimate set ESTIMATE.db POSITION KEY=VALUE...";

int newCommand(const Args& args) {
    if (args.size() != 3) throw Error(kUsage);
    const std::string& dir = args[1];
    const std::string& name = args[2];
    estimate::checkEstimateName(name);
    if (estimate::estimateExists(dir, name))
        throw Error("Смета «" + name + "» в папке «" + dir + "» уже существует: она не заменена.");
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir, name);
    estimate::createAndOpen(smeta);
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
    storage::TableHandle smeta("SmetaTable");
    openEstimate(smeta, rest[1]);
    const int before = smeta.recordCount();
    editing::KeptCalc calc = editing::loadKeptCalc(smeta.tablePath());
    if (calc.params.method == model::Method::BaseIndex) {
        // What each new position keeps beside the table goes with it.
        for (model::PositionData& e : estimate::addPositions(nb, smeta, &calc.params)) calc.entry(e.count) = std::move(e);
        editing::saveKeptCalc(smeta.tablePath(), calc);
    } else {
        estimate::addPositions(nb, smeta);
    }
    std::cout << "Добавлено позиций: " << smeta.recordCount() - before << "\n";
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
    throw Error(std::string("talvira-cli estimate: неизвестная команда «") + args[0] + "»\n" + kUsage);
}

}  // namespace talvira::cli
