#pragma once
/**
 * The estimate's positions as workbook rows, kept up to date while the estimate table changes,
 * so that the totals and charges block can be shown live without walking the table again
 * after every stored change; and the walk over incomplete positions.
 *
 *   editing::TotalsFollower f(Form2->SmetaTable, model::nrSpTables());
 *   f.onChanged = [&] { show(xls::computeTotals(f.sums(), texts, sep)); };
 *   f.setFollowing(true);            // reads every position once
 *
 * Caveats: the rows follow the handle's change notices (storage::TableChange): a stored edit,
 * a position inserted or appended and a deletion touch only the rows concerned, taken from the
 * records the notice carries; a table replaced (clearing, undoing a clearing,
 * changes made while the display was suspended) or another estimate re-reads all positions.
 * Only stored positions count: a new row that the grid is still adding does not, and while a
 * position is being edited the rows keep what is stored until it is posted.
 *
 * An estimate by the base-index method (setCalc) also has its result kept (baseIndex): a stored
 * edit of a position recomputes that position alone (a material's, its rate's) and the sums of
 * the five types of work; positions appended at the end are added; anything else (a deletion,
 * a table replaced, the parameters changed) computes the estimate anew.
 */
#include "editing/EstimateRows.h"
#include "editing/KeptCalc.h"
#include "model/EstimateRows.h"
#include "model/BaseIndexState.h"
#include "export/EstimateTotals.h"
#include "storage/TableHandle.h"

#include <functional>
#include <string>
#include <vector>

namespace talvira::editing {

class TotalsFollower : public storage::TableObserver {
public:
    /** Follows `smeta`; an estimate by the base-index method is computed with `tables` (both
     *  outlive it). */
    TotalsFollower(storage::TableHandle& smeta, const model::NrSpTables& tables);
    ~TotalsFollower() override;
    TotalsFollower(const TotalsFollower&) = delete;
    TotalsFollower& operator=(const TotalsFollower&) = delete;

    /** Starts following (reading every position at once) or stops it; while stopped nothing
     *  is read and nothing is called. */
    void setFollowing(bool on);
    bool following() const { return following_; }

    /** Called after every change of what the estimate stores, and when it is opened or
     *  closed; not on mere moves of the cursor. */
    std::function<void()> onChanged;

    /** Whether the table is open (with no estimate open the block is empty). */
    bool estimateOpen() const;
    /** The stored positions in table order (name and unit are not read). */
    const std::vector<model::PositionRow>& rows() const { return rows_; }
    int incompleteCount() const { return incomplete_; }
    /** The column sums of the positions, as the totals row of the workbook holds them. */
    const xls::PositionSums& sums() const { return sums_; }

    /** Re-reads every position. */
    void reload();

    /** While one lives, changes are followed as they come, but onChanged is called once, when
     *  the last one ends (a rate's materials rewritten after it: one change to show). */
    class Held {
    public:
        explicit Held(TotalsFollower& f) : f_(f) { ++f_.held_; }
        ~Held() noexcept(false);
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        TotalsFollower& f_;
    };

    /** The estimate's parameters and position data (read from its calc file by the caller); by
     *  the base-index method the result is computed anew, by the template dropped. */
    void setCalc(const KeptCalc& calc);
    const KeptCalc& calc() const { return calc_; }
    /** One position's data changed: that position is computed again (or, when it now belongs
     *  to another rate or has another code, the estimate anew). */
    void setPositionData(const model::PositionData& extra) { setPositionsData({extra}); }
    /** Several positions' data at once (what an Add brings): computed again once. */
    void setPositionsData(const std::vector<model::PositionData>& extras);
    /** The result by the base-index method, nullptr for an estimate by the template. */
    const model::BaseIndexResult* baseIndex() const { return byBaseIndex() ? &state_.result() : nullptr; }
    /** The computation's state by the base-index method (who owns each row, its data). */
    const model::BaseIndexState& baseIndexState() const { return state_; }
    /** The computed position row `row` belongs to (a material: its rate's), nullptr when none. */
    const model::PositionResult* positionOf(size_t row) const;

    void tableChanged(storage::TableHandle&, const storage::TableChange& change) override;
    void activeChanged(storage::TableHandle&) override;

private:
    void readRow(int row, model::PositionRow& out, bool& incomplete) const;
    /** Row `row` as the whole record `rec` a change notice carries. */
    void takeRecord(int row, const storage::Record& rec);
    void recount();
    void changed();
    bool plainOrder() const;
    bool byBaseIndex() const { return calc_.params.method == model::Method::BaseIndex; }
    /** The base-index result from scratch. */
    void computeAll() { state_.reset(rows_, calc_.positions, calc_.params); }

    storage::TableHandle& smeta_;
    bool following_ = false;
    int held_ = 0;             // Held alive
    bool changedHeld_ = false; // a change came while held
    std::vector<model::PositionRow> rows_;
    std::vector<char> incompleteRows_;
    int incomplete_ = 0;
    xls::PositionSums sums_;
    PositionFields fields_;     // places in the handle's field list
    PositionFields inRecords_;  // places in the table's whole records

    // By the base-index method: the calc data and the computation following the rows.
    KeptCalc calc_;
    model::BaseIndexState state_;
};

/** The row (0-based, table order) of the first incomplete position after row `current`,
 *  going round to the first row after the last; `current` itself is the last one looked at
 *  (it is found when it is the only incomplete one). -1 when no stored position is
 *  incomplete or the table is closed. Reads the rows without moving the cursor. */
int nextIncompleteRow(const storage::TableHandle& smeta, int current);

/** An amount of the block as the totals window shows it: a number as decimal-comma number
 *  text with two decimals, the comma being `decimalSep`, its thousands set apart by no-break
 *  spaces ("9 654 354,52"; a number beyond the range of that
 *  text in the general format), an error value by its Russian name ("#ЗНАЧ!"), the export's
 *  failure by its message, nothing as "". */
std::string amountText(const xls::BlockAmount& amount, char decimalSep);

}  // namespace talvira::editing
