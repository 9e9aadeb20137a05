#pragma once
/**
 * The parameters of an estimate and the data of one position as their dialogs show them and
 * read them back: texts as typed, choices as indices. Reading checks everything before anything
 * is taken: a bad number is refused with the field named (talvira::Error), and the caller then
 * stores nothing.
 *
 *   editing::ParamsForm f = editing::paramsForm(doc.calc().params, ',');
 *   f.indexOt = "52,21";                                   // typed, comma or point
 *   doc.setParams(editing::readParamsForm(f, doc.calc().params));
 *
 * Caveats: numbers are read with a decimal point or a comma whatever the locale, and shown with
 * the user's separator; an empty index is a missing one (the totals then say so).
 */
#include "model/BaseIndex.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::editing {

/** The methods as the dialog lists them, in the order of model::Method. */
inline constexpr std::array<std::string_view, 2> kMethodNames{"по шаблону", "базисно-индексный, 421/пр"};
/** The territories as the dialog lists them, in the order of model::Territory. */
inline constexpr std::array<std::string_view, 3> kTerritoryNames{"Территория", "МПРКС", "РКС"};
/** What capital repair with new-construction norms does, and where it does not apply. */
inline constexpr std::string_view kRepairCaption = "Капитальный ремонт по нормам нового строительства (НР × 0,9, СП × 0,85)";
inline constexpr std::string_view kRepairNote =
    "Кроме сетей инженерно-технического обеспечения, автомобильных дорог, инженерных сооружений, "
    "производственных объектов и реконструкции (812/пр п. 26).";

struct ParamsForm {
    int method = 0;       // index into kMethodNames
    int territory = 0;    // index into kTerritoryNames
    bool capitalRepair = false;
    std::string region, level, letter;
    std::string indexOt, indexEm, indexM, indexEq;  // as typed; empty: none
    /** The page "Экспертиза": the texts of model::kExpertiseKeys, in their order. */
    std::vector<std::string> expertise = std::vector<std::string>(std::size(model::kExpertiseKeys));
    bool operator==(const ParamsForm&) const = default;
};

/** The form showing `params`, numbers with `decimalSep`. */
ParamsForm paramsForm(const model::EstimateParams& params, char decimalSep);
/** `kept` with what the form says; talvira::Error naming the field for a bad or non-positive
 *  index or a bad expertise fact (a date, the region's code, the GUID). The base's price level is kept as it is. */
model::EstimateParams readParamsForm(const ParamsForm& form, const model::EstimateParams& kept);

/** "Цены нормативной базы на 01.01.2000", or that the base does not say. */
std::string baseLevelText(const model::EstimateParams& params);

// ---- one position ----------------------------------------------------------------------------

struct CoefficientForm {
    std::string value;         // as typed
    unsigned targets = 0;      // model::Target bits
    std::string reason;
    bool operator==(const CoefficientForm&) const = default;
};

struct PositionForm {
    /** The row of 812/пр and 774/пр ("011.0"); empty: none. */
    std::string row;
    /** -1: by the code's book; else a model::WorkType. */
    int workType = -1;
    std::vector<CoefficientForm> coefficients;
    /** A material of a rate: its consumption per unit of the rate, as typed. */
    std::string perUnit;
    bool operator==(const PositionForm&) const = default;
};

/** The form showing `extra`, numbers with `decimalSep`. */
PositionForm positionForm(const model::PositionData& extra, char decimalSep);
/** `kept` with what the form says: a row the tables lack, a coefficient that is no number, 0 or
 *  aims at nothing, a consumption that is no number or negative: talvira::Error naming it. A
 *  row chosen anew keeps the percentages the tables give it now (`territory`'s НР column). */
model::PositionData readPositionForm(const PositionForm& form, const model::PositionData& kept,
                                      const model::NrSpTables& tables, model::Territory territory);

/** The position's rows of НР and СП as the estimate writes them, with the percentage it keeps
 *  (else the tables' of the moment): "Пр/812-011.0-1 Полы 112 %", "Пр/774-011.0 65 %"; "" when
 *  none is chosen; a row the tables lack is named with "нет в таблицах". */
std::string nrText(const model::PositionData& extra, model::Territory territory, const model::NrSpTables& tables,
                   char decimalSep);
std::string spText(const model::PositionData& extra, const model::NrSpTables& tables, char decimalSep);
/** A row of the tables as the list to choose from shows it: "011.0 Полы — НР 112 %, СП 65 %"
 *  (the НР column of `territory`). */
std::string rowChoiceText(const model::NrSpRow& row, model::Territory territory, char decimalSep);

}  // namespace talvira::editing
