#include "export/EstimateRows.h"

namespace talvira::xls {

EstimateTexts EstimateTexts::defaults(char decimalSep) {
    EstimateTexts t;
    t.approverPost = "Генеральный директор ";  // the trailing blank belongs to the text
    t.contractorPost = "Генеральный директор ";
    t.title = "Локальная смета №1";
    t.overheadsPercent = "105";
    t.savingsPercent = "90";
    t.crampedPercent = "12";
    t.winterPercent = "20";
    t.temporaryPercent = "10";
    t.currentPriceFactor = std::string("2") + decimalSep + "18";
    t.vatPercent = "18";
    return t;
}

std::string* EstimateTexts::byControlName(std::string_view control) {
    struct Entry { std::string_view name; std::string EstimateTexts::*member; };
    static constexpr Entry entries[] = {
        {"UTVEdit", &EstimateTexts::approverPost},     {"FUEdit", &EstimateTexts::approverName},
        {"SOGLEdit", &EstimateTexts::contractorPost},  {"FSEdit", &EstimateTexts::contractorName},
        {"NAMEEdit", &EstimateTexts::title},           {"NREdit", &EstimateTexts::overheadsPercent},
        {"PNEdit", &EstimateTexts::savingsPercent},    {"SUEdit", &EstimateTexts::crampedPercent},
        {"ZUEdit", &EstimateTexts::winterPercent},     {"VZSEdit", &EstimateTexts::temporaryPercent},
        {"KoefEdit", &EstimateTexts::currentPriceFactor}, {"NDSEdit", &EstimateTexts::vatPercent},
    };
    for (const Entry& e : entries)
        if (e.name == control) return &(this->*e.member);
    return nullptr;
}

}  // namespace talvira::xls
