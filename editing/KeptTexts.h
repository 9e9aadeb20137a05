#pragma once
/**
 * The title block and the charge rates an estimate keeps beside its table, in a small text file
 * named after it ("Дом.db" -> "Дом.txt"), so that they travel with the estimate when it is
 * copied or mailed with its table. The file is UTF-8, one "EDIT=text" line per edit of the
 * estimate window (UTVEdit, FUEdit, SOGLEdit, FSEdit, NAMEEdit, NREdit, PNEdit, SUEdit, ZUEdit,
 * VZSEdit, KoefEdit, NDSEdit); the text runs to the end of the line exactly as typed, trailing
 * blanks included, with "\\", "\n" and "\r" written as \\, \n and \r. Lines starting with "#"
 * and empty lines are comments; a name the program does not know is passed over.
 *
 *   model::EstimateTexts t = editing::loadKeptTexts(smeta.tablePath(), ',');
 *   editing::saveKeptTexts(smeta.tablePath(), t);
 *
 * Caveats: an estimate without the file has the default texts; a damaged file (not UTF-8, a
 * name given twice, a bad escape) gives the defaults and one warning through storage::warn,
 * never a refused estimate. A file of that name that is not of this kind (the user's own notes,
 * one that cannot be read: estimate::keptTextsKind) gives the defaults and one notice, and is
 * never written over. Saving replaces the file in one step.
 */
#include "estimate/EstimateFile.h"
#include "model/EstimateRows.h"

#include <filesystem>
#include <string>

namespace talvira::editing {

/** The file's text for `texts`. */
std::string keptTextsContent(const model::EstimateTexts& texts);

/** The texts kept beside an estimate, what lies there, and what the user is to be told about
 *  it once (a damaged file, a file of the user's under that name), or nothing. */
struct KeptTexts {
    model::EstimateTexts texts;
    estimate::KeptTextsKind kind = estimate::KeptTextsKind::Missing;
    std::string notice;
};

/** The texts of the estimate whose table is `tablePath`: the defaults under `decimalSep`, with
 *  what its companion file holds in their place. Warns nobody: the caller tells `notice`. */
KeptTexts readKeptTexts(const std::filesystem::path& tablePath, char decimalSep);

/** readKeptTexts() with its notice given to storage::warn. */
model::EstimateTexts loadKeptTexts(const std::filesystem::path& tablePath, char decimalSep);

/** Whether a file of the user's stands under the companion's name (saveKeptTexts() refuses
 *  to write over it). */
bool keptTextsForeign(const std::filesystem::path& tablePath);

/** Writes `texts` beside the table `tablePath`; talvira::Error when the file cannot be
 *  written (the old file then stays as it was). */
void saveKeptTexts(const std::filesystem::path& tablePath, const model::EstimateTexts& texts);

}  // namespace talvira::editing
