#include "editing/TotalsFollower.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "editing/CommaNumber.h"
#include "editing/EstimateCommands.h"
#include "editing/EstimateRows.h"

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

TotalsFollower::TotalsFollower(TableHandle& smeta) : smeta_(smeta) {}

TotalsFollower::~TotalsFollower() { smeta_.removeObserver(this); }

void TotalsFollower::setFollowing(bool on) {
    if (on == following_) return;
    following_ = on;
    if (on) {
        smeta_.addObserver(this);
        lastState_ = smeta_.state();
        leftState_ = State::Browse;
        reload();
    } else {
        smeta_.removeObserver(this);
    }
}

bool TotalsFollower::estimateOpen() const { return smeta_.active(); }

bool TotalsFollower::plainOrder() const {
    // Only in physical order does a stored edit keep its row and an appended position come last.
    return smeta_.indexName().empty() && smeta_.indexFieldNames().empty() && !smeta_.filtered();
}

void TotalsFollower::readRow(int row, xls::PositionRow& out, bool& incomplete) const {
    out = fields_.rowAt(smeta_, row, false);
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
}

void TotalsFollower::changed() {
    if (onChanged) onChanged();
}

/* ------------------------------------------------------------------------------------- */
/*  Notifications                                                                        */
/* ------------------------------------------------------------------------------------- */

// A post notifies State (now Browse), then Data, then Moved; resuming a suspended display
// notifies Moved before Data. So a Data right after the state went from Edit to Browse is a
// stored edit of the current row (or an edit given up), and right after Insert to Browse a
// position appended (or a new row given up); every other Data re-reads all rows.

void TotalsFollower::stateChanged(TableHandle&) {
    const State now = smeta_.state();
    leftState_ = (now == State::Browse && (lastState_ == State::Edit || lastState_ == State::Insert))
                     ? lastState_
                     : State::Browse;
    lastState_ = now;
}

void TotalsFollower::recordMoved(TableHandle&) { leftState_ = State::Browse; }

void TotalsFollower::activeChanged(TableHandle&) {
    leftState_ = State::Browse;
    lastState_ = smeta_.state();
    reload();
    changed();
}

void TotalsFollower::dataChanged(TableHandle&) {
    const State left = leftState_;
    leftState_ = State::Browse;
    // While a position is edited or added only the edit buffer changes.
    if (smeta_.active() && smeta_.state() != State::Browse) return;
    const int n = storedRows(smeta_);
    const int have = static_cast<int>(rows_.size());
    const int row = smeta_.recNo();
    if (smeta_.active() && plainOrder()) {
        if (left == State::Edit && n == have && row >= 0 && row < n) {
            bool inc = false;
            readRow(row, rows_[static_cast<size_t>(row)], inc);
            incompleteRows_[static_cast<size_t>(row)] = inc;
            recount();
            changed();
            return;
        }
        if (left == State::Insert && n == have + 1 && row == n - 1) {
            xls::PositionRow p;
            bool inc = false;
            readRow(row, p, inc);
            rows_.push_back(p);
            incompleteRows_.push_back(inc);
            recount();
            changed();
            return;
        }
        if (left == State::Insert && n == have) return;  // the new row was given up
    }
    reload();
    changed();
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
