#pragma once
/**
 * The file family of a Paradox table: T.DB with its .MB (blobs), .PX (primary index),
 * .Xnn/.Ynn and .XGn/.YGn (secondary indexes), .VAL, .TV and .FAM, matched by name with letter
 * case ignored. A table is only ever replaced as a whole family, and atomically: the new table
 * is built beside the old one under temporary names and renamed into place only when complete.
 *
 *   replaceWithEmptyTable("/home/u/Smeti", "Дом.db", estimateFieldDefs());
 *   replaceTable(dir, "Дом.db", fields, recordsBefore);   // undo of a clearing
 *
 * Caveats: a failure before the renames (folder missing or closed for writing, a file of the
 * family read-only, the table held by another program, a value the new table refuses) leaves
 * the old family exactly as it was and throws talvira::Error; the temporary files are removed.
 * Index and validity files of the old family are removed after the new table is in place (the
 * new table has none). Handles of this program that have the old table open keep reading the
 * old files until they are reopened.
 */
#include "storage/FieldDef.h"
#include "storage/Value.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace talvira::storage {

/** The extension (without the dot, any case) belongs to a table family. */
bool isFamilyExtension(std::string_view ext);

/** The files of the family of `dbPath` present in its folder (the .DB itself included). */
std::vector<std::filesystem::path> tableFamilyFiles(const std::filesystem::path& dbPath);

/** Replaces the table `dir`/`name` (its whole family) by a new table of `fields` holding
 *  `records` in order (autoincrement values taken as given; an empty one is numbered), built
 *  beside the old family and renamed into place only when complete. `name` is matched with
 *  letter case ignored; a missing table is simply created. */
void replaceTable(const std::filesystem::path& dir, const std::string& name, const std::vector<FieldDef>& fields,
                  const std::vector<Record>& records);
void replaceWithEmptyTable(const std::filesystem::path& dir, const std::string& name,
                           const std::vector<FieldDef>& fields);

/** Writes the table anew with a memo file holding only its records' texts when more than half
 *  of its memo file is unused (the texts of contents replaced before stay in the memo file
 *  until then); the same all-or-nothing replacement as above. Returns whether it did. */
bool compactMemo(const std::filesystem::path& dbPath);
/** More than half of the table's memo file is unused (what compactMemo looks at). */
bool memoMostlyUnused(const std::filesystem::path& dbPath);

/** Carries out the renames of a replacement in `dir` that a killed program left half done (a
 *  new table with its own memo file is renamed into place file by file), so that its table is
 *  the new one whole. A replacement still at work in another process is left alone. */
void finishInterruptedReplace(const std::filesystem::path& dir);

/** The engine of replaceTable and of every new table (storage/TableBuilder.h):
 *  `build(tempDbPath)` writes the new table (its .DB at the given path, its .MB beside it); the
 *  result replaces the family of `dbPath`. Errors start with `failPrefix` ("Не удалось создать
 *  таблицу «…»"). A read-only file of the old family refuses the replacement (replaceTable) or
 *  is replaced like any other (a new table, made anew whatever was there). */
enum class ReadOnlyFiles { Refuse, Replace };
void replaceFamily(const std::filesystem::path& dbPath, const std::string& failPrefix, ReadOnlyFiles readOnly,
                   const std::function<void(const std::string& tempDbPath)>& build);

}  // namespace talvira::storage
