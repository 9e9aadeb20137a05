#pragma once
/**
 * The price of a norm of the official base per unit of measure, from its resource lines, the
 * prices of its resources and the hourly wage: the one place of that rule. Money in kopecks,
 * quantities and labour with seven decimals, every amount exact and rounded half up once.
 *
 *   ResourcePrice dozer{true, 134838, 38665};
 *   RateLine lines[] = {{"1", 4590000000}, {"91.01.01-014", 20000000, false, &dozer}};
 *   RateComponents c = priceRate(lines, 30000);   // wages 45.9 × 300.00, machines 2 × 1348.38
 *
 * Caveats: nothing is looked up here; the caller pairs each line with its price (or none).
 */
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace talvira::normimport {

/** A resource's price per unit as its price file gives it, in kopecks. */
struct ResourcePrice {
    bool machine = false;      // a machine (per machine-hour) rather than a material
    int64_t price = 0;         // a material's Cost; a machine's SalaryMach + PriceCostWithoutSalary
    int64_t machineWages = 0;  // a machine's SalaryMach (the machinist's wage in its price)
};

/** One resource line of a norm. */
struct RateLine {
    std::string_view code;              // "1", "2", "1-100-34", "91.01.01-014", "01.7.03.04-0001"
    std::optional<int64_t> quantity;    // per unit of the norm, seven decimals; nothing: not a number ("П")
    bool abstract = false;              // a material left to the project: outside the norm's price
    const ResourcePrice* price = nullptr;  // nothing: no price file has the code
};

/** A ФЕР norm's unit price as its file gives it, in kopecks. */
struct DirectPrices {
    int64_t total = 0, wages = 0, machines = 0, machineWages = 0, materials = 0;
    bool operator==(const DirectPrices&) const = default;
};

/** What a norm costs per unit: money in kopecks, labour in seven-decimal units. */
struct RateComponents {
    int64_t total = 0, materials = 0, machines = 0, machineWages = 0, wages = 0;
    int64_t labour = 0;           // workers' labour, чел.-ч
    int64_t machinistLabour = 0;  // machinists' labour, чел.-ч
    bool operator==(const RateComponents&) const = default;
};

/** The components of a norm:
 *  - materials: Σ quantity × price over the priced materials not left to the project;
 *  - machines and their wages: Σ quantity × price and Σ quantity × machinist's wage over the
 *    priced machines;
 *  - labour: the lines of code "1", or when there is none the grades "1-…"; machinists'
 *    labour: the lines of code "2";
 *  - wages: labour × the hourly wage (none: 0); total: materials + machines + wages.
 *  A ФЕР norm that carries its own unit price (`direct`) takes its money from it as given;
 *  its labour still comes from its lines. A line whose quantity is not a number counts nowhere. */
RateComponents priceRate(std::span<const RateLine> lines, std::optional<int64_t> wageKopecks,
                         const DirectPrices* direct = nullptr);

}  // namespace talvira::normimport
