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
}

void TotalsFollower::changed() {
    if (onChanged) onChanged();
}

/* ------------------------------------------------------------------------------------- */
/*  Notifications                                                                        */
/* ------------------------------------------------------------------------------------- */

void TotalsFollower::activeChanged(TableHandle&) {
    reload();
    changed();
}

void TotalsFollower::takeRecord(int row, const storage::Record& rec) {
    rows_[static_cast<size_t>(row)] = inRecords_.rowOf(rec, false);
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
        takeRecord(c.row, *c.after);
    } else if (plain && (inserted || appended) && n == have + c.count && c.row <= have) {
        rows_.insert(rows_.begin() + c.row, static_cast<size_t>(c.count), model::PositionRow{});
        incompleteRows_.insert(incompleteRows_.begin() + c.row, static_cast<size_t>(c.count), 0);
        for (int i = 0; i < c.count; ++i) takeRecord(c.row + i, inserted ? *c.after : (*c.appended)[static_cast<size_t>(i)]);
    } else if (plain && c.kind == Kind::Deleted && n + 1 == have && c.row < have) {
        rows_.erase(rows_.begin() + c.row);
        incompleteRows_.erase(incompleteRows_.begin() + c.row);
    } else {
        reload();
        changed();
        return;
    }
    recount();
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
