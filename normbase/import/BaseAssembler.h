#pragma once
/**
 * The imported norm base as it grows while the files are read, kept compact in memory (codes
 * and units stored once, resource lines as numbers), and written out at the end as the six
 * tables with their indexes. Rates and price records are numbered in the order met; a resource
 * line finds its resource's own rate by code only at the end, so price files may come before or
 * after the norm files that use them.
 *
 *   BaseAssembler b(options);
 *   b.addCollection("ГЭСНп 01. Электротехнические устройства");  ...  b.write(dir, report, {});
 *
 * Caveats: the whole base stays in memory until write() (some tens of MB for a national base).
 */
#include "normbase/import/ImportTypes.h"
#include "normbase/import/RatePricing.h"
#include "storage/Value.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvira::normbase {
class NormTableWriter;
}

namespace talvira::normimport {

/** Cases counted for the report, each with its first few examples. */
enum class Notice {
    RateWithoutPrice,
    UnpricedCode,
    NonNumericQuantity,
    UnusualNumber,
    DuplicateCode,
    MissingCode,
    PriceWithoutPrice,
    UnknownElement,
    SkippedMember,
    ShortenedText,
    ReplacedCharacter,
    Count_
};

class BaseAssembler {
public:
    explicit BaseAssembler(const ImportOptions& options);
    ~BaseAssembler();

    /** A new collection; returns its ID. */
    int32_t addCollection(std::string name);
    /** A contents entry of the current collection; returns its ID. */
    int32_t addEntry(std::string name);
    /** A norm listed under entry `entry`; its code is stored with its book's prefix as official
     *  documents write it ("ГЭСНп" + "01-01-001-01" = "ГЭСНп01-01-001-01"). */
    void beginRate(int32_t entry, const std::string& code, std::string name, std::string_view unit, std::string_view prefix);
    /** A resource line of the current norm; `quantity` in seven decimals, nothing when it is
     *  not a number. */
    void addLine(const std::string& code, std::string_view name, std::string_view unit, std::optional<int64_t> quantity,
                 bool abstract);
    /** An overhead and a profit reference of the current norm (either may be empty). */
    void addReasons(std::string_view overhead, std::string_view profit);
    void setDirectPrices(const DirectPrices& p);
    /** A price record of a price file listed under `entry`; `price` nothing when the file gives none. */
    void addPriceRecord(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                        std::optional<ResourcePrice> price);

    void notice(Notice n, const std::string& example);
    /** Norms and price records taken so far. */
    uint64_t rateCount() const { return rates_; }
    uint64_t priceRecordCount() const { return priceRecords_; }
    /** Writes the six tables into `dir` and fills the counts and the attention list of `report`;
     *  the base held in memory is given up on the way (once). */
    void write(const std::string& dir, ImportReport& report, const ProgressFn& progress);

private:
    struct Item {
        int32_t entry = 0, collection = 0;
        uint32_t unit = 0;
        std::string code, name, alt;
        bool price = false, priced = false, direct = false;
        ResourcePrice resource;  // a price record's price
        DirectPrices prices;     // a norm with a ФЕР unit price
        std::vector<std::string> overhead, profit;
        uint32_t firstLine = 0, lines = 0;
    };
    struct Line {
        uint32_t code;
        int64_t quantity;  // seven decimals
        bool numeric, abstract;
    };
    struct Code {
        std::string text, name;
        uint32_t unit = 0;
        int64_t priceItem = -1;  // the price record of this code
        int32_t placeholder = 0; // ID of the record made for a code without price record
    };
    /** A norm or price record listed under `entry`, its ALTTAB "<prefix> <code>". */
    Item newItem(int32_t entry, const std::string& code, std::string name, std::string_view unit, std::string_view prefix);
    uint32_t internCode(const std::string& code);
    uint32_t internUnit(std::string_view unit);
    /** `s` as a field of at most `max` characters (0: any length) in code page 1251 holds it:
     *  characters the code page lacks replaced, a longer text cut with "…"; both counted. */
    storage::Value fit(const std::string& s, size_t max, const std::string& where);
    /** References joined by "; " within `max` characters, whole ones only ("…" for the rest). */
    storage::Value fitReferences(const std::vector<std::string>& refs, size_t max, const std::string& where);
    /** The kind of the resource a line of code `c` stands for. */
    int32_t resourceKind(const Code& c) const;
    RateComponents priceOf(const Item& rate);

    // The steps of write(), one table each.
    void numberPlaceholders();
    void writeUnits(const std::string& dir);
    uint64_t writeCollections(const std::string& dir);
    uint64_t writeEntries(const std::string& dir);
    void writeNames(const std::string& dir);
    std::unique_ptr<normbase::NormTableWriter> writeRates(const std::string& dir);
    uint64_t writeLines(const std::string& dir);
    void releaseMemory();
    void fillAttention(ImportReport& report) const;

    ImportOptions options_;
    std::optional<int64_t> wage_;  // kopecks per hour
    std::vector<std::string> collections_;
    std::vector<std::pair<int32_t, std::string>> entries_;
    std::deque<Item> items_;  // stays put while it grows
    std::vector<Line> lines_;
    std::vector<Code> codes_;
    std::vector<uint32_t> placeholders_;  // codes without price record, in the order met
    std::unordered_map<std::string, uint32_t> codeIds_;
    std::unordered_map<std::string, uint32_t> rateCodes_;
    std::vector<std::string> units_;
    std::unordered_map<std::string, uint32_t> unitIds_;
    std::vector<RateLine> pricing_;  // the lines of the norm being priced (reused)
    struct Count {
        uint64_t n = 0;
        std::vector<std::string> examples;
    };
    Count notices_[static_cast<size_t>(Notice::Count_)];
    uint64_t rates_ = 0, priceRecords_ = 0;
};

}  // namespace talvira::normimport
