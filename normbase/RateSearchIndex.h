#pragma once
/**
 * What the rate search (RateSearch.h) looks through: the rates the browser lists, in its order,
 * with the folded code and name of each and the stems of the names' words, read from files of
 * its own on the paths of the window's handles.
 *
 *   const SearchSources src = searchSourcesOf(nb);            // on the thread of the handles
 *   std::unique_ptr<SearchIndex> ix = buildSearchIndex(src, stop);  // on any thread
 *
 * Caveats: the rates and the names are read at once on two threads; `stop` set while it runs
 * makes it throw SearchStopped. Nothing is ever written.
 */
#include "normbase/WordForms.h"
#include "storage/TableFile.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvira::normbase {

class NormBase;

struct SearchIndex {
    struct Collection {
        int64_t id;
        storage::RecordLoc loc;
        int row;
    };
    struct Entry {
        int64_t id;
        storage::RecordLoc loc;
        uint32_t collection;
        int row;  // in Table6's view of its collection
    };
    struct Rate {
        int64_t id;
        storage::RecordLoc loc;
        storage::RecordLoc nameLoc;
        uint32_t entry;
        int row;  // in Table2's view of its entry
        uint32_t codeLen;
        bool hasName;
    };
    std::vector<Collection> collections;
    std::vector<Entry> entries;
    std::vector<Rate> rates;
    std::vector<std::pair<int64_t, storage::RecordLoc>> units;  // by ID, for the rows shown
    // Listed rate n: folded code at text[begin[n]], a 0x1F, its folded name up to begin[n + 1].
    std::string text;
    std::vector<uint32_t> begin{0};
    WordFormIndex forms;
    // The files read, kept for the rows shown (their pages given back after the reading).
    std::unique_ptr<storage::TableFile> reestr, ogl, rabmat, names, unitFile;

    /** The folded name of listed rate `n`. */
    std::string_view nameText(uint32_t n) const {
        const uint32_t from = begin[n] + rates[n].codeLen + 1;
        return std::string_view(text).substr(from, begin[n + 1] - from);
    }
    /** The place of the unit-of-measure record with ID `id`, nullptr when none. */
    const storage::RecordLoc* unitLoc(int64_t id) const;
    size_t memoryUsed() const;
};

/** Field `field` of record `loc` as text; empty when there is no file or no such field. */
std::string searchFieldText(const storage::TableFile* f, storage::RecordLoc loc, const char* field);

/** A field read as a link value; false when the field is missing or empty. */
bool searchLinkValue(const storage::TableFile& f, storage::RecordLoc loc, int field, int64_t& out);

/** Where the files of the handles are, taken on the thread that owns the handles. */
struct SearchSources {
    std::string reestr, ogl, rabmat, names, units;
    std::string oglIndex, rabmatIndex;
};
SearchSources searchSourcesOf(NormBase& nb);

/** Thrown by buildSearchIndex when it is told to stop. */
struct SearchStopped {};

/** A preparation's progress, shared by the thread that builds the index and the queries that
 *  come before it ends. The index is built in two steps: the rates are listed (their rows, codes
 *  and names: final from then on, read by queries without a lock), then the word forms of their
 *  names are laid out rate by rate, under `formsMutex` (WordFormIndex::ratesAdded). */
class SearchProgress {
public:
    /** Called on the building thread, outside the lock, as the forms of the first `added`
     *  rates are laid out: a test may hold the building there. */
    std::function<void(uint32_t added)> formsHook;
    std::mutex formsMutex;

    void listed(SearchIndex* ix);
    void ended();
    /** Waits until the rates are listed (the index, still building its forms) or the building
     *  ended without listing them (nullptr). */
    SearchIndex* waitListed();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    SearchIndex* listed_ = nullptr;
    bool ended_ = false;
};

/** Reads the base and builds the index, telling `progress` (when given) how far it is. */
std::unique_ptr<SearchIndex> buildSearchIndex(const SearchSources& src, const std::atomic<bool>& stop,
                                              SearchProgress* progress = nullptr);

}  // namespace talvira::normbase
