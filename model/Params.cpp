#include "model/Params.h"

#include "model/TypedNumber.h"

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

}  // namespace

std::string paramCaption(std::string_view key) {
    for (const ParamKey& k : kParamKeys)
        if (key == k.key) return k.name;
    return std::string(key);
}

std::string paramName(std::string_view key) {
    for (const ParamKey& k : kParamKeys)
        if (key == k.key) return std::string(k.name) + " (" + k.key + ")";
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
        known = false;
    }
    return {};
}

}  // namespace talvira::model
