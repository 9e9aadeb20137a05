#pragma once
/**
 * A finished file put in place in one step, the one way the program writes a whole file
 * (workbooks, the files beside an estimate, the norm base's note, index files): written under a
 * temporary name beside the target, flushed to disk, renamed onto the target, and the folder
 * flushed so that the new name lasts. A failure anywhere leaves the old file as it was and no
 * temporary; a process killed half-way leaves the old file (or none) and at most its temporary,
 * which the next write of that target removes.
 *
 *   writeFileAtomically(dir / "Смета.side", text, false, "параметры расчета сметы в файл");
 *   fs::path p = writeFileAtomically(dir / "Смета Дом.xls", write, true, "книгу");  // ".../Смета Дом (2).xls"
 *
 * Caveats: the temporary is ".NAME.part-PID-N" in the target's folder (hidden, and named after
 * the target and the writing process); one is taken as left over only when that process is gone.
 * With `keepExisting` an existing file is never replaced: the first free name of "name.ext",
 * "name (2).ext", "name (3).ext", ... is taken, by the same step that gives the file its name, so
 * two writers never meet. Failures are talvira::Error saying why ("нет доступа", "на диске нет
 * места", ...).
 */
#include <filesystem>
#include <functional>
#include <string_view>

namespace talvira {

/** talvira::Error "Не удалось записать <what> «<p>»: <why>" for the system's error number `err`
 *  (`what` is the accusative of what the file is to the user: "книгу", "файл индекса"). */
[[noreturn]] void writeFailed(const std::filesystem::path& p, int err, const char* what);

/** "name.ext" for n < 2, else "name (n).ext", in the same folder. */
std::filesystem::path numberedPath(const std::filesystem::path& p, int n);

/** Writes `bytes` as the file `target` (see above); returns the path it got. */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                          bool keepExisting, const char* what);

/** The same with the content written by `write` into the (empty) temporary file it is given;
 *  whatever `write` throws leaves as a failure does. */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::function<void(const std::filesystem::path&)>& write,
                                          bool keepExisting, const char* what);

}  // namespace talvira
