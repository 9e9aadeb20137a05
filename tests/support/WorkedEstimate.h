#pragma once
/**
 * The worked estimate of the notes on the base-index method, made in one place for every suite:
 * the ФЕР rate 08-01-001-01 (1 м3, Московская область, II кв. 2025; rows 008.0: НР 110 %,
 * СП 69 %), and the builders of a rate's and a priced material's rows. The model's suite
 * (tests/model/BaseIndexTest.cpp) owns its amounts to the kopeck; the other suites take them
 * from there and assert what their layer adds.
 *
 *   model::BaseIndexResult r =
 *       model::computeBaseIndex({test::workedRow()}, {test::workedData()}, test::workedParams(), tables);
 *
 * Header only: the model alone is needed.
 */
#include "model/EstimateRows.h"
#include "model/Params.h"
#include "model/PositionData.h"

#include <cstdint>
#include <string>

namespace talvira::test {

/** A rate's row: its quantity and per-unit prices in base prices, its cost ОТ + ЭМ + М. */
inline model::PositionRow rateRow(int32_t count, std::string code, double quantity, double ot, double em, double otm,
                                  double m, double labour) {
    model::PositionRow r;
    r.count = count;
    r.code = std::move(code);
    r.quantity = quantity;
    r.baseWages = ot;
    r.machines = em;
    r.machineWages = otm;
    r.materials = m;
    r.cost = ot + em + m;
    r.labour = labour;
    return r;
}

/** A material's (or equipment's) row: a quantity at `price` (cost and materials). */
inline model::PositionRow pricedRow(int32_t count, std::string code, double quantity, double price) {
    model::PositionRow r;
    r.count = count;
    r.code = std::move(code);
    r.quantity = quantity;
    r.cost = r.materials = price;
    return r;
}

/** The worked rate, position 1: ОТ 32,74, ЭМ 10,46 (ОТМ 1,74), М 215,19, ЗТ 3,94 per 1 м3. */
inline model::PositionRow workedRow() { return rateRow(1, "ФЕР08-01-001-01", 1, 32.74, 10.46, 1.74, 215.19, 3.94); }

/** Its data: НР and СП by row 008.0, ЗТМ 0,15. */
inline model::PositionData workedData() {
    model::PositionData x;
    x.count = 1;
    x.nrRow = x.spRow = "008.0";
    x.machinistLabour = Dec7::parse("0.15");
    return x;
}

/** Its estimate's parameters: the indices of Московская область for II кв. 2025 (ОТ 52,21,
 *  ЭМ 16,64, М 8,49) on prices of 01.01.2000. */
inline model::EstimateParams workedParams() {
    model::EstimateParams p;
    p.method = model::Method::BaseIndex;
    p.indexOt = Dec7::parse("52.21");
    p.indexEm = Dec7::parse("16.64");
    p.indexM = Dec7::parse("8.49");
    p.baseLevel = "01.01.2000";
    p.level = "II кв. 2025";
    p.region = "Московская область";
    return p;
}

}  // namespace talvira::test
