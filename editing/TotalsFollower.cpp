#include "editing/TotalsFollower.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "editing/CommaNumber.h"
#include "editing/EstimateCommands.h"
#include "editing/EstimateRows.h"

#include <exception>

namespace talvira::editing {

using storage::TableHandle;
using State = storage::TableHandle::State;

namespace {

/** Stored positions: a row that is being added is not one yet. */
int storedRows(const TableHandle& t) {
    if (!t.active()) return 0;
    return t.recordCount() - (t.state() == State::Insert ? 1 : 0);
}

}  // namespace

TotalsFollower::TotalsFollower(TableHandle& smeta, const model::NrSpTables& tables) : smeta_(smeta), state_(tables) {}

TotalsFollower::~TotalsFollower() { smeta_.removeObserver(this); }

void TotalsFollower::setFollowing(bool on) {
    if (on == following_) return;
    following_ = on;
    if (on) {
        smeta_.addObserver(this);
        reload();
    } else {
        smeta_.removeObserver(this);
    }
}

bool TotalsFollower::estimateOpen() const { return smeta_.active(); }

bool TotalsFollower::plainOrder() const {
    // Only in physical order are the rows told by the handle the rows followed here.
    return smeta_.indexName().empty() && smeta_.indexFieldNames().empty() && !smeta_.filtered();
}

void TotalsFollower::readRow(int row, model::PositionRow& out, bool& incomplete) const {
    out = fields_.rowAt(smeta_, row, false);
    // The code tells the book, and that a position's data kept for its number are its own.
    if (fields_.code >= 0) out.code = smeta_.valueAt(row, fields_.code).asString();
    auto value = [&](int at) { return at >= 0 ? smeta_.valueAt(row, at) : storage::Value(); };
    incomplete = isIncomplete(value(fields_.quantity), value(fields_.cost));
}

void TotalsFollower::recount() {
    incomplete_ = 0;
    for (char c : incompleteRows_) incomplete_ += c ? 1 : 0;
    sums_ = xls::sumPositions(rows_);
}

void TotalsFollower::reload() {
    rows_.clear();
    incompleteRows_.clear();
    if (smeta_.active()) {
        fields_ = PositionFields::of(smeta_, false);
        inRecords_ = PositionFields::inRecords(smeta_);
        const int n = storedRows(smeta_);
        rows_.resize(static_cast<size_t>(n));
        incompleteRows_.resize(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) {
            bool inc = false;
            readRow(r, rows_[static_cast<size_t>(r)], inc);
            incompleteRows_[static_cast<size_t>(r)] = inc;
        }
    }
    recount();
    if (byBaseIndex()) computeAll();
}

void TotalsFollower::changed() {
    if (held_ > 0) {
        changedHeld_ = true;
        return;
    }
    if (onChanged) onChanged();
}

TotalsFollower::Held::~Held() noexcept(false) {
    if (--f_.held_ > 0 || !f_.changedHeld_) return;
    f_.changedHeld_ = false;
    if (std::uncaught_exceptions() > 0) {
        try {
            f_.changed();
        } catch (...) {  // the error on its way is the one to tell
        }
        return;
    }
    f_.changed();
}

/* ------------------------------------------------------------------------------------- */
/*  Notifications                                                                        */
/* ------------------------------------------------------------------------------------- */

void TotalsFollower::activeChanged(TableHandle&) {
    reload();
    changed();
}

void TotalsFollower::takeRecord(int row, const storage::Record& rec) {
    model::PositionRow& out = rows_[static_cast<size_t>(row)];
    out = inRecords_.rowOf(rec, false);
    // The code tells the book, and that a position's data kept for its number are its own.
    if (inRecords_.code >= 0) out.code = PositionFields::value(rec, inRecords_.code).asString();
    incompleteRows_[static_cast<size_t>(row)] =
        isIncomplete(PositionFields::value(rec, inRecords_.quantity), PositionFields::value(rec, inRecords_.cost));
}

void TotalsFollower::tableChanged(TableHandle&, const storage::TableChange& c) {
    // The records the notice carries are what the table stores: nothing is read again.
    using Kind = storage::TableChange::Kind;
    const int n = storedRows(smeta_);
    const int have = static_cast<int>(rows_.size());
    const bool plain = smeta_.active() && plainOrder() && c.row >= 0;
    const bool inserted = c.kind == Kind::Posted && c.inserted && c.after;
    const bool appended = c.kind == Kind::Appended && c.appended && static_cast<int>(c.appended->size()) == c.count;
    if (plain && c.kind == Kind::Posted && !c.inserted && c.after && n == have && c.row < n) {
        const size_t row = static_cast<size_t>(c.row);
        const std::string codeBefore = rows_[row].code;
        takeRecord(c.row, *c.after);
        if (byBaseIndex()) {
            if (rows_[row].code != codeBefore) computeAll();  // its data may no longer be its own
            else state_.recompute(rows_, calc_.params, row);
        }
    } else if (plain && (inserted || appended) && n == have + c.count && c.row <= have) {
        rows_.insert(rows_.begin() + c.row, static_cast<size_t>(c.count), model::PositionRow{});
        incompleteRows_.insert(incompleteRows_.begin() + c.row, static_cast<size_t>(c.count), 0);
        for (int i = 0; i < c.count; ++i) takeRecord(c.row + i, inserted ? *c.after : (*c.appended)[static_cast<size_t>(i)]);
        if (byBaseIndex() && !(c.row == have && state_.append(rows_, calc_.positions, calc_.params, static_cast<size_t>(have))))
            computeAll();
    } else if (plain && c.kind == Kind::Deleted && n + 1 == have && c.row < have) {
        rows_.erase(rows_.begin() + c.row);
        incompleteRows_.erase(incompleteRows_.begin() + c.row);
        if (byBaseIndex()) computeAll();
    } else {
        reload();
        changed();
        return;
    }
    recount();
    changed();
}

/* ------------------------------------------------------------------------------------- */
/*  The base-index method                                                                */
/* ------------------------------------------------------------------------------------- */

void TotalsFollower::setCalc(const KeptCalc& calc) {
    calc_ = calc;
    if (!following_) return;
    if (byBaseIndex()) computeAll();
    changed();
}

void TotalsFollower::setPositionsData(const std::vector<model::PositionData>& extras) {
    std::vector<size_t> touched;  // rows whose positions are computed again
    bool anew = false;            // the positions' make-up changed: everything
    for (const model::PositionData& extra : extras) {
        model::PositionData* kept = nullptr;
        for (model::PositionData& e : calc_.positions)
            if (e.count == extra.count) {
                kept = &e;
                break;
            }
        if (kept && kept->parent == extra.parent && kept->code == extra.code) {
            *kept = extra;  // in place: what points at it stays valid
            const std::optional<size_t> row = state_.rowOfCount(extra.count);
            if (row && *row < state_.rowCount() && state_.dataOf(*row) == kept) touched.push_back(*row);
        } else {
            if (kept) *kept = extra;
            else calc_.positions.push_back(extra);
            anew = true;
        }
    }
    if (!following_ || !byBaseIndex()) return;
    if (anew) {
        computeAll();
    } else {
        for (size_t row : touched) state_.recompute(rows_, calc_.params, row);
    }
    changed();
}

const model::PositionResult* TotalsFollower::positionOf(size_t row) const {
    return byBaseIndex() ? state_.positionOf(row) : nullptr;
}

/* ------------------------------------------------------------------------------------- */
/*  Incomplete positions                                                                 */
/* ------------------------------------------------------------------------------------- */

int nextIncompleteRow(const TableHandle& smeta, int current) {
    const int n = storedRows(smeta);
    if (n == 0) return -1;
    const PositionFields places = PositionFields::of(smeta, false);
    const int kolvo = places.quantity;
    const int stoim = places.cost;
    auto value = [&](int r, int f) { return f >= 0 ? smeta.valueAt(r, f) : storage::Value(); };
    if (current < -1 || current >= n) current = -1;
    for (int k = 1; k <= n; ++k) {
        const int r = (current + k) % n;
        if (isIncomplete(value(r, kolvo), value(r, stoim))) return r;
    }
    return -1;
}

std::string amountText(const xls::BlockAmount& amount, char decimalSep) {
    switch (amount.kind) {
    case xls::BlockAmount::Kind::None: return {};
    case xls::BlockAmount::Kind::Error: return xls::errorName(amount.error, true);
    case xls::BlockAmount::Kind::Failure: return amount.message;
    case xls::BlockAmount::Kind::Number: break;
    }
    std::string text;
    try {
        text = FloatToCommaStr(amount.value, 2);
    } catch (const Error&) {
        return formatGeneral(amount.value, decimalSep);  // beyond the fixed-point range
    }
    for (char& c : text)
        if (c == ',') c = decimalSep;
    // Thousands apart, as a sum is read: "9 654 354,52" (a no-break space, as the Russian
    // notation writes it, so that an amount never breaks across lines).
    const size_t digits = text.find(decimalSep) - (text[0] == '-' ? 1 : 0);
    const size_t first = text[0] == '-' ? 1 : 0;
    for (size_t at = first + digits; at > first + 3; at -= 3) text.insert(at - 3, "\u00A0");
    return text;
}

}  // namespace talvira::editing
