#include "normbase/import/RatePricing.h"

#include "normbase/import/ExactNumber.h"

namespace talvira::normimport {

RateComponents priceRate(std::span<const RateLine> lines, std::optional<int64_t> wageKopecks, const DirectPrices* direct) {
    // Sums of quantity × kopecks, exact: seven plus two decimals.
    __int128 materials = 0, machines = 0, machineWages = 0;
    int64_t workers = 0, grades = 0, machinists = 0;
    bool hasWorkers = false;
    for (const RateLine& l : lines) {
        if (!l.quantity) continue;
        const int64_t q = *l.quantity;
        if (l.code == "1") {
            hasWorkers = true;
            workers += q;
        } else if (l.code.starts_with("1-")) {
            grades += q;
        } else if (l.code == "2") {
            machinists += q;
        }
        if (!l.price) continue;
        if (l.price->machine) {
            machines += __int128(q) * l.price->price;
            machineWages += __int128(q) * l.price->machineWages;
        } else if (!l.abstract) {
            materials += __int128(q) * l.price->price;
        }
    }
    RateComponents c;
    c.labour = hasWorkers ? workers : grades;
    c.machinistLabour = machinists;
    if (direct) {
        c.total = direct->total;
        c.materials = direct->materials;
        c.machines = direct->machines;
        c.machineWages = direct->machineWages;
        c.wages = direct->wages;
        return c;
    }
    c.materials = roundHalfUp(materials, kQuantityPlaces);
    c.machines = roundHalfUp(machines, kQuantityPlaces);
    c.machineWages = roundHalfUp(machineWages, kQuantityPlaces);
    c.wages = wageKopecks ? roundHalfUp(__int128(c.labour) * *wageKopecks, kQuantityPlaces) : 0;
    c.total = c.materials + c.machines + c.wages;
    return c;
}

}  // namespace talvira::normimport
