#pragma once
/**
 * The imported norm base as it grows while the files are read, kept compact in memory (codes
 * and units stored once, resource lines as numbers), and written out at the end as the six
 * tables with their indexes. Rates and price records are numbered in the order met; a resource
 * line finds its resource's own rate by code only at the end, so price files may come before or
 * after the norm files that use them.
 *
 *   BaseAssembler b(options);
 *   b.beginCollection("ГЭСНп 01. Электротехнические устройства");  ...  b.write(dir, report);
 *
 * Caveats: the whole base stays in memory until write() (some tens of MB for a national base).
 */
#include "normbase/import/OfficialImport.h"
#include "storage/Value.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

/** A ФЕР unit price of a norm, per unit, as the file gives it. */
struct DirectPrices {
    double total = 0, wages = 0, machines = 0, machineWages = 0, materials = 0;
};

class BaseAssembler {
public:
    explicit BaseAssembler(const ImportOptions& options) : options_(options) {}

    /** A new collection; returns its ID. */
    int32_t addCollection(std::string name);
    /** A contents entry of the current collection; returns its ID. */
    int32_t addEntry(std::string name);
    /** A rate of a norm file listed under entry `entry`. */
    void beginRate(int32_t entry, const std::string& code, std::string name, std::string_view unit, std::string_view shownPrefix);
    /** A resource line of the current rate; `quantity` nothing when it is not a number. */
    void addLine(const std::string& code, std::string_view name, std::string_view unit, std::optional<double> quantity,
                 bool abstract);
    void setReasons(std::string_view overhead, std::string_view profit);
    void setDirectPrices(const DirectPrices& p);
    /** A price record of a price file listed under `entry`: a material (`machineWages` nothing)
     *  or a machine; `price` nothing when the file gives none. */
    void addPriceRecord(int32_t entry, const std::string& code, std::string name, std::string_view unit,
                        std::optional<double> price, std::optional<double> machineWages);

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
        bool price = false, machine = false, priced = false, direct = false;
        double value = 0, machineWages = 0;  // price record: price per unit, machinist's wage
        DirectPrices prices;                 // rate with a ФЕР unit price
        std::string overhead, profit;
        uint32_t firstLine = 0, lines = 0;
    };
    struct Line {
        uint32_t code;
        double quantity;
        bool numeric, abstract;
    };
    struct Code {
        std::string text, name;
        uint32_t unit = 0;
        int64_t priceItem = -1;  // the price record of this code
        int32_t placeholder = 0; // ID of the record made for a code without price record
    };
    /** A rate or price record listed under `entry`, its ALTTAB "<prefix> <code>". */
    Item newItem(int32_t entry, const std::string& code, std::string name, std::string_view unit, std::string_view shownPrefix);
    uint32_t internCode(const std::string& code);
    /** `s` as a field of at most `max` characters (0: any length) in code page 1251 holds it:
     *  characters the code page lacks replaced, a longer text cut with "…"; both counted. */
    storage::Value fit(const std::string& s, size_t max, const std::string& where);
    uint32_t internUnit(std::string_view unit);

    ImportOptions options_;
    std::vector<std::string> collections_;
    std::vector<std::pair<int32_t, std::string>> entries_;
    std::deque<Item> items_;  // stays put while it grows
    std::vector<Line> lines_;
    std::vector<Code> codes_;
    std::unordered_map<std::string, uint32_t> codeIds_;
    std::unordered_map<std::string, uint32_t> rateCodes_;
    std::vector<std::string> units_;
    std::unordered_map<std::string, uint32_t> unitIds_;
    struct Count {
        uint64_t n = 0;
        std::vector<std::string> examples;
    };
    Count notices_[static_cast<size_t>(Notice::Count_)];
    uint64_t rates_ = 0, priceRecords_ = 0;
};

}  // namespace talvira::normimport
