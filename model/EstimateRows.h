#pragma once
/**
 * The estimate as plain values, the same for every output (the template workbook, the official
 * form, the totals): the positions of the estimate in their order and the estimate window's
 * texts (title block and charge rates) as typed.
 *
 *   model::EstimateTexts texts = model::EstimateTexts::defaults(',');
 *   *texts.byControlName("NREdit") = "100";              // texts.overheadsPercent
 *
 * Caveats: the texts are kept as typed; only the factor into current prices is read as a
 * number, by the workbook writer, with the user's decimal separator.
 */
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::model {

/** One position of the estimate as the workbook lays it out; an empty number field is 0. */
struct PositionRow {
    std::string code;         // TAB      -> column B
    std::string name;         // NAME     -> C (the memo's whole text)
    std::string unit;         // IZM      -> D
    double quantity = 0;      // KOLVO    -> E
    double cost = 0;          // STOIM    -> F
    double baseWages = 0;     // OSNZP    -> G
    double materials = 0;     // MATER    -> H
    double machines = 0;      // EXPLMASH -> I
    double machineWages = 0;  // ZPMASH   -> J
    double labour = 0;        // TRUD     -> P
    int32_t count = 0;        // COUNT: the position's number (not in the template workbook)
};

/** The estimate window's texts as typed (title block and the seven charge rates). */
struct EstimateTexts {
    std::string approverPost;        // UTVEdit  -> A2
    std::string approverName;        // FUEdit   -> C5
    std::string contractorPost;      // SOGLEdit -> O2
    std::string contractorName;      // FSEdit   -> P5
    std::string title;               // NAMEEdit -> E3
    std::string overheadsPercent;    // NREdit
    std::string savingsPercent;      // PNEdit
    std::string crampedPercent;      // SUEdit
    std::string winterPercent;       // ZUEdit
    std::string temporaryPercent;    // VZSEdit
    std::string currentPriceFactor;  // KoefEdit (a plain number)
    std::string vatPercent;          // NDSEdit
    /** The window's texts at start; a fraction is written with `decimalSep`
     *  ("2,18" under a decimal comma, "2.18" under a decimal point). */
    static EstimateTexts defaults(char decimalSep);
    /** The text of the edit named `control` ("NREdit", ...), nullptr for an unknown name
     *  (used only by talvira-cli --text and the window). */
    std::string* byControlName(std::string_view control);
    /** The names of the twelve edits, in the window's tab order. */
    static std::vector<std::string_view> controlNames();
    bool operator==(const EstimateTexts&) const = default;
};

}  // namespace talvira::model
