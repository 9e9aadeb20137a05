#include "export/ChargeBlock.h"

namespace talvira::xls {

const std::array<BlockRow, 14>& chargeBlockRows() {
    using K = BlockRowKind;
    using T = model::EstimateTexts;
    static const std::array<BlockRow, 14> rows = {{
        {0, K::Totals, "Итого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) ", nullptr},
        {1, K::ChargeOfWages, "Накладные расходы (от з/п основной и машиниста)", &T::overheadsPercent},
        {2, K::Running, "Итого", nullptr},
        {3, K::ChargeOfWages, "Плановые накопления (от з/п основной и машиниста)", &T::savingsPercent},
        {4, K::Running, "Итого", nullptr},
        {5, K::ChargeOfWages, "Стесненные условия (от з/п основной и машиниста)", &T::crampedPercent},
        {6, K::Running, "Итого", nullptr},
        {7, K::ChargeOfRunning, "Зимнее удорожание", &T::winterPercent},
        {8, K::Running, "Итого", nullptr},
        {9, K::ChargeOfRunning, "Затраты на временные здания и сооружения", &T::temporaryPercent},
        {10, K::Running, "Итого", nullptr},
        {11, K::Conversion, "С коэффициентом перехода в текущие цены", &T::currentPriceFactor},
        {12, K::ChargeOfRunning, "НДС", &T::vatPercent},
        {13, K::Running, "Итого с НДС", nullptr},
    }};
    return rows;
}

}  // namespace talvira::xls
