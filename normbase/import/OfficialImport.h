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
#include "normbase/BaseInfo.h"
#include "normbase/import/ImportTypes.h"

#include <filesystem>
#include <string>
#include <vector>

namespace talvira::normimport {

/** The note on where the base came from, beside its tables, for the user. */
inline constexpr const char* kOriginFile = "ORIGIN.TXT";

/** Reads `files` in the order given and writes a complete base (six tables and their indexes,
 *  the base's note of itself and the origin note for the user) into `stagingDir`, which must
 *  not exist or be empty. Files that hold no norm and no price at all are refused. */
ImportReport buildBase(const std::filesystem::path& stagingDir,
                       const std::vector<std::filesystem::path>& files, const ImportOptions& options,
                       const ProgressFn& progress = {});

/** What putting a base in place did to the earlier ones. */
struct InstalledBase {
    std::vector<std::string> kept;  // the names of the earlier bases kept, newest first
    std::string removed;            // the name the earliest one had, removed to keep three; empty: none
};

/** Puts the complete base in `stagingDir` in place of `baseDir` in one step: the template
 *  1.xls (and any file the import does not write) of the old base is carried over first, the
 *  previous base is kept as `<baseDir>.old`, the earlier ones as `<baseDir>.old-2` and
 *  `<baseDir>.old-3` (the last three; an older one is removed). A missing `baseDir` is simply
 *  created by the move. */
InstalledBase installBase(const std::filesystem::path& stagingDir, const std::filesystem::path& baseDir);

/** A fresh staging directory beside `baseDir` (same file system, so the move is one step). */
std::filesystem::path stagingDirFor(const std::filesystem::path& baseDir);

/** buildBase into stagingDirFor(baseDir), then installBase (the report names the earlier bases
 *  kept); on any failure or cancel the staging directory is removed and `baseDir` is as it was. */
ImportReport importBase(const std::filesystem::path& baseDir,
                        const std::vector<std::filesystem::path>& files, const ImportOptions& options,
                        const ProgressFn& progress = {});

/** What a base made of these files is: the books of its norm files (BaseType, else their
 *  codes' prefix), their edition (ГЭСН: ФСНБ-2022; ФЕР: ФСНБ-2020, whose unit prices are of
 *  01.01.2000 when the file does not say), their price level (that of the price files when no
 *  norm file gives one), every decree and approving act once. */
normbase::BaseInfo baseInfoOf(const std::vector<SourceInfo>& sources);

/** Whether importing `files` needs the hourly wage: some norm file among them prices its norms
 *  from their resources (ГЭСН), rather than carrying each norm's unit price, basic wages
 *  included (ФЕР). Looks at the first norm of each norm file only (the first few KB); a file
 *  it cannot tell (unreadable, damaged, no norm near its start) counts as needing it, and the
 *  import proper says what is wrong with it. Fast enough to run before asking. */
bool needsWage(const std::vector<std::filesystem::path>& files, const ImportOptions& options);

/** Reads `files` as the import does (archives unpacked on the way) with the XML parser alone,
 *  no handler at all: the floor under any import of them, for measurements. Returns the bytes
 *  of XML read; a document that is not well-formed is talvira::Error as in the import. */
uint64_t parseOnly(const std::vector<std::filesystem::path>& files, const ImportOptions& options);

/** Where an imported base came from (files, their decree or approving act, price level, date of
 *  import) as Russian text, read from the note the import leaves in the base; empty for a base
 *  without one (the demo base, a base copied from elsewhere). */
std::string readBaseOrigin(const std::filesystem::path& baseDir);

}  // namespace talvira::normimport
