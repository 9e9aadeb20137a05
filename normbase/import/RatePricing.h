#pragma once
/**
 * The price of a norm of the official base per unit of measure, from its resource lines, the
 * prices of its resources and the hourly wage: the one place of that rule. Money in kopecks,
 * quantities and labour with seven decimals, every amount an exact sum rounded half up once.
 *
 *   ResourcePrice dozer{true, Money::fromKopecks(134838), Money::fromKopecks(38665)};
 *   RateLine lines[] = {{"1", Dec7::parse("45.9")}, {"91.01.01-014", Dec7::fromInt(2), false, &dozer}};
 *   RateComponents c = priceRate(lines, Money::fromKopecks(30000));  // wages 45.9 × 300.00, machines 2 × 1348.38
 *
 * Caveats: nothing is looked up here; the caller pairs each line with its price (or none).
 */
#include "common/Decimal.h"

#include <optional>
#include <span>
#include <string_view>

namespace talvira::normimport {

/** A resource's price per unit as its price file gives it. */
struct ResourcePrice {
    bool machine = false;  // a machine (per machine-hour) rather than a material
    Money price;           // a material's Cost; a machine's SalaryMach + PriceCostWithoutSalary
    Money machineWages;    // a machine's SalaryMach (the machinist's wage in its price)
};

/** One resource line of a norm. */
struct RateLine {
    std::string_view code;              // "1", "2", "1-100-34", "91.01.01-014", "01.7.03.04-0001"
    std::optional<Dec7> quantity;       // per unit of the norm; nothing: not a number ("П")
    bool abstract = false;              // a material left to the project: outside the norm's price
    const ResourcePrice* price = nullptr;  // nothing: no price file has the code
};

/** A ФЕР norm's unit price as its file gives it. */
struct DirectPrices {
    Money total, wages, machines, machineWages, materials;
    bool operator==(const DirectPrices&) const = default;
};

/** What a norm costs per unit. */
struct RateComponents {
    Money total, materials, machines, machineWages, wages;
    Dec7 labour;           // workers' labour, чел.-ч
    Dec7 machinistLabour;  // machinists' labour, чел.-ч
    bool operator==(const RateComponents&) const = default;
};

/** The components of a norm:
 *  - materials: Σ quantity × price over the priced materials not left to the project;
 *  - machines and their wages: Σ quantity × price and Σ quantity × machinist's wage over the
 *    priced machines;
 *  - labour: the lines of code "1", or when there is none the grades "1-…"; machinists'
 *    labour: the lines of code "2";
 *  - wages: labour × the hourly wage (none: 0); total: materials + machines + wages.
 *  A sum beyond the range is talvira::Error.
 *  A ФЕР norm that carries its own unit price (`direct`) takes its money from it as given;
 *  its labour still comes from its lines. A line whose quantity is not a number counts nowhere. */
RateComponents priceRate(std::span<const RateLine> lines, std::optional<Money> wagePerHour,
                         const DirectPrices* direct = nullptr);

}  // namespace talvira::normimport
