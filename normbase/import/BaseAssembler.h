#pragma once
/**
 * The imported norm base as it grows while the files are read, kept compact in memory (codes
 * and units stored once, resource lines as numbers), and written out at the end as the six
 * tables with their indexes. Rates and price records are numbered in the order met; a resource
 * line finds its resource's own rate by code only at the end, so price files may come before or
 * after the norm files that use them.
 *
 *   BaseAssembler b(options, dir);
 *   b.addCollection("ГЭСНп 01. Электротехнические устройства");  ...  b.write(report, {});
 *
 * Caveats: the base but its texts stays in memory until write() (some tens of MB for a national
 * base); the tables of texts (collections, contents entries, names) are written into `dir` on a
 * thread of their own while the files are read, so the folder is the new base's from the start.
 */
#include "normbase/import/ImportTypes.h"
#include "normbase/import/RatePricing.h"
#include "storage/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
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

/** The counted cases with their first examples; each writing thread keeps its own. */
class Notices {
public:
    void add(Notice n, std::string_view example);
    /** `o`'s counts added, its examples after these while there is room. */
    void merge(const Notices& o);
    void fill(ImportReport& report) const;

private:
    struct Count {
        uint64_t n = 0;
        std::vector<std::string> examples;
    };
    Count counts_[static_cast<size_t>(Notice::Count_)];
};

class BaseAssembler {
public:
    /** `dir`: the folder the six tables are written into. */
    BaseAssembler(const ImportOptions& options, const std::string& dir);
    ~BaseAssembler();

    /** A new collection; returns its ID. */
    int32_t addCollection(std::string_view name);
    /** A contents entry of the current collection; returns its ID. */
    int32_t addEntry(std::string_view name);
    /** A norm listed under entry `entry`; its code is stored with its book's prefix as official
     *  documents write it ("ГЭСНп" + "01-01-001-01" = "ГЭСНп01-01-001-01"). */
    void beginRate(int32_t entry, std::string_view code, std::string_view name, std::string_view unit, std::string_view prefix);
    /** A resource line of the current norm; `quantity` in seven decimals, nothing when it is
     *  not a number. The name and unit count only the first time the code is met. */
    void addLine(std::string_view code, std::string_view name, std::string_view unit, std::optional<Dec7> quantity,
                 bool abstract);
    /** An overhead and a profit reference of the current norm (either may be empty). */
    void addReasons(std::string_view overhead, std::string_view profit);
    void setDirectPrices(const DirectPrices& p);
    /** A price record of a price file listed under `entry`; `price` nothing when the file gives none. */
    void addPriceRecord(int32_t entry, std::string_view code, std::string_view name, std::string_view unit,
                        std::optional<ResourcePrice> price);

    void notice(Notice n, std::string_view example) { notices_.add(n, example); }
    /** Room for a base read from `xmlBytes` of XML, so that its lists seldom move while they
     *  grow (room not used costs no memory). */
    void expect(uint64_t xmlBytes);
    /** Norms and price records taken so far. */
    uint64_t rateCount() const { return rates_; }
    uint64_t priceRecordCount() const { return priceRecords_; }
    /** Writes the other tables into the folder (on two threads besides the texts') and fills
     *  the counts and the attention list of `report`; once. */
    void write(ImportReport& report, const ProgressFn& progress);

private:
    class TextTables;
    struct Item {
        int32_t entry = 0, collection = 0;
        uint32_t unit = 0;
        uint16_t prefix = 0;  // index in prefixes_: the book of a norm, "ФСБЦ" for a price record
        bool price = false, priced = false, direct = false;
        std::string code;  // without its prefix; the name went to the names table
        uint32_t firstLine = 0, lines = 0;
        uint32_t directPrices = 0;  // a ФЕР unit price: its place in directs_
        uint32_t overhead = 0, profit = 0;  // a norm's references (one a line): 1 + their place in references_
        uint32_t resource = 0;              // a price record's price: its place in resources_
    };
    struct Line {
        uint32_t code;
        Dec7 quantity;
        bool numeric, abstract;
    };
    struct Code {
        std::string text, name;
        uint32_t unit = 0;
        int64_t priceItem = -1;  // the price record of this code
        int32_t placeholder = 0; // ID of the record made for a code without price record
    };
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using TextMap = std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>>;

    Item newItem(int32_t entry, std::string_view code, std::string_view unit, std::string_view prefix);
    uint32_t internCode(std::string_view code);
    uint32_t internUnit(std::string_view unit);
    /** 1 + the place of `text` in `texts` (added when new); 0 for an empty text. */
    static uint32_t intern(std::vector<std::string>& texts, TextMap& ids, std::string_view text);
    uint16_t internPrefix(std::string_view prefix);
    /** The code as the tables show it: a norm's with its book's prefix. */
    std::string shownCode(const Item& it) const;
    /** The kind of the resource a line of code `c` stands for. */
    int32_t resourceKind(const Code& c) const;
    RateComponents priceOf(const Item& rate, std::vector<RateLine>& buffer) const;
    /** Whether the cost of line `l` is in the unit price rate `rate` carries itself (a ФЕР
     *  norm's accounted line): its resource needs no price of its own. */
    static bool inRatePrice(const Item& rate, const Line& l);

    // The steps of write(), one table each (those run on the second thread take their own notices).
    void countDuplicateCodes(Notices& n) const;
    void numberPlaceholders();
    void writeUnits(Notices& n) const;
    void writeRates(Notices& n, const std::function<void()>& tableWritten) const;
    uint64_t writeLines() const;

    ImportOptions options_;
    std::string dir_;
    std::unique_ptr<TextTables> texts_;
    std::thread prefault_;  // readies the pages of the room expect() reserved
    int32_t collections_ = 0;
    std::vector<int32_t> entries_;  // the collection of each contents entry
    std::vector<Item> items_;
    std::vector<DirectPrices> directs_;
    std::vector<std::string> references_;  // the texts of the norms' references, each once
    TextMap referenceIds_;
    std::vector<ResourcePrice> resources_;
    std::vector<Line> lines_;
    std::vector<Code> codes_;
    std::vector<uint32_t> placeholders_;  // codes without price record, in the order met
    TextMap codeIds_;
    std::vector<std::string> units_;
    TextMap unitIds_;
    std::vector<std::string> prefixes_;
    Notices notices_;
    uint64_t rates_ = 0, priceRecords_ = 0;
};

}  // namespace talvira::normimport
