#pragma once
/**
 * The fixed content the demonstration norm base is drawn from: units of measure, collections,
 * the sections and tables of the small base with their work variants, material groups and
 * machine sections with their price ranges, and the steps of a long composition of work.
 * Internal to the generator (tools/demobase).
 */
#include <string>
#include <utility>
#include <vector>

namespace talvira::demobase {

/** Units of measure in ID order (the ID is the place in this list plus one). */
const std::vector<std::string>& units();
/** The IDs of the units of measure (1-based places in units()). */
enum Unit {
    uM3 = 1, u100M3 = 2, u1000M3Soil = 3, u100M3Soil = 4, uT = 5, uM2 = 6, u100M2 = 7, u1000Pcs = 8, uPcs = 9,
    uM3Masonry = 10, uKg = 11, uMachHour = 12, uManHour = 13, u100M3Concrete = 14, u100M2Cover = 15,
    u100M = 16, uM = 17, u10M2 = 18, u1TStruct = 19, u100Pcs = 20, u100M2Surface = 21, u100MPipe = 22,
    uSet = 23, u1000M3 = 24
};

/** How many base units (м3, м2, м, т, шт) one unit of measure holds: quantities per unit of a
 *  rate grow with it. */
double unitScale(int unit);

struct CollectionSeed {
    int id;
    const char* prefix;  // "ГЭСН", "ГЭСНм", ...
    int number;
    const char* name;
};

/** Collections of rates, in ID order. The first ones make the small base. */
const std::vector<CollectionSeed>& rateCollections();
/** The collections of the small base (46 is left without contents entries). */
const std::vector<int>& smallCollections();
inline constexpr int kEmptyCollection = 46;
inline constexpr int kMaterialsCollection = 900;
inline constexpr int kMachinesCollection = 901;

struct Variants {
    const char* pattern;  // "{}" takes the value
    std::vector<const char*> values;
};

struct TableSeed {
    const char* title;
    Variants variants;
    int unit;
    std::vector<int> materialGroups;  // group seeds the rate's materials come from
    std::vector<int> machineSections; // section seeds of its machines
    double labourPerUnit;             // typical man-hours per unit of measure
};

struct SectionSeed {
    const char* title;
    std::vector<TableSeed> tables;
};

/** A material group; its place in materialGroups() is its "group seed". */
struct MaterialGroupSeed {
    int code;  // 101 -> codes 101-NNNN
    const char* title;
    std::vector<std::pair<std::string, Variants>> items;  // name pattern with its variants
    int unit;
    double priceLo, priceHi;
};
const std::vector<MaterialGroupSeed>& materialGroups();
/** An unaccounted material without a price: the price is taken from the design. */
inline constexpr const char* kUnpricedMaterial = "Бетон тяжелый, класс по проекту";

struct MachineSectionSeed {
    int code;  // two digits of the machine code
    const char* title;
    std::vector<std::pair<std::string, Variants>> items;
    double priceLo, priceHi;
};
const std::vector<MachineSectionSeed>& machineSections();

/** Sections and tables of the collections of the small base; the large base cycles through
 *  all of them for its other collections. */
const std::vector<std::pair<int, std::vector<SectionSeed>>>& collectionContents();

/** Steps of a composition of work, appended to some rate names so that the base holds long
 *  names. */
const std::vector<const char*>& workSteps();

}  // namespace talvira::demobase
