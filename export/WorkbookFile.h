#pragma once
/**
 * A finished file put in place in one step: written under a temporary name in the target's
 * folder, flushed, then given its name. With `keepExisting` an existing file is never
 * replaced: the first free name of "name.ext", "name (2).ext", "name (3).ext", ... is taken,
 * and taken by the same step that gives the file its name, so two writers never meet.
 *
 *   fs::path p = xls::writeFileAtomically(dir / "Смета Дом.xls", bytes, true);  // ".../Смета Дом (2).xls"
 *
 * Caveats: on failure nothing is left behind and talvira::Error says why ("нет доступа",
 * "на диске нет места", ...).
 */
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace talvira::xls {

/** talvira::Error saying why the file `p` could not be written ("нет доступа", "на диске нет
 *  места", ...) for the system's error number `err`. */
[[noreturn]] void writeFailed(const std::filesystem::path& p, int err, const char* what = "книгу");

/** "name.ext" for n < 2, else "name (n).ext", in the same folder. */
std::filesystem::path numberedPath(const std::filesystem::path& p, int n);

/** Writes `bytes`; returns the final path. Messages name the file as `what` ("книгу", the
 *  accusative of what it is to the user). */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::vector<uint8_t>& bytes, bool keepExisting,
                                          const char* what = "книгу");

/** The same with the content written by `write` into the temporary file it is given. */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::function<void(const std::filesystem::path&)>& write,
                                          bool keepExisting, const char* what = "книгу");

}  // namespace talvira::xls
