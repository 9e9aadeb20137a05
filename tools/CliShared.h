#pragma once
/**
 * What several talvira-cli sub-commands read the same way: an estimate table named by its
 * path, options and their values, and the `--text CONTROL=TEXT` replacements of the estimate
 * window's texts.
 */
#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "editing/KeptTexts.h"
#include "estimate/EstimateFile.h"
#include "model/EstimateRows.h"
#include "storage/TableHandle.h"
#include "tools/Commands.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace talvira::cli {

/** Reads a sub-command's arguments; its errors name the command and end with its usage. */
struct ArgReader {
    std::string command;  // "talvira-cli export"
    const char* usage;

    /** The value after the option at `i` (`i` moved onto it). */
    const std::string& value(const Args& args, size_t& i) const {
        if (i + 1 >= args.size()) throw Error(command + ": у " + args[i] + " нет значения\n" + usage);
        return args[++i];
    }
    /** `a` as the one positional argument, stored in `into`; an unknown option or a second
     *  positional argument is an error. */
    void positional(const std::string& a, std::string& into) const {
        if (!a.empty() && a[0] == '-') throw Error(command + ": неизвестный параметр «" + a + "»\n" + usage);
        if (!into.empty()) throw Error(command + ": лишний аргумент «" + a + "»\n" + usage);
        into = a;
    }
};

/** Binds `smeta` to the estimate table at `file` (its 17 fields, as the window opens it) and
 *  opens it; a path without a directory is taken in the current one. */
inline void openEstimate(storage::TableHandle& smeta, const std::string& file) {
    const std::filesystem::path p(file);
    estimate::bindForOpening(smeta, p.has_parent_path() ? p.parent_path().string() : std::string("."),
                             p.filename().string());
    estimate::openEstimate(smeta);
}

/** The НР and СП tables every estimate of the command line is computed with and chooses its
 *  rows from: the ones the program ships. */
inline const model::NrSpTables& shippedTables() { return model::nrSpTables(); }

/** An estimate opened through its document, as the window opens it: every change a command
 *  makes goes through `doc`. The texts' defaults are written with a decimal point. */
struct OpenedEstimate {
    storage::TableHandle smeta{"SmetaTable"};
    editing::EstimateDocument doc{smeta, '.', shippedTables()};
    /** Opens the estimate table at `file` (a path without a directory: in the current one);
     *  `baseDir` is the norm base in use (for Add and the switch of method), if any. */
    explicit OpenedEstimate(const std::string& file, const std::filesystem::path& baseDir = {}) {
        const std::filesystem::path p(file);
        doc.setNormBaseDirectory(baseDir);
        doc.open(p.has_parent_path() ? p.parent_path().string() : std::string("."), p.filename().string());
    }
    ~OpenedEstimate() { doc.close(); }
    OpenedEstimate(const OpenedEstimate&) = delete;
    OpenedEstimate& operator=(const OpenedEstimate&) = delete;
};

/** One `--text` argument: the control name and its text. */
using TextArg = std::pair<std::string, std::string>;

/** Splits `CONTROL=TEXT`; a missing `=` or an unknown control is an error naming the known
 *  ones, prefixed by `command` ("talvira-cli export"). */
inline TextArg parseTextArg(const std::string& command, const std::string& kv) {
    const size_t eq = kv.find('=');
    model::EstimateTexts probe;
    if (eq == std::string::npos || !probe.byControlName(kv.substr(0, eq)))
        throw Error(command + ": неизвестное поле «" + kv.substr(0, eq) +
                    "» (UTVEdit, FUEdit, SOGLEdit, FSEdit, NAMEEdit, NREdit, PNEdit, SUEdit, "
                    "ZUEdit, VZSEdit, KoefEdit, NDSEdit)");
    return {kv.substr(0, eq), kv.substr(eq + 1)};
}

/** The texts the estimate at `estimateFile` keeps beside it (the window's texts at start under
 *  the decimal separator `sep` when it keeps none), then `typed` in order. */
inline model::EstimateTexts textsWith(const std::string& estimateFile, char sep, const std::vector<TextArg>& typed) {
    model::EstimateTexts texts = editing::loadKeptTexts(estimateFile, sep);
    for (const auto& [control, text] : typed) *texts.byControlName(control) = text;
    return texts;
}

}  // namespace talvira::cli
