#pragma once
/**
 * Letter case in names: the one fold used for file, field and index names, and the one way a
 * file is found in a folder whatever the case its name was written in (tables copied from
 * other systems often carry "PARTS.DB" beside "parts.mb").
 *
 *   if (sameName(field.name, "kolvo")) ...;
 *   if (auto p = findFileAnyCase("/base", "000_name.db")) open(*p);
 *
 * Caveats: the fold is common/TextFold's: Latin, Greek and Cyrillic letters of UTF-8 text;
 * other letters are compared as they are.
 */
#include "common/TextFold.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvira::storage {

/** The program's one letter-case fold (ё kept as ё in names). */
using talvira::foldCase;
/** The two names are equal when letter case is ignored. */
bool sameName(std::string_view a, std::string_view b);

/** The regular file `fileName` in `dir`: the exact spelling when it exists, else the first (in
 *  byte order of the names) whose name equals it with letter case ignored; nothing when there
 *  is none. `dir` empty means the current folder; the result is `dir` / the name found. */
std::optional<std::filesystem::path> findFileAnyCase(const std::filesystem::path& dir, std::string_view fileName);

/** The companion of `dbPath` with extension `ext` (".MB", ".PX"), found by findFileAnyCase in
 *  the table's folder; "" when there is none. */
std::string findCompanion(const std::string& dbPath, const std::string& ext);

/** Where the companion file of the table at `dbPath` with extension `ext` ("MB", "PX", "X02",
 *  "YG0") is written: beside the table, under its stem, the extension in lower case when the
 *  table's own extension is all lower case ("parts.db": "parts.px", as the vendor's sample
 *  tables and files from Unix systems spell them) and in capitals otherwise ("CUSTOMER.MB"; a
 *  mixed "T.Db" too: capitals are what the engine itself writes). */
std::string companionPath(const std::string& dbPath, std::string_view ext);

}  // namespace talvira::storage
