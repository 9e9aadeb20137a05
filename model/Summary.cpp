// The summary estimate computed from a construction: lines, chapter totals, running subtotals,
// reserve, VAT by date and the grand total, in kopecks.
#include "model/Summary.h"

#include "common/Error.h"

namespace talvira::model {

namespace {

constexpr unsigned kTotalColumn = 1u << 8;
constexpr unsigned kMoneyColumns = 0xF0u;  // гр. 4–7

CostColumn columnOf(int grafa) { return static_cast<CostColumn>(grafa - 4); }

std::string chapterLine(int chapter, const SummaryLine& line) {
    std::string what = "Глава " + std::to_string(chapter);
    const std::string& name = line.kind == LineKind::Estimate && !line.estimates.empty() ? line.estimates[0].name
                                                                                        : line.name;
    if (!name.empty()) what += ", строка «" + name + "»";
    return what;
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

/** At most `places` decimals. */
bool decimalsAtMost(Dec7 d, int places) {
    int64_t unit = 1;
    for (int i = places; i < 7; ++i) unit *= 10;
    return d.units() % unit == 0;
}

}  // namespace

void checkLine(int chapter, const SummaryLine& line) {
    if (chapter < 1 || chapter > kChapters)
        throw Error("Глава «" + std::to_string(chapter) + "»: в сводном сметном расчете главы с 1 по 12");
    switch (line.kind) {
    case LineKind::Estimate:
        if (line.estimates.size() != 1) throw Error(chapterLine(chapter, line) + ": у строки нет локальной сметы");
        break;
    case LineKind::Object:
        if (line.objectNumber.empty()) throw Error(chapterLine(chapter, line) + ": у объекта нет номера");
        if (line.estimates.empty()) throw Error(chapterLine(chapter, line) + ": в объекте нет локальных смет");
        break;
    case LineKind::Calculation:
        for (Money m : line.amounts.money)
            if (m < Money()) throw Error(chapterLine(chapter, line) + ": сумма меньше нуля");
        break;
    case LineKind::Percent: {
        const std::string what = chapterLine(chapter, line);
        if (line.base < kFirstSubtotal || line.base > kChapters)
            throw Error(what + ": итоги «Итого по главам 1–K» есть только после глав с 7 по 12, а не «1–" +
                        std::to_string(line.base) + "»");
        if (line.base >= chapter)
            throw Error(what + ": процент берется от итога выше строки, а «Итого по главам 1–" +
                        std::to_string(line.base) + "» стоит после главы " + std::to_string(line.base) +
                        ", не выше главы " + std::to_string(chapter));
        const unsigned money = line.columns & kMoneyColumns;
        if (line.columns == 0 || (line.columns & ~(kMoneyColumns | kTotalColumn)) != 0 ||
            ((line.columns & kTotalColumn) && money))
            throw Error(what + ": графы «" + columnsText(line.columns) +
                        "» — ожидаются графы 4–7 через «+» (например 4+5) или 8 одна");
        if (line.percent <= Dec7() || line.percent > Dec7::fromInt(100))
            throw Error(what + ": процент " + line.percent.text(',') + " — ожидается больше 0 и не больше 100");
        if (!decimalsAtMost(line.percent, 3))
            throw Error(what + ": процент " + line.percent.text(',') + " — не более трех знаков после запятой");
        break;
    }
    }
}

Dec7 reservePercent(std::string_view text, Purpose purpose) {
    const std::optional<Dec7> d = Dec7::tryParse(text);
    const std::string cap = reserveCap(purpose).text(',');
    const std::string kind = purpose == Purpose::Production ? "производственного" : "непроизводственного";
    if (!d) throw Error("Резерв (reserve): «" + std::string(text) + "» не число");
    if (*d < Dec7()) throw Error("Резерв (reserve): " + d->text(',') + " % меньше нуля");
    if (*d > reserveCap(purpose))
        throw Error("Резерв (reserve): " + d->text(',') + " % больше предела " + cap + " % для объектов " + kind +
                    " назначения");
    if (!decimalsAtMost(*d, 3)) throw Error("Резерв (reserve): " + d->text(',') + " % — не более трех знаков после запятой");
    return *d;
}

void checkConstruction(const Construction& c) {
    reservePercent(c.reserve.text(), c.purpose);
    for (int n = 1; n <= kChapters; ++n)
        for (const SummaryLine& line : c.chapter(n)) checkLine(n, line);
}

Dec7 vatRate(CalendarDate d) {
    if (d < CalendarDate{2019, 1, 1}) return Dec7::fromInt(18);
    if (d < CalendarDate{2026, 1, 1}) return Dec7::fromInt(20);
    return Dec7::fromInt(22);
}

CalendarDate vatDateOf(const Construction& c) {
    if (c.vatDate) return *c.vatDate;
    if (std::optional<CalendarDate> d = levelStart(c.level)) return *d;
    if (c.created.year == 0)
        throw Error("Не задана дата, на которую берется НДС: укажите ее (vat.date) или уровень цен (level)");
    return c.created;
}

CostColumns columnsOfEstimate(const BaseIndexResult& r) {
    CostColumns out;
    for (const WorkTypeTotals& w : r.workTypes) {
        CostColumn c = CostColumn::Other;
        switch (w.type) {
        case WorkType::Construction: c = CostColumn::Building; break;
        case WorkType::Mounting: c = CostColumn::Mounting; break;
        case WorkType::Equipment: c = CostColumn::Equipment; break;
        case WorkType::Commissioning:  // пусконаладочные работы are counted with прочие затраты
        case WorkType::Other: c = CostColumn::Other; break;
        }
        out[c] += w.current.total;
    }
    return out;
}

std::array<Elements, kWorkTypes> detailsOfEstimate(const BaseIndexResult& r) {
    std::array<Elements, kWorkTypes> out{};
    for (const WorkTypeTotals& w : r.workTypes) {
        Elements& e = out[static_cast<size_t>(w.type)];
        e = w.current;
        e.zt = w.base.zt;
        e.ztm = w.base.ztm;
    }
    return out;
}

int64_t thousandths(Money m) {
    const int64_t k = m.kopecks();
    const int64_t q = k / 1000, rest = k % 1000;
    if (rest >= 500) return q + 1;
    if (rest <= -500) return q - 1;
    return q;
}

std::string thousandsText(Money m, char sep) { return Money::fromKopecks(thousandths(m)).text(sep); }

std::optional<unsigned> columnsFromText(std::string_view text) {
    unsigned bits = 0;
    size_t i = 0;
    while (i <= text.size()) {
        const size_t plus = text.find('+', i);
        const std::string_view part = text.substr(i, plus == std::string_view::npos ? std::string_view::npos : plus - i);
        if (part.size() != 1 || part[0] < '4' || part[0] > '8') return std::nullopt;
        const unsigned bit = 1u << (part[0] - '0');
        if (bits & bit) return std::nullopt;
        bits |= bit;
        if (plus == std::string_view::npos) break;
        i = plus + 1;
    }
    if ((bits & kTotalColumn) && (bits & kMoneyColumns)) return std::nullopt;
    return bits;
}

std::string columnsText(unsigned columns) {
    std::string out;
    for (int g = 4; g <= 8; ++g)
        if (columns & (1u << g)) out += (out.empty() ? "" : "+") + std::to_string(g);
    return out;
}

SummaryResult computeSummary(const Construction& c) {
    checkConstruction(c);
    SummaryResult r;
    CostColumns running;
    int num = 0, calculations = 0;
    for (int n = 1; n <= kChapters; ++n) {
        ChapterResult& chapter = r.chapters[size_t(n - 1)];
        chapter.n = n;
        const std::vector<SummaryLine>& lines = c.chapter(n);
        for (size_t i = 0; i < lines.size(); ++i) {
            const SummaryLine& line = lines[i];
            SummaryLineResult out;
            out.num = ++num;
            out.chapter = n;
            out.index = i;
            out.kind = line.kind;
            out.name = line.name;
            switch (line.kind) {
            case LineKind::Estimate: {
                const LinkedEstimate& e = line.estimates[0];
                out.name = e.name;
                out.reason = "ЛСР " + twoDigits(n) + "-" + twoDigits(int(i) + 1) + "-01";
                out.amounts = e.amounts;
                if (e.exempt) out.exempt = e.amounts;
                if (!e.problem.empty()) out.problems.push_back(e.problem);
                break;
            }
            case LineKind::Object:
                out.reason = "ОСР " + line.objectNumber;
                for (const LinkedEstimate& e : line.estimates) {
                    out.amounts += e.amounts;
                    if (e.exempt) out.exempt += e.amounts;
                    if (!e.problem.empty()) out.problems.push_back(e.problem);
                }
                break;
            case LineKind::Calculation:
                out.reason = "СР-" + std::to_string(++calculations);
                out.amounts = line.amounts;
                if (line.exempt) out.exempt = out.amounts;
                break;
            case LineKind::Percent: {
                const CostColumns& base = r.subtotal(line.base);
                if (line.columns & kTotalColumn) {
                    out.amounts[CostColumn::Other] = percentOf(base.total(), line.percent);
                } else {
                    for (int g = 4; g <= 7; ++g)
                        if (line.columns & (1u << g)) out.amounts[columnOf(g)] = percentOf(base[columnOf(g)], line.percent);
                }
                if (line.exempt) out.exempt = out.amounts;
                break;
            }
            }
            if (!line.reason.empty()) out.reason = line.reason;
            chapter.total += out.amounts;
            r.exempt += out.exempt;
            chapter.lines.push_back(std::move(out));
        }
        running += chapter.total;
        if (n >= kFirstSubtotal) r.subtotals[size_t(n - kFirstSubtotal)] = running;
    }
    const CostColumns& all = r.subtotal(kChapters);
    r.reservePercent = c.reserve;
    for (size_t i = 0; i < all.money.size(); ++i) r.reserve.money[i] = percentOf(all.money[i], c.reserve);
    r.withReserve = all + r.reserve;
    r.vatDate = vatDateOf(c);
    r.vatRate = vatRate(r.vatDate);
    const CostColumns taxed = r.withReserve - r.exempt;
    for (size_t i = 0; i < taxed.money.size(); ++i) r.vat.money[i] = percentOf(taxed.money[i], r.vatRate);
    r.total = r.withReserve + r.vat;
    return r;
}

}  // namespace talvira::model
