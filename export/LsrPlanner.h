#pragma once
/**
 * Inside planLsr: the one object that lays the form's lines, shared by the three files that
 * plan its parts (the header and signatures, the positions, the totals). Not for other callers.
 */
#include "export/LsrPlan.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace talvira::lsr::detail {

// The form's columns 1…12 are A…L; M and N hold the keys the totals sum by.
enum Col : int { C1, C2, C3, C4, C5, C6, C7, C8, C9, C10, C11, C12, KeyElement, KeyType };

/** The looks of the form's cells; `…Top` carry the top border of «Итого по расценке» and
 *  «Всего по позиции». */
struct Styles {
    sheet::StyleId text, textTop, bold, boldTop, boldWrap, name, code, money, moneyTop, moneyBold, moneyBoldTop, quantity,
        coefficient, labour, number, title, caption, value, head, headNumber, italic, thousands, thousandsBase, key;
};

/** One amount line of the totals: base (J), index (K), current (L), each a formula with the
 *  computed value. */
struct Amount {
    std::string base;
    Money baseValue;
    std::optional<Dec7> index;
    std::optional<std::string> current;
    Money currentValue;
};

/** Rows of a rate's cost lines (-1: the rate has no such element). */
struct CostRows {
    int q = -1;  // the position's line (its quantity)
    int ot = -1, em = -1, otm = -1, m = -1;
};

/** Rows of the section's lines whose current amounts are the types' own, filled once the
 *  types are laid. */
struct SectionRows {
    int em = -1, m = -1, eq = -1;
};

/** Rows of one type of work's lines, for the estimate's sums. */
struct TypeRows {
    int pz = -1, ot = -1, em = -1, otm = -1, m = -1, fot = -1, nr = -1, sp = -1, total = -1;
};

std::string round2(const std::string& e);
std::string round7(const std::string& e);
/** "A+B+C", or "0" for none. */
std::string joined(const std::vector<std::string>& terms);
/** The amount in thousands, exactly. */
Dec7 thousands(Money m);
/** The number column N holds for a type of work. */
int typeKey(model::WorkType t);

class Planner {
public:
    explicit Planner(const FormInput& in);
    sheet::SheetPlan take();

private:
    // ---- LsrPlan.cpp: the header, the head, the signatures
    void approvals();
    void labelled(const std::string& label, const std::string& value);
    void valueLine(const std::string& label, const std::string& value, const char* caption, int from);
    void header();
    void headerAmountLines();
    void headerAmounts();
    void head();
    void signatures();

    // ---- LsrPlanBody.cpp: the positions
    void body();
    int positionLine(const model::PositionResult& p);
    void coefficientLines(const model::PositionResult& p);
    void standalone(const model::PositionResult& p);
    void rate(const model::PositionResult& p, const std::string& chargeTitle);
    CostRows costLines(const model::PositionResult& p, int q, bool indexed, Money mRate);
    /** The formula of the machinists' extra pay, "" when the position has none. */
    std::string extraPay(const model::PositionResult& p, const CostRows& rows) const;
    void labourLines(const model::PositionResult& p, int q);
    int rateTotal(const model::PositionResult& p, const CostRows& rows, Money mRate);
    std::vector<std::string> pricedMaterials(const model::PositionResult& p, int q);
    int fotLine(const model::PositionResult& p, const CostRows& rows, bool indexed);
    std::vector<std::string> charges(const model::PositionResult& p, int fot, bool indexed, const std::string& title);
    int materialLine(const model::PricedMaterial& m, int q, Dec7 quantity, const std::string& numberText);
    std::string normTimes(int r, Dec7 norm, Dec7 k);

    // ---- LsrPlanTotals.cpp: the totals
    void totals();
    SectionRows section();
    void sectionCurrent(const SectionRows& rows);
    TypeRows typeBlock(const model::WorkTypeTotals& t);
    void estimateLines(const std::vector<TypeRows>& types);
    void reference();
    std::string keyRange(int col) const;
    std::string sumOf(int col, Element element, std::optional<model::WorkType> type = {}) const;
    /** ROUND(J a + J b …, 2) over `rows`, and the same in L when `withCurrent`. */
    Amount added(const std::vector<int>& rows, Money base, bool withCurrent, Money current) const;
    Amount summed(Element element, std::optional<model::WorkType> type, Money base, bool withCurrent, Money current) const;
    int amountLine(const std::string& label, const Amount& a, bool bold) {
        return fillAmount(line(LineKind::Amount), label, a, bold);
    }
    int fillAmount(int r, const std::string& label, const Amount& a, bool bold);

    // ---- shared
    int line(LineKind kind, double height = 0) { return plan_.addLine(static_cast<uint16_t>(kind), height); }
    void name(Anchor a, int row, model::WorkType t = model::WorkType::Construction) { plan_.name(anchorName(a, t), row); }
    int row(Anchor a, model::WorkType t = model::WorkType::Construction) const { return plan_.row(anchorName(a, t)); }
    void keys(int r, Element e, model::WorkType t);
    const model::PositionRow* rowOf(size_t tableRow) const {
        return tableRow < in_.rows.size() ? &in_.rows[tableRow] : nullptr;
    }
    const model::WorkTypeTotals* typeTotals(model::WorkType t) const;

    const FormInput& in_;
    sheet::SheetPlan plan_;
    Styles s_{};
    std::array<int, 6> amountRows_{};   // the header's six amount lines, as laid
    int bodyFirst_ = 0, bodyLast_ = -1;
};

}  // namespace talvira::lsr::detail
