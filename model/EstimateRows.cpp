#include "model/EstimateRows.h"

namespace talvira::model {

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

namespace {

struct Entry {
    std::string_view name;
    std::string EstimateTexts::* member;
};
// In the window's tab order.
constexpr Entry kControls[] = {
    {"UTVEdit", &EstimateTexts::approverPost},     {"FUEdit", &EstimateTexts::approverName},
    {"SOGLEdit", &EstimateTexts::contractorPost},  {"FSEdit", &EstimateTexts::contractorName},
    {"NAMEEdit", &EstimateTexts::title},           {"NREdit", &EstimateTexts::overheadsPercent},
    {"PNEdit", &EstimateTexts::savingsPercent},    {"SUEdit", &EstimateTexts::crampedPercent},
    {"ZUEdit", &EstimateTexts::winterPercent},     {"VZSEdit", &EstimateTexts::temporaryPercent},
    {"KoefEdit", &EstimateTexts::currentPriceFactor}, {"NDSEdit", &EstimateTexts::vatPercent},
};

}  // namespace

std::string* EstimateTexts::byControlName(std::string_view control) {
    for (const Entry& e : kControls)
        if (e.name == control) return &(this->*e.member);
    return nullptr;
}

std::vector<std::string_view> EstimateTexts::controlNames() {
    std::vector<std::string_view> out;
    for (const Entry& e : kControls) out.push_back(e.name);
    return out;
}

}  // namespace talvira::model
