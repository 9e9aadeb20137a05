#include "editing/EstimateHistory.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "estimate/EstimateFields.h"
#include "storage/FileNames.h"

#include <algorithm>
#include <utility>

namespace talvira::editing {

using storage::Record;
using storage::TableChange;
using storage::TableHandle;

namespace {

/** The table no longer holds what a step expects. */
struct Mismatch {};

std::string quoted(const std::string& s) { return "«" + s + "»"; }

/** Sets a flag while it lives. */
class Applying {
public:
    explicit Applying(bool& flag) : flag_(flag) { flag_ = true; }
    ~Applying() { flag_ = false; }
    Applying(const Applying&) = delete;
    Applying& operator=(const Applying&) = delete;

private:
    bool& flag_;
};

void expect(bool condition) {
    if (!condition) throw Mismatch{};
}

/** The step of a stored change of one position (a Posted notice with both records). */
EstimateStep changeStep(const TableHandle& t, const TableChange& c) {
    EstimateStep s;
    s.kind = StepKind::Change;
    s.row = size_t(std::max(c.row, 0));
    const auto& fields = t.tableFields();
    for (size_t i = 0; i < fields.size() && i < c.before->size() && i < c.after->size(); ++i)
        if (!((*c.before)[i] == (*c.after)[i])) s.changedFields.push_back(fields[i].name);
    s.before.push_back(*c.before);
    s.after.push_back(*c.after);
    return s;
}

bool holds(const TableHandle& t, size_t row, const Record& r) {
    return row < size_t(t.storedCount()) && t.storedRecord(int(row)) == r;
}

/** Removes rows [from, to) of the table, the last first, as `origin`'s writes. */
void removeRows(TableHandle& t, size_t from, size_t to, const storage::TableObserver* origin) {
    for (size_t r = to; r > from; --r) t.removeRecord(int(r - 1), origin);
}

}  // namespace

std::string stepText(const EstimateStep& step, const std::function<std::string(const std::string&)>& fieldTitle) {
    switch (step.kind) {
    case StepKind::Clear: return "очистку сметы";
    case StepKind::Delete: return "удаление позиции";
    case StepKind::Change: {
        auto title = [&](const std::string& f) { return quoted(fieldTitle ? fieldTitle(f) : f); };
        if (step.changedFields.size() == 1) return "изменение " + title(step.changedFields[0]);
        if (step.changedFields.size() == 2)
            return "изменение " + title(step.changedFields[0]) + " и " + title(step.changedFields[1]);
        return "изменение позиции";
    }
    case StepKind::Add: return step.code.empty() ? "добавление расценки" : "добавление расценки " + step.code;
    case StepKind::NewRow: return "добавление строки";
    }
    return {};
}

size_t EstimateStep::heldRecords() const {
    size_t n = before.size() + after.size();
    for (const EstimateStep& f : following) n += f.heldRecords();
    return n;
}

EstimateHistory::EstimateHistory(TableHandle& smeta) : smeta_(smeta) { smeta_.addObserver(this); }

EstimateHistory::~EstimateHistory() { smeta_.removeObserver(this); }

void EstimateHistory::setLimits(size_t maxSteps, size_t maxHeldRecords) {
    maxSteps_ = std::max<size_t>(maxSteps, 1);
    maxHeld_ = maxHeldRecords;
    trim();
}

size_t EstimateHistory::heldRecords() const {
    size_t n = 0;
    for (const EstimateStep& s : undo_) n += s.heldRecords();
    for (const EstimateStep& s : redo_) n += s.heldRecords();
    return n;
}

void EstimateHistory::changed() {
    if (onChanged) onChanged();
}

void EstimateHistory::push(EstimateStep step) {
    step.serial = ++serial_;
    redo_.clear();
    undo_.push_back(std::move(step));
    trim();
    changed();
}

void EstimateHistory::trim() {
    while (undo_.size() > maxSteps_) undo_.pop_front();
    size_t held = heldRecords();
    while (held > maxHeld_ && undo_.size() > 1) {
        held -= undo_.front().heldRecords();
        undo_.pop_front();
    }
}

void EstimateHistory::reset() {
    const bool had = !undo_.empty() || !redo_.empty();
    undo_.clear();
    redo_.clear();
    if (had) changed();
}

std::optional<EstimateStep> EstimateHistory::pendingStep() const {
    // The edit in progress is the handle's buffer against the record it started from.
    if (!smeta_.active() || !smeta_.modified()) return std::nullopt;
    EstimateStep s;
    if (smeta_.state() == TableHandle::State::Insert) {
        s.kind = StepKind::NewRow;
        s.row = size_t(smeta_.storedCount());
        return s;
    }
    if (smeta_.state() != TableHandle::State::Edit || smeta_.recNo() < 0) return std::nullopt;
    s.kind = StepKind::Change;
    s.row = size_t(smeta_.recNo());
    s.changedFields = smeta_.modifiedFields();
    if (s.changedFields.empty()) return std::nullopt;
    return s;
}

bool EstimateHistory::canUndo() const { return !undo_.empty() || pendingStep().has_value(); }

bool EstimateHistory::canRedo() const { return !redo_.empty() && !pendingStep().has_value(); }

EstimateHistory::Steps EstimateHistory::steps() const {
    Steps s;
    s.pending = pendingStep();
    s.recorded = undoStep();
    s.redo = s.pending || redo_.empty() ? nullptr : &redo_.back();
    return s;
}

const EstimateStep* EstimateHistory::undoStep() const { return undo_.empty() ? nullptr : &undo_.back(); }

const EstimateStep* EstimateHistory::redoStep() const {
    if (redo_.empty() || pendingStep()) return nullptr;
    return &redo_.back();
}

int EstimateHistory::apply(const EstimateStep& s, bool backwards) {
    const size_t n = size_t(smeta_.storedCount());
    switch (s.kind) {
    case StepKind::Clear:
        if (backwards) {
            expect(n == 0);
            smeta_.replaceRecords(smeta_.tableFields(), s.before, this);
            return s.before.empty() ? -1 : 0;
        }
        expect(smeta_.storedRecords() == s.before);
        smeta_.replaceRecords(smeta_.tableFields(), {}, this);
        return -1;
    case StepKind::Delete:
        expect(s.before.size() == 1);
        if (backwards) {
            expect(s.row <= n);
            smeta_.insertRecord(int(s.row), s.before.front(), this);
            return int(s.row);
        }
        expect(holds(smeta_, s.row, s.before.front()));
        removeRows(smeta_, s.row, s.row + 1, this);
        return n == 1 ? -1 : int(std::min(s.row, n - 2));
    case StepKind::Change: {
        expect(s.before.size() == 1 && s.after.size() == 1);
        // What followed the change is checked with it before anything is written.
        expect(holds(smeta_, s.row, backwards ? s.after.front() : s.before.front()));
        for (const EstimateStep& f : s.following) {
            expect(f.before.size() == 1 && f.after.size() == 1);
            expect(holds(smeta_, f.row, backwards ? f.after.front() : f.before.front()));
        }
        auto store = [&](const EstimateStep& c, bool back) {
            smeta_.storeRecord(int(c.row), back ? c.before.front() : c.after.front(), this);
        };
        if (backwards) {
            for (auto f = s.following.rbegin(); f != s.following.rend(); ++f) store(*f, true);
            store(s, true);
        } else {
            store(s, false);
            for (const EstimateStep& f : s.following) store(f, false);
        }
        return int(s.row);
    }
    case StepKind::Add:
    case StepKind::NewRow: {
        const size_t end = s.row + s.after.size();
        if (!backwards) {
            expect(n == s.row);
            try {
                smeta_.appendRecords(s.after, this);
            } catch (...) {
                // Stopped half way: what was appended goes again.
                removeRows(smeta_, s.row, size_t(smeta_.storedCount()), this);
                throw;
            }
            return int(s.row);
        }
        expect(n == end);
        for (size_t i = 0; i < s.after.size(); ++i) expect(holds(smeta_, s.row + i, s.after[i]));
        try {
            removeRows(smeta_, s.row, end, this);
        } catch (...) {
            // Stopped half way: what was removed comes back.
            const size_t left = size_t(smeta_.storedCount());
            smeta_.appendRecords(std::vector<Record>(s.after.begin() + std::ptrdiff_t(left - s.row), s.after.end()), this);
            throw;
        }
        return s.row == 0 ? -1 : int(s.row - 1);
    }
    }
    return -1;
}

void EstimateHistory::applyLast(bool backwards) {
    try {
        if (!smeta_.active()) smeta_.open();
    } catch (...) {
        changed();
        throw;
    }
    // The table is opened for writing afresh, as it is now on disk: a file made read-only or
    // replaced meanwhile is refused, never written through an old handle.
    smeta_.releaseWriting();
    if (backwards ? undo_.empty() : redo_.empty()) {
        changed();  // opening the table ended the history
        return;
    }
    // The step leaves its list while it is written: a notice the writes bring about (the table
    // closing when it can no longer be read) may end the history meanwhile.
    EstimateStep step;
    if (backwards) {
        step = std::move(undo_.back());
        undo_.pop_back();
    } else {
        step = std::move(redo_.back());
        redo_.pop_back();
    }
    const int count = smeta_.storedCount();
    int touched = -1;
    try {
        Applying applying(applying_);
        touched = apply(step, backwards);
    } catch (const Mismatch&) {
        reset();
        changed();
        throw Error(std::string("Шаг «") + stepText(step, nullptr) + "» нельзя " + (backwards ? "отменить" : "вернуть") +
                    ": смета изменилась помимо истории правки. История правки сметы сброшена.");
    } catch (...) {
        // A step of several records that could not even be taken back half way: the table no
        // longer matches the history. Otherwise the step stays, to be tried again.
        if (!smeta_.active() || smeta_.storedCount() != count) reset();
        else if (backwards) undo_.push_back(std::move(step));
        else redo_.push_back(std::move(step));
        smeta_.releaseWriting();
        changed();
        throw;
    }
    // The step is written: the history follows the table.
    if (backwards) redo_.push_back(std::move(step));
    else undo_.push_back(std::move(step));
    smeta_.releaseWriting();
    try {
        if (touched >= 0) smeta_.moveTo(touched);
    } catch (...) {
        changed();
        throw;
    }
    changed();
}

void EstimateHistory::undo() {
    // An edit not yet stored is stored first: it becomes the step that is taken back.
    if (smeta_.state() == TableHandle::State::Edit || smeta_.state() == TableHandle::State::Insert)
        storePendingEdit(smeta_);
    if (undo_.empty()) return;
    applyLast(true);
}

void EstimateHistory::redo() {
    if (smeta_.state() == TableHandle::State::Edit || smeta_.state() == TableHandle::State::Insert) {
        // A stored edit would start a new branch and drop the redo steps; an unchanged one
        // is simply left.
        if (pendingStep()) return;
        storePendingEdit(smeta_);
    }
    if (redo_.empty()) return;
    applyLast(false);
}

// ---- commands ------------------------------------------------------------------------------

void EstimateHistory::clear() {
    // Opening a closed estimate ends a history that its closing has ended already.
    if (!smeta_.active()) smeta_.open();
    std::vector<Record> old = smeta_.storedRecords();
    clearEstimate(smeta_, this);
    if (old.empty()) return;
    EstimateStep s;
    s.kind = StepKind::Clear;
    s.before = std::move(old);
    push(std::move(s));
}

void EstimateHistory::deleteCurrent() {
    // The handle tells the deletion (tableChanged), which records it.
    deletePosition(smeta_);
}

void EstimateHistory::recordAppend(const std::function<void()>& appendPositions) {
    if (!smeta_.active()) {
        appendPositions();
        return;
    }
    collecting_.emplace();
    collecting_->kind = StepKind::Add;
    collecting_->row = size_t(smeta_.storedCount());
    try {
        appendPositions();
    } catch (...) {
        finishAppend();
        throw;
    }
    finishAppend();
}

void EstimateHistory::recordFollowing(size_t row, const std::function<void()>& rewrite) {
    if (applying_ || following_) {
        rewrite();
        return;
    }
    following_.emplace();
    auto finish = [&] {
        std::vector<EstimateStep> stored = std::move(*following_);
        following_.reset();
        if (stored.empty()) return;
        EstimateStep* last = undo_.empty() ? nullptr : &undo_.back();
        if (last && last->kind == StepKind::Change && last->row == row && redo_.empty()) {
            for (EstimateStep& f : stored) last->following.push_back(std::move(f));
            trim();
            changed();
            return;
        }
        for (EstimateStep& f : stored) push(std::move(f));
    };
    try {
        rewrite();
    } catch (...) {
        finish();  // what was stored before the failure is undone with the change
        throw;
    }
    finish();
}

void EstimateHistory::finishAppend() {
    std::optional<EstimateStep> s = std::move(collecting_);
    collecting_.reset();
    if (!s || !smeta_.active()) return;
    // Appends made while the display was suspended are told only as a whole: read them.
    const size_t n = size_t(smeta_.storedCount());
    if (n != s->row + s->after.size()) {
        if (n <= s->row) return;
        s->after.clear();
        for (size_t r = s->row; r < n; ++r) s->after.push_back(smeta_.storedRecord(int(r)));
    }
    if (s->after.empty()) return;
    const auto& fields = smeta_.tableFields();
    for (size_t i = 0; i < fields.size() && i < s->after.front().size(); ++i)
        if (storage::sameName(fields[i].name, estimate::fld::TAB)) s->code = s->after.front()[i].asString();
    push(std::move(*s));
}

// ---- following the handle ----------------------------------------------------------------

void EstimateHistory::tableChanged(TableHandle& t, const TableChange& c) {
    if (c.origin == this) return;  // the history's own writes: undo and redo
    using Kind = TableChange::Kind;
    if (collecting_) {
        if (c.kind == Kind::Posted && c.inserted && c.after) collecting_->after.push_back(*c.after);
        return;
    }
    if (following_) {
        if (c.kind == Kind::Posted && !c.inserted && c.before && c.after && !(*c.before == *c.after))
            following_->push_back(changeStep(t, c));
        return;
    }
    EstimateStep s;
    s.row = size_t(std::max(c.row, 0));
    if (c.kind == Kind::Posted && c.inserted && c.after) {
        s.kind = StepKind::NewRow;
        s.after.push_back(*c.after);
    } else if (c.kind == Kind::Posted && c.before && c.after && !(*c.before == *c.after)) {
        s = changeStep(t, c);
    } else if (c.kind == Kind::Deleted && c.before) {
        s.kind = StepKind::Delete;
        s.before.push_back(*c.before);
    } else {
        // Nothing to record (a record stored as it was; a replacement made by someone else or
        // changes while the display was suspended, where a step that no longer fits is found
        // when it is undone); an edit that ended is no longer pending.
        if (c.stateChanged) changed();
        return;
    }
    push(std::move(s));
}

void EstimateHistory::stateChanged(TableHandle&) { changed(); }

void EstimateHistory::activeChanged(TableHandle&) {
    // Another estimate was created or opened (or this one closed): the steps belong to what was
    // open before.
    collecting_.reset();
    reset();
}

void EstimateHistory::dataChanged(TableHandle& t) {
    if (t.state() == TableHandle::State::Edit || t.state() == TableHandle::State::Insert) changed();
}

}  // namespace talvira::editing
