#pragma once
/**
 * The local estimates a construction links: each read for its totals by type of work in current
 * prices, and followed by a stamp of its files (size and modification time of the table, its side
 * file and its title file), so that an estimate that did not change since it was last read is not
 * read again.
 *
 *   model::LinkedEstimate e = editing::linkEstimate("Сметы/Сети.db", "Школа.ssr", tables);  // read now
 *   std::vector<editing::LinkNotice> n = editing::refreshLinks(construction, "Школа.ssr", tables, kept);
 *
 * Caveats: an estimate is opened read-only and never written (not even the repairs the estimate
 * window makes when it opens one). A stamp taken within two seconds of the newest of its files'
 * times is not trusted (a write within the clock's step could leave it equal): that estimate is
 * read again at the next refresh.
 */
#include "model/Construction.h"
#include "model/NrSpTables.h"

#include <filesystem>
#include <string>
#include <vector>

namespace talvira::editing {

/** What one local estimate gives the summary estimate. */
struct EstimateReading {
    std::string name;              // its title, else (none, or the default one) its file's name without extension
    model::CostColumns amounts;    // model::columnsOfEstimate of its result
    std::array<model::Elements, model::kWorkTypes> details{};  // model::detailsOfEstimate of it
};

/** The stamp of the estimate's files now (size -1 for the table: it is missing). */
model::FileStamp stampOf(const std::filesystem::path& table);

/** Reads the estimate's totals; talvira::Error naming the file when it is missing, is no
 *  estimate, is computed by the template (it has no totals by type of work) or lacks an index
 *  its current prices need. */
EstimateReading readEstimateTotals(const std::filesystem::path& table, const model::NrSpTables& tables);

/** How the construction at `summaryFile` keeps the link to `table`: relative to its folder, '/'
 *  between folders. */
std::string linkOf(const std::filesystem::path& table, const std::filesystem::path& summaryFile);
/** The table a kept link names. */
std::filesystem::path linkedFile(const std::string& link, const std::filesystem::path& summaryFile);

/** The estimate at `table` linked to the construction at `summaryFile`, read now
 *  (readEstimateTotals's errors). */
model::LinkedEstimate linkEstimate(const std::filesystem::path& table, const std::filesystem::path& summaryFile,
                                   const model::NrSpTables& tables);

/** What bringing the linked estimates up to date found about one of them. */
struct LinkNotice {
    enum class Kind { Changed, Missing, Unreadable } kind = Kind::Changed;
    int num = 0;          // the line's number (гр. 1)
    int chapter = 0;
    std::string file;     // as kept
    std::string text;     // «Строка 2 «Сети» (глава 6): смета «Сети.db» изменилась: …»
};

/** Brings every estimate `c` links up to date: one whose stamp is the kept one is left as it is,
 *  any other is read again and takes its new amounts, name and stamp; one that is missing or
 *  cannot be read keeps its last known amounts and has its `problem` set. `kept` is set when
 *  anything the file keeps changed. */
std::vector<LinkNotice> refreshLinks(model::Construction& c, const std::filesystem::path& summaryFile,
                                     const model::NrSpTables& tables, bool& kept);

}  // namespace talvira::editing
