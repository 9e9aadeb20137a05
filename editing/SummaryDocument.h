#pragma once
/**
 * The open construction as one document: its file, its lines with their linked estimates brought
 * up to date when it is opened (what changed told as notices), and the one script by which it is
 * made and changed. Every change is checked whole, written, and only then taken: a refused change
 * leaves the file and the document as they were. The command line and the window both go
 * through it.
 *
 *   fs::path p = editing::SummaryDocument::create(dir, "Школа", editing::today());
 *   editing::SummaryDocument doc(tables);          // the НР and СП tables the program ships
 *   doc.open(p);                                    // notices(): estimates changed, missing
 *   doc.addEstimate(6, "Сети.db", {}, false);
 *   model::SummaryResult r = doc.result();
 *
 * Caveats: opening writes the file back when a linked estimate was read again (new amounts or
 * stamps), so the next opening needs no reading; when it cannot be written that is one more
 * notice, and the file stays as it was.
 */
#include "editing/SummaryLinks.h"
#include "model/Construction.h"
#include "model/Summary.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace talvira::editing {

/** Today's date on this computer. */
model::CalendarDate today();

class SummaryDocument {
public:
    /** A document whose linked estimates are computed with `tables` (which outlive it). */
    explicit SummaryDocument(const model::NrSpTables& tables) : tables_(&tables) {}

    /** Makes the construction `name` in `dir` ("DIR/NAME.ssr", made `created`, named `name`) and
     *  returns its path; talvira::Error for a name no file may have, a missing folder or a file
     *  already there (never replaced). */
    static std::filesystem::path create(const std::filesystem::path& dir, const std::string& name,
                                        model::CalendarDate created);

    /** Reads the construction at `file` and brings its linked estimates up to date. */
    void open(const std::filesystem::path& file);
    /** Brings the linked estimates up to date again (an estimate saved meanwhile). */
    void refresh();

    const std::filesystem::path& file() const { return file_; }
    const model::Construction& construction() const { return construction_; }
    /** What the last opening or refresh found: estimates changed, missing, unreadable; the file
     *  not written back. */
    const std::vector<LinkNotice>& notices() const { return notices_; }
    /** The summary estimate (computeSummary's errors for a construction made by hand). */
    model::SummaryResult result() const { return model::computeSummary(construction_); }

    /** Sets the title data from "key=value" pairs: name, number, customer, level, vat.date (YYYY-MM-DD,
     *  empty: the level's first day), reserve (%), purpose (production|other). talvira::Error
     *  naming the field, and nothing set, when any is wrong. */
    void set(const std::vector<std::pair<std::string, std::string>>& values);
    /** `c` with the title data set from the pairs as set() reads them (the same errors); nothing
     *  is written. */
    static model::Construction withValues(model::Construction c,
                                          const std::vector<std::pair<std::string, std::string>>& values);
    /** Adds a calculation or percentage line at the end of chapter `chapter`. */
    void addLine(int chapter, model::SummaryLine line);
    /** Links the local estimate `table` at the end of chapter `chapter`: as a line of its own, or
     *  into the object `objectNumber` (made with `objectName` when the chapter has none of that
     *  number). talvira::Error when the estimate cannot be read, is linked already, or the object
     *  is another chapter's or another name's. */
    void addEstimate(int chapter, const std::filesystem::path& table, const std::string& objectNumber,
                     const std::string& objectName, bool exempt);
    /** The construction with the estimate linked as addEstimate links it (the same errors); nothing
     *  is written. */
    model::Construction withEstimate(int chapter, const std::filesystem::path& table, const std::string& objectNumber,
                                     const std::string& objectName, bool exempt) const;
    /** Takes `next` as the construction (an edit of the window, undone or redone): checked,
     *  written, then taken. */
    void replace(model::Construction next);

private:
    const model::NrSpTables* tables_;
    std::filesystem::path file_;
    model::Construction construction_;
    std::vector<LinkNotice> notices_;
};

}  // namespace talvira::editing
