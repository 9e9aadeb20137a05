#pragma once
/**
 * The undo history of the open estimate, without any widget. Each step keeps only what it
 * changed: a clearing the old positions (once), a deletion the deleted position and its place,
 * a stored change of a position the record before and after, an Add or a blank row stored in
 * the grid the appended records. The steps come from the handle's change notices
 * (storage::TableChange), so the history never reads the table to learn what happened. Undo
 * and redo write only the records concerned, each stored as an edit is: a record rewritten, a
 * deleted position put back at its place (only its neighbours in the file move), appended
 * records removed or appended again. Clearing and its undo replace the table as a whole,
 * built beside the old one and put in place only when complete (storage::replaceTable).
 *
 *   editing::EstimateHistory history(Form2->SmetaTable);   // follows the grid's posts itself
 *   history.clear();                                       // Ctrl+Del, recorded
 *   history.recordAppend([&] { estimate::addPositions(nb, smeta); });
 *   if (history.canUndo()) history.undo();                 // the positions come back
 *
 * Caveats: the history watches the handle: an open or close of the handle that it did not make
 * itself (another estimate created or opened) ends it. A write that fails (read-only file, table
 * held by another program) throws talvira::Error and leaves both the estimate and the history
 * as they were (a step of several records that stops half way is taken back; if even that
 * fails, the history ends). Undo and redo open the table for writing afresh and leave it no
 * longer held. A table that no longer matches a step (changed behind the handle's back) throws
 * too, and the history is ended, since none of its steps can be trusted any more.
 */
#include "storage/FieldDef.h"
#include "storage/TableHandle.h"
#include "storage/Value.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvira::editing {

enum class StepKind { Clear, Delete, Change, Add, NewRow };

/** One step of the estimate's history. Records are whole records of the table (every field in
 *  table order, COUNT included), as stored. */
struct EstimateStep {
    StepKind kind = StepKind::Change;
    /** Delete, Change: place of the position (0-based); Add, NewRow: place of the first
     *  appended one (the number of positions before the step). */
    size_t row = 0;
    /** Clear: every old record; Delete: the deleted one; Change: the record before. */
    std::vector<storage::Record> before;
    /** Change: the record after; Add, NewRow: the appended records. */
    std::vector<storage::Record> after;
    /** Change: the names of the fields that differ, in table order. */
    std::vector<std::string> changedFields;
    /** Add: the code (TAB) of the rate, the first appended position. */
    std::string code;
    /** Change: the positions rewritten to follow it (recordFollowing), each a Change of its
     *  own; undone before it, redone after it. */
    std::vector<EstimateStep> following;
    /** Numbers the steps of one history, from 1, in the order they were recorded. */
    uint64_t serial = 0;

    size_t heldRecords() const;
};

/** What the menu says after "Отменить: " or "Вернуть: " ("очистку сметы", "удаление позиции",
 *  "изменение «Кол-во»", "добавление расценки 01-01-001-01", "добавление строки").
 *  `fieldTitle` gives the title a field carries in the window ("KOLVO" -> "Кол-во"). */
std::string stepText(const EstimateStep& step, const std::function<std::string(const std::string&)>& fieldTitle);

class EstimateHistory : public storage::TableObserver {
public:
    /** At least this many steps are kept. */
    static constexpr size_t kMaxSteps = 100;
    /** Records held by all steps together beyond which the oldest steps go (the newest step is
     *  always kept, whatever its size). */
    static constexpr size_t kMaxHeldRecords = 200000;

    explicit EstimateHistory(storage::TableHandle& smeta);
    ~EstimateHistory() override;
    EstimateHistory(const EstimateHistory&) = delete;
    EstimateHistory& operator=(const EstimateHistory&) = delete;

    void setLimits(size_t maxSteps, size_t maxHeldRecords);

    /** A step to undo: the last recorded one, or an edit of the grid not yet stored (a changed
     *  position, a new row with something typed), which undo stores first and then takes back. */
    bool canUndo() const;
    bool canRedo() const;
    /** An edit of the grid not yet stored, described as the step it will become (its kind, place
     *  and changed fields; no records), or nothing. Undo takes it back first. */
    std::optional<EstimateStep> pendingStep() const;
    /** The last recorded step, which undo takes back when nothing is pending, or nullptr. */
    const EstimateStep* undoStep() const;
    const EstimateStep* redoStep() const;
    /** What the undo and redo items name, the pending edit worked out once. */
    struct Steps {
        std::optional<EstimateStep> pending;
        const EstimateStep* recorded = nullptr;  // the last recorded step
        const EstimateStep* redo = nullptr;      // none while an edit is pending
        /** The step undo takes back: the pending edit first. */
        const EstimateStep* undo() const { return pending ? &*pending : recorded; }
    };
    Steps steps() const;
    size_t undoCount() const { return undo_.size(); }
    size_t redoCount() const { return redo_.size(); }
    size_t heldRecords() const;

    /** Takes back the last step (storing a pending edit first, which then is that step). */
    void undo();
    /** Does again the last step taken back. */
    void redo();
    /** Ends the history: nothing to undo or redo. */
    void reset();

    // ---- the commands, recorded ------------------------------------------------------------
    /** Clears the estimate (editing::clearEstimate) and records the old positions. */
    void clear();
    /** Deletes the current position (editing::deletePosition) and records it with its place. */
    void deleteCurrent();
    /** Runs `appendPositions`, which appends positions at the end of the estimate, and records
     *  what it appended as one step, also when it stops half way with an error. */
    void recordAppend(const std::function<void()>& appendPositions);
    /** Runs `rewrite`, which stores positions anew (TableHandle::storeRecord) to follow the change
     *  of the position at `row` just recorded, and records what it stored as part of that step:
     *  one undo takes back both. When the last step is not that change, each stored position
     *  is a step of its own. Does nothing but run `rewrite` while the history applies a step. */
    void recordFollowing(size_t row, const std::function<void()>& rewrite);
    /** Whether the history is writing a step to the table itself (undo, redo). */
    bool applying() const { return applying_; }

    /** Called after every change of what can be undone or redone (for the menu). */
    std::function<void()> onChanged;

    // ---- TableObserver: the grid's stored edits, new rows and deletions (its own writes, made
    // as their origin, passed over), the end of the history
    void tableChanged(storage::TableHandle& t, const storage::TableChange& change) override;
    void stateChanged(storage::TableHandle& t) override;
    void activeChanged(storage::TableHandle& t) override;
    void dataChanged(storage::TableHandle& t) override;

private:
    void push(EstimateStep step);
    /** Records what the Add being collected appended. */
    void finishAppend();
    void trim();
    void changed();
    /** Applies `step` backwards (undo) or forwards (redo) to the table; returns the row of
     *  the position it touched, or -1. */
    int apply(const EstimateStep& step, bool backwards);
    /** Applies the last undo step (backwards) or redo step; the listeners hear of it either
     *  way, a failure included. */
    void applyLast(bool backwards);

    storage::TableHandle& smeta_;
    std::deque<EstimateStep> undo_;
    std::vector<EstimateStep> redo_;
    size_t maxSteps_ = kMaxSteps;
    size_t maxHeld_ = kMaxHeldRecords;
    /** The Add being recorded: what it appended so far. */
    std::optional<EstimateStep> collecting_;
    /** The positions stored to follow a change, being recorded. */
    std::optional<std::vector<EstimateStep>> following_;
    uint64_t serial_ = 0;
    bool applying_ = false;  // undo or redo writing a step
};

}  // namespace talvira::editing
