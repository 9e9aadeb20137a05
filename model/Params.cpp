#include "model/Params.h"

#include "model/TypedNumber.h"

#include <cstdio>
#include <random>

namespace talvira::model {

namespace {

struct ParamKey {
    const char* key;
    const char* name;
};
constexpr ParamKey kParamKeys[] = {
    {"method", "Метод"},
    {"territory", "Территория"},
    {"repair", "Капитальный ремонт"},
    {"region", "Регион"},
    {"level", "Уровень цен"},
    {"letter", "Письмо об индексах"},
    {"baselevel", "Уровень цен базы"},
    {"index.ot", "Индекс ОТ"},
    {"index.em", "Индекс ЭМ"},
    {"index.m", "Индекс М"},
    {"index.eq", "Индекс оборудования"},
};

bool blank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

bool digits(std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos; }

bool guidShaped(std::string_view s) {
    if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const char c = s[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

/** Why `value` does not suit the expertise key `key`; "" when it does (blank always does). */
std::string expertiseFault(std::string_view key, std::string_view value) {
    if (blank(value)) return {};
    if ((key == "gge.norms.date" || key == "estimate.date") && !dateFromText(value))
        return "— ожидается дата ДД.ММ.ГГГГ";
    if (key == "region.code" && (!digits(value) || value.size() > 2)) return "— ожидается код региона от 0 до 99";
    if (key == "gge.norms.num" && (!digits(value) || value.size() > 9 || value.find_first_not_of('0') == std::string_view::npos))
        return "— ожидается номер записи в реестре, целое число больше нуля";
    if (key == "gge.guid" && !guidShaped(value))
        return "— ожидается GUID в фигурных скобках, шестнадцатеричные цифры прописными: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    return {};
}

}  // namespace

const ExpertiseKey kExpertiseKeys[19] = {
    {"gge.norms", "Сметные нормативы (приказ)", &ExpertiseFacts::norms},
    {"gge.norms.orders", "Изменения сметных нормативов", &ExpertiseFacts::normsOrders},
    {"gge.norms.date", "Дата записи нормативов в ФРСН", &ExpertiseFacts::normsDate},
    {"gge.norms.num", "Номер записи нормативов в ФРСН", &ExpertiseFacts::normsNum},
    {"gge.wage_act", "Акт об оплате труда", &ExpertiseFacts::wageAct},
    {"gge.index_object", "Вид объекта в письме об индексах", &ExpertiseFacts::indexObject},
    {"gge.kind", "Вид сметы", &ExpertiseFacts::kind},
    {"gge.guid", "GUID сметы", &ExpertiseFacts::guid},
    {"region.code", "Код региона", &ExpertiseFacts::regionCode},
    {"construction", "Стройка", &ExpertiseFacts::construction},
    {"construction.num", "Номер стройки", &ExpertiseFacts::constructionNum},
    {"object", "Объект", &ExpertiseFacts::object},
    {"object.num", "Номер объекта", &ExpertiseFacts::objectNum},
    {"object.address", "Адрес объекта", &ExpertiseFacts::objectAddress},
    {"estimate.num", "Номер сметы", &ExpertiseFacts::estimateNum},
    {"estimate.name", "Наименование сметы", &ExpertiseFacts::estimateName},
    {"estimate.date", "Дата составления сметы", &ExpertiseFacts::estimateDate},
    {"signature.composed", "Составил", &ExpertiseFacts::composedBy},
    {"signature.checked", "Проверил", &ExpertiseFacts::checkedBy},
};

std::optional<Date> dateFromText(std::string_view t) {
    if (t.size() != 10 || t[2] != '.' || t[5] != '.' || !digits(t.substr(0, 2)) || !digits(t.substr(3, 2)) ||
        !digits(t.substr(6, 4)))
        return std::nullopt;
    Date d{std::stoi(std::string(t.substr(6, 4))), std::stoi(std::string(t.substr(3, 2))),
           std::stoi(std::string(t.substr(0, 2)))};
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1900 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > kDays[d.month - 1]) return std::nullopt;
    if (d.month == 2 && d.day == 29 && !(d.year % 4 == 0 && (d.year % 100 != 0 || d.year % 400 == 0))) return std::nullopt;
    return d;
}

std::string newGuid() {
    std::random_device device;
    std::mt19937_64 gen((uint64_t(device()) << 32) ^ device());
    const uint64_t hi = gen(), lo = gen();
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-4%03X-%04X-%012llX}", unsigned(hi >> 32), unsigned((hi >> 16) & 0xFFFF),
                  unsigned(hi & 0xFFF), unsigned(0x8000 | ((lo >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return text;
}

std::string paramCaption(std::string_view key) {
    for (const ParamKey& k : kParamKeys)
        if (key == k.key) return k.name;
    for (const ExpertiseKey& k : kExpertiseKeys)
        if (key == k.key) return k.caption;
    return std::string(key);
}

std::string paramName(std::string_view key) {
    for (const ParamKey& k : kParamKeys)
        if (key == k.key) return std::string(k.name) + " (" + k.key + ")";
    for (const ExpertiseKey& k : kExpertiseKeys)
        if (key == k.key) return std::string(k.caption) + " (" + k.key + ")";
    return std::string(key);
}

std::string setParam(EstimateParams& p, std::string_view key, std::string_view value, bool& known, bool typed) {
    known = true;
    auto index = [&](std::optional<Dec7>& to) -> std::string {
        if (blank(value)) {
            to.reset();
            return {};
        }
        Dec7 d;
        if (std::string fault = typedNumberFault(value, Sign::Positive, d); !fault.empty()) return fault;
        if (typed && d > Dec7::fromInt(kLargestIndex))
            return "— больше 10 000: индекс пересчета в текущие цены так велик не бывает";
        to = d;
        return {};
    };
    if (key == "method") {
        if (value == "template") p.method = Method::Template;
        else if (value == "421") p.method = Method::BaseIndex;
        else return "— ожидается template или 421";
    } else if (key == "territory") {
        if (value != "1" && value != "2" && value != "3") return "— ожидается 1 (Территория), 2 (МПРКС) или 3 (РКС)";
        p.territory = static_cast<Territory>(value[0] - '0');
    } else if (key == "repair") {
        if (value != "0" && value != "1") return "— ожидается 0 или 1";
        p.capitalRepair = value == "1";
    } else if (key == "region") {
        p.region = value;
    } else if (key == "level") {
        p.level = value;
    } else if (key == "letter") {
        p.letter = value;
    } else if (key == "baselevel") {
        p.baseLevel = value;
    } else if (key == "index.ot") {
        return index(p.indexOt);
    } else if (key == "index.em") {
        return index(p.indexEm);
    } else if (key == "index.m") {
        return index(p.indexM);
    } else if (key == "index.eq") {
        return index(p.indexEq);
    } else {
        for (const ExpertiseKey& k : kExpertiseKeys) {
            if (key != k.key) continue;
            if (std::string fault = expertiseFault(key, value); !fault.empty()) return fault;
            p.gge.*k.member = blank(value) ? std::string() : std::string(value);
            return {};
        }
        known = false;
    }
    return {};
}

}  // namespace talvira::model
