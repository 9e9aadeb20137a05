#pragma once
/**
 * The local estimate as the state-expertise XML file gives it (.gge, «LocalEstimateBaseIndexMethod»
 * 3.01, the base-index method), read in one streaming pass (expat) into plain values: the
 * parameters, the indices (in the positions or on the totals), the sections, the positions in
 * order with their per-unit costs, labour, coefficients, indices, НР and СП, their priced lines
 * (materials and equipment not in the rate, freight, the machinists' extra pay) and the file's own
 * amounts, kept to compare a computation with.
 *
 *   exporting::GgeEstimate e = exporting::readGge("/home/u/ЛСР 02-01-01.gge");
 *   for (const exporting::GgePosition& p : e.positions) show(p.num, p.code, p.totalBase);
 *
 * Caveats: what no computation needs is passed over unread (the rate's own resources, the
 * unaccounted materials without a price, the links to the bill of quantities, free text lines).
 * Every refusal is one talvira::Error in Russian naming the file, the line and the element: a file
 * that is not well-formed XML or not UTF-8, another root or schema (the resource-index method, an
 * object estimate), another version, a number that is no xs:decimal (a comma), a missing required
 * part, a file cut short; and, against hostile input, a DOCTYPE or entities, nesting deeper than
 * the format has, a text or a number beyond any estimate's. Nothing is validated against the
 * schema here (the refusals do not depend on libxml2, and the pass stays as fast as expat).
 */
#include "common/Decimal.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvira::exporting {

/** Indices per element as the file gives them (none: not given there). */
struct GgeIndices {
    std::optional<Dec7> ot, otm, em, m;
};

/** The НР (Overheads) or СП (Profits) of a position. */
struct GgeCharge {
    std::string reason, name;                 // «Пр/812-011.0-1», «Полы»
    std::optional<Dec7> value, valueTotal;    // the norm, %; with its factor
    std::optional<Money> priceBase, priceCur;
};

/** A coefficient as documented (its effect is in the position's Final values). */
struct GgeCoefficient {
    std::string name, reason;
    std::vector<std::pair<std::string, Dec7>> values;  // target («ОТ», «Стоимость»), value
};

/** A priced line: a resource that is a position, a line of a position (N.M), or freight (N.M.K). */
struct GgeLine {
    std::string kind;                 // Material | Machine | Equipment | Transport | Other
    uint64_t fileLine = 0;
    int64_t num = 0;
    std::string prefix, code, name, unit;
    Dec7 consumption, consumptionTotal;
    std::optional<Money> priceBase, totalBase, priceCur, totalCur;
    std::optional<Dec7> index;        // its own (Index/…/Final)
    std::optional<Dec7> kCost, kConsumption;  // Coefficients/Final «Стоимость», «Расход»
    bool extraPay = false;            // a Machine holding a Machinist: the machinists' extra pay
    int of = -1;                      // freight: the line (of the position's) it carries; -1: none
};

/** Cost/PerUnit/Base, Cost/Totals/Base or Cost/Totals/Current. */
struct GgeElements {
    std::optional<Money> direct, machines, ot, otm, fot, m;
};

struct GgePosition {
    uint64_t fileLine = 0;            // where its Item starts
    size_t section = 0;               // in GgeEstimate::sections
    std::string summaryType, workType;
    bool rate = false;                // a Cost (a rate); else a resource that is a position (lines[0])
    int64_t num = 0;
    std::string prefix, code, name, unit, formula, comment;
    Dec7 quantity, quantityTotal;
    GgeElements perUnit, base, current;
    Dec7 zt1, ztm1, zt, ztm;
    std::vector<std::pair<std::string, Dec7>> finals;  // Coefficients/Final: target, value
    std::vector<GgeCoefficient> coefficients;
    GgeIndices indices;
    std::string indexName;
    GgeCharge overheads, profits;
    std::vector<GgeLine> lines;
    std::optional<Money> salaryBase, salaryCur, totalBase, totalCur;
};

/** An amount of the totals (EstimatePrice), keyed by its place: "Building/Total",
 *  "Building/Machines", "Building/Materials/Price", "Equipment/Price", "Other", "Total". */
struct GgeAmount {
    std::optional<Money> base, current;
    std::optional<Dec7> index;        // PriceIndex/Final
    std::string indexName;
};

/** A date as the file gives it (Year, Month, Day); zeros where it gives none. */
struct GgeDate {
    int year = 0, month = 0, day = 0;
    /** «01.04.2025»; "" when a part is missing. */
    std::string text() const;
};

struct GgeSection {
    std::string code, name;
};

struct GgeEstimate {
    std::string shownName;            // the file as messages name it
    std::string softName, softVersion, fileVersion;
    std::string constructionNum, constructionName, objectNum, objectName, objectAddress;
    std::string guid, salaryAct, indexType, indexObjectType, indexIndustryType;
    std::string regionCode, regionName, territory;  // ТerritoryТype: Территория | МПРКС | РКС
    std::string num, name, date, estimateType, reason;
    std::string priceLevelBase, priceLevelCur;      // «01.2000 (СНБ …)», «II кв. 2025»
    std::vector<std::pair<std::string, std::string>> legal;  // Main, Metodology, … : the act's name
    std::string normsOrders, normsNum;  // Legal/Main: the amending orders, the ФРСН entry's number
    GgeDate normsDate, estimateDate;    // Legal/Main/Date (the ФРСН entry), the estimate's Date
    std::map<std::string, GgeAmount> totals;
    std::vector<GgeSection> sections;
    std::vector<GgePosition> positions;
    std::string composer, verifier;
    /** «Индексы к элементам прямых затрат в позиции»: every element indexed in the positions. */
    bool indicesInPositions() const;
};

/** Reads the file; talvira::Error (see above) when it is refused. */
GgeEstimate readGge(const std::filesystem::path& file);
/** The same for a text in memory, named `shownName` in messages. */
GgeEstimate readGgeText(std::string_view xml, const std::string& shownName);

/** The largest nesting, text and number of positions a file may have (the format nests 14 deep;
 *  a name is a few hundred characters). */
inline constexpr int kGgeMaxDepth = 40;
inline constexpr size_t kGgeMaxText = size_t(1) << 20;

}  // namespace talvira::exporting
