#pragma once
/**
 * The construction's object estimates (ОСР) and summary estimate (ССР) as the expertise's XML
 * files: the ОСР by the schema ObjectEstimate 3.01, the ССР by the working draft of
 * SummaryEstimate 3.01. Every amount in thousands of rubles with two decimals, each converted once
 * from its own kopecks; labour in чел.-ч; each line linking its ЛСР or ОСР file by name.
 *
 *   xml::Element osr = editing::osrTree(doc.construction(), "02-01", editing::exportMoment());
 *   editing::writeSummaryXml(osr, "02-01 Здание школы.gge");
 *
 * The trees are plain data (export/XmlTree.h), tested without a file. Lines the draft has no place
 * for are written in the nearest kind it has: an estimate or object in chapter 10 (which takes only
 * calculations and additions) as a calculation with its link; percentage lines, the reserve and
 * VAT as additions. Chapters 1–6 are written when they have lines, 7–14 always (their subtotals
 * are required).
 */
#include "export/XmlTree.h"
#include "model/Construction.h"
#include "model/Summary.h"

#include <filesystem>
#include <string>

namespace talvira::editing {

/** When a file is written: its date and its xs:dateTime with the zone ("2026-02-10T12:00:00+03:00"). */
struct ExportMoment {
    model::CalendarDate date;
    std::string dateTime;
};
/** Now, on this computer's clock and zone. */
ExportMoment exportMoment();

/** The ЛСР number of the `order`-th (1-based) estimate of the object `objectNumber`: "02-01-03". */
std::string estimateNumber(const std::string& objectNumber, size_t order);
/** The name of the expertise file of a document numbered `number`: "02-01 Здание школы.gge"
 *  (characters no file name may hold replaced by «_»). */
std::string ggeFileName(const std::string& number, const std::string& name);

/** The object estimate of the object numbered `objectNumber`; talvira::Error when the
 *  construction has no such object. */
xml::Element osrTree(const model::Construction& c, const std::string& objectNumber, const ExportMoment& when);

/** The summary estimate. */
xml::Element ssrTree(const model::Construction& c, const model::SummaryResult& r, const ExportMoment& when);

/** Writes the tree to `file` in one step; returns the path written (talvira::Error when it
 *  cannot be). */
std::filesystem::path writeSummaryXml(const xml::Element& tree, const std::filesystem::path& file);

}  // namespace talvira::editing
