// talvira-cli export: the estimate written into a workbook made from a template, as the
// estimate window's "Excel" command does, with the texts the estimate keeps (or the window's
// defaults) unless replaced; with --form lsr the official form of an estimate by the
// base-index method (.xlsx), as the window's "Локальный сметный расчет (421/пр)..." writes it;
// with --form gge the file for state expertise (.gge), its checks listed on stderr first and
// nothing written when one of them blocks (exit status 1).
#include "tools/Commands.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "common/TextFold.h"
#include "editing/EstimateRows.h"
#include "editing/GgeExport.h"
#include "editing/LsrExport.h"
#include "export/EstimateExport.h"
#include "normbase/BaseInfo.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <iostream>
#include <vector>

namespace talvira::cli {

namespace {

const char* kUsage =
    "использование: talvira-cli export ESTIMATE.db --template FILE.xls --out OUT.xls "
    "[--text CONTROL=TEXT]... [--locale ru_RU]\n"
    "               talvira-cli export ESTIMATE.db --form lsr --out OUT.xlsx [--text CONTROL=TEXT]... "
    "[--locale ru_RU] [--base BASE_DIR]\n"
    "               talvira-cli export ESTIMATE.db --form gge --out OUT.gge [--base BASE_DIR]";

/** The expertise file: the checks on stderr, then the file unless one of them blocks. */
int exportGge(const std::string& estimatePath, const model::EstimateTexts& texts, const std::string& baseDir,
              const std::string& outPath) {
    OpenedEstimate opened(estimatePath);
    if (!baseDir.empty()) opened.doc.setNormBaseDirectory(baseDir);
    const editing::GgeData data = editing::prepareGge(opened.doc, texts);
    for (const gge::GgeCheck& c : data.checks) std::cerr << gge::checkLine(c) << "\n";
    if (gge::blocks(data.checks)) {
        std::cerr << "Файл для экспертизы не записан: исправьте то, что блокирует запись.\n";
        return 1;
    }
    std::cout << editing::writeGgeFile(data, outPath, /*keepExisting=*/false).string() << "\n";
    return 0;
}

}  // namespace

int exportCommand(const Args& args) {
    // A construction's summary or object estimate: the file it names is a construction's.
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i].empty() && args[i][0] == '-') {
            ++i;  // every option here takes a value
            continue;
        }
        if (equalFolded(std::filesystem::path(args[i]).extension().string(), ".ssr")) return exportSummaryCommand(args);
    }
    std::string estimatePath, templatePath, outPath, locale, form, baseDir;
    std::vector<TextArg> typed;
    const ArgReader reader{"talvira-cli export", kUsage};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--template") templatePath = reader.value(args, i);
        else if (a == "--out") outPath = reader.value(args, i);
        else if (a == "--locale") locale = reader.value(args, i);
        else if (a == "--form") form = reader.value(args, i);
        else if (a == "--base") baseDir = reader.value(args, i);
        else if (a == "--text") typed.push_back(parseTextArg(reader.command, reader.value(args, i)));
        else reader.positional(a, estimatePath);
    }
    if (!form.empty() && form != "lsr" && form != "gge") throw Error("talvira-cli export: неизвестная форма «" + form + "»\n" + kUsage);
    const bool lsrForm = form == "lsr" || form == "gge";
    if (estimatePath.empty() || outPath.empty() || (templatePath.empty() && !lsrForm)) throw Error(kUsage);
    const char sep = decimalSeparatorOf(locale);
    // the texts the estimate keeps (else the window's at start, under the same decimal
    // separator), then what was given
    const model::EstimateTexts texts = textsWith(estimatePath, sep, typed);

    if (form == "gge") return exportGge(estimatePath, texts, baseDir, outPath);
    if (lsrForm) {
        // The base's edition and orders as it records them: by default the base of the start
        // folder the estimate is in (<start>/Smeti/ESTIMATE.db beside <start>/Base).
        if (baseDir.empty())
            baseDir = normbase::baseDirectory(
                std::filesystem::absolute(estimatePath).parent_path().parent_path().string());
        OpenedEstimate opened(estimatePath);
        const std::filesystem::path written = editing::exportLsrForm(
            opened.doc, texts, editing::lsrFactsOf(normbase::readBaseInfo(baseDir)), outPath, /*keepExisting=*/false);
        std::cout << written.string() << "\n";
        return 0;
    }
    storage::TableHandle table("SmetaTable");
    openEstimate(table, estimatePath);
    const std::vector<model::PositionRow> rows = editing::readPositionRows(table);
    const std::filesystem::path written =
        xls::exportEstimateToFile(rows, texts, templatePath, outPath, sep, {}, /*keepExisting=*/false);
    std::cout << written.string() << "\n";
    return 0;
}

}  // namespace talvira::cli
