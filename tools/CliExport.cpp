// talvira-cli export: the estimate written into a workbook made from a template, as the
// estimate window's "Excel" command does, with the window's default texts unless replaced.
#include "tools/Commands.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "editing/EstimateRows.h"
#include "estimate/EstimateFields.h"
#include "export/EstimateExport.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <iostream>
#include <utility>
#include <vector>

namespace talvira::cli {

namespace {

const char* kUsage =
    "использование: talvira-cli export ESTIMATE.db --template FILE.xls --out OUT.xls "
    "[--text CONTROL=TEXT]... [--locale ru_RU]";

}  // namespace

int exportCommand(const Args& args) {
    std::string estimatePath, templatePath, outPath, locale;
    std::vector<std::pair<std::string, std::string>> typed;  // control name, text
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw Error("talvira-cli export: у " + a + " нет значения\n" + kUsage);
            return args[++i];
        };
        if (a == "--template") {
            templatePath = value();
        } else if (a == "--out") {
            outPath = value();
        } else if (a == "--locale") {
            locale = value();
        } else if (a == "--text") {
            const std::string& kv = value();
            const size_t eq = kv.find('=');
            xls::EstimateTexts probe;
            if (eq == std::string::npos || !probe.byControlName(kv.substr(0, eq)))
                throw Error("talvira-cli export: неизвестное поле «" + kv.substr(0, eq) +
                            "» (UTVEdit, FUEdit, SOGLEdit, FSEdit, NAMEEdit, NREdit, PNEdit, SUEdit, "
                            "ZUEdit, VZSEdit, KoefEdit, NDSEdit)");
            typed.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
        } else if (!a.empty() && a[0] == '-') {
            throw Error("talvira-cli export: неизвестный параметр «" + a + "»\n" + kUsage);
        } else if (estimatePath.empty()) {
            estimatePath = a;
        } else {
            throw Error("talvira-cli export: лишний аргумент «" + a + "»\n" + kUsage);
        }
    }
    if (estimatePath.empty() || templatePath.empty() || outPath.empty()) throw Error(kUsage);
    const char sep = decimalSeparatorOf(locale);
    // the window's texts at start, under the same decimal separator, then what was given
    xls::EstimateTexts texts = xls::EstimateTexts::defaults(sep);
    for (const auto& [control, text] : typed) *texts.byControlName(control) = text;

    const std::filesystem::path p(estimatePath);
    storage::TableHandle table("SmetaTable");
    table.setDatabaseName(p.has_parent_path() ? p.parent_path().string() : ".");
    table.setTableName(p.filename().string());
    table.setBoundFields(estimate::estimateBoundFields());
    table.open();
    const std::vector<xls::PositionRow> rows = editing::readPositionRows(table);
    const std::filesystem::path written =
        xls::exportEstimateToFile(rows, texts, templatePath, outPath, sep, {}, /*keepExisting=*/false);
    std::cout << written.string() << "\n";
    return 0;
}

}  // namespace talvira::cli
