#pragma once
/**
 * Import of the official federal norm base (norm files of ГЭСН/ФЕР, price files of ФСБЦ, as
 * XML or as ZIP archives holding them) into a norm base of our own six Paradox tables.
 * No Qt: the command-line tool and the program's window both call it; the window runs
 * buildBase off the interface thread and installBase on it, after closing its handles.
 *
 *   auto report = talvira::normimport::importBase("/home/u/Тальвира/Base", {"ГЭСН.zip", "ФСБЦ_Маш.xml"}, {});
 *   std::cout << report.text();
 *
 * Caveats: a failure throws talvira::Error with one Russian message naming the file, the line
 * and what is wrong; a cancel throws ImportCancelled. Either way the target base is untouched.
 */
#include "common/Error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvira::normimport {

struct ImportOptions {
    /** Hourly wage in roubles for the basic wages of a norm (BE = labour × wage); none: BE = 0. */
    std::optional<double> wagePerHour;
    /** The most bytes one XML member of a ZIP may unpack to; more is refused as a zip bomb. */
    uint64_t memberLimit = uint64_t(2) << 30;
};

/** Where the work stands: a Russian line ("Чтение ГЭСНп.xml", "Запись индексов") and bytes
 *  of input read so far out of all input bytes (both 0 while unknown). */
struct ImportProgress {
    std::string stage;
    uint64_t done = 0;
    uint64_t total = 0;
};
/** Called from the thread that imports, often (at least every few hundred KB read);
 *  returning false cancels the import. */
using ProgressFn = std::function<bool(const ImportProgress&)>;

/** Thrown when the progress callback asked to stop. */
class ImportCancelled : public Error {
public:
    ImportCancelled() : Error("Импорт прерван пользователем") {}
};

/** One file read (an XML file, or an XML member of a ZIP: "архив.zip: ГЭСН.xml"). */
struct SourceInfo {
    std::string file;
    std::string kind;        // "нормы" or "цены"
    std::string baseType;    // BaseType of a norm file ("ГЭСНп"); empty for a price file
    std::string decree;      // Decree Name of a norm file, or "Приказ 490/пр от 14.08.2025" of a price file
    std::string priceLevel;  // "01.01.2022" where the file says it
    std::string date;        // creation date (norm file) or approving act date (price file)
};

/** A kind of case that needs the user's attention: how many, and a few examples. */
struct Attention {
    std::string what;  // "Расценки без цены", "Коды ресурсов, не найденные в ценах", ...
    uint64_t count = 0;
    std::vector<std::string> examples;  // at most a handful
};

struct ImportReport {
    std::vector<SourceInfo> sources;
    uint64_t collections = 0, contentsEntries = 0, rates = 0, resourceLines = 0, priceRecords = 0;
    std::vector<Attention> attention;  // only kinds with a count above 0
    /** The whole report as Russian text, several lines. */
    std::string text() const;
};

/** Reads `files` in the order given and writes a complete base (six tables and their indexes,
 *  the origin note) into `stagingDir`, which must not exist or be empty. */
ImportReport buildBase(const std::filesystem::path& stagingDir,
                       const std::vector<std::filesystem::path>& files, const ImportOptions& options,
                       const ProgressFn& progress = {});

/** Puts the complete base in `stagingDir` in place of `baseDir` in one step: the template
 *  1.xls (and any file the import does not write) of the old base is carried over first, the
 *  previous base is kept as `<baseDir>.old` (one level: an older one is removed). A missing
 *  `baseDir` is simply created by the move. */
void installBase(const std::filesystem::path& stagingDir, const std::filesystem::path& baseDir);

/** A fresh staging directory beside `baseDir` (same file system, so the move is one step). */
std::filesystem::path stagingDirFor(const std::filesystem::path& baseDir);

/** buildBase into stagingDirFor(baseDir), then installBase; on any failure or cancel the
 *  staging directory is removed and `baseDir` is as it was. */
ImportReport importBase(const std::filesystem::path& baseDir,
                        const std::vector<std::filesystem::path>& files, const ImportOptions& options,
                        const ProgressFn& progress = {});

/** Where an imported base came from (files, their decree or approving act, price level, date of
 *  import) as Russian text, read from the note the import leaves in the base; empty for a base
 *  without one (the demo base, a base copied from elsewhere). */
std::string readBaseOrigin(const std::filesystem::path& baseDir);

}  // namespace talvira::normimport
