#pragma once
/**
 * What the construction's window shows, as plain values: the tree of chapters, their lines and
 * the local estimates of each object, each row with its eight columns as printed (thousands of
 * rubles, two decimals); the totals under the tree; and which commands a row allows. The window
 * only moves these texts into its widgets.
 *
 *   std::vector<editing::SummaryRow> tree = editing::summaryTree(doc.construction(), doc.result(), doc.notices(), ',');
 *   editing::SummaryActions can = editing::actionsAt(doc.construction(), place);
 *
 * Caveats: every chapter has its row, empty or not (a line is added into a chapter); the
 * figures are converted one by one from kopecks, so a row may miss footing by 0.01.
 */
#include "editing/SummaryLinks.h"
#include "model/Construction.h"
#include "model/Summary.h"

#include <array>
#include <string>
#include <vector>

namespace talvira::editing {

/** Where a row of the tree stands. */
struct SummaryPlace {
    int chapter = 0;     // 1–12; 0: no row
    int line = -1;       // in the chapter; -1: the chapter's own row
    int estimate = -1;   // in the object of `line`; -1: the line itself
    bool operator==(const SummaryPlace&) const = default;
};

/** The columns of the tree: гр. 1–8. */
constexpr int kSummaryColumns = 8;
/** The captions of гр. 1–8 as the window heads them. */
extern const std::array<const char*, kSummaryColumns> kSummaryCaptions;

/** One row of the tree. */
struct SummaryRow {
    SummaryPlace place;
    std::array<std::string, kSummaryColumns> cells;
    /** Why its amounts are the last known ones (a linked file missing or unreadable); empty
     *  when they are the file's own. */
    std::string problem;
    /** Its linked estimate changed since the construction was last opened: what changed. */
    std::string changed;
    std::vector<SummaryRow> children;
};

/** The tree: a row per chapter (1–12, its total), under it its lines, under an object its local
 *  estimates; `notices` (of the last opening or refresh) mark the rows they name. Figures with
 *  `sep`. */
std::vector<SummaryRow> summaryTree(const model::Construction& c, const model::SummaryResult& r,
                                    const std::vector<LinkNotice>& notices, char sep);

/** One line of the totals under the tree: its caption and гр. 4–8. */
struct SummaryTotal {
    std::string caption;
    std::array<std::string, 5> cells;
};

/** «Итого по главам 1–7» … «Итого по главам 1–12», the reserve, the total with it, VAT at its
 *  rate and date, «ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ». */
std::vector<SummaryTotal> summaryTotals(const model::SummaryResult& r, char sep);

/** The notices a window keeps after a refresh: the fresh ones, and of the earlier ones those that
 *  told of an estimate changed that the fresh ones do not name (a change stays named until the
 *  construction is opened again); missing and unreadable files are found anew by each refresh. */
std::vector<LinkNotice> mergeNotices(const std::vector<LinkNotice>& earlier, const std::vector<LinkNotice>& fresh);

/** The commands a row allows. */
struct SummaryActions {
    bool add = false;           // a line into its chapter (an estimate into its object)
    bool edit = false;
    bool remove = false;
    bool moveUp = false, moveDown = false;
    bool openEstimate = false;  // a linked local estimate's row
    bool exportObject = false;  // an object's row or one of its estimates
    bool operator==(const SummaryActions&) const = default;
};

SummaryActions actionsAt(const model::Construction& c, SummaryPlace p);

/** The local estimate of the row (an estimate line or one of an object's); nullptr otherwise. */
const model::LinkedEstimate* estimateAt(const model::Construction& c, SummaryPlace p);
/** The line of the row (the object for one of its estimates); nullptr for a chapter's row. */
const model::SummaryLine* lineAt(const model::Construction& c, SummaryPlace p);

}  // namespace talvira::editing
