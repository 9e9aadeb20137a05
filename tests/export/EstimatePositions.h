#pragma once
/** The positions the export's tests lay out. */
#include "model/EstimateRows.h"

#include <vector>

namespace talvira::test {

/** Three positions: base wages total 1000, machinist wages total 200 (the third one has no
 *  quantity). */
inline std::vector<model::PositionRow> threePositions() {
    return {
        {"ТЕР01-01-001-01", "Разработка грунта экскаватором", "1000 м3", 2, 100, 250, 20, 10, 50, 1.5},
        {"ТЕР06-01-001-01", "Бетонная подготовка\nпод фундаменты", "100 м3", 4, 80, 125, 10, 5, 25, 2},
        {"С101-0001", "Бетон тяжёлый", "м3", 0, 500, 0, 500, 0, 0, 0},
    };
}

}  // namespace talvira::test
