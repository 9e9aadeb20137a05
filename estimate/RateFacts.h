#pragma once
/**
 * What the norm base says of a rate for the position it becomes (model::RateFacts), read one way
 * whether one rate is added (the browser's handles at the rate) or an estimate made by the
 * template takes its rates' data all at once (the base's tables read once).
 *
 *   model::RateFacts f = estimate::rateFactsOf(code, rate.fieldValue("PREISK"), …);
 *   estimate::RateLookup lookup = estimate::rateLookupOf(baseDir, rows);   // then lookup(code)
 *
 * Caveats: a field the base lacks (a base of other software) reads as empty: no references, no
 * machinists' labour; an absurd number reads as 0.
 */
#include "model/EstimateRows.h"
#include "model/PositionData.h"
#include "storage/Value.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::estimate {

/** The references a norm names ("Пр/812-011.0; Пр/812-011.1") one by one. */
std::vector<std::string> splitReferences(std::string_view joined);

/** A number per unit kept exactly (seven decimals); 0 for an empty or absurd one. */
Dec7 perUnitOf(const storage::Value& v);

/** A rate's facts from its record's PREISK, POSPREISK, BH and its collection's name (its
 *  materials are added by the caller, line by line, as (code, perUnitOf(KOLL))). */
model::RateFacts rateFactsOf(std::string code, const storage::Value& preisk, const storage::Value& posPreisk,
                             const storage::Value& bh, std::string_view collectionName);

using RateLookup = std::function<std::optional<model::RateFacts>(const std::string& code)>;

/** The facts of the rates with the codes of `rows` in the norm base at `baseDir`, read once
 *  (its rates, resource lines and collections), as a lookup; the first rate of a code in the
 *  order of the rates table. talvira::Error when the base cannot be read. */
RateLookup rateLookupOf(const std::filesystem::path& baseDir, const std::vector<model::PositionRow>& rows);

}  // namespace talvira::estimate
