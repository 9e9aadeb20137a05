#pragma once
/**
 * Where estimates live and how a new one is made: the estimates directory under the start
 * directory, the checks on a typed name, the file an estimate name stands for, and the
 * create-and-open steps shared by the name dialog and the command-line tool.
 *
 *   std::string dir = estimate::estimatesDirectory(startDir);   // ".../Smeti"
 *   estimate::checkEstimateName(name);                          // throws talvira::Error
 *   if (!estimate::estimateExists(dir, name)) estimate::createEstimate(smeta, dir, name);
 *
 * Caveats: the estimates directory is never created here; a missing one makes the create step
 * fail with the engine's error.
 */
#include "model/EstimateRows.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <string>
#include <vector>

namespace talvira::estimate {

/** The estimates of the program started in `startDir`: the folder "Smeti" there (joined as paths
 *  join, like normbase::baseDirectory). */
std::string estimatesDirectory(const std::string& startDir);

/** Refuses a name that the file system would take for something other than one file in the
 *  estimates directory: an empty name, one holding a path separator or a NUL, "." and "..".
 *  Every other character (blanks included) is kept as typed. */
void checkEstimateName(const std::string& name);

/** The table name given to the handle for a typed estimate name: the name with the extension
 *  ".db" added, unless it already ends in ".db" (in any case). */
std::string estimateTableName(const std::string& name);

/** Full path of the estimate table `name` in `dir`. */
std::string estimatePath(const std::string& dir, const std::string& name);

/** True when the table of the estimate `name` exists in `dir` (whatever the case of its
 *  extension). */
bool estimateExists(const std::string& dir, const std::string& name);

/** The question asked before an existing estimate is replaced by an empty one. */
std::string replaceQuestion(const std::string& name);

/** Binds `smeta` to the estimate `name` in `dir` (the handle must be closed): directory,
 *  table name and the 19 field definitions. */
void bindEstimate(storage::TableHandle& smeta, const std::string& dir, const std::string& name);

/** Creates the empty estimate the handle is bound to (replacing a table of that name) and
 *  opens it; the title block and rates kept beside a table of that name go with it (a file of
 *  the user's under that name stays). */
void createAndOpen(storage::TableHandle& smeta);

/** Writes a new estimate table of `rows` exactly at `dbPath` (and its .MB beside it), touching no
 *  other file, in one go: the rows numbered 1, 2, … in their order (their `count` is not
 *  stored), each stored as appending it through a handle bound by bindEstimate stores it (code,
 *  name, unit, quantity, per-unit costs and labour; the other fields empty). For an estimate made
 *  whole in a folder of its own and put in place afterwards; messages name `shownPath`. A value
 *  the table refuses: talvira::Error, the table left unfinished. */
void writeEstimateTable(const std::string& dbPath, const std::string& shownPath,
                        const std::vector<model::PositionRow>& rows);

/** Binds the handle to a table and its 17 estimate fields, as opening an estimate does. */
void bindForOpening(storage::TableHandle& smeta, const std::string& dir, const std::string& fileName);

/** Opens the estimate the handle is bound to: first finishes a replacement of its table that a
 *  killed program left half done; once it has opened as an estimate, writes the table anew when
 *  more than half of its memo file is unused (undo's writes leave the texts of earlier contents
 *  behind). A table that cannot be written anew (read-only, held elsewhere) is used as it is;
 *  one that is no estimate is refused by the open, untouched. */
void openEstimate(storage::TableHandle& smeta);

/** The file that keeps an estimate's title block and charge rates beside its table:
 *  "Дом.db" -> "Дом.txt" in the same folder, spelt as it is on disk when it exists. */
std::filesystem::path keptTextsPath(const std::filesystem::path& tablePath);

/** The file that keeps an estimate's parameters of computation and the data of its positions
 *  beside its table: "Дом.db" -> "Дом.calc" in the same folder, spelt as it is on disk when it
 *  exists. */
std::filesystem::path keptCalcPath(const std::filesystem::path& tablePath);

/** The first line of that file (its version follows: "… формат 1"). */
extern const std::string kKeptCalcHeader;

/** The calc file of the table is there and of this kind (it starts with kKeptCalcHeader, or is
 *  empty): a file of the user's that bears the name is never removed or written over. */
bool keptCalcIsOurs(const std::filesystem::path& tablePath);

/** The first line of every file of title block and charge rates the program writes. */
extern const std::string kKeptTextsHeader;

/** What lies beside an estimate under its companion's name. */
enum class KeptTextsKind {
    Missing,  // nothing
    Ours,     // written by the program (its first line), empty, or lines "EDIT=text" naming an
              // edit of the estimate window, damaged or not: read, replaced, removed
    Foreign,  // anything else (the user's own notes, a file that cannot be read): never
              // written over or removed
};
KeptTextsKind keptTextsKind(const std::filesystem::path& tablePath);

}  // namespace talvira::estimate
