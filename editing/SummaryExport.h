#pragma once
/**
 * A construction's summary estimate or one object's estimate written to a file, the kind of file
 * by its extension: ".gge" or ".xml" the expertise's XML (SummaryXml), ".xlsx" the printed form
 * (export/SummaryForms).
 * The one door the command line and the window both use.
 *
 *   fs::path p = editing::exportSummary(doc, editing::SummaryForm::Object, "02-01", "02-01 Школа.gge");
 *
 * Caveats: the file is written in one step (an old one replaced only when the new one is whole);
 * talvira::Error for another extension, an object the construction lacks, or a failed write.
 */
#include "editing/SummaryDocument.h"

#include <filesystem>
#include <string>

namespace talvira::editing {

enum class SummaryForm { Summary, Object };  // ССР, ОСР

/** Writes the form to `file`; returns the path written. `objectNumber` names the object of an
 *  object estimate. */
std::filesystem::path exportSummary(const SummaryDocument& doc, SummaryForm form, const std::string& objectNumber,
                                    const std::filesystem::path& file);

}  // namespace talvira::editing
