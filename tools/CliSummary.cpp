// talvira-cli summary: a construction's summary estimate kept beside its estimates — made, its
// title data set, its lines added (a linked local estimate, an object's estimate, a calculation,
// a percentage line) and its totals printed. Every change goes through editing::SummaryDocument:
// a bad argument is refused naming what is wrong, and nothing is stored.
#include "tools/Commands.h"
#include "tools/CliShared.h"

#include "common/Error.h"
#include "common/JsonText.h"
#include "common/NumberText.h"
#include "editing/SummaryDocument.h"
#include "editing/SummaryExport.h"
#include "model/SummaryJson.h"

#include <charconv>
#include <iostream>

namespace talvira::cli {

namespace {

namespace fs = std::filesystem;
using model::CostColumn;
using model::CostColumns;

const char* const kUsage =
    "использование: talvira-cli summary new DIR NAME\n"
    "               talvira-cli summary set SUMMARY.ssr KEY=VALUE...\n"
    "                 KEY: name, number, customer, level, vat.date=ГГГГ-ММ-ДД, reserve=P, purpose=production|other\n"
    "               talvira-cli summary add SUMMARY.ssr CHAPTER (--estimate EST.db [--object NUM:NAME]\n"
    "                 | --calc NAME --amounts B:M:E:O [--reason TEXT]\n"
    "                 | --percent P --of 1-K --columns 4+5 --calc NAME [--reason TEXT]) [--exempt]\n"
    "               talvira-cli summary totals SUMMARY.ssr [--json] [--locale ru_RU]";

/** The chapter as typed: a whole number 1–12. */
int chapterOf(const std::string& text) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > model::kChapters)
        throw Error("Глава «" + text + "»: ожидается номер главы от 1 до 12");
    return n;
}

/** One amount in rubles: a point or a comma, blanks between thousands, at most two decimals;
 *  empty is 0. */
std::optional<Money> rublesOf(std::string_view text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') continue;
        if (text.substr(i, 2) == "\u00a0") {  // a no-break space, as spreadsheets group thousands
            ++i;
            continue;
        }
        plain += text[i];
    }
    if (plain.empty()) return Money();
    const std::optional<Dec7> d = Dec7::tryParse(plain);
    if (!d || d->units() % 100'000 != 0) return std::nullopt;
    return Money::tryParse(plain);
}

CostColumns amountsOf(const std::string& text) {
    const std::string why = "Суммы (--amounts): «" + text +
                            "» — ожидаются четыре суммы в рублях через «:» (строительные:монтажные:оборудование:прочие), "
                            "не больше двух знаков после запятой";
    CostColumns c;
    size_t at = 0;
    for (int i = 0; i < model::kCostColumns; ++i) {
        const size_t next = text.find(':', at);
        if ((next == std::string::npos) != (i == model::kCostColumns - 1)) throw Error(why);
        const std::optional<Money> m = rublesOf(std::string_view(text).substr(at, next - at));
        if (!m) throw Error(why);
        if (*m < Money()) throw Error("Суммы (--amounts): «" + text + "» — сумма меньше нуля");
        c.money[size_t(i)] = *m;
        at = next + 1;
    }
    return c;
}

/** "1-K" (a hyphen or a dash): K. */
int subtotalOf(const std::string& text) {
    std::string_view rest;
    if (text.rfind("1-", 0) == 0) rest = std::string_view(text).substr(2);
    else if (text.rfind("1\u2013", 0) == 0) rest = std::string_view(text).substr(4);  // en dash
    int k = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), k);
    if (rest.empty() || ec != std::errc() || end != rest.data() + rest.size())
        throw Error("Итог (--of): «" + text + "» — ожидается «1-K», итог по главам с 1 по K (K от 7 до 12)");
    return k;
}

std::pair<std::string, std::string> keyValue(const std::string& arg) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) throw Error("«" + arg + "»: ожидается КЛЮЧ=ЗНАЧЕНИЕ\n" + kUsage);
    return {arg.substr(0, eq), arg.substr(eq + 1)};
}

void tellNotices(const editing::SummaryDocument& doc) {
    for (const editing::LinkNotice& n : doc.notices()) std::cerr << n.text << "\n";
}

int summaryNew(const Args& args) {
    if (args.size() != 3) throw Error(kUsage);
    std::cout << editing::SummaryDocument::create(args[1], args[2], editing::today()).string() << "\n";
    return 0;
}

int summarySet(const Args& args) {
    if (args.size() < 3) throw Error(kUsage);
    std::vector<std::pair<std::string, std::string>> values;
    for (size_t i = 2; i < args.size(); ++i) values.push_back(keyValue(args[i]));
    editing::SummaryDocument doc(shippedTables());
    doc.open(args[1]);
    tellNotices(doc);
    doc.set(values);
    return 0;
}

int summaryAdd(const Args& args) {
    if (args.size() < 3) throw Error(kUsage);
    const ArgReader reader{"talvira-cli summary add", kUsage};
    const int chapter = chapterOf(args[2]);
    std::optional<std::string> estimate, object, calc, amounts, reason, percent, of, columns;
    bool exempt = false;
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto take = [&](std::optional<std::string>& into) {
            if (into) throw Error(reader.command + ": " + a + " указан второй раз\n" + kUsage);
            into = reader.value(args, i);
        };
        if (a == "--estimate") take(estimate);
        else if (a == "--object") take(object);
        else if (a == "--calc") take(calc);
        else if (a == "--amounts") take(amounts);
        else if (a == "--reason") take(reason);
        else if (a == "--percent") take(percent);
        else if (a == "--of") take(of);
        else if (a == "--columns") take(columns);
        else if (a == "--exempt") exempt = true;
        else throw Error(reader.command + ": неизвестный параметр «" + a + "»\n" + kUsage);
    }
    const auto only = [&](bool ok) {
        if (!ok) throw Error(reader.command + ": строка — это --estimate, --calc с --amounts или --percent с --of, "
                             "--columns и --calc\n" + kUsage);
    };
    editing::SummaryDocument doc(shippedTables());
    if (estimate) {
        only(!calc && !amounts && !reason && !percent && !of && !columns);
        std::string number, name;
        if (object) {
            const size_t colon = object->find(':');
            number = object->substr(0, colon);
            if (colon != std::string::npos) name = object->substr(colon + 1);
            if (number.empty()) throw Error("Объект (--object): «" + *object + "» — ожидается НОМЕР:НАИМЕНОВАНИЕ, например 02-01:Здание школы");
        }
        // an estimate missing is told before the construction is opened
        if (!fs::is_regular_file(*estimate)) throw Error("Смета «" + *estimate + "» не найдена");
        doc.open(args[1]);
        tellNotices(doc);
        doc.addEstimate(chapter, *estimate, number, name, exempt);
        return 0;
    }
    only(!object && calc.has_value());
    model::SummaryLine line;
    if (percent) {
        only(!amounts && of && columns);
        const std::optional<Dec7> p = Dec7::tryParse(*percent);
        if (!p) throw Error("Процент (--percent): «" + *percent + "» не число");
        const std::optional<unsigned> cols = model::columnsFromText(*columns);
        if (!cols)
            throw Error("Графы (--columns): «" + *columns + "» — ожидаются графы 4–7 через «+» (например 4+5) или 8 одна");
        line = model::SummaryLine::percentage(*calc, *p, subtotalOf(*of), *cols, reason.value_or(""));
    } else {
        only(amounts.has_value() && !of && !columns);
        line = model::SummaryLine::calculation(*calc, amountsOf(*amounts), reason.value_or(""));
    }
    if (calc->empty()) throw Error("Наименование (--calc): пусто");
    line.exempt = exempt;
    model::checkLine(chapter, line);
    doc.open(args[1]);
    tellNotices(doc);
    doc.addLine(chapter, std::move(line));
    return 0;
}

std::string row(const CostColumns& c, char sep) {
    std::string out;
    for (Money m : c.money) out += "\t" + model::thousandsText(m, sep);
    return out + "\t" + model::thousandsText(c.total(), sep);
}

void printText(const model::Construction& c, const model::SummaryResult& r, char sep) {
    std::cout << "Сводный сметный расчет стоимости строительства «" << c.name << "»";
    if (!c.level.empty()) std::cout << ", уровень цен " << c.level;
    std::cout << "\nтыс. руб.: гр. 4 строительных работ, 5 монтажных работ, 6 оборудования, 7 прочих затрат, 8 всего\n";
    for (const model::ChapterResult& ch : r.chapters) {
        if (!ch.lines.empty()) {
            std::cout << "Глава " << ch.n << ". " << model::chapterName(ch.n) << "\n";
            for (const model::SummaryLineResult& l : ch.lines) {
                std::cout << l.num << "\t" << l.reason << "\t" << l.name << row(l.amounts, sep) << "\n";
                for (const std::string& p : l.problems) std::cout << "\t\t(" << p << ")\n";
            }
            std::cout << "\tИтого по главе " << ch.n << "\t" << row(ch.total, sep) << "\n";
        }
        if (ch.n >= model::kFirstSubtotal)
            std::cout << "\tИтого по главам 1–" << ch.n << "\t" << row(r.subtotal(ch.n), sep) << "\n";
    }
    std::cout << "\tРезерв средств на непредвиденные работы и затраты " << r.reservePercent.text(sep) << " %\t"
              << row(r.reserve, sep) << "\n"
              << "\tИтого с резервом\t" << row(r.withReserve, sep) << "\n"
              << "\tНалог на добавленную стоимость " << r.vatRate.text(sep) << " % (на " << r.vatDate.russian() << ")\t"
              << row(r.vat, sep) << "\n"
              << "\tВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ\t" << row(r.total, sep) << "\n";
}

int summaryTotals(const Args& args) {
    std::string file, locale;
    bool json = false;
    const ArgReader reader{"talvira-cli summary totals", kUsage};
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") json = true;
        else if (args[i] == "--locale") locale = reader.value(args, i);
        else reader.positional(args[i], file);
    }
    if (file.empty()) throw Error(kUsage);
    editing::SummaryDocument doc(shippedTables());
    doc.open(file);
    tellNotices(doc);
    const model::SummaryResult r = doc.result();
    if (!json) {
        printText(doc.construction(), r, decimalSeparatorOf(locale));
        return 0;
    }
    std::string out = model::summaryJson(r);
    // what opening found, beside the totals (only when there is something)
    std::string changed, missing;
    for (const editing::LinkNotice& n : doc.notices()) {
        std::string& list = n.kind == editing::LinkNotice::Kind::Changed ? changed : missing;
        list += (list.empty() ? "" : ",") + std::string("{\"num\":") + std::to_string(n.num) + ",\"file\":" +
                jsonQuoted(n.file) + ",\"text\":" + jsonQuoted(n.text) + "}";
    }
    out.pop_back();
    if (!changed.empty()) out += ",\"changed\":[" + changed + "]";
    if (!missing.empty()) out += ",\"missing\":[" + missing + "]";
    std::cout << out << "}\n";
    return 0;
}

const char* const kExportUsage =
    "использование: talvira-cli export SUMMARY.ssr --form ssr --out FILE.xlsx|FILE.gge\n"
    "               talvira-cli export SUMMARY.ssr --form osr --object NUM --out FILE.xlsx|FILE.gge";

}  // namespace

int exportSummaryCommand(const Args& args) {
    std::string file, form, object, out;
    const ArgReader reader{"talvira-cli export", kExportUsage};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--form") form = reader.value(args, i);
        else if (a == "--object") object = reader.value(args, i);
        else if (a == "--out") out = reader.value(args, i);
        else reader.positional(a, file);
    }
    if (file.empty() || out.empty() || (form != "ssr" && form != "osr")) throw Error(kExportUsage);
    if (form == "osr" && object.empty()) throw Error("talvira-cli export: у формы osr нужен номер объекта (--object NUM)\n" +
                                                     std::string(kExportUsage));
    if (form == "ssr" && !object.empty()) throw Error("talvira-cli export: --object только у формы osr\n" + std::string(kExportUsage));
    editing::SummaryDocument doc(shippedTables());
    doc.open(file);
    tellNotices(doc);
    const fs::path written = editing::exportSummary(
        doc, form == "osr" ? editing::SummaryForm::Object : editing::SummaryForm::Summary, object, out);
    std::cout << written.string() << "\n";
    return 0;
}

int summaryCommand(const Args& args) {
    if (args.empty()) throw Error(kUsage);
    if (args[0] == "new") return summaryNew(args);
    if (args[0] == "set") return summarySet(args);
    if (args[0] == "add") return summaryAdd(args);
    if (args[0] == "totals") return summaryTotals(args);
    throw Error("talvira-cli summary: неизвестная команда «" + args[0] + "»\n" + kUsage);
}

}  // namespace talvira::cli
