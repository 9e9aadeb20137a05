#pragma once
/**
 * The changes the construction's window makes, each as a whole new construction with the row to
 * select after it and the words that name it in "Отменить: …". The window applies one through
 * SummaryDocument::replace (checked and written, or refused and nothing taken) and keeps the one
 * before it for undo. Also the line and title dialogs as plain values: texts as typed, read back
 * with every field checked before anything is taken.
 *
 *   editing::SummaryEdit e = editing::movedLine(doc.construction(), place, -1);   // Ctrl+Up
 *   doc.replace(e.after);
 *   model::Construction back = before; editing::carryLinks(back, doc.construction()); doc.replace(back);  // undo
 *
 * Caveats: a linked estimate's amounts are never undone: carryLinks gives the construction an
 * undo or redo brings back the amounts read last (an estimate saved meanwhile stays as read).
 */
#include "editing/SummaryRows.h"
#include "model/Construction.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvira::editing {

struct SummaryEdit {
    std::string text;              // "добавление строки"
    model::Construction after;
    SummaryPlace place;            // the row to select after it
};

/** `line` added at the end of chapter `chapter` (checkLine's errors). */
SummaryEdit addedLine(const model::Construction& c, int chapter, model::SummaryLine line);
/** The line of `p` replaced by `line` (checkLine's errors; an object given the number of another
 *  is refused); for one of an object's estimates, only that estimate's mark «не облагается НДС»
 *  is taken from `line.exempt`. */
SummaryEdit changedLine(const model::Construction& c, SummaryPlace p, model::SummaryLine line);
/** The line of `p` deleted (for one of an object's estimates: that estimate; an object left
 *  without estimates goes with it). */
SummaryEdit removedLine(const model::Construction& c, SummaryPlace p);
/** The line of `p` moved by `delta` (-1 up, +1 down): within its chapter, across the edge into the
 *  end (start) of the chapter above (below); one of an object's estimates within the object.
 *  Nothing where it cannot go. */
std::optional<SummaryEdit> movedLine(const model::Construction& c, SummaryPlace p, int delta);
/** The construction `next` as an edit named `text`, `p` selected after. */
SummaryEdit wholeEdit(std::string text, model::Construction next, SummaryPlace p);

/** Gives every estimate `target` links the amounts, details, name, stamp and problem it has in
 *  `current` (the same file): what was read last stands whatever is undone. */
void carryLinks(model::Construction& target, const model::Construction& current);

/** What the row's "delete" asks before it deletes: «Удалить строку 3 «Сети» из главы 6?». */
std::string removeQuestion(const model::Construction& c, SummaryPlace p);

// ---- the line dialog ------------------------------------------------------------------------

/** The kinds of line the dialog makes, as it lists them. */
enum class LineFormKind { Calculation, Percent, Object, Estimate };
inline constexpr std::array<const char*, 4> kLineFormKinds{"Расчет (сумма по графам)", "Процент от итога",
                                                           "Объект (объектный сметный расчет)", "Локальная смета"};

struct LineForm {
    LineFormKind kind = LineFormKind::Calculation;
    std::string name, reason;
    std::array<std::string, model::kCostColumns> amounts;  // rubles as typed, гр. 4–7
    std::string percent;
    int base = model::kFirstSubtotal;     // «Итого по главам 1–base»
    std::string columns = "4+5";          // "4+5", "7", "8"
    std::string objectNumber;
    bool exempt = false;
    bool operator==(const LineForm&) const = default;
};

/** The form showing `line`, numbers with `sep`. */
LineForm lineForm(const model::SummaryLine& line, char sep);
/** The line the form makes of `kept` in chapter `chapter`: talvira::Error naming the field for a
 *  name left empty, an amount or percent that is no number, columns that are none, a subtotal not
 *  above the line. An estimate's form changes only its mark «не облагается НДС»; an object without
 *  estimates yet (a new one) is not checked for them. */
model::SummaryLine readLineForm(const LineForm& form, const model::SummaryLine& kept, int chapter);

// ---- the construction's dialog --------------------------------------------------------------

struct TitleForm {
    std::string name, number, customer, level;
    std::string vatDate;     // ДД.ММ.ГГГГ; empty: the price level's first day
    std::string reserve;     // %
    bool production = false;
    bool operator==(const TitleForm&) const = default;
};

TitleForm titleForm(const model::Construction& c, char sep);
/** The pairs SummaryDocument::withValues takes; talvira::Error naming the field for a date that
 *  is none. */
std::vector<std::pair<std::string, std::string>> readTitleForm(const TitleForm& form);

/** Rubles as typed in a line's amounts (the window's form, `summary add --amounts`): a point or a
 *  comma, blanks (also no-break) between thousands, two decimals at most; empty is 0; nothing
 *  when it is no such amount. */
std::optional<Money> rublesOf(std::string_view text);

}  // namespace talvira::editing
