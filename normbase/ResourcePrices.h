#pragma once
/**
 * Which resources of a rate have no price in the base: a rate's price leaves out what its
 * resources lack (electricity without a price gives "Материалы 0"), so the browser marks such a
 * rate and the Add command names them. A resource line counts when it names a resource record
 * (IDRES_RABMAT set) that is not labour and whose "Всего" (BA) and "Материалы" (BB) are both
 * empty or 0, or when the record it names is not in the base. Labour lines carry no price of
 * their own and never count; nor do the lines whose cost is in a unit price the rate carries
 * itself (UCH 1: a ФЕР norm's accounted lines). Every other line of the rate counts, accounted
 * or not.
 *
 *   normbase::ResourcePrices prices(nb);
 *   for (const auto& r : prices.unpriced(rateId)) warn(r.code + " " + r.name);
 *   ResourcePrices::priceMark(nb.Table4.fieldValue(fld::RABMAT))   // "маш." for a machine's record
 *
 * Caveats: reads through read-only files of its own, opened on the paths of Table3, Table2
 * and Table5 at the first question (reset() before another base is put in place); the answers
 * for the rates asked lately are kept.
 */
#include "storage/TableFile.h"
#include "storage/TableHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvira::normbase {

class NormBase;

/** The kinds a record of RABMAT.DB has in its RABMAT field. */
inline constexpr int kKindRate = 1, kKindMaterial = 2, kKindMachine = 3, kKindLabour = 4;

/** What a result names of a resource without a price. */
struct UnpricedResource {
    int64_t id = 0;    // the resource's record (IDRES_RABMAT)
    std::string code;  // its TAB; empty when the record is missing
    std::string name;  // the first line of its name; for a missing record, what is missing
};

class ResourcePrices {
public:
    explicit ResourcePrices(NormBase& base);
    ~ResourcePrices();
    ResourcePrices(const ResourcePrices&) = delete;
    ResourcePrices& operator=(const ResourcePrices&) = delete;

    /** The resources without a price of rate `rateId`, in the order of its lines. */
    const std::vector<UnpricedResource>& unpriced(int64_t rateId);
    /** Forgets the files and the answers. */
    void reset();

    /** What marks a resource's price by its record's kind (RABMAT field) where it stands under
     *  "Всего": "маш." for a machine's price; empty for a material's and anything else. */
    static const char* priceMark(const storage::Value& kind);
    /** Whether a record of this kind (RABMAT field) has its price shown under "Материалы": not
     *  a machine's, whose price is no material's even where the base holds it there too. */
    static bool isMaterialsPrice(const storage::Value& kind);
    /** The warning of the Add command for rate `rateCode` whose resources `resources` have no
     *  price, naming each by code and name. */
    static std::string warningText(const std::string& rateCode, const std::vector<UnpricedResource>& resources);

private:
    struct Files;
    NormBase& base_;
    std::unique_ptr<Files> files_;
    std::vector<std::pair<int64_t, std::vector<UnpricedResource>>> recent_;
};

}  // namespace talvira::normbase
