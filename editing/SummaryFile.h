#pragma once
/**
 * A construction kept as one file beside its estimates ("Школа.ssr"): its title data, the reserve
 * and the date of VAT, and its chapters' lines — local estimates linked by file (relative to this
 * file) with their last known totals and a stamp of each estimate's files, objects gathering such
 * estimates, calculations, percentage lines. UTF-8 "key=value" lines under a versioned first
 * line, one "[kind]" section per line; numbers locale-free; written in one step.
 *
 *   model::Construction c = editing::loadSummary(path);     // talvira::Error when damaged
 *   c.customer = "ГКУ «Дирекция»";
 *   editing::saveSummary(path, c);
 *
 * Caveats: a damaged file is refused with one message naming the file, the line and what is
 * wrong, and is never written over (saveSummary refuses a file at the path that is not of this
 * kind). The problems of linked estimates are not kept: they are found again at each opening.
 */
#include "model/Construction.h"

#include <filesystem>
#include <string>

namespace talvira::editing {

/** The first line of every construction file (its version follows: "… формат 1"). */
extern const std::string kSummaryHeader;

/** "DIR/NAME.ssr" for a construction named `name` (the extension added unless typed). */
std::filesystem::path summaryPath(const std::filesystem::path& dir, const std::string& name);

/** The file's text for `c`: the lines chapter by chapter, in order. */
std::string summaryText(const model::Construction& c);

/** The construction read from `text`; talvira::Error "… не прочитан: строка N: …" naming `file`. */
model::Construction summaryFromText(const std::string& text, const std::filesystem::path& file);

/** The construction in `file`; talvira::Error when it is missing, unreadable or damaged. */
model::Construction loadSummary(const std::filesystem::path& file);

/** Writes `c` to `file` in one step (the old file stays whole when the write fails);
 *  talvira::Error when it cannot, or when a file there is not a construction file. */
void saveSummary(const std::filesystem::path& file, const model::Construction& c);

}  // namespace talvira::editing
