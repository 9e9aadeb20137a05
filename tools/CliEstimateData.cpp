// talvira-cli estimate params / set, and the totals of an estimate by the base-index method:
// the parameters of the computation and the data of a position kept beside the estimate, set
// as KEY=VALUE (numbers with a decimal point or comma in any locale; a bad value is refused
// naming its field, and nothing is stored), and the result as JSON or as readable text.
#include "tools/CliEstimateData.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/KeptCalc.h"
#include "editing/BaseIndexRules.h"
#include "estimate/EstimateFields.h"
#include "model/BaseIndex.h"
#include "model/ResultJson.h"

#include <iostream>
#include <map>

namespace talvira::cli {

namespace {

using talvira::Dec7;

const char* const kParamsUsage =
    "использование: talvira-cli estimate params ESTIMATE.db [KEY=VALUE]... [--base BASE_DIR]\n"
    "  KEY: method=template|421, territory=1|2|3, repair=0|1, region=TEXT, level=TEXT, letter=TEXT,\n"
    "       baselevel=TEXT, index.ot=N, index.em=N, index.m=N, index.eq=N (пусто: не указан)";
const char* const kSetUsage =
    "использование: talvira-cli estimate set ESTIMATE.db POSITION KEY=VALUE...\n"
    "  KEY: qty=N, price=N, nrsp=ХХХ.Х, worktype=строительные|монтажные|пусконаладочные|оборудование|прочие,\n"
    "       coef=VALUE:TARGETS[:REASON] (TARGETS из ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ через «+»; повторяется; coef= снимает все)";

std::pair<std::string, std::string> keyValue(const std::string& arg, const char* usage) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) throw Error("«" + arg + "»: ожидается КЛЮЧ=ЗНАЧЕНИЕ\n" + usage);
    return {arg.substr(0, eq), arg.substr(eq + 1)};
}

/** A number as typed, point or comma; talvira::Error naming the field. */
Dec7 number(const std::string& value, const std::string& field) {
    const std::optional<Dec7> d = Dec7::tryParse(value);
    if (!d) throw Error(field + ": «" + value + "» не число");
    return *d;
}

Dec7 positive(const std::string& value, const std::string& field) {
    const Dec7 d = number(value, field);
    if (d.units() <= 0) throw Error(field + ": «" + value + "» — должно быть больше нуля");
    return d;
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
}

/** The estimate's positions with their codes, the cursor left where it was. */
std::vector<model::PositionRow> rowsOf(storage::TableHandle& smeta) { return editing::readPositionRows(smeta); }

void tellDifferences(const std::vector<model::PositionRow>& rows, const editing::KeptCalc& calc) {
    for (const editing::PercentDifference& d : editing::percentDifferences(rows, calc, model::nrSpTables()))
        std::cerr << d.text() << "\n";
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
    storage::TableHandle smeta("SmetaTable");
    openEstimate(smeta, path);  // an estimate, or its error
    editing::KeptCalc calc = editing::loadKeptCalc(smeta.tablePath());
    std::vector<model::PositionRow> rows = rowsOf(smeta);
    if (settings.empty()) {
        printParams(calc.params);
        tellDifferences(rows, calc);
        return 0;
    }

    // Everything is read first: one bad value and nothing is stored.
    editing::KeptCalc next = calc;
    model::EstimateParams& p = next.params;
    std::optional<model::Territory> territory;
    for (const auto& [key, value] : settings) {
        model::EstimateParams set = p;
        bool known = true;
        if (const std::string expected = editing::setParam(set, key, value, known); !expected.empty())
            throw Error(editing::paramName(key) + ": «" + value + "»" + expected);
        if (!known) throw Error("Неизвестный параметр «" + key + "»\n" + kParamsUsage);
        // the territory is changed with the rows of НР and СП that depend on it, once all is read
        if (key == "territory") territory = set.territory;
        else p = std::move(set);
    }
    if (territory) editing::setTerritory(next, *territory, model::nrSpTables());

    // An estimate made by the template, now by the base-index method: its positions get their
    // data as Add would have given it, and its materials follow their rates.
    std::vector<editing::QuantityChange> follow;
    if (p.method == model::Method::BaseIndex && calc.params.method != model::Method::BaseIndex) {
        const editing::RateLookup lookup = baseDir.empty() ? editing::RateLookup() : editing::rateLookupOf(baseDir, rows);
        editing::DerivedCalc derived = editing::deriveCalc(rows, next, lookup, model::nrSpTables());
        for (model::PositionData& e : derived.positions) next.entry(e.count) = std::move(e);
        follow = std::move(derived.quantities);
        std::cerr << "Данные позиций получены: " << derived.positions.size() << "; материалов, следующих за расценкой: "
                  << follow.size() << "\n";
    }
    editing::saveKeptCalc(smeta.tablePath(), next);
    editing::applyQuantities(smeta, follow);
    printParams(next.params);
    tellDifferences(rows, next);
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
    storage::TableHandle smeta("SmetaTable");
    openEstimate(smeta, path);
    editing::KeptCalc calc = editing::loadKeptCalc(smeta.tablePath());
    const std::vector<model::PositionRow> rows = rowsOf(smeta);
    size_t row = rows.size();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].count == position) row = i;
    if (row == rows.size()) throw Error("Позиции № " + args[2] + " в смете нет");
    const model::PositionRow& r = rows[row];

    // Read everything first: one bad value and nothing is stored.
    std::optional<Dec7> quantity, price;
    model::PositionData extra = calc.find(position) ? *calc.find(position) : model::PositionData{};
    extra.count = position;
    bool extraChanged = false, coefficientsGiven = false;
    for (size_t i = 3; i < args.size(); ++i) {
        const auto [key, value] = keyValue(args[i], kSetUsage);
        if (key == "qty") {
            quantity = number(value, "Количество (qty)");
            if (quantity->units() < 0) throw Error("Количество (qty): «" + value + "» — не может быть отрицательным");
        } else if (key == "price") {
            price = number(value, "Цена (price)");
            if (price->units() < 0) throw Error("Цена (price): «" + value + "» — не может быть отрицательной");
            if (r.baseWages != 0 || r.machines != 0 || r.machineWages != 0 || r.labour != 0)
                throw Error("Цена (price): позиция " + args[2] + " — расценка; цену задают материалу");
        } else if (key == "nrsp") {
            const model::NrSpRow* t = model::nrSpTables().find(value);
            if (!t) throw Error("Норматив НР и СП (nrsp): строки «" + value + "» нет в таблицах 812/пр и 774/пр");
            extra.nrRow = extra.spRow = t->ref;
            extra.nrPercent = t->nrPercent[static_cast<size_t>(calc.params.territory) - 1];
            extra.spPercent = t->spPercent;
            extraChanged = true;
        } else if (key == "worktype") {
            extra.workType = model::workTypeFromText(value);
            if (!extra.workType)
                throw Error("Вид работ (worktype): «" + value +
                            "» — ожидается строительные, монтажные, пусконаладочные, оборудование или прочие");
            extraChanged = true;
        } else if (key == "coef") {
            if (!coefficientsGiven) extra.coefficients.clear();  // the list given here replaces the kept one
            coefficientsGiven = extraChanged = true;
            if (value.empty()) continue;
            const size_t a = value.find(':');
            const size_t b = a == std::string::npos ? a : value.find(':', a + 1);
            if (a == std::string::npos)
                throw Error("Коэффициент (coef): «" + value + "» — ожидается ЗНАЧЕНИЕ:ЭЛЕМЕНТЫ[:ОСНОВАНИЕ]");
            model::Coefficient c;
            c.value = positive(value.substr(0, a), "Коэффициент (coef)");
            const std::string targets = value.substr(a + 1, b == std::string::npos ? b : b - a - 1);
            const std::optional<unsigned> bits = model::targetsFromText(targets);
            if (!bits)
                throw Error("Коэффициент (coef): элементы «" + targets + "» — ожидаются ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ через «+»");
            c.targets = *bits;
            if (b != std::string::npos) c.reason = value.substr(b + 1);
            extra.coefficients.push_back(c);
        } else {
            throw Error("Неизвестный ключ «" + key + "»\n" + kSetUsage);
        }
    }

    if (extraChanged) {
        extra.code = r.code;  // the data is this position's, also after the estimate is cleared
        calc.entry(position) = extra;
        editing::saveKeptCalc(smeta.tablePath(), calc);
    }
    if (quantity || price) {
        storage::PositionKept kept(smeta);
        smeta.moveTo(static_cast<int>(row));
        smeta.edit();
        if (quantity) smeta.setFieldValue(estimate::fld::KOLVO, storage::Value::real(quantity->toDouble()));
        if (price) {
            smeta.setFieldValue(estimate::fld::STOIM, storage::Value::real(price->toDouble()));
            smeta.setFieldValue(estimate::fld::MATER, storage::Value::real(price->toDouble()));
        }
        smeta.post();
    }
    size_t followed = 0;
    if (quantity) {
        const std::vector<editing::QuantityChange> follow = editing::followingQuantities(rowsOf(smeta), calc, row);
        editing::applyQuantities(smeta, follow);
        followed = follow.size();
    }
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
    storage::TableHandle smeta("SmetaTable");
    openEstimate(smeta, path);
    const editing::KeptCalc calc = editing::loadKeptCalc(smeta.tablePath());
    if (calc.params.method != model::Method::BaseIndex) {
        if (json)
            throw Error("Смета «" + path + "» считается по шаблону: итоги в JSON есть у сметы по базисно-индексному "
                        "методу (talvira-cli estimate params ESTIMATE.db method=421)");
        return false;
    }
    const std::vector<model::PositionRow> rows = rowsOf(smeta);
    const model::BaseIndexResult r = model::computeBaseIndex(rows, calc.positions, calc.params, model::nrSpTables());
    const model::EstimateTexts texts = editing::loadKeptTexts(smeta.tablePath(), sep);
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
    const model::EstimateParams& p = calc.params;
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
