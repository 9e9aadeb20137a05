#pragma once
/**
 * The expertise file's plan streamed as bytes through libxml2's text writer (UTF-8, the
 * declaration first, indented), checked against the shipped schema, and only then put in place
 * in one step (common/AtomicFile.h).
 *
 *   const gge::GgePlan plan = gge::planGge(input);
 *   fs::path written = gge::writeGge(plan, dir / "Смета.gge", true, progress);
 *
 * Caveats: a violation of the schema is the program's fault, not the estimator's: nothing is
 * written, and talvira::Error names the element and the line. A stop asked by `progress` throws
 * sheet::WriteStopped and leaves nothing. Rendering counts as three quarters of the progress,
 * the check as the last quarter.
 */
#include "export/GgePlan.h"
#include "export/XlsxRenderer.h"

#include <filesystem>
#include <string>

namespace talvira::gge {

/** The document's bytes; talvira::Error when libxml2 refuses a text (not UTF-8). */
std::string renderGge(const GgePlan& plan, const sheet::Progress& progress = {});

/** renderGge, the schema check, then the file; returns the path written (with `keepExisting`
 *  an existing file is kept and "name (2).gge" … taken). */
std::filesystem::path writeGge(const GgePlan& plan, const std::filesystem::path& out, bool keepExisting,
                               const sheet::Progress& progress = {});

}  // namespace talvira::gge
