// talvira-cli estimate params / set, and the totals of an estimate by the base-index method:
// the parameters of the computation and the data of a position kept beside the estimate, set
// as KEY=VALUE (numbers with a decimal point or comma in any locale; a bad value is refused
// naming its field, and nothing is stored), and the result as JSON or as readable text.
#include "tools/CliEstimateData.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "editing/EstimateDocument.h"
#include "model/BaseIndexResult.h"
#include "model/TypedNumber.h"
#include "model/ResultJson.h"

#include <filesystem>
#include <iostream>

namespace talvira::cli {

namespace {

using talvira::Dec7;

const char* const kParamsUsage =
    "использование: talvira-cli estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]\n"
    "  KEY: method=template|421, territory=1|2|3, repair=0|1, region=TEXT, level=TEXT, letter=TEXT,\n"
    "       baselevel=TEXT, index.ot=N, index.em=N, index.m=N, index.eq=N (пусто: не указан);\n"
    "  для файла экспертизы: gge.norms, gge.norms.orders, gge.norms.date=ДД.ММ.ГГГГ, gge.norms.num=N, gge.wage_act,\n"
    "       gge.index_object, gge.kind, gge.guid, region.code=0..99, construction, construction.num, object,\n"
    "       object.num, object.address, estimate.num, estimate.name, estimate.date=ДД.ММ.ГГГГ,\n"
    "       signature.composed, signature.checked (пусто: не указан)";
const char* const kSetUsage =
    "использование: talvira-cli estimate set ESTIMATE.db POSITION KEY=VALUE...\n"
    "  KEY: qty=N, price=N, nrsp=ХХХ.Х, worktype=строительные|монтажные|пусконаладочные|оборудование|прочие,\n"
    "       coef=VALUE:TARGETS[:REASON] (TARGETS из ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ через «+»; повторяется; coef= снимает все)";

std::pair<std::string, std::string> keyValue(const std::string& arg, const char* usage) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) throw Error("«" + arg + "»: ожидается КЛЮЧ=ЗНАЧЕНИЕ\n" + usage);
    return {arg.substr(0, eq), arg.substr(eq + 1)};
}

std::string optionalText(const std::optional<Dec7>& d) { return d ? d->text() : std::string(); }

void printParams(const model::EstimateParams& p) {
    std::cout << "method=" << (p.method == model::Method::BaseIndex ? "421" : "template") << "\n"
              << "territory=" << static_cast<int>(p.territory) << "\n"
              << "repair=" << (p.capitalRepair ? 1 : 0) << "\n"
              << "region=" << p.region << "\n"
              << "level=" << p.level << "\n"
              << "letter=" << p.letter << "\n"
              << "baselevel=" << p.baseLevel << "\n"
              << "index.ot=" << optionalText(p.indexOt) << "\n"
              << "index.em=" << optionalText(p.indexEm) << "\n"
              << "index.m=" << optionalText(p.indexM) << "\n"
              << "index.eq=" << optionalText(p.indexEq) << "\n";
    for (const model::ExpertiseKey& k : model::kExpertiseKeys) std::cout << k.key << "=" << p.gge.*k.member << "\n";
}

void tellDifferences(const editing::EstimateDocument& doc) {
    for (const editing::PercentDifference& d : doc.percentDifferences()) std::cerr << d.text() << "\n";
}

/** Whether a position of the estimate has no data kept for it (made by the template). */
bool someWithoutData(const editing::EstimateDocument& doc) {
    for (const model::PositionRow& r : doc.follower().rows()) {
        const model::PositionData* d = doc.calc().find(r.count);
        if (!d || !(d->code.empty() || d->code == r.code)) return true;
    }
    return false;
}

/** The norm base a switch to the base-index method takes its positions' data from: the one
 *  given, else the one the estimate remembers when it is still there; talvira::Error naming
 *  --base otherwise. */
std::filesystem::path baseForSwitch(const editing::EstimateDocument& doc, const std::string& given) {
    if (!given.empty()) return given;
    const std::string& kept = doc.calc().base;
    std::error_code ec;
    if (!kept.empty() && std::filesystem::is_directory(kept, ec)) return kept;
    throw Error(kept.empty()
                    ? "Смета не знает, из какой нормативной базы взяты её расценки: данные позиций для метода 421 "
                      "взять неоткуда. Укажите базу: --base BASE_DIR (ничего не сохранено)."
                    : "Нормативной базы «" + kept + "», из которой взяты расценки сметы, больше нет. Укажите базу: "
                      "--base BASE_DIR (ничего не сохранено).");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// estimate params
// ---------------------------------------------------------------------------------------------

int paramsCommand(const Args& args) {
    std::string path, baseDir;
    std::vector<std::pair<std::string, std::string>> settings;
    const ArgReader reader{"talvira-cli estimate params", kParamsUsage};
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--base") baseDir = reader.value(args, i);
        else if (path.empty()) reader.positional(args[i], path);
        else settings.push_back(keyValue(args[i], kParamsUsage));
    }
    if (path.empty()) throw Error(kParamsUsage);
    OpenedEstimate opened(path);  // an estimate, or its error
    editing::EstimateDocument& doc = opened.doc;
    if (settings.empty()) {
        printParams(doc.calc().params);
        tellDifferences(doc);
        return 0;
    }

    // Everything is read first: one bad value and nothing is stored.
    model::EstimateParams p = doc.calc().params;
    bool baseLevelGiven = false;
    for (const auto& [key, value] : settings) {
        bool known = true;
        if (const std::string fault = model::setParam(p, key, value, known); !fault.empty())
            throw Error(model::typedFaultMessage(model::paramName(key), value, fault));
        if (!known) throw Error("Неизвестный параметр «" + key + "»\n" + kParamsUsage);
        baseLevelGiven = baseLevelGiven || key == "baselevel";
    }
    // An estimate made by the template, now by the base-index method: its positions get their
    // data from the base they came from, as the window gives them from the base it has open.
    const bool switching = p.method == model::Method::BaseIndex && !doc.byBaseIndex();
    if (switching && someWithoutData(doc)) doc.setNormBaseDirectory(baseForSwitch(doc, baseDir));
    const size_t before = doc.calc().positions.size();
    doc.setParams(p, baseLevelGiven);
    if (switching)
        std::cerr << "Данные позиций получены: " << doc.calc().positions.size() - before << "\n";
    printParams(doc.calc().params);
    tellDifferences(doc);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// estimate set
// ---------------------------------------------------------------------------------------------

int setCommand(const Args& args) {
    if (args.size() < 4) throw Error(kSetUsage);
    const std::string& path = args[1];
    int32_t position = 0;
    try {
        const long long n = std::stoll(args[2]);
        if (n <= 0 || n > INT32_MAX || std::to_string(n) != args[2]) throw std::exception();
        position = static_cast<int32_t>(n);
    } catch (const std::exception&) {
        throw Error("Позиция: «" + args[2] + "» не номер позиции (№)\n" + kSetUsage);
    }
    OpenedEstimate opened(path);
    editing::EstimateDocument& doc = opened.doc;
    const std::optional<size_t> row = doc.rowOf(position);
    if (!row) throw Error("Позиции № " + args[2] + " в смете нет");
    const model::PositionRow r = doc.follower().rows()[*row];

    // Read everything first: one bad value and nothing is stored.
    std::optional<Dec7> quantity, price;
    model::PositionData data = doc.positionData(position);
    bool dataChanged = false, coefficientsGiven = false;
    for (size_t i = 3; i < args.size(); ++i) {
        const auto [key, value] = keyValue(args[i], kSetUsage);
        if (key == "qty") {
            quantity = model::typedNumber(value, "Количество (qty)", model::Sign::NotNegative);
        } else if (key == "price") {
            price = model::typedNumber(value, "Цена (price)", model::Sign::NotNegative);
            if (r.baseWages != 0 || r.machines != 0 || r.machineWages != 0 || r.labour != 0)
                throw Error("Цена (price): позиция " + args[2] + " — расценка; цену задают материалу");
        } else if (key == "nrsp") {
            if (!data.chooseRow(value, doc.calc().params.territory, doc.tables()))
                throw Error(model::unknownRowMessage("Норматив НР и СП (nrsp)", value));
            dataChanged = true;
        } else if (key == "worktype") {
            data.workType = model::workTypeFromText(value);
            if (!data.workType)
                throw Error("Вид работ (worktype): «" + value +
                            "» — ожидается строительные, монтажные, пусконаладочные, оборудование или прочие");
            dataChanged = true;
        } else if (key == "coef") {
            if (!coefficientsGiven) data.coefficients.clear();  // the list given here replaces the kept one
            coefficientsGiven = dataChanged = true;
            if (value.empty()) continue;
            const size_t a = value.find(':');
            const size_t b = a == std::string::npos ? a : value.find(':', a + 1);
            if (a == std::string::npos)
                throw Error("Коэффициент (coef): «" + value + "» — ожидается ЗНАЧЕНИЕ:ЭЛЕМЕНТЫ[:ОСНОВАНИЕ]");
            const std::string targets = value.substr(a + 1, b == std::string::npos ? b : b - a - 1);
            const std::optional<unsigned> bits = model::targetsFromText(targets);
            if (!bits)
                throw Error("Коэффициент (coef): элементы «" + targets + "» — ожидаются ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ через «+»");
            data.addCoefficient(value.substr(0, a), *bits, b == std::string::npos ? std::string() : value.substr(b + 1),
                                "Коэффициент (coef)");
        } else {
            throw Error("Неизвестный ключ «" + key + "»\n" + kSetUsage);
        }
    }

    if (dataChanged) doc.setPositionData(data);
    const std::vector<model::PositionRow> was = doc.follower().rows();
    doc.setAmounts(position, quantity, price);
    // The materials that followed their rate, as the window shows them after the typed quantity.
    size_t followed = 0;
    const std::vector<model::PositionRow>& now = doc.follower().rows();
    for (size_t i = 0; i < now.size() && i < was.size(); ++i)
        if (i != *row && now[i].quantity != was[i].quantity) ++followed;
    std::cout << "Позиция " << position << " изменена";
    if (followed) std::cout << "; количество материалов пересчитано: " << followed;
    std::cout << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------
// estimate totals, by the base-index method
// ---------------------------------------------------------------------------------------------

namespace {

std::string money(Money m, char sep) { return m.grouped(sep, " "); }
std::string dec(Dec7 d, char sep) { return d.text(sep); }

void printElements(const model::Elements& e, bool current, bool whole, char sep) {
    std::cout << "  " << (current ? "в текущих ценах" : "в базисных ценах") << ": ОТ " << money(e.ot, sep);
    if (whole) std::cout << ", ЭМ " << money(e.em, sep);
    std::cout << (whole ? " (в т.ч. ОТМ " : ", ОТМ ") << money(e.otm, sep) << (whole ? ")" : "");
    if (!e.otmExtra.isZero()) std::cout << ", доплата машинистам " << money(e.otmExtra, sep);
    if (whole) std::cout << ", М " << money(e.m, sep) << ", ПЗ " << money(e.pz, sep);
    std::cout << ", ФОТ " << money(e.fot, sep) << ", НР " << money(e.nr, sep) << ", СП " << money(e.sp, sep);
    if (whole) std::cout << ", всего " << money(e.total, sep);
    if (!current) std::cout << "; ЗТ " << dec(e.zt, sep) << ", ЗТМ " << dec(e.ztm, sep) << " чел.-ч";
    std::cout << "\n";
}

void printTotals(const model::WorkTypeTotals& w, char sep) {
    printElements(w.base, false, true, sep);
    if (!w.currentDefined) {
        std::cout << "  в текущих ценах: не рассчитано (не указан индекс)\n";
        return;
    }
    printElements(w.current, true, true, sep);
    std::cout << "  индексы: ОТ " << (w.indexOt ? dec(*w.indexOt, sep) : "—") << ", ЭМ "
              << (w.indexEm ? dec(*w.indexEm, sep) : "—") << ", " << (w.type == model::WorkType::Equipment ? "оборудование " : "М ")
              << (w.indexM ? dec(*w.indexM, sep) : "—") << "\n";
}

}  // namespace

bool baseIndexTotals(const std::string& path, bool json, char sep) {
    OpenedEstimate opened(path);
    const editing::EstimateDocument& doc = opened.doc;
    const model::BaseIndexResult* result = doc.baseIndex();
    if (!result) {
        if (json)
            throw Error("Смета «" + path + "» считается по шаблону: итоги в JSON есть у сметы по базисно-индексному "
                        "методу (talvira-cli estimate params ESTIMATE.db method=421)");
        return false;
    }
    const model::BaseIndexResult& r = *result;
    const std::vector<model::PositionRow>& rows = doc.follower().rows();
    const model::EstimateTexts texts = editing::loadKeptTexts(opened.smeta.tablePath(), sep);
    const std::optional<Dec7> vat = Dec7::tryParse(texts.vatPercent);
    if (json) {
        std::string out = model::toJson(r, rows);
        if (vat && r.currentComplete) {
            // Not part of a local estimate: told after it, marked so.
            const Money amount = percentOf(r.total.current.total, *vat);
            out.pop_back();
            out += ",\"vat\":{\"note\":\"не входит в локальную смету\",\"percent\":" + vat->text() +
                   ",\"amount\":" + amount.text() + ",\"total_with_vat\":" + (r.total.current.total + amount).text() + "}}";
        }
        std::cout << out << "\n";
        return true;
    }
    const model::EstimateParams& p = doc.calc().params;
    std::cout << "Локальная смета базисно-индексным методом (421/пр)";
    if (!p.baseLevel.empty()) std::cout << "; базисный уровень цен " << p.baseLevel;
    if (!p.level.empty()) std::cout << "; текущий уровень цен " << p.level;
    if (!p.region.empty()) std::cout << "; " << p.region;
    std::cout << "\n";
    for (const model::PositionResult& q : r.positions) {
        std::cout << "№ " << q.number << "\t" << rows[q.row].code << "\tкол-во " << dec(q.quantity, sep) << "\t"
                  << model::workTypeText(q.workType);
        if (!q.computed) {
            std::cout << "\tне рассчитана\n";
            continue;
        }
        if (!q.nrRef.empty()) std::cout << "\tНР " << q.nrRef << " " << dec(q.nrPercent, sep) << " %";
        if (!q.spRef.empty()) std::cout << "\tСП " << q.spRef << " " << dec(q.spPercent, sep) << " %";
        std::cout << "\n";
        for (const model::Coefficient& c : q.coefficients)
            std::cout << "  коэффициент " << dec(c.value, sep) << " к " << model::targetsText(c.targets)
                      << (c.reason.empty() ? "" : " (" + c.reason + ")") << "\n";
        for (const model::PricedMaterial& m : q.materials)
            std::cout << "  материал № " << rows[m.row].count << " " << rows[m.row].code << ": " << dec(m.perUnit, sep)
                      << " на ед. × " << dec(q.quantity, sep) << " = " << dec(m.quantity, sep)
                      << (m.priced ? ", " + money(m.amount, sep) : ", цена не указана") << "\n";
        printElements(q.base, false, true, sep);
        if (q.currentDefined) printElements(q.current, true, false, sep);
    }
    for (const model::WorkTypeTotals& w : r.workTypes) {
        std::cout << "Итого по виду работ «" << model::workTypeText(w.type) << "»\n";
        printTotals(w, sep);
    }
    std::cout << "Итого по смете\n";
    printTotals(r.total, sep);
    if (vat && r.currentComplete) {
        const Money amount = percentOf(r.total.current.total, *vat);
        std::cout << "Справочно, не входит в локальную смету: НДС " << dec(*vat, sep) << " % " << money(amount, sep)
                  << ", всего с НДС " << money(r.total.current.total + amount, sep) << "\n";
    }
    for (const model::Problem& pr : r.problems) std::cout << "Не рассчитано: " << pr.message << "\n";
    return true;
}

}  // namespace talvira::cli
