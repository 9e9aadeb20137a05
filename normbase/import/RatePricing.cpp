#include "normbase/import/RatePricing.h"

namespace talvira::normimport {

RateComponents priceRate(std::span<const RateLine> lines, std::optional<Money> wagePerHour, const DirectPrices* direct) {
    Exact materials, machines, machineWages;
    Dec7 workers, grades, machinists;
    bool hasWorkers = false;
    for (const RateLine& l : lines) {
        if (!l.quantity) continue;
        const Dec7 q = *l.quantity;
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
            machines += Exact(q) * l.price->price;
            machineWages += Exact(q) * l.price->machineWages;
        } else if (!l.abstract) {
            materials += Exact(q) * l.price->price;
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
    c.materials = materials.money();
    c.machines = machines.money();
    c.machineWages = machineWages.money();
    c.wages = wagePerHour ? roundMoney(c.labour, *wagePerHour) : Money();
    c.total = c.materials + c.machines + c.wages;
    return c;
}

}  // namespace talvira::normimport
