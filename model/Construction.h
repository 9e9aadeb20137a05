#pragma once
/**
 * A construction (стройка) as plain values: what its summary estimate of construction cost is
 * made of — the title data, the reserve and the date VAT is taken at, and chapters 1–12 with their
 * lines: local estimates linked by file, objects gathering local estimates, calculations with fixed
 * amounts, and percentage lines of a subtotal above them. The computation (model/Summary.h) and the
 * construction's file (editing/SummaryFile.h) both work on it.
 *
 *   model::Construction c;
 *   c.name = "Школа на 550 мест";
 *   c.chapter(12).push_back(model::SummaryLine::calculation("Проектные работы", amounts, "СР-3"));
 *
 * Caveats: nothing here checks the lines against each other (a percentage of a subtotal below it,
 * a reserve over its cap): computeSummary refuses such a construction, naming what is wrong.
 */
#include "common/Decimal.h"
#include "model/BaseIndexResult.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::model {

/** The money columns гр. 4–7 of an object or summary estimate; гр. 8 is their sum. */
enum class CostColumn { Building, Mounting, Equipment, Other };  // строительных, монтажных, оборудования, прочих
constexpr int kCostColumns = 4;

/** Amounts in the four money columns, in kopecks. */
struct CostColumns {
    std::array<Money, kCostColumns> money{};

    Money& operator[](CostColumn c) { return money[static_cast<size_t>(c)]; }
    Money operator[](CostColumn c) const { return money[static_cast<size_t>(c)]; }
    /** гр. 8: the sum of the four. */
    Money total() const { return money[0] + money[1] + money[2] + money[3]; }
    bool isZero() const { return money[0].isZero() && money[1].isZero() && money[2].isZero() && money[3].isZero(); }
    CostColumns& operator+=(const CostColumns& o) {
        for (size_t i = 0; i < money.size(); ++i) money[i] += o.money[i];
        return *this;
    }
    friend CostColumns operator+(CostColumns a, const CostColumns& b) { return a += b; }
    friend CostColumns operator-(CostColumns a, const CostColumns& b) {
        for (size_t i = 0; i < a.money.size(); ++i) a.money[i] = a.money[i] - b.money[i];
        return a;
    }
    bool operator==(const CostColumns&) const = default;
};

/** A calendar day (the date VAT is taken at, the day a construction was made). */
struct CalendarDate {
    int year = 0, month = 0, day = 0;
    /** "2026-01-01" exactly (ten characters, a day the calendar has); nothing otherwise. */
    static std::optional<CalendarDate> parse(std::string_view text);
    std::string text() const;                 // "2026-01-01"
    std::string russian() const;              // "01.01.2026"
    bool operator==(const CalendarDate&) const = default;
    auto operator<=>(const CalendarDate&) const = default;
};

/** The first day of a price level as estimators write it: «I кв. 2026», «1 квартал 2026 г.»,
 *  «IV кв. 2025», «01.01.2026», «2026-01-01»; nothing for a text that names no day. */
std::optional<CalendarDate> levelStart(std::string_view level);

/** What the file layer last saw of a linked file, to tell whether it changed since: size and
 *  modification time (ns since the epoch) of the estimate's table, of its side file and of its
 *  title file (size -1: absent). `settled` false: the stamp was taken so soon after the file was
 *  written that a later write within the clock's step could leave it equal, so it is not
 *  trusted. */
struct FileStamp {
    int64_t size = -1, time = 0, sideSize = -1, sideTime = 0, textSize = -1, textTime = 0;
    bool settled = false;
    /** The same files as `o` saw, both settled. */
    bool sameAs(const FileStamp& o) const {
        return settled && o.settled && size == o.size && time == o.time && sideSize == o.sideSize &&
               sideTime == o.sideTime && textSize == o.textSize && textTime == o.textTime;
    }
    bool operator==(const FileStamp&) const = default;
};

/** A local estimate linked to the construction: its file and what was last read from it. */
struct LinkedEstimate {
    /** The estimate's table, relative to the construction's file ('/' between folders). */
    std::string file;
    /** Its title as last read (the file's name without extension when it has none). */
    std::string name;
    /** Its totals by type of work in current prices, as last read (columnsOfEstimate). */
    CostColumns amounts;
    /** The same by type of work (WorkType order) and element of cost, in current prices, labour
     *  (zt, ztm) as the estimate has it: what the object estimate's file details. */
    std::array<Elements, kWorkTypes> details{};
    FileStamp stamp;
    /** Its amounts are left out of what VAT is charged on. */
    bool exempt = false;
    /** Not kept in the file: why the amounts are the last known ones (the file is missing or
     *  cannot be read now); empty when they are the file's own. */
    std::string problem;
    bool operator==(const LinkedEstimate&) const = default;
};

enum class LineKind { Estimate, Object, Calculation, Percent };
/** "estimate", "object", "calc", "percent": the names the command line and the JSON use. */
std::string_view lineKindText(LineKind k);

/** The subtotals «Итого по главам 1–K» a percentage line may be taken of: after chapters 7–12. */
constexpr int kFirstSubtotal = 7;
constexpr int kChapters = 12;

/** One line of a chapter. */
struct SummaryLine {
    LineKind kind = LineKind::Calculation;
    /** гр. 3. Estimate: unused (the estimate's own name); the others: as typed. */
    std::string name;
    /** гр. 2 as typed (a calculation's «Расчет № 5», a percentage's order); empty: the number the
     *  line is given (ЛСР, ОСР, СР-k). */
    std::string reason;
    /** Calculation, Percent: left out of what VAT is charged on (estimates carry their own). */
    bool exempt = false;
    /** Estimate: exactly one; Object: the local estimates it gathers, in order. */
    std::vector<LinkedEstimate> estimates;
    /** Object: its number without «ОС-» ("02-01"). */
    std::string objectNumber;
    /** Calculation: its fixed amounts. */
    CostColumns amounts;
    /** Percent: `percent` % (up to three decimals) of the columns `columns` of «Итого по главам
     *  1–`base`», each column to itself; `columns` holds bits 1 << 4 … 1 << 7 for гр. 4–7, or
     *  1 << 8 alone: the percent of гр. 8, put in гр. 7. */
    Dec7 percent;
    int base = kFirstSubtotal;
    unsigned columns = 0;

    bool operator==(const SummaryLine&) const = default;

    static SummaryLine estimate(LinkedEstimate e);
    static SummaryLine object(std::string number, std::string name);
    static SummaryLine calculation(std::string name, CostColumns amounts, std::string reason = {});
    static SummaryLine percentage(std::string name, Dec7 percent, int base, unsigned columns, std::string reason = {});
};

enum class Purpose { Other, Production };  // non-production (reserve up to 2 %), production (up to 3 %)

/** The construction and its summary estimate's lines. */
struct Construction {
    std::string name;                  // стройка
    std::string number;                // the summary estimate's number without «ССРСС-» (may be empty)
    std::string customer;              // заказчик
    std::string level;                 // the current price level: «I кв. 2026»
    std::optional<CalendarDate> vatDate;  // none: the first day of `level`, else `created`
    CalendarDate created;              // the day it was made (year 0: not known)
    Purpose purpose = Purpose::Other;
    Dec7 reserve = Dec7::fromInt(2);   // % of «Итого по главам 1–12»
    std::array<std::vector<SummaryLine>, kChapters> chapters;

    /** Chapter `n` (1–12). */
    std::vector<SummaryLine>& chapter(int n) { return chapters.at(size_t(n - 1)); }
    const std::vector<SummaryLine>& chapter(int n) const { return chapters.at(size_t(n - 1)); }
    bool operator==(const Construction&) const = default;
};

/** The highest reserve for the purpose, in % (2 or 3). */
Dec7 reserveCap(Purpose p);

/** The chapters' names as the summary estimate prints them (1–12). */
std::string_view chapterName(int n);

}  // namespace talvira::model
