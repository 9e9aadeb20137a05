#pragma once
/**
 * The parameters of an estimate's computation, kept beside its table with the title block: the
 * method, the territory (the НР column), capital repair, the region and price levels, and the
 * indices into current prices per element of direct costs.
 */
#include "common/Decimal.h"
#include <optional>
#include <string>

namespace talvira::model {

enum class Method { Template, BaseIndex };        // "template" | "421"
enum class Territory { Ordinary = 1, Mprks = 2, Rks = 3 };  // НР column; reference suffix -1/-2/-3

/** What an estimate keeps beside its table besides the title block (all texts as the user gave
 *  them; numbers exact). */
struct EstimateParams {
    Method method = Method::Template;
    Territory territory = Territory::Ordinary;
    bool capitalRepair = false;        // НР × 0.9, СП × 0.85
    std::string region;                // «Московская область»
    std::string level;                 // the current price level: «II кв. 2025»
    std::string letter;                // the index letter: «письмо Минстроя России от … № …»
    std::optional<Dec7> indexOt, indexEm, indexM, indexEq;  // оплата труда (and ОТМ), машины, материалы, оборудование
    std::string baseLevel;             // the base's price level: «01.01.2000», «01.01.2022»
    bool operator==(const EstimateParams&) const = default;
};

}  // namespace talvira::model
