#pragma once
/**
 * The parameters of an estimate's computation, kept beside its table with the title block: the
 * method, the territory (the НР column), capital repair, the region and price levels, and the
 * indices into current prices per element of direct costs.
 */
#include "common/Decimal.h"
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvira::model {

enum class Method { Template, BaseIndex };        // "template" | "421"
enum class Territory { Ordinary = 1, Mprks = 2, Rks = 3 };  // НР column; reference suffix -1/-2/-3

/** What the expertise file (.gge) needs of an estimate that its computation does not: the acts
 *  it was made under, the construction and object it belongs to, its number, name and kind, the
 *  signatures and the file's GUID (made at the first export and kept, so that every export of the
 *  estimate carries the same one). Texts as the estimator gave them; dates "ДД.ММ.ГГГГ". */
struct ExpertiseFacts {
    std::string norms;             // gge.norms: the act approving the norms («Приказ Минстроя России от … № 876/пр»)
    std::string normsOrders;       // gge.norms.orders: the orders that amended them, «; » between
    std::string normsDate;         // gge.norms.date: their entry in the federal register ФРСН, date
    std::string normsNum;          // gge.norms.num: and number («395»)
    std::string wageAct;           // gge.wage_act: the act on labour pay the index of wages follows
    std::string indexObject;       // gge.index_object: the letter's object type («Административные здания»)
    std::string kind;              // gge.kind: «Строительство» (blank), «Реставрация» …
    std::string guid;              // gge.guid: «{3E9C9CDF-…}», braces, upper-case hex
    std::string regionCode;        // region.code: 0…99 («50»)
    std::string construction, constructionNum;             // construction, construction.num
    std::string object, objectNum, objectAddress;          // object, object.num, object.address
    std::string estimateNum, estimateName, estimateDate;   // estimate.num «02-01-01», estimate.name, estimate.date
    std::string composedBy, checkedBy;                     // signature.composed, signature.checked
    bool operator==(const ExpertiseFacts&) const = default;
};

/** The keys of ExpertiseFacts in the order the kept file, the command line and the dialog list
 *  them, with the member each sets. */
struct ExpertiseKey {
    const char* key;
    const char* caption;
    std::string ExpertiseFacts::*member;
};
extern const ExpertiseKey kExpertiseKeys[19];

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
    ExpertiseFacts gge;                // for the expertise file
    bool operator==(const EstimateParams&) const = default;
};

/**
 * Sets the parameter `key` of `params` from its text, as the kept file, the command line and the
 * parameters dialog give it: method=template|421, territory=1|2|3, repair=0|1, region, level,
 * letter, baselevel, index.ot, index.em, index.m, index.eq (an index: typedNumber above zero;
 * blank: none) and the keys of kExpertiseKeys (a date ДД.ММ.ГГГГ, region.code 0…99, gge.norms.num
 * a whole number, gge.guid braces and upper-case hex). Returns "" when set, else the fault as the tail of a message after the value
 * («— ожидается template или 421», «— не число», «— число слишком велико», «— нужно число
 * больше нуля») and nothing is set; `known` false for a key that is none of these.
 * `typed` (the estimator's input, not a file the program wrote) also refuses an index above
 * kLargestIndex, which no index letter gives: it is a slip of the keyboard.
 */
std::string setParam(EstimateParams& params, std::string_view key, std::string_view value, bool& known,
                     bool typed = true);
/** No index into current prices comes near it (the largest, to 2001 prices, are below 100). */
inline constexpr int64_t kLargestIndex = 10'000;
/** The parameter's name as the estimator reads it: "Индекс ОТ"; the key itself when unknown. */
std::string paramCaption(std::string_view key);
/** A GUID as the expertise file writes it, made afresh: «{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}». */
std::string newGuid();
/** "ДД.ММ.ГГГГ" read as year, month, day; nullopt when it is not such a date. */
struct Date {
    int year = 0, month = 0, day = 0;
};
std::optional<Date> dateFromText(std::string_view text);

/** The name with its key, as the command line names it: "Индекс ОТ (index.ot)". */
std::string paramName(std::string_view key);

}  // namespace talvira::model
