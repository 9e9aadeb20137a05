// The expertise file both ways: an estimate made in the program (a mounting rate, a building rate
// with coefficients and the machinists' extra pay, its unaccounted material, equipment) written
// as .gge, read back and computed again gives every amount it was written with.
#include "tests/support/TestPaths.h"

#include "editing/GgeImport.h"
#include "export/GgePlan.h"
#include "export/GgeRead.h"
#include "export/GgeWrite.h"
#include "model/BaseIndex.h"

#include <gtest/gtest.h>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;

/** Every amount a position and the estimate carry, one line each, to compare two results. */
std::vector<std::string> amounts(const model::BaseIndexResult& r) {
    std::vector<std::string> out;
    auto elements = [&](const std::string& at, const model::Elements& e) {
        const std::pair<const char*, const Money*> named[] = {
            {"ОТ", &e.ot}, {"ЭМ", &e.em}, {"ОТМ", &e.otm}, {"Д", &e.otmExtra}, {"М", &e.m},
            {"ПЗ", &e.pz}, {"ФОТ", &e.fot}, {"НР", &e.nr}, {"СП", &e.sp}, {"итого", &e.total}};
        for (const auto& [name, amount] : named) out.push_back(at + " " + name + " " + amount->text());
    };
    for (const model::PositionResult& p : r.positions) {
        const std::string at = "позиция " + std::to_string(p.number);
        elements(at + " базисные", p.base);
        elements(at + " текущие", p.current);
    }
    elements("смета базисные", r.total.base);
    elements("смета текущие", r.total.current);
    return out;
}

/** The estimate a file gives, computed as the program computes it. */
struct Computed {
    exporting::GgeEstimate file;
    GgePlan plan;
    model::BaseIndexResult result;
    explicit Computed(const std::string& xml) : file(exporting::readGgeText(xml, "смета.gge")), plan(planGgeImport(file, '.')) {
        result = model::computeBaseIndex(plan.rows, plan.calc.positions, plan.calc.params, model::nrSpTables());
    }
};

model::PositionRow row(int32_t count, std::string code, std::string name, std::string unit, double qty,
                       std::initializer_list<double> perUnit /* cost, ОТ, ЭМ, ОТМ, М, ЗТ */) {
    model::PositionRow r;
    r.count = count;
    r.code = std::move(code);
    r.name = std::move(name);
    r.unit = std::move(unit);
    r.quantity = qty;
    const double* v = perUnit.begin();
    r.cost = v[0];
    r.baseWages = v[1];
    r.machines = v[2];
    r.machineWages = v[3];
    r.materials = v[4];
    r.labour = v[5];
    return r;
}

TEST(GgeRoundTrip, AnEstimateMadeInTheProgramReadBackComputesTheSameAmounts) {
    const model::NrSpTables& tables = model::nrSpTables();
    model::EstimateParams params;
    params.method = model::Method::BaseIndex;
    params.indexOt = Dec7::parse("52.21");
    params.indexEm = Dec7::parse("16.64");
    params.indexM = Dec7::parse("8.49");
    params.indexEq = Dec7::parse("6.31");
    params.region = "Московская область";
    params.level = "II кв. 2025";
    params.baseLevel = "01.01.2000";
    params.letter = "Письмо Минстроя России от 11.06.2025 № 33852-ИФ/09";
    params.gge.wageAct = "Постановление Правительства РФ от 12.09.2023 № 1452";
    params.gge.regionCode = "50";
    params.gge.estimateNum = "ЛСР 02-01-01";
    params.gge.estimateName = "Пробная";

    std::vector<model::PositionRow> rows = {
        row(1, "ФЕРм10-05-011-01", "Антенны приемо-передающие, диаметр до 1,8 м", "антенна", 20,
            {57.14, 31.52, 24.99, 2.84, 0.63, 2.44}),
        row(2, "ФЕР11-01-011-01", "Устройство стяжек цементных толщиной 20 мм", "100 м2", 6.5,
            {1709.36, 342.47, 41.77, 32.74, 1325.12, 39.52}),
        row(3, "ФССЦ-04.3.01.09-0012", "Раствор готовый отделочный тяжелый, цементный 1:3", "м3", 13.26,
            {521.94, 0, 0, 0, 521.94, 0}),
        row(4, "ФССЦО-62.1.02.01-0001", "Щит распределительный", "шт", 2, {15877.22, 0, 0, 0, 15877.22, 0}),
    };
    std::vector<model::PositionData> data;
    model::PositionData mounting;
    mounting.count = 1;
    mounting.code = rows[0].code;
    ASSERT_TRUE(mounting.chooseRow("051.2", params.territory, tables));
    mounting.machinistLabour = Dec7::parse("0.21");
    data.push_back(mounting);
    model::PositionData building;
    building.count = 2;
    building.code = rows[1].code;
    ASSERT_TRUE(building.chooseRow("011.0", params.territory, tables));
    building.machinistLabour = Dec7::parse("2.9");
    building.addCoefficient("1.15", model::OT | model::ZT, "стесненные условия", "Коэффициент");
    building.addCoefficient("1.25", model::EM | model::OTM | model::ZTM, "работа в зимнее время", "Коэффициент");
    data.push_back(building);
    data.push_back(model::PositionData::ofMaterial(3, rows[2].code, 2, Dec7::parse("2.04")));
    model::PositionData equipment;
    equipment.count = 4;
    equipment.code = rows[3].code;
    equipment.workType = model::WorkType::Equipment;
    data.push_back(equipment);

    const model::BaseIndexResult written = model::computeBaseIndex(rows, data, params, tables);
    for (const model::PositionResult& p : written.positions) ASSERT_TRUE(p.computed) << p.number;
    gge::GgeFacts facts;
    facts.guid = "{3E9C9CDF-4FA3-4898-BBFE-F8ABA77C366B}";
    facts.exportDateTime = "2025-08-18T11:19:01+03:00";
    const std::string xml = gge::renderGge(gge::planGge({rows, params, written, facts, {"Связь", "Полы", "", ""}}));

    const Computed back(xml);
    EXPECT_EQ(compareWithFile(back.file, back.plan, back.result).size(), 0u);
    EXPECT_EQ(amounts(back.result), amounts(written));
    // What the estimate is read back with: the rows' codes and quantities, the rows of НР and СП.
    ASSERT_EQ(back.plan.rows.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(back.plan.rows[i].code, rows[i].code);
        EXPECT_EQ(back.plan.rows[i].quantity, rows[i].quantity);
    }
}

}  // namespace
}  // namespace talvira::editing
