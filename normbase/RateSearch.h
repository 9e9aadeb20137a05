#pragma once
/**
 * Finding a rate by its code or by words of its name, over the rates the browser lists: the
 * records of RABMAT.DB whose IDOGL is the ID of a contents entry whose IDREESTR is the ID of a
 * collection. A query is cut at blanks into words; a rate matches when every word occurs in its
 * code (TAB) or in its name (NAME of the 000_NAME.DB record whose ID is the rate's IDNAME),
 * ignoring letter case, with ё and е taken as equal. Results come in browse order.
 *
 *   normbase::RateSearch search(nb);            // reads nothing yet
 *   auto hits = search.find("кладка стен");     // the first query reads the base once
 *   search.goTo(hits.front());                  // Table7, Table6, Table2 walk there
 *
 * Caveats: the tables of the handles Table7, Table6, Table2, Table1 and Table8 are read once,
 * at the first query, through read-only files of their own that are closed afterwards (so that
 * the pages read do not stay mapped); a handle that is closed then counts as an empty table.
 * The text kept in memory is the folded code and name of each listed rate (about the size of
 * the names themselves); what a result row shows is read through the handles' files when
 * asked for. Nothing is ever written.
 */
#include "storage/TableFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::normbase {

class NormBase;

/** Text as it is compared by the search: lower case (Latin, Greek and Cyrillic letters), ё
 *  and Ё as е. Invalid UTF-8 bytes are kept as they are. */
std::string foldSearchText(std::string_view utf8);

/** Where `needle` first occurs in `text` (bytes compared as they are), npos when nowhere: the
 *  substring search the queries run over the folded text. */
size_t findSearchText(std::string_view text, std::string_view needle);

/** The words of a query: cut at blanks (space, tab, no-break space), empty parts dropped. */
std::vector<std::string> searchWords(std::string_view query);

/** What a result row shows, read from the tables when asked for. */
struct RateSearchRow {
    int64_t id = 0;
    std::string code;        // TAB
    std::string firstLine;   // the name up to its first line break
    std::string unit;        // NAME of the unit-of-measure record
    std::string collection;  // NAME of the collection
    std::string entry;       // NAME of the contents entry
};

class RateSearch {
public:
    explicit RateSearch(NormBase& base);
    ~RateSearch();
    RateSearch(const RateSearch&) = delete;
    RateSearch& operator=(const RateSearch&) = delete;

    /** The listed rates that match `query`, as numbers of listed rates in browse order. A
     *  query without words gives nothing. Any text is taken literally. The first call reads
     *  the base (prepare()). */
    std::vector<uint32_t> find(std::string_view query);

    /** Reads the base and builds the in-memory text of the listed rates, unless done. */
    void prepare();
    bool prepared() const;
    /** Forgets what prepare() read; the next query reads the base again. */
    void reset();

    /** Number of listed rates (prepares). */
    uint32_t listedCount();
    /** The ID of listed rate `n`. */
    int64_t rateId(uint32_t n) const;
    /** What a result row shows for listed rate `n` (reads the tables). */
    RateSearchRow row(uint32_t n) const;
    /** Rows of listed rate `n` in the views of Table7, Table6 and Table2 (0-based). */
    struct Place {
        int collectionRow = -1, entryRow = -1, rateRow = -1;
    };
    Place place(uint32_t n) const;

    /** Makes listed rate `n` current, as if its collection, its contents entry and the rate
     *  had been clicked in turn in their grids: Table7, Table6 and Table2 move, everything
     *  below follows. */
    void goTo(uint32_t n);

    /** Bytes held by the prepared index (text and tables), for measurements. */
    size_t memoryUsed() const;

private:
    struct Index;
    /** Whether listed rate `n` holds words[from..] in its code or its name. */
    bool matches(uint32_t n, const std::vector<std::string>& words, size_t from) const;
    NormBase& base_;
    std::unique_ptr<Index> ix_;
};

}  // namespace talvira::normbase
