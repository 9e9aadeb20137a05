// The parameters of an estimate and the data of a position as their dialogs read them: numbers
// with a point or a comma in any locale, a bad one refused with the field named and nothing
// taken, a row of НР and СП chosen anew keeping the percentages of the moment, and the rows as
// the estimate window writes them.
#include "common/Error.h"
#include "editing/EstimateForms.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>

namespace talvira::editing {
namespace {

using talvira::Dec7;

Dec7 d(const char* text) { return Dec7::parse(text); }

TEST(ParamsForm, ReadsWhatIsTypedOrNamesTheFieldItRefuses) {
    struct Case {
        const char* what;
        ParamsForm form;
        const char* error;  // nullptr: read
    };
    ParamsForm good;
    good.method = 1;
    good.territory = 2;
    good.capitalRepair = true;
    good.region = "Московская область";
    good.level = "II кв. 2025";
    good.indexOt = "52,21";
    good.indexEm = " 16.64 ";
    good.indexM = "8,49";
    auto with = [&](std::string ParamsForm::*field, const char* text) {
        ParamsForm f = good;
        f.*field = text;
        return f;
    };
    const Case cases[] = {
        {"comma and point", good, nullptr},
        {"an index left empty is missing", with(&ParamsForm::indexEq, ""), nullptr},
        {"letters", with(&ParamsForm::indexEm, "abc"), "Индекс ЭМ: «abc» — не число."},
        {"grouped", with(&ParamsForm::indexOt, "1 000,5"), "Индекс ОТ: «1 000,5» — не число."},
        {"zero", with(&ParamsForm::indexM, "0"), "Индекс М: «0» — нужно число больше нуля."},
        {"negative", with(&ParamsForm::indexEq, "-1,2"), "Индекс оборудования: «-1,2» — нужно число больше нуля."},
        {"both separators", with(&ParamsForm::indexOt, "1.000,5"), "Индекс ОТ: «1.000,5» — не число."},
        // Before, 1e30 was refused as no number and a million taken without a word.
        {"beyond any amount", with(&ParamsForm::indexOt, "1e30"), "Индекс ОТ: «1e30» — число слишком велико."},
        {"a slip of the keyboard", with(&ParamsForm::indexM, "1000000"),
         "Индекс М: «1000000» — больше 10 000: индекс пересчета в текущие цены так велик не бывает."},
        {"an exponent", with(&ParamsForm::indexEq, "0,5e1"), nullptr},
    };
    model::EstimateParams kept;
    kept.baseLevel = "01.01.2000";
    kept.indexEq = d("5");
    for (const char* locale : {"C.UTF-8", "ru_RU.UTF-8"}) {
        // Read the same whatever the process's locale (a missing one leaves the current).
        std::setlocale(LC_ALL, locale);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(locale) + ": " + c.what);
            if (c.error) {
                try {
                    readParamsForm(c.form, kept);
                    ADD_FAILURE() << "read";
                } catch (const Error& e) {
                    EXPECT_STREQ(e.what(), c.error);
                }
                continue;
            }
            const model::EstimateParams p = readParamsForm(c.form, kept);
            EXPECT_EQ(p.method, model::Method::BaseIndex);
            EXPECT_EQ(p.territory, model::Territory::Rks);
            EXPECT_TRUE(p.capitalRepair);
            EXPECT_EQ(p.indexOt, d("52.21"));
            EXPECT_EQ(p.indexEm, d("16.64"));
            EXPECT_EQ(p.baseLevel, "01.01.2000");  // not the form's to change
            EXPECT_EQ(p.indexEq, c.form.indexEq.empty() ? std::nullopt : std::optional(d("5")));
            // Shown again with the user's separator, it reads back the same.
            EXPECT_EQ(readParamsForm(paramsForm(p, ','), kept), p);
            EXPECT_EQ(paramsForm(p, ',').indexOt, "52,21");
        }
    }
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(baseLevelText(kept), "Цены нормативной базы на 01.01.2000");
    EXPECT_EQ(baseLevelText({}), "Уровень цен нормативной базы не указан");
}

TEST(PositionForm, ReadsWhatIsTypedOrNamesWhatItRefuses) {
    const model::NrSpTables& tables = model::nrSpTables();
    model::PositionData rate;
    rate.count = 7;
    rate.nrRow = "008.0";
    rate.spRow = "008.0";
    rate.nrPercent = d("110");  // kept from when the row was chosen
    rate.spPercent = d("69");
    model::PositionData material;
    material.count = 8;
    material.parent = 7;
    material.perUnit = d("1.02");

    struct Case {
        const char* what;
        const model::PositionData* kept;
        std::function<void(PositionForm&)> edit;
        const char* error;  // nullptr: read
        std::function<void(const model::PositionData&)> check;
    };
    const Case cases[] = {
        {"unchanged keeps the rows and their percentages", &rate, [](PositionForm&) {}, nullptr,
         [&](const model::PositionData& e) { EXPECT_EQ(e, rate); }},
        {"another row takes today's percentages (МПРКС column)", &rate, [](PositionForm& f) { f.row = "Пр/812-011.0-2"; },
         nullptr,
         [](const model::PositionData& e) {
             EXPECT_EQ(e.nrRow, "011.0");
             EXPECT_EQ(e.spRow, "011.0");
             EXPECT_EQ(e.spPercent, d("65"));
             EXPECT_EQ(e.nrPercent, model::nrSpTables().find("011.0")->nrPercent[1]);
         }},
        {"no row", &rate, [](PositionForm& f) { f.row.clear(); }, nullptr,
         [](const model::PositionData& e) {
             EXPECT_TRUE(e.nrRow.empty() && e.spRow.empty() && !e.nrPercent && !e.spPercent);
         }},
        {"a row the tables lack", &rate, [](PositionForm& f) { f.row = "999.9"; },
         "Норматив НР и СП «999.9»: такой строки нет в таблицах приказов 812/пр и 774/пр.", nullptr},
        {"type of work and coefficients", &rate,
         [](PositionForm& f) {
             f.workType = int(model::WorkType::Mounting);
             f.coefficients = {{"1,15", model::OT | model::ZT, "421/пр прил. 10 т. 1 п. 4"},
                               {"1.25", model::EM | model::OTM | model::ZTM, ""}};
         },
         nullptr,
         [](const model::PositionData& e) {
             EXPECT_EQ(e.workType, model::WorkType::Mounting);
             ASSERT_EQ(e.coefficients.size(), 2u);
             EXPECT_EQ(e.coefficients[0], (model::Coefficient{d("1.15"), model::OT | model::ZT, "421/пр прил. 10 т. 1 п. 4"}));
             EXPECT_EQ(e.coefficients[1].value, d("1.25"));
         }},
        {"by the code's book again", &rate, [](PositionForm& f) { f.workType = -1; }, nullptr,
         [](const model::PositionData& e) { EXPECT_FALSE(e.workType); }},
        {"coefficient of letters", &rate, [](PositionForm& f) { f.coefficients = {{"1,1", model::OT, ""}, {"x", model::OT, ""}}; },
         "Коэффициент 2: «x» — не число.", nullptr},
        {"coefficient 0", &rate, [](PositionForm& f) { f.coefficients = {{"0,0", model::M, ""}}; },
         "Коэффициент 1: «0,0» — нужно число больше нуля.", nullptr},
        {"negative coefficient", &rate, [](PositionForm& f) { f.coefficients = {{"-2", model::M, ""}}; },
         "Коэффициент 1: «-2» — нужно число больше нуля.", nullptr},
        {"coefficient aimed at nothing", &rate, [](PositionForm& f) { f.coefficients = {{"1,2", 0, "п. 4"}}; },
         "Коэффициент 1: не указано, к чему он применяется (ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ).", nullptr},
        {"a material's consumption", &material, [](PositionForm& f) { f.perUnit = "0,98"; }, nullptr,
         [](const model::PositionData& e) { EXPECT_EQ(e.perUnit, d("0.98")); }},
        {"a consumption of letters", &material, [](PositionForm& f) { f.perUnit = "много"; },
         "Расход на единицу расценки: «много» — не число.", nullptr},
        {"a negative consumption", &material, [](PositionForm& f) { f.perUnit = "-1"; },
         "Расход на единицу расценки: «-1» — нужно число не меньше нуля.", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PositionForm f = positionForm(*c.kept, ',');
        c.edit(f);
        if (c.error) {
            try {
                readPositionForm(f, *c.kept, tables, model::Territory::Mprks);
                ADD_FAILURE() << "read";
            } catch (const Error& e) {
                EXPECT_STREQ(e.what(), c.error);
            }
        } else {
            c.check(readPositionForm(f, *c.kept, tables, model::Territory::Mprks));
        }
    }
    EXPECT_EQ(positionForm(material, ',').perUnit, "1,02");
    EXPECT_EQ(positionForm(rate, ',').perUnit, "");
}

TEST(PositionRows, WrittenAsTheEstimateWritesThem) {
    const model::NrSpTables& tables = model::nrSpTables();
    model::PositionData e;
    e.nrRow = e.spRow = "011.0";
    EXPECT_EQ(nrText(e, model::Territory::Ordinary, tables, ','), "Пр/812-011.0-1 Полы 112 %");
    EXPECT_EQ(spText(e, tables, ','), "Пр/774-011.0 65 %");
    e.nrPercent = d("110,5");  // kept: shown as kept
    EXPECT_EQ(nrText(e, model::Territory::Rks, tables, ','), "Пр/812-011.0-3 Полы 110,5 %");
    e.nrRow = "999.9";
    EXPECT_EQ(nrText(e, model::Territory::Ordinary, tables, ','), "Пр/812-999.9-1 (нет в таблицах)");
    e.spRow.clear();
    EXPECT_EQ(spText(e, tables, ','), "");
    EXPECT_EQ(rowChoiceText(*tables.find("011.0"), model::Territory::Ordinary, ','), "011.0 Полы — НР 112 %, СП 65 %");
}

}  // namespace
}  // namespace talvira::editing
