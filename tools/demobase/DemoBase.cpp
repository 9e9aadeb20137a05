#include "tools/demobase/DemoBase.h"

#include "common/Error.h"
#include "tools/demobase/ParadoxIndexWriter.h"
#include "storage/TableFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace talvira::demobase {

using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::Value;

namespace {

/* ---------------------------------------------------------------------------------------
 * Field layouts
 * ------------------------------------------------------------------------------------- */
constexpr FieldType I = FieldType::Long;
constexpr FieldType S = FieldType::Short;
constexpr FieldType N = FieldType::Number;
constexpr FieldType A = FieldType::Alpha;
constexpr FieldType TS = FieldType::Timestamp;

// The 82 fields of a rate, in their stored order.
const std::vector<FieldDef>& rabmatFields() {
    static const std::vector<FieldDef> f = {
        {"ID", I, 0}, {"NEW_ID", I, 0}, {"IDREESTR", I, 0}, {"ORDERVIEW", I, 0}, {"IDNAME", I, 0},
        {"ID_UNIQUE", I, 0}, {"IDTCH", I, 0}, {"TAB", A, 50}, {"TABU", A, 50}, {"RABMAT", I, 0},
        {"IDOGL", I, 0}, {"FRTCH", A, 255}, {"IDSOSTAV", I, 0}, {"ALTTAB", A, 255}, {"IDEDIZM", I, 0},
        {"IDALTEDIZM", I, 0}, {"EDIZMKOEF", N, 0}, {"COMMENT", A, 50}, {"FRESN", A, 25}, {"RAZRAD", N, 0},
        {"BA", N, 0}, {"BB", N, 0}, {"BC", N, 0}, {"BD", N, 0}, {"BE", N, 0}, {"BF", N, 0}, {"BG", N, 0},
        {"BH", N, 0}, {"BI", N, 0}, {"BJ", N, 0},
        {"PA", N, 0}, {"PB", N, 0}, {"PC", N, 0}, {"PD", N, 0}, {"PE", N, 0},
        {"MA", N, 0}, {"MB", N, 0}, {"MC", N, 0}, {"MD", N, 0}, {"ME", N, 0}, {"MF", N, 0}, {"MG", N, 0}, {"MH", N, 0},
        {"VRPZ", I, 0}, {"NTR", I, 0},
        {"BRUTTO", N, 0}, {"NETTO", N, 0}, {"VB", N, 0}, {"VN", N, 0},
        {"PREISK", A, 50}, {"POSPREISK", A, 50}, {"TKALK", A, 50}, {"IDPOSTAV", I, 0},
        {"MBETON", N, 0}, {"MRKBETON", A, 15}, {"VBETON", N, 0}, {"MMASHINE", A, 25}, {"PUNKTIND", A, 50},
        {"ISESN", I, 0}, {"IDWITHESN", I, 0}, {"CREATEDATE", TS, 0}, {"AUTHOR", A, 255}, {"IDPICTURE", I, 0},
        {"MI", N, 0}, {"MJ", N, 0}, {"MK", N, 0}, {"ML", N, 0}, {"MM", N, 0}, {"MN", N, 0},
        {"MO", N, 0}, {"MP", N, 0}, {"MQ", N, 0}, {"MR", N, 0}, {"MS", N, 0}, {"MT", N, 0},
        {"IDQUALIFIER", I, 0}, {"NEW_PAGE", I, 0}, {"ESN_NORM_GUID", A, 100}, {"TCARD_NORM_GUID", A, 100},
        {"IDABCOKP", I, 0}, {"ABCOKP_IDPODGROUP", I, 0}, {"STATUS", I, 0},
    };
    return f;
}

// Places of the rate fields the generator fills (0-based, in the order above).
enum RabmatField {
    rID = 0, rNEW_ID = 1, rIDREESTR = 2, rORDERVIEW = 3, rIDNAME = 4, rID_UNIQUE = 5, rTAB = 7, rTABU = 8,
    rRABMAT = 9, rIDOGL = 10, rALTTAB = 13, rIDEDIZM = 14, rEDIZMKOEF = 16, rFRESN = 18, rRAZRAD = 19,
    rBA = 20, rBB = 21, rBC = 22, rBD = 23, rBE = 24, rBF = 25, rBG = 26,
    rBRUTTO = 45, rNETTO = 46, rMBETON = 53, rMRKBETON = 54, rVBETON = 55, rMMASHINE = 56,
    rISESN = 58, rCREATEDATE = 60, rAUTHOR = 61, rNEW_PAGE = 76, rESN_NORM_GUID = 77, rSTATUS = 81,
    kRabmatFieldCount = 82
};

const std::vector<FieldDef>& resursFields() {
    static const std::vector<FieldDef> f = {
        {"ID", I, 0}, {"IDRAB", I, 0}, {"IDRES_RABMAT", I, 0}, {"IDRES_ABC_OKP", I, 0}, {"IDRES_TRUD", I, 0},
        {"KOLL", N, 0}, {"IDGROUP", I, 0}, {"IDPODGROUP", I, 0}, {"IDPODGROUPNORM", I, 0}, {"VIDNR", S, 0},
        {"UCH", S, 0}, {"RABMAT", I, 0}, {"IDREESTR", I, 0}, {"IDRES_REESTR", I, 0}, {"STATUS", I, 0},
    };
    return f;
}

enum ResursField {
    lID = 0, lIDRAB = 1, lIDRES_RABMAT = 2, lIDRES_TRUD = 4, lKOLL = 5, lVIDNR = 9, lUCH = 10,
    lRABMAT = 11, lIDREESTR = 12, lIDRES_REESTR = 13, lSTATUS = 14, kResursFieldCount = 15
};

/* ---------------------------------------------------------------------------------------
 * Deterministic choices
 * ------------------------------------------------------------------------------------- */
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {  // splitmix64
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /** Uniform in [lo, hi]. */
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * double(next() >> 11) / double(1ull << 53); }
    /** Log-uniform in [lo, hi]: quantities spread over orders of magnitude. */
    double logUniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
    bool chance(double p) { return uniform(0, 1) < p; }

private:
    uint64_t s_;
};

/** Day number of a date as the tables keep it: 0001-01-01 is day 1 (proleptic Gregorian). */
int32_t dayNumber(int y, int m, int d) {
    // Days from civil (H. Hinnant), shifted from 1970-01-01 to 0001-01-01 = 1.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return int32_t(era * 146097 + doe - 719468 + 719163);
}

double round2(double v) { return std::round(v * 100.0) / 100.0; }

/** Rounds a quantity to three significant decimals in the way norms print them. */
double roundQty(double v) {
    if (v >= 100) return std::round(v * 10) / 10;
    if (v >= 1) return std::round(v * 100) / 100;
    return std::round(v * 1000) / 1000 > 0 ? std::round(v * 1000) / 1000 : 0.001;
}

std::string fmt(const char* f, long a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a);
    return buf;
}
std::string fmt2(const char* f, long a, long b) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a, b);
    return buf;
}
/** Replaces the first "{}" of `pattern` with `value`. */
std::string fill(const std::string& pattern, const std::string& value) {
    auto p = pattern.find("{}");
    if (p == std::string::npos) return pattern;
    return pattern.substr(0, p) + value + pattern.substr(p + 2);
}

/* ---------------------------------------------------------------------------------------
 * Dictionaries
 * ------------------------------------------------------------------------------------- */
const std::vector<std::string>& units() {
    static const std::vector<std::string> u = {
        "м3", "100 м3", "1000 м3 грунта", "100 м3 грунта", "т", "м2", "100 м2", "1000 шт", "шт",
        "м3 кладки", "кг", "маш.-ч", "чел.-ч", "100 м3 бетона, бутобетона и железобетона в деле",
        "100 м2 покрытия", "100 м", "м", "10 м2", "1 т конструкций", "100 шт", "100 м2 поверхности",
        "100 м трубопровода", "компл.", "1000 м3",
    };
    return u;
}
// 1-based unit ids used below
enum Unit {
    uM3 = 1, u100M3 = 2, u1000M3Soil = 3, u100M3Soil = 4, uT = 5, uM2 = 6, u100M2 = 7, u1000Pcs = 8, uPcs = 9,
    uM3Masonry = 10, uKg = 11, uMachHour = 12, uManHour = 13, u100M3Concrete = 14, u100M2Cover = 15,
    u100M = 16, uM = 17, u10M2 = 18, u1TStruct = 19, u100Pcs = 20, u100M2Surface = 21, u100MPipe = 22,
    uSet = 23, u1000M3 = 24
};

/** How many base units (м3, м2, м, т, шт) one unit of measure holds: quantities per unit of a
 *  rate grow with it. */
double unitScale(int unit) {
    switch (unit) {
    case u100M3: case u100M3Soil: case u100M2: case u100M3Concrete: case u100M2Cover: case u100M:
    case u100Pcs: case u100M2Surface: case u100MPipe: return 100;
    case u1000M3Soil: case u1000Pcs: case u1000M3: return 1000;
    case u10M2: return 10;
    default: return 1;
    }
}

struct CollectionSeed {
    int id;
    const char* prefix;  // "ГЭСН", "ГЭСНм", ...
    int number;
    const char* name;
};

// Collections of rates, in ID order. The first ones make the small base.
const std::vector<CollectionSeed>& rateCollections() {
    static const std::vector<CollectionSeed> c = {
        {1, "ГЭСН", 1, "Земляные работы"}, {2, "ГЭСН", 2, "Горновскрышные работы"},
        {3, "ГЭСН", 3, "Буровзрывные работы"}, {4, "ГЭСН", 4, "Скважины"},
        {5, "ГЭСН", 5, "Свайные работы, опускные колодцы, закрепление грунтов"},
        {6, "ГЭСН", 6, "Бетонные и железобетонные конструкции монолитные"},
        {7, "ГЭСН", 7, "Бетонные и железобетонные конструкции сборные"},
        {8, "ГЭСН", 8, "Конструкции из кирпича и блоков"}, {9, "ГЭСН", 9, "Строительные металлические конструкции"},
        {10, "ГЭСН", 10, "Деревянные конструкции"}, {11, "ГЭСН", 11, "Полы"}, {12, "ГЭСН", 12, "Кровли"},
        {13, "ГЭСН", 13, "Защита строительных конструкций и оборудования от коррозии"},
        {14, "ГЭСН", 14, "Конструкции в сельском строительстве"}, {15, "ГЭСН", 15, "Отделочные работы"},
        {16, "ГЭСН", 16, "Трубопроводы внутренние"}, {17, "ГЭСН", 17, "Водопровод и канализация - внутренние устройства"},
        {18, "ГЭСН", 18, "Отопление - внутренние устройства"}, {19, "ГЭСН", 19, "Газоснабжение - внутренние устройства"},
        {20, "ГЭСН", 20, "Вентиляция и кондиционирование воздуха"},
        {21, "ГЭСН", 21, "Временные сборно-разборные здания и сооружения"},
        {22, "ГЭСН", 22, "Водопровод - наружные сети"}, {23, "ГЭСН", 23, "Канализация - наружные сети"},
        {24, "ГЭСН", 24, "Теплоснабжение и газопроводы - наружные сети"},
        {25, "ГЭСН", 25, "Магистральные и промысловые трубопроводы"}, {26, "ГЭСН", 26, "Теплоизоляционные работы"},
        {27, "ГЭСН", 27, "Автомобильные дороги"}, {28, "ГЭСН", 28, "Железные дороги"},
        {29, "ГЭСН", 29, "Тоннели и метрополитены"}, {30, "ГЭСН", 30, "Мосты и трубы"}, {31, "ГЭСН", 31, "Аэродромы"},
        {32, "ГЭСН", 32, "Трамвайные пути"}, {33, "ГЭСН", 33, "Линии электропередачи"},
        {34, "ГЭСН", 34, "Сооружения связи, радиовещания и телевидения"}, {35, "ГЭСН", 35, "Горнопроходческие работы"},
        {36, "ГЭСН", 36, "Земляные конструкции гидротехнических сооружений"},
        {37, "ГЭСН", 37, "Бетонные и железобетонные конструкции гидротехнических сооружений"},
        {38, "ГЭСН", 38, "Каменные конструкции гидротехнических сооружений"},
        {39, "ГЭСН", 39, "Металлические конструкции гидротехнических сооружений"},
        {40, "ГЭСН", 40, "Деревянные конструкции гидротехнических сооружений"},
        {41, "ГЭСН", 41, "Гидроизоляционные работы в гидротехнических сооружениях"},
        {42, "ГЭСН", 42, "Берегоукрепительные работы"}, {43, "ГЭСН", 43, "Судовозные пути стапелей и слипов"},
        {44, "ГЭСН", 44, "Подводно-строительные (водолазные) работы"}, {45, "ГЭСН", 45, "Промышленные печи и трубы"},
        {46, "ГЭСН", 46, "Работы при реконструкции зданий и сооружений"},
        {47, "ГЭСН", 47, "Озеленение. Защитные лесонасаждения"},
        {101, "ГЭСНм", 1, "Металлообрабатывающее оборудование"}, {102, "ГЭСНм", 2, "Грузоподъемное оборудование"},
        {103, "ГЭСНм", 3, "Дробильно-размольное, сортировочное и обогатительное оборудование"},
        {104, "ГЭСНм", 4, "Оборудование для очистки газов"}, {105, "ГЭСНм", 5, "Весовое оборудование"},
        {106, "ГЭСНм", 6, "Теплосиловое оборудование"}, {107, "ГЭСНм", 7, "Компрессорные машины, насосы и вентиляторы"},
        {108, "ГЭСНм", 8, "Электротехнические установки"}, {109, "ГЭСНм", 9, "Электрические машины"},
        {110, "ГЭСНм", 10, "Оборудование связи"},
        {111, "ГЭСНм", 11, "Приборы, средства автоматизации и вычислительной техники"},
        {112, "ГЭСНм", 12, "Технологические трубопроводы"}, {113, "ГЭСНм", 13, "Оборудование атомных электрических станций"},
        {114, "ГЭСНм", 14, "Оборудование прокатных производств"}, {115, "ГЭСНм", 15, "Оборудование для очистки и подготовки воды"},
        {116, "ГЭСНм", 16, "Оборудование металлургических предприятий"}, {117, "ГЭСНм", 17, "Оборудование горных предприятий"},
        {118, "ГЭСНм", 18, "Оборудование предприятий нефтяной и газовой промышленности"},
        {119, "ГЭСНм", 19, "Оборудование предприятий химической промышленности"},
        {120, "ГЭСНм", 20, "Оборудование предприятий промышленности строительных материалов"},
        {121, "ГЭСНм", 21, "Оборудование предприятий лесной и деревообрабатывающей промышленности"},
        {122, "ГЭСНм", 22, "Оборудование предприятий легкой промышленности"},
        {123, "ГЭСНм", 23, "Оборудование предприятий пищевой промышленности"},
        {124, "ГЭСНм", 24, "Оборудование театрально-зрелищных предприятий"},
        {125, "ГЭСНм", 25, "Оборудование элеваторов и предприятий хлебопродуктов"},
        {126, "ГЭСНм", 26, "Оборудование сельскохозяйственных предприятий"},
        {127, "ГЭСНм", 27, "Оборудование предприятий бытового обслуживания"},
        {137, "ГЭСНм", 37, "Оборудование общего назначения"}, {138, "ГЭСНм", 38, "Изготовление технологических металлических конструкций"},
        {139, "ГЭСНм", 39, "Контрольно-измерительные приборы и средства автоматизации"},
        {251, "ГЭСНр", 51, "Земляные работы"}, {252, "ГЭСНр", 52, "Фундаменты"}, {253, "ГЭСНр", 53, "Стены"},
        {254, "ГЭСНр", 54, "Перекрытия"}, {255, "ГЭСНр", 55, "Перегородки"}, {256, "ГЭСНр", 56, "Проемы"},
        {257, "ГЭСНр", 57, "Полы"}, {258, "ГЭСНр", 58, "Крыши, кровли"}, {259, "ГЭСНр", 59, "Лестницы, крыльца"},
        {260, "ГЭСНр", 60, "Печные работы"}, {261, "ГЭСНр", 61, "Штукатурные работы"}, {262, "ГЭСНр", 62, "Малярные работы"},
        {263, "ГЭСНр", 63, "Стекольные, обойные и облицовочные работы"}, {264, "ГЭСНр", 64, "Лепные работы"},
        {265, "ГЭСНр", 65, "Внутренние санитарно-технические работы"}, {266, "ГЭСНр", 66, "Наружные инженерные сети"},
        {267, "ГЭСНр", 67, "Электромонтажные работы"}, {268, "ГЭСНр", 68, "Благоустройство"},
        {269, "ГЭСНр", 69, "Прочие ремонтно-строительные работы"},
        {301, "ГЭСНп", 1, "Электротехнические устройства"}, {302, "ГЭСНп", 2, "Автоматизированные системы управления"},
        {303, "ГЭСНп", 3, "Системы вентиляции и кондиционирования воздуха"},
        {304, "ГЭСНп", 4, "Подъемно-транспортное оборудование"}, {305, "ГЭСНп", 5, "Холодильные и компрессорные установки"},
    };
    return c;
}
// The small base: these collections of the list above (46 is left without contents entries).
const std::vector<int> kSmallCollections = {1, 6, 8, 11, 12, 15, 46};
constexpr int kEmptyCollection = 46;
constexpr int kMaterialsCollection = 900;
constexpr int kMachinesCollection = 901;

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

// Material groups (seeds); index into this list is the "group seed".
struct MaterialGroupSeed {
    int code;  // 101 -> codes 101-NNNN
    const char* title;
    std::vector<std::pair<std::string, Variants>> items;  // name pattern with its variants
    int unit;
    double priceLo, priceHi;
};

const std::vector<MaterialGroupSeed>& materialGroups() {
    static const std::vector<MaterialGroupSeed> g = {
        {101, "Материалы для общестроительных работ",
         {{"Гвозди строительные", {"{}", {""}}}, {"Клей \"Бустилат\"", {"{}", {""}}},
          {"Олифа натуральная", {"{}", {""}}}, {"Битумы нефтяные строительные марки {}", {"", {"БН-70/30", "БН-90/10"}}},
          {"Пакля пропитанная", {"{}", {""}}}, {"Проволока горячекатаная в мотках, диаметром {} мм", {"", {"6,3-6,5", "8"}}},
          {"Электроды диаметром {} мм Э42", {"", {"4", "5", "6"}}}, {"Мастика битумная кровельная горячая", {"{}", {""}}}},
         uT, 800, 12000},
        {102, "Лесоматериалы",
         {{"Доски обрезные хвойных пород длиной 4-6,5 м, шириной 75-150 мм, толщиной {} мм, III сорта", {"", {"25", "32-40", "44 и более"}}},
          {"Брусья обрезные хвойных пород длиной 4-6,5 м, шириной 75-150 мм, толщиной {} мм, II сорта", {"", {"100-125", "150 и более"}}},
          {"Бруски обрезные хвойных пород длиной 4-6,5 м, шириной 75-150 мм, толщиной {} мм, III сорта", {"", {"40-75", "100 и более"}}},
          {"Лесоматериалы круглые хвойных пород для строительства диаметром {} см", {"", {"14-24", "26 и более"}}}},
         uM3, 600, 2200},
        {204, "Арматура и закладные детали",
         {{"Горячекатаная арматурная сталь периодического профиля класса А-III, диаметром {} мм", {"", {"10", "12", "14", "16", "18", "20", "22", "25"}}},
          {"Горячекатаная арматурная сталь гладкая класса А-I, диаметром {} мм", {"", {"6", "8", "10", "12"}}},
          {"Детали закладные и накладные изготовленные {}", {"", {"без применения сварки", "с применением сварки"}}}},
         uT, 5500, 9500},
        {401, "Бетоны",
         {{"Бетон тяжелый, крупность заполнителя 20 мм, класс {}", {"", {"В7,5 (М100)", "В12,5 (М150)", "В15 (М200)", "В20 (М250)", "В22,5 (М300)", "В25 (М350)", "В30 (М400)"}}},
          {"Бетон тяжелый, крупность заполнителя 40 мм, класс {}", {"", {"В7,5 (М100)", "В15 (М200)", "В22,5 (М300)"}}}},
         uM3, 480, 780},
        {402, "Растворы",
         {{"Раствор готовый кладочный цементный марки {}", {"", {"50", "75", "100", "150", "200"}}},
          {"Раствор готовый отделочный тяжелый, цементно-известковый {}", {"", {"1:1:6", "1:2:8"}}}},
         uM3, 420, 620},
        {404, "Изделия керамические",
         {{"Кирпич керамический одинарный, размером 250х120х65 мм, марка {}", {"", {"75", "100", "125", "150"}}},
          {"Плитки керамические глазурованные для внутренней облицовки стен {}", {"", {"гладкие", "рельефные"}}}},
         u1000Pcs, 900, 2400},
        {408, "Материалы природные и их заменители",
         {{"Песок природный для строительных работ {}", {"", {"мелкий", "средний", "крупный"}}},
          {"Щебень из природного камня для строительных работ марка {}, фракция 20-40 мм", {"", {"800", "1000", "1200"}}},
          {"Гравий для строительных работ марка {}, фракция 5(3)-10 мм", {"", {"Др.8", "Др.12"}}}},
         uM3, 40, 160},
        {411, "Вода", {{"Вода", {"{}", {""}}}}, uM3, 2.2, 2.7},
        {111, "Материалы для отделочных работ",
         {{"Линолеум поливинилхлоридный на теплоизолирующей подоснове марки ПР-ВТ, толщиной {} мм", {"", {"1,6", "2", "3"}}},
          {"Краски масляные жидкотертые цветные {}", {"", {"МА-15", "МА-025"}}},
          {"Шпатлевка клеевая", {"{}", {""}}}, {"Грунтовка глифталевая ГФ-021", {"{}", {""}}}},
         uKg, 8, 60},
        {201, "Металлические конструкции",
         {{"Конструкции стальные {}", {"", {"колонн", "балок", "связей", "ферм"}}},
          {"Сталь листовая горячекатаная марки Ст3 толщиной {} мм", {"", {"4-6", "6-8", "10-12"}}}},
         uT, 6000, 14000},
        {103, "Трубы и фасонные части",
         {{"Трубы стальные электросварные прямошовные наружным диаметром {} мм, толщина стенки 3,5 мм", {"", {"57", "76", "89", "108"}}},
          {"Трубы напорные из полиэтилена наружным диаметром {} мм", {"", {"32", "63", "110", "160"}}}},
         u100M, 400, 9000},
        {113, "Материалы кровельные и изоляционные",
         {{"Рубероид кровельный с пылевидной посыпкой марки {}", {"", {"РКП-350б", "РПП-300"}}},
          {"Плиты теплоизоляционные из минеральной ваты на синтетическом связующем марки {}", {"", {"М-75", "М-125"}}}},
         u100M2, 300, 2200},
    };
    return g;
}
// An unaccounted material without a price: the price is taken from the design.
const char* kUnpricedMaterial = "Бетон тяжелый, класс по проекту";

struct MachineSectionSeed {
    int code;  // two digits of the machine code
    const char* title;
    std::vector<std::pair<std::string, Variants>> items;
    double priceLo, priceHi;
};

const std::vector<MachineSectionSeed>& machineSections() {
    static const std::vector<MachineSectionSeed> m = {
        {2, "Краны",
         {{"Краны на автомобильном ходу при работе на других видах строительства {} т", {"", {"6,3", "10", "16", "25"}}},
          {"Краны башенные при работе на других видах строительства {} т", {"", {"5", "8", "12,5"}}}},
         80, 260},
        {6, "Экскаваторы",
         {{"Экскаваторы одноковшовые дизельные на гусеничном ходу при работе на других видах строительства {} м3", {"", {"0,25", "0,4", "0,5", "0,65", "1"}}},
          {"Экскаваторы одноковшовые дизельные на пневмоколесном ходу при работе на других видах строительства {} м3", {"", {"0,25", "0,4"}}}},
         60, 160},
        {7, "Бульдозеры",
         {{"Бульдозеры при работе на других видах строительства {}", {"", {"59 кВт (80 л.с.)", "79 кВт (108 л.с.)", "96 кВт (130 л.с.)"}}}},
         50, 110},
        {11, "Катки",
         {{"Катки дорожные самоходные гладкие {} т", {"", {"5", "8", "13"}}},
          {"Катки на пневмоколесном ходу {} т", {"", {"18", "30"}}}},
         30, 140},
        {13, "Компрессоры",
         {{"Компрессоры передвижные с двигателем внутреннего сгорания давлением до 686 кПа (7 ат), {} м3/мин", {"", {"2,2", "5", "10"}}}},
         40, 120},
        {27, "Вибраторы и бетононасосы",
         {{"Вибраторы {}", {"", {"глубинные", "поверхностные"}}},
          {"Бетононасосы производительностью {} м3/ч", {"", {"32", "65"}}}},
         2, 180},
        {33, "Сварочное оборудование",
         {{"Аппараты сварочные для ручной дуговой сварки, сварочный ток до {} А", {"", {"315", "500"}}},
          {"Преобразователи сварочные с номинальным сварочным током {} А", {"", {"315-500"}}}},
         1.5, 15},
        {40, "Автомобили",
         {{"Автомобили бортовые, грузоподъемность до {} т", {"", {"5", "8", "15"}}},
          {"Автомобили-самосвалы, грузоподъемность до {} т", {"", {"7", "10", "15"}}}},
         60, 120},
    };
    return m;
}

// Sections and tables of the collections of the small base; the large base cycles through
// all of them for its other collections.
const std::vector<std::pair<int, std::vector<SectionSeed>>>& collectionContents() {
    // material group seeds: 0 общестрой, 1 лес, 2 арматура, 3 бетон, 4 раствор, 5 керамика,
    // 6 нерудные, 7 вода, 8 отделка, 9 металл, 10 трубы, 11 кровля
    // machine section seeds: 0 краны, 1 экскаваторы, 2 бульдозеры, 3 катки, 4 компрессоры,
    // 5 вибраторы, 6 сварка, 7 автомобили
    static const std::vector<std::pair<int, std::vector<SectionSeed>>> c = {
        {1, {
            {"Механизированные земляные работы", {
                {"Разработка грунта с погрузкой на автомобили-самосвалы экскаваторами с ковшом вместимостью 0,5 (0,5-0,63) м3",
                 {"группа грунтов {}", {"1", "2", "3", "4", "5", "6"}}, u1000M3Soil, {}, {1, 2}, 6},
                {"Разработка грунта в отвал экскаваторами «драглайн» или «обратная лопата» с ковшом вместимостью 0,5 (0,5-0,63) м3",
                 {"группа грунтов {}", {"1", "2", "3", "4", "5", "6"}}, u1000M3Soil, {}, {1, 2}, 5},
                {"Разработка грунта бульдозерами мощностью 59 кВт (80 л.с.) с перемещением грунта до 10 м",
                 {"группа грунтов {}", {"1", "2", "3"}}, u1000M3Soil, {}, {2}, 0},
                {"Уплотнение грунта пневматическими трамбовками",
                 {"группа грунтов {}", {"1-2", "3"}}, u100M3Soil, {6, 7}, {3, 4}, 14}}},
            {"Земляные работы, выполняемые ручным способом", {
                {"Разработка грунта вручную в траншеях глубиной до 2 м без креплений с откосами",
                 {"группа грунтов {}", {"1", "2", "3", "4"}}, u100M3Soil, {}, {}, 154},
                {"Засыпка вручную траншей, пазух котлованов и ям",
                 {"группа грунтов {}", {"1", "2", "3"}}, u100M3Soil, {}, {}, 90},
                {"Устройство основания под фундаменты",
                 {"{}", {"песчаного", "щебеночного", "гравийного"}}, uM3, {6, 7}, {7}, 1.7}}}}},
        {6, {
            {"Бетонные и железобетонные конструкции", {
                {"Устройство бетонной подготовки", {"{}", {"из бетона", "из бетона с уплотнением вибраторами"}}, u100M3Concrete, {3, 1, 0}, {0, 5, 7}, 180},
                {"Устройство железобетонных фундаментов общего назначения", {"объемом до {} м3", {"5", "10", "25", "50", "100"}}, u100M3Concrete, {3, 2, 1, 0, 7}, {0, 5, 6, 7}, 420},
                {"Устройство железобетонных стен и перегородок", {"высотой до 3 м, толщиной {} мм", {"100", "150", "200", "300"}}, u100M3Concrete, {3, 2, 1, 0}, {0, 5, 6}, 1400},
                {"Устройство перекрытий безбалочных", {"толщиной до {} мм на высоте от опорной площади до 6 м", {"200", "300"}}, u100M3Concrete, {3, 2, 1, 0}, {0, 5, 6, 7}, 1100},
                {"Устройство колонн в деревянной опалубке", {"высотой до 4 м, периметром до {} м", {"1", "2", "3"}}, u100M3Concrete, {3, 2, 1}, {0, 5, 6}, 1900}}},
            {"Конструкции гидротехнических сооружений", {}},
            {"Монолитные конструкции в жилищно-гражданском строительстве", {
                {"Устройство лестничных площадок и маршей", {"{}", {"прямых", "криволинейных"}}, u100M3Concrete, {3, 2, 1, 0}, {0, 5}, 2300},
                {"Устройство поясов в опалубке", {"{}", {"с креплением болтами", "на сварке"}}, u100M3Concrete, {3, 2, 1}, {0, 5, 6}, 1600}}}}},
        {8, {
            {"Конструкции из кирпича и блоков", {
                {"Кладка стен кирпичных наружных", {"{} при высоте этажа до 4 м", {"простых", "средней сложности", "сложных"}}, uM3Masonry, {5, 4, 7}, {0, 7}, 5.4},
                {"Кладка стен кирпичных внутренних", {"при высоте этажа до {} м", {"4", "6"}}, uM3Masonry, {5, 4, 7}, {0}, 4.6},
                {"Кладка перегородок из кирпича", {"армированных толщиной в {} кирпича", {"1/4", "1/2"}}, u100M2, {5, 4, 2, 0}, {0}, 120},
                {"Гидроизоляция стен, фундаментов", {"{}", {"горизонтальная цементная с жидким стеклом", "боковая обмазочная битумная в 2 слоя"}}, u100M2Surface, {0, 4, 11}, {}, 40}}},
            {"Конструкции из блоков и камней", {
                {"Кладка стен из легкобетонных камней без облицовки", {"при высоте этажа до {} м", {"4", "6"}}, uM3Masonry, {4, 7}, {0}, 4.2}}}}},
        {11, {
            {"Основания и подстилающие слои", {
                {"Устройство подстилающих слоев", {"{}", {"песчаных", "щебеночных", "гравийных", "бетонных"}}, uM3, {6, 3, 7}, {3, 7}, 1.9},
                {"Уплотнение грунта", {"{}", {"щебнем", "гравием"}}, u100M2, {6}, {3}, 16}}},
            {"Полы", {
                {"Устройство стяжек", {"{} толщиной 20 мм", {"цементных", "бетонных", "легкобетонных"}}, u100M2, {4, 3, 7}, {5}, 39},
                {"Устройство покрытий из линолеума", {"{}", {"на клее \"Бустилат\"", "на мастике", "насухо"}}, u100M2Cover, {8, 0}, {}, 41},
                {"Устройство покрытий из керамических плиток", {"{}", {"на цементном растворе", "на клее", "в помещениях более 10 м2"}}, u100M2Cover, {5, 4, 0, 7}, {}, 140},
                {"Устройство покрытий дощатых", {"толщиной {} мм", {"28", "36"}}, u100M2Cover, {1, 0}, {}, 60}}}}},
        {12, {
            {"Кровли", {
                {"Устройство кровель плоских из наплавляемых материалов", {"в {} слоя", {"два", "три"}}, u100M2, {11, 0}, {0, 4}, 29},
                {"Устройство кровель из рулонных материалов", {"в {} слоя на битумной мастике", {"два", "три", "четыре"}}, u100M2, {11, 0}, {0}, 26},
                {"Устройство выравнивающих стяжек", {"{}", {"цементно-песчаных толщиной 15 мм", "асфальтовых толщиной 15 мм"}}, u100M2, {4, 7}, {5}, 20},
                {"Утепление покрытий", {"плитами {}", {"из минеральной ваты", "из пенопласта"}}, u100M2, {11, 0}, {0}, 38}}}}},
        {15, {
            {"Облицовка поверхностей природными и искусственными камнями", {
                {"Облицовка стен керамическими плитками", {"{}", {"по кирпичу и бетону", "по дереву"}}, u100M2Surface, {5, 4, 7}, {}, 200}}},
            {"Штукатурные работы", {
                {"Штукатурка поверхностей внутри здания цементно-известковым раствором", {"{}", {"простая по стенам", "улучшенная по стенам", "высококачественная по стенам"}}, u100M2, {4, 0, 7}, {5}, 70},
                {"Сплошное выравнивание внутренних поверхностей", {"{}", {"из сухих растворных смесей толщиной до 10 мм", "толщиной до 20 мм"}}, u100M2, {4, 8, 7}, {}, 56}}},
            {"Малярные работы", {
                {"Окраска масляными составами по штукатурке и сборным конструкциям", {"{}", {"стен", "потолков", "стен подготовленных под окраску"}}, u100M2, {8}, {}, 43},
                {"Улучшенная окраска поливинилацетатными водоэмульсионными составами", {"{}", {"по штукатурке стен", "по штукатурке потолков"}}, u100M2, {8, 0}, {}, 37}}}}},
    };
    return c;
}

/* ---------------------------------------------------------------------------------------
 * The plan: collections, contents entries, resources, rates
 * ------------------------------------------------------------------------------------- */
struct Resource {
    int32_t id = 0;
    int32_t nameId = 0;
    int32_t oglId = 0;
    int32_t collection = 0;
    int32_t unit = 0;
    int kind = 2;              // RABMAT: 2 material, 3 machine
    int seed = 0;              // material group seed / machine section seed
    std::optional<double> price;  // BB for materials, BA for machines
    double wages = 0;          // machines: BD, operators' wages per hour
    std::string code;
    std::string name;
};

struct PlannedTable {
    int32_t oglId = 0;
    int32_t collection = 0;
    const CollectionSeed* seed = nullptr;
    const TableSeed* table = nullptr;
    std::string code;  // "01-01-003"
    std::string title; // without "Таблица ..."
    int rates = 0;
    int variantShift = 0;
};

struct OglEntry {
    int32_t id;
    int32_t collection;
    std::string name;
};

struct Plan {
    std::vector<std::pair<int32_t, std::string>> collections;
    std::vector<OglEntry> ogl;
    std::vector<PlannedTable> tables;
    std::vector<Resource> resources;
    // resources by seed: indexes into `resources`
    std::vector<std::vector<uint32_t>> materialsBySeed;
    std::vector<std::vector<uint32_t>> machinesBySeed;
    uint32_t rateCount = 0;
};

struct ScaleParams {
    int materialsPerGroup;   // per group (large: many groups per seed)
    int materialGroups;      // number of material groups written
    int machinesPerSection;
    int machineSections;
    int totalRates;
    int linesLo, linesHi;    // resource lines per rate
    double noLines;          // share of rates without lines
    bool allCollections;
};

ScaleParams paramsFor(DemoScale s) {
    if (s == DemoScale::Small) return {0, 12, 0, 8, 300, 3, 10, 0.06, false};
    return {1000, 90, 1250, 8, 50000, 12, 37, 0.02, true};
}

std::string collectionTitle(const CollectionSeed& c) {
    return std::string(c.prefix) + " " + fmt("%02ld", c.number) + ". " + c.name;
}

std::string codePrefix(const CollectionSeed& c) {
    std::string p = c.prefix;  // "ГЭСН", "ГЭСНм", ...
    std::string letter = p.size() > std::string("ГЭСН").size() ? p.substr(std::string("ГЭСН").size()) : "";
    return letter + fmt("%02ld", c.number);
}

void planResources(Plan& plan, const ScaleParams& sp, Rng& rng, int32_t& nextRabmatId, int32_t& nextOglId) {
    const auto& groups = materialGroups();
    plan.materialsBySeed.assign(groups.size(), {});
    plan.machinesBySeed.assign(machineSections().size(), {});
    bool unpricedDone = false;

    // Materials: groups of the ФССЦ collection. The large base repeats the group seeds with
    // running group codes (101, 102, ...); the small one keeps the seeds' own codes.
    for (int g = 0; g < sp.materialGroups; ++g) {
        const int seedIdx = g % int(groups.size());
        const MaterialGroupSeed& gs = groups[size_t(seedIdx)];
        const int groupCode = sp.materialsPerGroup ? 101 + g : gs.code;
        const int32_t oglId = nextOglId++;
        plan.ogl.push_back({oglId, kMaterialsCollection, "Группа " + std::to_string(groupCode) + ". " + gs.title});
        std::vector<std::string> names;
        for (auto& [pattern, var] : gs.items)
            for (auto* v : var.values) names.push_back(fill(pattern, v));
        const int count = sp.materialsPerGroup ? sp.materialsPerGroup : int(names.size());
        for (int i = 0; i < count; ++i) {
            Resource r;
            r.id = nextRabmatId++;
            r.oglId = oglId;
            r.collection = kMaterialsCollection;
            r.kind = 2;
            r.seed = seedIdx;
            r.unit = gs.unit;
            r.name = names[size_t(i) % names.size()];
            if (i >= int(names.size())) r.name += ", исполнение " + std::to_string(i / int(names.size()) + 1);
            r.code = fmt2("%03ld-%04ld", groupCode, sp.materialsPerGroup ? i + 1 : (i + 1) * 11);
            r.price = round2(rng.logUniform(gs.priceLo, gs.priceHi));
            plan.materialsBySeed[size_t(seedIdx)].push_back(uint32_t(plan.resources.size()));
            plan.resources.push_back(std::move(r));
        }
        if (!unpricedDone && seedIdx == 3) {  // concrete: one grade "по проекту" has no price
            Resource r;
            r.id = nextRabmatId++;
            r.oglId = oglId;
            r.collection = kMaterialsCollection;
            r.kind = 2;
            r.seed = seedIdx;
            r.unit = uM3;
            r.name = kUnpricedMaterial;
            r.code = fmt("%03ld-9999", groupCode);
            plan.materialsBySeed[size_t(seedIdx)].push_back(uint32_t(plan.resources.size()));
            plan.resources.push_back(std::move(r));
            unpricedDone = true;
        }
    }

    // Machines: sections of the ФСЭМ collection.
    const auto& sections = machineSections();
    for (int s = 0; s < sp.machineSections; ++s) {
        const MachineSectionSeed& ms = sections[size_t(s) % sections.size()];
        int32_t oglId = nextOglId++;
        plan.ogl.push_back({oglId, kMachinesCollection, "Раздел " + fmt("%02ld", ms.code) + ". " + ms.title});
        std::vector<std::string> names;
        for (auto& [pattern, var] : ms.items)
            for (auto* v : var.values) names.push_back(fill(pattern, v));
        int count = sp.machinesPerSection ? sp.machinesPerSection : int(names.size());
        for (int i = 0; i < count; ++i) {
            Resource r;
            r.id = nextRabmatId++;
            r.oglId = oglId;
            r.collection = kMachinesCollection;
            r.kind = 3;
            r.seed = s % int(sections.size());
            r.unit = uMachHour;
            r.name = names[size_t(i) % names.size()];
            if (i >= int(names.size())) r.name += ", модель " + std::to_string(i / int(names.size()) + 1);
            r.code = fmt2("%02ld%04ld", ms.code, long(i + 1) * 101 % 10000);
            double price = round2(rng.logUniform(ms.priceLo, ms.priceHi));
            r.price = price;
            r.wages = round2(std::min(price * 0.4, rng.uniform(5, 25)));
            plan.machinesBySeed[size_t(r.seed)].push_back(uint32_t(plan.resources.size()));
            plan.resources.push_back(std::move(r));
        }
    }
}

Plan makePlan(DemoScale scale, Rng& rng) {
    Plan plan;
    const ScaleParams sp = paramsFor(scale);
    const auto& contents = collectionContents();

    std::vector<const CollectionSeed*> cols;
    for (auto& c : rateCollections())
        if (sp.allCollections || std::find(kSmallCollections.begin(), kSmallCollections.end(), c.id) != kSmallCollections.end())
            cols.push_back(&c);

    // All seed sections in one list, cycled by the collections without their own contents.
    std::vector<std::pair<const SectionSeed*, int>> allSections;  // (section, from collection)
    for (auto& [cid, secs] : contents)
        for (auto& s : secs) allSections.push_back({&s, cid});

    int32_t nextOgl = 1;
    const int withRates = int(std::count_if(cols.begin(), cols.end(), [](auto* c) { return c->id != kEmptyCollection; }));
    int ratesLeftTotal = sp.totalRates;
    int colIndex = 0;
    size_t cursor = 0;
    for (const CollectionSeed* c : cols) {
        plan.collections.push_back({c->id, collectionTitle(*c)});
        if (c->id == kEmptyCollection) continue;  // a collection without contents entries
        const std::vector<SectionSeed>* own = nullptr;
        for (auto& [cid, secs] : contents)
            if (cid == c->id) own = &secs;
        const int quota = ratesLeftTotal / (withRates - colIndex);
        ++colIndex;
        int written = 0;
        int sectionNo = 0;
        // The collection's own sections first; then the small base repeats them, the large
        // base goes on through the sections of all collections.
        while (written < quota && sectionNo < 5000) {
            const SectionSeed* sec;
            int round;
            if (own && (sectionNo < int(own->size()) || !sp.allCollections)) {
                sec = &(*own)[size_t(sectionNo) % own->size()];
                round = sectionNo / int(own->size());
            } else {
                sec = allSections[cursor % allSections.size()].first;
                round = int(cursor / allSections.size()) + 1;
                ++cursor;
            }
            ++sectionNo;
            plan.ogl.push_back({nextOgl++, c->id, "Раздел " + std::to_string(sectionNo) + ". " + sec->title});
            int tableNo = 0;
            for (const TableSeed& t : sec->tables) {
                if (written >= quota) break;
                ++tableNo;
                PlannedTable pt;
                pt.oglId = nextOgl++;
                pt.collection = c->id;
                pt.seed = c;
                pt.table = &t;
                pt.code = codePrefix(*c) + fmt2("-%02ld-%03ld", sectionNo, tableNo * 2 - 1);
                pt.title = t.title;
                pt.rates = std::min(int(t.variants.values.size()) + rng.range(0, 3), quota - written);
                pt.variantShift = round;
                written += pt.rates;
                plan.ogl.push_back({pt.oglId, c->id, "Таблица " + pt.code + ". " + pt.title});
                plan.tables.push_back(pt);
            }
        }
        ratesLeftTotal -= written;
        plan.rateCount += uint32_t(written);
    }
    plan.collections.push_back({kMaterialsCollection, "ФССЦ. Сборник сметных цен на материалы, изделия и конструкции"});
    plan.collections.push_back({kMachinesCollection, "ФСЭМ. Сметные расценки на эксплуатацию строительных машин и автотранспортных средств"});

    int32_t nextRabmat = 1;
    planResources(plan, sp, rng, nextRabmat, nextOgl);
    int32_t nameId = 1;
    for (auto& r : plan.resources) r.nameId = nameId++;
    return plan;
}

/* ---------------------------------------------------------------------------------------
 * Writing
 * ------------------------------------------------------------------------------------- */
const char* kAuthor = "Талвира, демонстрационная база";

// Composition of work, appended to some rate names so that the base holds long names.
const std::vector<const char*>& workSteps() {
    static const std::vector<const char*> s = {
        "Установка и разборка опалубки с выполнением всех необходимых работ по ее креплению, включая установку поддерживающих лесов, стоек, прогонов, подкосов и распорок, с последующей очисткой и смазкой щитов опалубки.",
        "Заготовка и установка арматуры в виде отдельных стержней, сеток и каркасов с вязкой и сваркой пересечений, с установкой закладных деталей и фиксаторов защитного слоя.",
        "Приемка и подача бетонной смеси к месту укладки бадьями или бетононасосом, укладка бетонной смеси с разравниванием и уплотнением вибраторами, заглаживание открытых поверхностей.",
        "Уход за бетоном в течение установленного проектом времени: поливка водой, укрытие брезентом или полиэтиленовой пленкой, прогрев в зимних условиях.",
        "Разборка опалубки после достижения бетоном распалубочной прочности, сортировка и складирование элементов опалубки для повторного использования, очистка рабочего места.",
        "Разметка мест установки, подготовка поверхностей, подача материалов к месту работ на расстояние до 30 м, уборка и вынос мусора.",
        "Проверка качества выполненных работ, устранение обнаруженных дефектов, сдача работ с составлением исполнительной документации.",
    };
    return s;
}

std::string longComposition(Rng& rng) {
    std::string s = "\r\nСостав работ:";
    const auto& steps = workSteps();
    int n = 0;
    while (s.size() < 2400 * 2) {  // UTF-8 Cyrillic takes two bytes: over 2048 in code page 1251
        s += "\r\n" + fmt("%02ld. ", ++n) + steps[size_t(rng.range(0, int(steps.size()) - 1))];
    }
    return s;
}

class TableWriter {
public:
    TableWriter(const std::string& path, const std::vector<FieldDef>& fields) : path_(path) {
        storage::createParadoxTable(path, fields);
        file_ = storage::openParadoxTable(path, storage::OpenMode::ReadWrite);
    }
    void append(Record& r) { file_->append(r); ++count_; }
    /** Closes the table and writes its indexes. */
    uint32_t finish(const std::vector<demobase::SecondaryIndexDef>& secondary) {
        file_.reset();
        demobase::writePrimaryIndex(path_, 1);
        if (!secondary.empty()) demobase::writeSecondaryIndexes(path_, secondary);
        return count_;
    }

private:
    std::string path_;
    std::unique_ptr<storage::TableFile> file_;
    uint32_t count_ = 0;
};

Value num(double v) { return Value::real(v); }
Value integer(int64_t v) { return Value::integer(v); }
Value text(std::string s) { return Value::string(std::move(s)); }

std::string guidFor(uint64_t n) {
    char buf[64];
    uint64_t h = n * 0x9E3779B97F4A7C15ull;
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(h >> 32), unsigned(h >> 16) & 0xFFFF,
                  unsigned(0x4000 | (h & 0x0FFF)), unsigned(0x8000 | ((h >> 20) & 0x3FFF)),
                  static_cast<unsigned long long>((h ^ (n << 7)) & 0xFFFFFFFFFFFFull));
    return buf;
}

}  // namespace

/* ---------------------------------------------------------------------------------------
 * Public interface
 * ------------------------------------------------------------------------------------- */
const char* demoTableFile(DemoTable t) {
    switch (t) {
    case DemoTable::Reestr: return "000_REESTR.DB";
    case DemoTable::Ogl: return "OGL.DB";
    case DemoTable::Rabmat: return "RABMAT.DB";
    case DemoTable::Resurs: return "RESURS.DB";
    case DemoTable::Name: return "000_NAME.DB";
    case DemoTable::Edizm: return "000_EDIZM.DB";
    }
    return "";
}

std::vector<FieldDef> demoTableFields(DemoTable t) {
    switch (t) {
    case DemoTable::Reestr: return {{"ID", I, 0}, {"NAME", A, 255}};
    case DemoTable::Ogl: return {{"ID", I, 0}, {"IDREESTR", I, 0}, {"NAME", A, 255}};
    case DemoTable::Rabmat: return rabmatFields();
    case DemoTable::Resurs: return resursFields();
    case DemoTable::Name: return {{"ID", I, 0}, {"NAME", FieldType::Memo, 50}};
    case DemoTable::Edizm: return {{"ID", I, 0}, {"NAME", A, 50}};
    }
    return {};
}

DemoBaseCounts writeDemoBase(const std::string& dir, DemoScale scale,
                             const std::function<void(const std::string&)>& progress) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) throw Error("Не удалось создать папку нормативной базы «" + dir + "»");
    auto say = [&](const std::string& s) { if (progress) progress(s); };
    auto path = [&](DemoTable t) { return (fs::path(dir) / demoTableFile(t)).string(); };

    Rng rng(scale == DemoScale::Small ? 20090317 : 20240101);
    const ScaleParams sp = paramsFor(scale);
    Plan plan = makePlan(scale, rng);
    DemoBaseCounts counts;

    // Units of measure.
    {
        TableWriter w(path(DemoTable::Edizm), demoTableFields(DemoTable::Edizm));
        int32_t id = 1;
        for (auto& u : units()) {
            Record r = {integer(id++), text(u)};
            w.append(r);
        }
        counts.units = w.finish({});
    }
    // Collections.
    {
        TableWriter w(path(DemoTable::Reestr), demoTableFields(DemoTable::Reestr));
        for (auto& [id, name] : plan.collections) {
            Record r = {integer(id), text(name)};
            w.append(r);
        }
        counts.collections = w.finish({});
    }
    // Contents entries: already numbered in order.
    {
        TableWriter w(path(DemoTable::Ogl), demoTableFields(DemoTable::Ogl));
        for (auto& e : plan.ogl) {
            Record r = {integer(e.id), integer(e.collection), text(e.name)};
            w.append(r);
        }
        counts.contentsEntries = w.finish({{"IDREESTR", {"IDREESTR"}, false}});
    }
    say("Записаны единицы измерения, сборники и оглавление");

    // Rates, resources, their names and resource lines, streamed together in key order.
    TableWriter rabmat(path(DemoTable::Rabmat), demoTableFields(DemoTable::Rabmat));
    TableWriter names(path(DemoTable::Name), demoTableFields(DemoTable::Name));
    TableWriter resurs(path(DemoTable::Resurs), demoTableFields(DemoTable::Resurs));
    const Value created = Value::dateTime({dayNumber(2009, 3, 17), 12 * 3600 * 1000, true, true});

    Record rec(kRabmatFieldCount);
    auto baseRecord = [&](int32_t id, int32_t collection, int order, int32_t nameId, int32_t ogl, int32_t unit) {
        std::fill(rec.begin(), rec.end(), Value());
        rec[rID] = integer(id);
        rec[rNEW_ID] = integer(id);
        rec[rIDREESTR] = integer(collection);
        rec[rORDERVIEW] = integer(order);
        rec[rIDNAME] = integer(nameId);
        rec[rID_UNIQUE] = integer(id);
        rec[rIDOGL] = integer(ogl);
        rec[rIDEDIZM] = integer(unit);
        rec[rEDIZMKOEF] = num(1);
        rec[rISESN] = integer(1);
        rec[rCREATEDATE] = created;
        rec[rAUTHOR] = text(kAuthor);
        rec[rNEW_PAGE] = integer(0);
        rec[rSTATUS] = integer(0);
    };

    // Resources first: their IDs are the lowest.
    {
        int order = 0;
        int32_t lastOgl = 0;
        for (const Resource& r : plan.resources) {
            order = r.oglId == lastOgl ? order + 1 : 1;
            lastOgl = r.oglId;
            baseRecord(r.id, r.collection, order, r.nameId, r.oglId, r.unit);
            rec[rTAB] = text(r.code);
            rec[rRABMAT] = integer(r.kind);
            if (r.kind == 2) {
                rec[rALTTAB] = text("ФССЦ-" + r.code);
                if (r.price) {
                    rec[rBA] = num(*r.price);
                    rec[rBB] = num(*r.price);
                }
                if (r.seed == 3) {  // concrete: its grade fields
                    rec[rMBETON] = num(100);
                    rec[rVBETON] = num(1);
                    rec[rBRUTTO] = num(2.4);
                    rec[rNETTO] = num(2.4);
                }
            } else {
                rec[rBA] = num(*r.price);
                rec[rBD] = num(r.wages);
                rec[rMMASHINE] = text(fmt("ТМ-%ld", 1000 + r.id % 9000));
            }
            rabmat.append(rec);
            Record n = {integer(r.nameId), text(r.name)};
            names.append(n);
            ++counts.resources;
        }
    }
    say("Записаны ресурсы: " + std::to_string(counts.resources));

    // Rates, table by table.
    int32_t rateId = plan.resources.empty() ? 1 : plan.resources.back().id + 1;
    rateId = (rateId / 1000 + 1) * 1000 + 1;  // rates start on a round number
    int32_t nameId = int32_t(plan.resources.size()) + 1;
    nameId = std::max(nameId, rateId);  // names of rates carry the rate's number
    int32_t lineId = 1;
    Record line(kResursFieldCount);
    uint32_t done = 0;
    for (const PlannedTable& t : plan.tables) {
        const TableSeed& ts = *t.table;
        for (int v = 0; v < t.rates; ++v) {
            const int32_t id = rateId++;
            const int32_t nid = nameId++;
            const size_t nv = ts.variants.values.size();
            std::string variant = fill(ts.variants.pattern, ts.variants.values[size_t(v + t.variantShift) % nv]);
            if (v >= int(nv)) variant += ", вариант " + std::to_string(v / int(nv) + 1);
            std::string name = t.title + ", " + variant;
            if (rng.chance(scale == DemoScale::Small ? 0.02 : 0.002)) name += longComposition(rng);
            const std::string code = t.code + fmt("-%02ld", v + 1);

            // Resource lines: labour, machines, materials; prices add up into the rate.
            int nLines = rng.chance(sp.noLines) ? 0 : rng.range(sp.linesLo, sp.linesHi);
            const double scaleOfUnit = unitScale(ts.unit);
            const double razrad = round2(rng.uniform(2.0, 4.5));
            const double bg = roundQty(ts.labourPerUnit > 0 ? ts.labourPerUnit * rng.uniform(0.7, 1.4) : rng.uniform(0.5, 3));
            const double be = round2(bg * (7.0 + razrad * 1.1));
            double bc = 0, bd = 0, bb = 0, bf = 0;
            std::vector<uint32_t> used;
            const int machineLines = ts.machineSections.empty() ? 0 : rng.range(1, scale == DemoScale::Small ? 2 : 4);
            if (ts.materialGroups.empty()) nLines = std::min(nLines, 1 + machineLines);
            auto pick = [&](const std::vector<int>& seeds, const std::vector<std::vector<uint32_t>>& bySeed)
                -> std::optional<uint32_t> {
                for (int attempt = 0; attempt < 8; ++attempt) {
                    int seed = seeds[size_t(rng.range(0, int(seeds.size()) - 1))];
                    const auto& pool = bySeed[size_t(seed)];
                    if (pool.empty()) continue;
                    uint32_t idx = pool[size_t(rng.range(0, int(pool.size()) - 1))];
                    if (std::find(used.begin(), used.end(), idx) == used.end()) {
                        used.push_back(idx);
                        return idx;
                    }
                }
                return std::nullopt;
            };
            for (int k = 0; k < nLines; ++k) {
                std::fill(line.begin(), line.end(), Value());
                line[lID] = integer(lineId);
                line[lIDRAB] = integer(id);
                line[lUCH] = integer(0);
                line[lIDREESTR] = integer(t.collection);
                line[lSTATUS] = integer(0);
                if (k == 0) {  // labour of the workers
                    line[lIDRES_TRUD] = integer(1);
                    line[lKOLL] = num(bg);
                    line[lVIDNR] = integer(0);
                } else {
                    if (ts.materialGroups.empty() && ts.machineSections.empty()) break;  // labour only
                    bool machine = k <= machineLines || ts.materialGroups.empty();
                    std::optional<uint32_t> idx = machine ? pick(ts.machineSections, plan.machinesBySeed)
                                                          : pick(ts.materialGroups, plan.materialsBySeed);
                    if (!idx) continue;
                    const Resource& r = plan.resources[*idx];
                    line[lIDRES_RABMAT] = integer(r.id);
                    line[lRABMAT] = integer(r.kind);
                    line[lIDRES_REESTR] = integer(r.collection);
                    if (r.kind == 3) {
                        double q = roundQty(scaleOfUnit * rng.logUniform(0.003, 0.4));
                        bc += q * r.price.value_or(0);
                        bd += q * r.wages;
                        bf += q;
                        line[lKOLL] = num(q);
                        if (!rng.chance(0.03)) line[lVIDNR] = integer(0);
                    } else {
                        double q = roundQty(scaleOfUnit * rng.logUniform(0.0005, 0.15) / unitScale(r.unit));
                        double p = rng.uniform(0, 1);
                        int vidnr = p < 0.22 ? 1 : p < 0.28 ? -1 : p < 0.31 ? 2 : 0;  // -1: left empty
                        if (r.name == kUnpricedMaterial) vidnr = 1;
                        if (vidnr != 1) bb += q * r.price.value_or(0);
                        line[lKOLL] = num(q);
                        if (vidnr >= 0) line[lVIDNR] = integer(vidnr);
                    }
                }
                resurs.append(line);
                ++lineId;
                ++counts.resourceLines;
            }
            bc = round2(bc);
            bd = round2(bd);
            bb = round2(bb);
            baseRecord(id, t.collection, v + 1, nid, t.oglId, ts.unit);
            rec[rTAB] = text(code);
            rec[rTABU] = text(std::string(t.seed->prefix) + code);
            rec[rRABMAT] = integer(1);
            rec[rALTTAB] = text(std::string(t.seed->prefix) + " " + code);
            rec[rFRESN] = text("ФЕР-2001");
            rec[rRAZRAD] = num(razrad);
            rec[rBA] = num(round2(be + bc + bb));
            rec[rBB] = num(bb);
            rec[rBC] = num(bc);
            rec[rBD] = num(bd);
            rec[rBE] = num(be);
            rec[rBF] = num(round2(bf));
            rec[rBG] = num(bg);
            rec[rESN_NORM_GUID] = text(guidFor(uint64_t(id)));
            rabmat.append(rec);
            Record n = {integer(nid), text(name)};
            names.append(n);
            ++counts.rates;
            if (++done % 10000 == 0) say("Записано расценок: " + std::to_string(done));
        }
    }
    counts.names = names.finish({});
    counts.resourceLines = resurs.finish({{"IDRAB", {"IDRAB"}, false}});
    rabmat.finish({{"IDNAME_INDEX", {"IDNAME"}, true}, {"IDOGL", {"IDOGL"}, false}, {"IDREESTR", {"IDREESTR"}, false}});
    say("Записаны расценки, наименования и ресурсные строки, построены индексы");
    return counts;
}

}  // namespace talvira::demobase
