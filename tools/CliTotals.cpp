// talvira-cli estimate totals: the totals and charges block of an estimate as the workbook
// computes it, one line per block row, with the texts the estimate keeps (or the window's
// defaults) unless replaced.
#include "tools/Commands.h"
#include "tools/CliEstimateData.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "editing/EstimateRows.h"
#include "export/EstimateTotals.h"
#include "storage/TableHandle.h"

#include <cstdio>
#include <iostream>

namespace talvira::cli {

namespace {

const char* const kUsage =
    "использование: talvira-cli estimate totals ESTIMATE.db [--json] [--text CONTROL=TEXT]... [--locale ru_RU]";

/** A number with a decimal point and 17 significant digits, an error value by its name. */
std::string amountText(const xls::BlockAmount& a) {
    switch (a.kind) {
    case xls::BlockAmount::Kind::Number: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", a.value);
        return buf;
    }
    case xls::BlockAmount::Kind::Error: return xls::errorName(a.error, false);
    case xls::BlockAmount::Kind::Failure: return a.message;
    case xls::BlockAmount::Kind::None: break;
    }
    return {};
}

}  // namespace

int totalsCommand(const Args& args) {
    std::string estimatePath, locale;
    std::vector<std::string> replaced;  // CONTROL=TEXT, applied once the locale is known
    bool json = false;
    const ArgReader reader{"talvira-cli estimate totals", kUsage};
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--locale") locale = reader.value(args, i);
        else if (a == "--json") json = true;
        else if (a == "--text") replaced.push_back(reader.value(args, i));
        else reader.positional(a, estimatePath);
    }
    if (estimatePath.empty()) throw Error(kUsage);
    const char sep = decimalSeparatorOf(locale);
    // An estimate by the base-index method has its own totals; one by the template its block.
    if (baseIndexTotals(estimatePath, json, sep)) return 0;
    std::vector<TextArg> typed;
    for (const std::string& kv : replaced) typed.push_back(parseTextArg(reader.command, kv));
    const model::EstimateTexts texts = textsWith(estimatePath, sep, typed);

    storage::TableHandle table("SmetaTable");
    openEstimate(table, estimatePath);
    const xls::EstimateTotals totals = xls::computeTotals(editing::readPositionRows(table), texts, sep);

    // The export's failure at the factor: its message, nothing printed.
    for (const xls::BlockLine& line : totals.lines)
        if (line.amount.kind == xls::BlockAmount::Kind::Failure) throw Error(line.amount.message);

    for (const xls::BlockLine& line : totals.lines) {
        std::cout << line.row->offset << '\t' << line.row->caption << '\t' << amountText(line.amount);
        if (line.row->kind == xls::BlockRowKind::Totals)
            for (size_t c = 1; c < totals.totals.sums.size(); ++c) std::cout << '\t' << amountText(totals.totals.sums[c]);
        std::cout << '\n';
    }
    return 0;
}

}  // namespace talvira::cli
