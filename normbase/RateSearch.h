#pragma once
/**
 * Finding a rate by its code or by words of its name, over the rates the browser lists: the
 * records of RABMAT.DB whose IDOGL is the ID of a contents entry whose IDREESTR is the ID of a
 * collection. A query is cut at blanks into words. The exact rule: a rate matches when every
 * word occurs in its code (TAB) or in its name (NAME of the 000_NAME.DB record whose ID is the
 * rate's IDNAME), ignoring letter case, with ё and е taken as equal. Besides it, a decimal point
 * and a decimal comma between digits are the same, and a word of four Russian letters or more
 * also matches the words of the name that are its forms (WordForms.h). Results come in browse
 * order: the exact matches first, then those found only by word forms.
 *
 *   normbase::RateSearch search(nb);
 *   search.startPreparing();                    // after the window shows: reads in the background
 *   auto found = search.find("кровля 0.5");     // waits at most until the rates are listed
 *   search.goTo(found.rates.front());           // Table7, Table6, Table2 walk there
 *
 * Caveats: the base is read through read-only files of the search's own, opened on the same
 * paths as the handles Table7, Table6, Table2, Table1 and Table8 (a handle that is not open then
 * counts as an empty table), in the order of the indexes those handles list by; the window's
 * handles are touched only by goTo() and startPreparing(), on the calling thread. The rates
 * and the names are read at once on two threads, each table front to back through a buffer
 * (not its memory map). The files stay open for the rows shown; the pages read are given back. The text kept
 * in memory is the folded code and name of each listed rate and the stems of the names' words.
 * Nothing is ever written. Calls other than the preparing itself come from one thread. A query
 * during the preparation waits only until the rates and their text are listed; the word forms
 * not yet laid out by then are found by a pass over the names of the rest (same results).
 */
#include "storage/TableFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::normbase {

class NormBase;
struct SearchIndex;  // RateSearchIndex.h: what the queries look through
struct SearchQuery;  // RateSearchQuery.h: a query made ready

/** Where `needle` first occurs in `text` (bytes compared as they are), npos when nowhere: the
 *  substring search the queries run over the folded text. */
size_t findSearchText(std::string_view text, std::string_view needle);

/** The words of a query: cut at blanks (space, tab, no-break space), empty parts dropped. */
std::vector<std::string> searchWords(std::string_view query);

/** What a result row shows, read from the tables when asked for. */
struct RateSearchRow {
    int64_t id = 0;
    std::string code;        // TAB
    std::string name;        // the name's first line: the rate's name
    std::string line;        // the name's first line, or the first line that holds a hit
    /** What the row shows of a hit that the name's beginning does not show (in a later line,
     *  or far into the first): its line from a word or two before it, "…" in front when cut;
     *  empty when the hit is near the name's start or there is none. */
    std::string excerpt;
    std::string unit;        // NAME of the unit-of-measure record
    std::string collection;  // NAME of the collection
    std::string entry;       // NAME of the contents entry
};

class RateSearch {
public:
    /** What a query found: listed rates, the exact matches first, then those found by word
     *  forms (or a decimal separator) alone, each part in browse order. */
    struct Found {
        std::vector<uint32_t> rates;
        size_t exact = 0;  // rates[0 .. exact) match by the exact rule
    };

    explicit RateSearch(NormBase& base);
    ~RateSearch();
    RateSearch(const RateSearch&) = delete;
    RateSearch& operator=(const RateSearch&) = delete;

    /** The listed rates that match `query`. A query without words gives nothing. Any text is
     *  taken literally. Waits for the preparation, or prepares. */
    Found find(std::string_view query);
    /** The exact rule alone, as numbers of listed rates in browse order. */
    std::vector<uint32_t> findExact(std::string_view query);
    /** The listed rates whose code is `code` (letter case and ё/е ignored), in browse order;
     *  a code without a book's prefix also names the rates whose code is it with one
     *  ("01-01-002-05": "ГЭСНмр01-01-002-05", "ГЭСНп01-01-002-05"; RateCode.h). */
    std::vector<uint32_t> findCode(std::string_view code);
    /** The one listed rate that `code` names (findCode), the first in browse order when one code
     *  is listed twice; nothing when none. A code without a book's prefix that rates of several
     *  books carry: talvira::Error listing their codes, collections and names. */
    std::optional<uint32_t> rateOfCode(std::string_view code);
    /** The code of listed rate `n` as the search holds it (folded). */
    std::string_view foldedCode(uint32_t n) const;

    /** Starts reading the base on a thread of its own, unless prepared or under way. The
     *  handles' paths are taken now; nothing else of them is used by the thread. */
    void startPreparing();
    /** Reads the base and builds what the queries look through, unless done; when the
     *  reading is under way, waits for it. Its failure is thrown here. */
    void prepare();
    bool prepared() const;
    /** Forgets what was prepared (a preparation under way is stopped): the next query or
     *  startPreparing() reads the base again, e.g. after another base was put in place. */
    void reset();

    /** Number of listed rates (prepares). */
    uint32_t listedCount();
    /** The ID of listed rate `n`. */
    int64_t rateId(uint32_t n) const;
    /** What a result row shows for listed rate `n` (reads the tables); with `query`, the line
     *  of the name shown is the first that holds a hit of one of its words. */
    RateSearchRow row(uint32_t n, std::string_view query = {}) const;
    /** Rows of listed rate `n` in the views of Table7, Table6 and Table2 (0-based). */
    struct Place {
        int collectionRow = -1, entryRow = -1, rateRow = -1;
    };
    Place place(uint32_t n) const;

    /** Makes listed rate `n` current, as if its collection, its contents entry and the rate
     *  had been clicked in turn in their grids: Table7, Table6 and Table2 move, everything
     *  below follows. */
    void goTo(uint32_t n);

    /** Bytes held by the prepared index (text, word forms and tables), for measurements. */
    size_t memoryUsed() const;

    /** For tests: called on the preparing thread as the word forms of the first `formsLaidOut`
     *  listed rates are in place (every rate then), so that a test may hold the preparation
     *  half-way. Taken by the next startPreparing(). */
    void setPreparationHook(std::function<void(uint32_t formsLaidOut)> hook);

private:
    /** The listed rates: prepared, or listed by the preparation under way (waited for that far). */
    const SearchIndex& listing();
    /** What listing() gave last. */
    const SearchIndex& index() const;
    Found run(const SearchIndex& ix, const SearchQuery& q);
    std::vector<uint32_t> exactMatches(const SearchIndex& ix, const SearchQuery& q);
    void formMatches(const SearchIndex& ix, const SearchQuery& q, Found& found) const;
    /** The rates whose names hold a form of `stem` while the forms are laid out: those laid out
     *  so far, and a pass over the names of the rest. */
    std::vector<uint32_t> formsWhileLaidOut(const SearchIndex& ix, const std::u32string& stem) const;
    NormBase& base_;
    std::unique_ptr<SearchIndex> ix_;
    SearchIndex* listed_ = nullptr;  // the index the preparation under way is laying the forms of
    std::function<void(uint32_t)> formsHook_;
    struct Pending;
    std::unique_ptr<Pending> pending_;
    // The last query's words and what the exact rule found, for narrowing as the user types.
    std::vector<std::string> lastWords_;
    std::vector<uint32_t> lastFound_;
};

}  // namespace talvira::normbase
