// The construction window's changes as whole constructions, and its dialogs as plain values.
#include "editing/SummaryEdits.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "model/Summary.h"

#include <map>

namespace talvira::editing {

using model::LineKind;
using model::SummaryLine;

namespace {

std::string lineName(const SummaryLine& line) {
    if (line.kind == LineKind::Estimate && !line.estimates.empty()) return line.estimates[0].name;
    return line.name;
}

/** The line's running number (гр. 1) in `c`. */
int numberOf(const model::Construction& c, SummaryPlace p) {
    int num = 0;
    for (int n = 1; n < p.chapter; ++n) num += int(c.chapter(n).size());
    return num + p.line + 1;
}

SummaryLine& lineOf(model::Construction& c, SummaryPlace p) {
    if (!lineAt(c, p)) throw Error("Строка сводного сметного расчета не выбрана");
    return c.chapter(p.chapter)[size_t(p.line)];
}

}  // namespace

SummaryEdit wholeEdit(std::string text, model::Construction next, SummaryPlace p) {
    return SummaryEdit{std::move(text), std::move(next), p};
}

SummaryEdit addedLine(const model::Construction& c, int chapter, SummaryLine line) {
    model::checkLine(chapter, line);
    model::Construction next = c;
    next.chapter(chapter).push_back(std::move(line));
    const SummaryPlace added{chapter, int(next.chapter(chapter).size()) - 1, -1};
    return wholeEdit("добавление строки", std::move(next), added);
}

SummaryEdit changedLine(const model::Construction& c, SummaryPlace p, SummaryLine line) {
    model::Construction next = c;
    SummaryLine& at = lineOf(next, p);
    if (at.kind == LineKind::Object && p.estimate >= 0) {
        at.estimates.at(size_t(p.estimate)).exempt = line.exempt;
    } else {
        model::checkLine(p.chapter, line);
        if (line.kind == LineKind::Object)
            for (int n = 1; n <= model::kChapters; ++n)
                for (const SummaryLine& other : next.chapter(n))
                    if (&other != &at && other.kind == LineKind::Object && other.objectNumber == line.objectNumber)
                        throw Error("Объект " + line.objectNumber + " «" + other.name + "» уже есть в главе " +
                                    std::to_string(n) + ": у объектов разные номера");
        at = std::move(line);
    }
    return wholeEdit("изменение строки", std::move(next), p);
}

SummaryEdit removedLine(const model::Construction& c, SummaryPlace p) {
    model::Construction next = c;
    SummaryLine& at = lineOf(next, p);
    std::vector<SummaryLine>& lines = next.chapter(p.chapter);
    SummaryPlace after{p.chapter, -1, -1};
    if (at.kind == LineKind::Object && p.estimate >= 0 && at.estimates.size() > 1) {
        at.estimates.erase(at.estimates.begin() + p.estimate);
        after = {p.chapter, p.line, std::min(p.estimate, int(at.estimates.size()) - 1)};
        return wholeEdit("удаление сметы из объекта", std::move(next), after);
    }
    lines.erase(lines.begin() + p.line);
    if (!lines.empty()) after.line = std::min(p.line, int(lines.size()) - 1);
    return wholeEdit("удаление строки", std::move(next), after);
}

std::optional<SummaryEdit> movedLine(const model::Construction& c, SummaryPlace p, int delta) {
    const SummaryActions can = actionsAt(c, p);
    if (!(delta < 0 ? can.moveUp : can.moveDown) || (delta != -1 && delta != 1)) return std::nullopt;
    model::Construction next = c;
    SummaryLine& at = lineOf(next, p);
    if (at.kind == LineKind::Object && p.estimate >= 0) {
        std::swap(at.estimates[size_t(p.estimate)], at.estimates[size_t(p.estimate + delta)]);
        return wholeEdit("перемещение сметы", std::move(next), {p.chapter, p.line, p.estimate + delta});
    }
    std::vector<SummaryLine>& lines = next.chapter(p.chapter);
    const int target = p.line + delta;
    if (target >= 0 && size_t(target) < lines.size()) {
        std::swap(lines[size_t(p.line)], lines[size_t(target)]);
        return wholeEdit("перемещение строки", std::move(next), {p.chapter, target, -1});
    }
    // across the chapter's edge: the end of the chapter above, the start of the one below
    SummaryLine moving = std::move(lines[size_t(p.line)]);
    lines.erase(lines.begin() + p.line);
    const int chapter = p.chapter + delta;
    std::vector<SummaryLine>& into = next.chapter(chapter);
    const int at2 = delta < 0 ? int(into.size()) : 0;
    into.insert(into.begin() + at2, std::move(moving));
    return wholeEdit("перемещение строки", std::move(next), {chapter, at2, -1});
}

void carryLinks(model::Construction& target, const model::Construction& current) {
    std::map<std::string, const model::LinkedEstimate*> read;
    for (const std::vector<SummaryLine>& lines : current.chapters)
        for (const SummaryLine& line : lines)
            for (const model::LinkedEstimate& e : line.estimates) read.emplace(foldCase(e.file), &e);
    for (std::vector<SummaryLine>& lines : target.chapters)
        for (SummaryLine& line : lines)
            for (model::LinkedEstimate& e : line.estimates) {
                const auto found = read.find(foldCase(e.file));
                if (found == read.end()) continue;
                const bool exempt = e.exempt;
                e = *found->second;
                e.exempt = exempt;  // the mark is the line's own, undone with it
            }
}

std::string removeQuestion(const model::Construction& c, SummaryPlace p) {
    const SummaryLine* line = lineAt(c, p);
    if (!line) return {};
    if (line->kind == LineKind::Object && p.estimate >= 0) {
        const model::LinkedEstimate* e = estimateAt(c, p);
        if (line->estimates.size() > 1 && e)
            return "Удалить смету «" + e->name + "» из объекта " + line->objectNumber + " «" + line->name + "»?";
        return "Удалить объект " + line->objectNumber + " «" + line->name + "» (в нем одна смета) из главы " +
               std::to_string(p.chapter) + "?";
    }
    return "Удалить строку " + std::to_string(numberOf(c, p)) + " «" + lineName(*line) + "» из главы " +
           std::to_string(p.chapter) + "?";
}

// ---- the line dialog ------------------------------------------------------------------------

namespace {

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::optional<Money> rublesOf(std::string_view text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') continue;
        if (text.substr(i, 2) == "\u00a0") {
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


LineForm lineForm(const SummaryLine& line, char sep) {
    LineForm f;
    f.name = lineName(line);
    f.reason = line.reason;
    f.exempt = line.exempt;
    switch (line.kind) {
    case LineKind::Calculation:
        f.kind = LineFormKind::Calculation;
        for (int i = 0; i < model::kCostColumns; ++i) f.amounts[size_t(i)] = line.amounts.money[size_t(i)].text(sep);
        break;
    case LineKind::Percent:
        f.kind = LineFormKind::Percent;
        f.percent = line.percent.text(sep);
        f.base = line.base;
        f.columns = model::columnsText(line.columns);
        break;
    case LineKind::Object:
        f.kind = LineFormKind::Object;
        f.objectNumber = line.objectNumber;
        break;
    case LineKind::Estimate:
        f.kind = LineFormKind::Estimate;
        if (!line.estimates.empty()) f.exempt = line.estimates[0].exempt;
        break;
    }
    return f;
}

SummaryLine readLineForm(const LineForm& form, const SummaryLine& kept, int chapter) {
    SummaryLine line = kept;
    const std::string name = trimmed(form.name);
    if (form.kind == LineFormKind::Estimate) {
        if (line.kind == LineKind::Estimate && !line.estimates.empty()) line.estimates[0].exempt = form.exempt;
        else line.exempt = form.exempt;  // one of an object's estimates: changedLine takes it
        return line;
    }
    if (name.empty()) throw Error("Наименование: пусто");
    line.name = name;
    line.reason = trimmed(form.reason);
    line.exempt = form.exempt;
    if (form.kind == LineFormKind::Object) {
        const std::string number = trimmed(form.objectNumber);
        if (number.empty()) throw Error("Номер объекта: пусто (например 02-01)");
        line.kind = LineKind::Object;
        line.objectNumber = number;
    } else if (form.kind == LineFormKind::Calculation) {
        static const char* const kColumns[] = {"гр. 4", "гр. 5", "гр. 6", "гр. 7"};
        line.kind = LineKind::Calculation;
        line.estimates.clear();
        for (int i = 0; i < model::kCostColumns; ++i) {
            const std::optional<Money> m = rublesOf(form.amounts[size_t(i)]);
            if (!m || *m < Money())
                throw Error(std::string("Сумма ") + kColumns[i] + ": «" + form.amounts[size_t(i)] +
                            "» — ожидается сумма в рублях, не меньше нуля, не больше двух знаков после запятой");
            line.amounts.money[size_t(i)] = *m;
        }
    } else {
        line.kind = LineKind::Percent;
        line.estimates.clear();
        const std::optional<Dec7> p = Dec7::tryParse(form.percent);
        if (!p) throw Error("Процент: «" + form.percent + "» не число");
        const std::optional<unsigned> cols = model::columnsFromText(trimmed(form.columns));
        if (!cols) throw Error("Графы: «" + form.columns + "» — ожидаются графы 4–7 через «+» (например 4+5) или 8 одна");
        line.percent = *p;
        line.base = form.base;
        line.columns = *cols;
    }
    // a new object has no estimates yet: it is checked whole when its first one is linked
    if (line.kind != LineKind::Object || !line.estimates.empty()) model::checkLine(chapter, line);
    return line;
}

// ---- the construction's dialog --------------------------------------------------------------

TitleForm titleForm(const model::Construction& c, char sep) {
    TitleForm f;
    f.name = c.name;
    f.number = c.number;
    f.customer = c.customer;
    f.level = c.level;
    if (c.vatDate) f.vatDate = c.vatDate->russian();
    f.reserve = c.reserve.text(sep);
    f.production = c.purpose == model::Purpose::Production;
    return f;
}

std::vector<std::pair<std::string, std::string>> readTitleForm(const TitleForm& form) {
    std::string date = trimmed(form.vatDate);
    if (!date.empty()) {
        // ДД.ММ.ГГГГ as typed here; ГГГГ-ММ-ДД as the command line takes it
        if (date.size() == 10 && date[2] == '.' && date[5] == '.')
            date = date.substr(6, 4) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2);
        if (!model::CalendarDate::parse(date))
            throw Error("Дата НДС: «" + form.vatDate + "» — ожидается дата ДД.ММ.ГГГГ (например 01.01.2026) или пусто");
    }
    return {{"name", trimmed(form.name)},       {"number", trimmed(form.number)}, {"customer", trimmed(form.customer)},
            {"level", trimmed(form.level)},     {"vat.date", date},               {"purpose", form.production ? "production" : "other"},
            {"reserve", trimmed(form.reserve)}};
}

}  // namespace talvira::editing
