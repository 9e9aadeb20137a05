#pragma once
/**
 * Local estimates whose totals by type of work in current prices are amounts chosen to the
 * kopeck: one priced position of its own per type of work, computed by the base-index method with
 * every index 1. For the tests of the summary estimate, which take such totals as they are.
 *
 *   fs::path t = makePricedEstimate(dir, "Сети", {{model::WorkType::Construction, "2987654.32"}});
 *   repriceEstimate(t, 0, "3087654.32");     // the estimate changed after it was linked
 *
 * Header only: the test that includes it links talvira_editing.
 */
#include "editing/KeptTexts.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFile.h"
#include "storage/TableHandle.h"

#include <charconv>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace talvira::test {

/** A decimal-point number, whatever the locale. */
inline double pointNumber(const std::string& text) {
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

inline std::filesystem::path makePricedEstimate(const std::filesystem::path& dir, const std::string& name,
                                                const std::vector<std::pair<model::WorkType, std::string>>& amounts,
                                                const std::string& title = {}) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), name);
    estimate::createAndOpen(smeta);
    editing::KeptCalc side;
    side.params.method = model::Method::BaseIndex;
    side.params.level = "I кв. 2026";
    side.params.indexOt = side.params.indexEm = side.params.indexM = side.params.indexEq = Dec7::fromInt(1);
    int n = 0;
    for (const auto& [type, amount] : amounts) {
        const std::string code = "ФССЦ-01.1.01-" + std::to_string(++n);
        const double price = pointNumber(amount);  // the table's field is a double: read back at its shortest form
        smeta.append();
        smeta.setFieldValue("TAB", storage::Value::string(code));
        smeta.setFieldValue("KOLVO", storage::Value::real(1));
        smeta.setFieldValue("STOIM", storage::Value::real(price));
        smeta.setFieldValue("MATER", storage::Value::real(price));
        smeta.post();
        model::PositionData& e = side.entry(static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger()));
        e.code = code;
        e.workType = type;
    }
    const std::filesystem::path table = smeta.tablePath();
    smeta.close();
    editing::saveKeptCalc(table, side);
    if (!title.empty()) {
        model::EstimateTexts texts = model::EstimateTexts::defaults('.');
        texts.title = title;
        editing::saveKeptTexts(table, texts);
    }
    return table;
}

/** The position at `row` of the estimate `table` priced at `amount` rubles. */
inline void repriceEstimate(const std::filesystem::path& table, int row, const std::string& amount) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, table.parent_path().string(), table.filename().string());
    smeta.open();
    smeta.moveTo(row);
    smeta.edit();
    smeta.setFieldValue("STOIM", storage::Value::real(pointNumber(amount)));
    smeta.setFieldValue("MATER", storage::Value::real(pointNumber(amount)));
    smeta.post();
}

}  // namespace talvira::test
