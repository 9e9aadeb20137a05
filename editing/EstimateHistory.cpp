#include "editing/EstimateHistory.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "storage/TableFamily.h"
#include "storage/TableFile.h"

#include <algorithm>
#include <utility>

namespace talvira::editing {

namespace fs = std::filesystem;
using storage::Record;
using storage::TableFile;
using storage::TableHandle;

namespace {

/** The table no longer holds what a step expects. */
struct Mismatch {};

Record storedRecord(const TableFile& f, size_t row) {
    const auto loc = f.locate(static_cast<uint32_t>(row));
    if (!loc) return {};
    return f.read(*loc);
}

std::string quoted(const std::string& s) { return "«" + s + "»"; }

void expect(bool condition) {
    if (!condition) throw Mismatch{};
}

/** Turns `records` (the table as it is) into the content before (`backwards`) or after the
 *  step; returns the place of the position the step touched, or nothing. */
std::optional<size_t> applyStep(const EstimateStep& s, bool backwards, std::vector<Record>& records) {
    switch (s.kind) {
    case StepKind::Clear:
        if (backwards) {
            expect(records.empty());
            records = s.before;
            return records.empty() ? std::nullopt : std::optional<size_t>(0);
        }
        expect(records == s.before);
        records.clear();
        return std::nullopt;
    case StepKind::Delete:
        expect(s.before.size() == 1);
        if (backwards) {
            expect(s.row <= records.size());
            records.insert(records.begin() + std::ptrdiff_t(s.row), s.before.front());
            return s.row;
        }
        expect(s.row < records.size() && records[s.row] == s.before.front());
        records.erase(records.begin() + std::ptrdiff_t(s.row));
        if (records.empty()) return std::nullopt;
        return std::min(s.row, records.size() - 1);
    case StepKind::Change: {
        expect(s.before.size() == 1 && s.after.size() == 1 && s.row < records.size());
        const Record& from = backwards ? s.after.front() : s.before.front();
        const Record& to = backwards ? s.before.front() : s.after.front();
        expect(records[s.row] == from);
        records[s.row] = to;
        return s.row;
    }
    case StepKind::Add:
    case StepKind::NewRow:
        if (backwards) {
            expect(records.size() == s.row + s.after.size() &&
                   std::equal(s.after.begin(), s.after.end(), records.begin() + std::ptrdiff_t(s.row)));
            records.resize(s.row);
            if (records.empty()) return std::nullopt;
            return records.size() - 1;
        }
        expect(records.size() == s.row);
        records.insert(records.end(), s.after.begin(), s.after.end());
        return s.row;
    }
    return std::nullopt;
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

TableWriter replacingWriter() { return storage::replaceTable; }

std::vector<Record> readAllRecords(const TableHandle& t) {
    std::vector<Record> out;
    const TableFile* f = t.file();
    if (!f) return out;
    out.reserve(f->recordCount());
    for (auto loc = f->first(); loc; loc = f->next(*loc)) out.push_back(f->read(*loc));
    return out;
}

/** While the history itself works on the handle: what the handle reports is its own doing. */
class EstimateHistory::Busy {
public:
    explicit Busy(EstimateHistory& h) : h_(h) { ++h_.busy_; }
    ~Busy() {
        if (--h_.busy_ > 0) return;
        // A command that stopped half way may leave a record being written: the grid may still
        // store it, and that is then a step of its own.
        h_.tracked_.reset();
        try {
            h_.track(h_.smeta_);
        } catch (...) {
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    EstimateHistory& h_;
};

EstimateHistory::EstimateHistory(TableHandle& smeta, TableWriter writer) : smeta_(smeta), writer_(std::move(writer)) {
    smeta_.addObserver(this);
}

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
    tracked_.reset();
    if (had) changed();
}

std::optional<EstimateStep> EstimateHistory::pendingStep() const {
    const TableFile* f = smeta_.file();
    if (!f || !smeta_.modified()) return std::nullopt;
    EstimateStep s;
    if (smeta_.state() == TableHandle::State::Insert) {
        s.kind = StepKind::NewRow;
        s.row = f->recordCount();
        return s;
    }
    if (smeta_.state() != TableHandle::State::Edit || smeta_.recNo() < 0) return std::nullopt;
    s.kind = StepKind::Change;
    s.row = size_t(smeta_.recNo());
    const Record stored = storedRecord(*f, s.row);
    for (int i = 0; i < smeta_.fieldCount(); ++i) {
        const std::string& name = smeta_.field(i).name;
        const int at = f->fieldIndex(name);
        if (at < 0 || size_t(at) >= stored.size()) continue;
        if (!(smeta_.fieldValue(i) == stored[size_t(at)])) s.changedFields.push_back(name);
    }
    if (s.changedFields.empty()) return std::nullopt;
    return s;
}

bool EstimateHistory::canUndo() const { return !undo_.empty() || pendingStep().has_value(); }

bool EstimateHistory::canRedo() const { return !redo_.empty() && !pendingStep().has_value(); }

const EstimateStep* EstimateHistory::undoStep() const { return undo_.empty() ? nullptr : &undo_.back(); }

const EstimateStep* EstimateHistory::redoStep() const {
    if (redo_.empty() || pendingStep()) return nullptr;
    return &redo_.back();
}

void EstimateHistory::apply(const EstimateStep& step, bool backwards) {
    Busy busy(*this);
    storage::ControlsSuspended suspended(smeta_);
    if (!smeta_.active()) smeta_.open();
    const TableFile* f = smeta_.file();
    const std::vector<storage::FieldDef> fields = f->fields();
    std::vector<Record> records = readAllRecords(smeta_);
    std::optional<size_t> touched;
    try {
        touched = applyStep(step, backwards, records);
    } catch (const Mismatch&) {
        const std::string message = std::string("Шаг «") + stepText(step, nullptr) + "» нельзя " +
                                    (backwards ? "отменить" : "вернуть") +
                                    ": смета изменилась помимо истории правки. История правки сметы сброшена.";
        reset();  // `step` goes with it
        throw Error(message);
    }
    // The handle keeps the old table open while the new one is built: a write that fails
    // leaves it as it was. Only a written table is opened afresh.
    const fs::path table = fs::path(boundTablePath(smeta_));
    writer_(table.parent_path(), table.filename().string(), fields, records);
    // From here the table on disk is the new content: the history follows it even if the
    // table cannot be opened again.
    if (backwards) {
        redo_.push_back(std::move(undo_.back()));
        undo_.pop_back();
    } else {
        undo_.push_back(std::move(redo_.back()));
        redo_.pop_back();
    }
    smeta_.close();
    smeta_.open();
    if (touched) smeta_.moveTo(int(*touched));
}

void EstimateHistory::applyLast(bool backwards) {
    try {
        apply(backwards ? undo_.back() : redo_.back(), backwards);
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
    std::vector<Record> old;
    {
        Busy busy(*this);
        if (!smeta_.active()) smeta_.open();
        old = readAllRecords(smeta_);
        clearEstimate(smeta_);
    }
    if (old.empty()) return;
    EstimateStep s;
    s.kind = StepKind::Clear;
    s.before = std::move(old);
    push(std::move(s));
}

void EstimateHistory::deleteCurrent() {
    std::optional<EstimateStep> step;
    {
        Busy busy(*this);
        const TableFile* f = smeta_.file();
        const auto state = smeta_.state();
        const bool deletesStored = f && (state == TableHandle::State::Browse || state == TableHandle::State::Edit) &&
                                   f->recordCount() > 0 && smeta_.recNo() >= 0;
        if (!deletesStored) {
            deletePosition(smeta_);
            return;
        }
        EstimateStep s;
        s.kind = StepKind::Delete;
        s.row = size_t(smeta_.recNo());
        s.before.push_back(storedRecord(*f, s.row));
        const uint32_t count = f->recordCount();
        const std::string path = boundTablePath(smeta_);
        deletePosition(smeta_);
        // The handle may have reopened its file for writing: compare the table, not the file.
        const TableFile* g = smeta_.file();
        if (g && boundTablePath(smeta_) == path && g->recordCount() + 1 == count) step = std::move(s);
    }
    if (step) push(std::move(*step));
}

void EstimateHistory::recordAppend(const std::function<void()>& appendPositions) {
    std::optional<EstimateStep> step;
    {
        Busy busy(*this);
        const TableFile* f = smeta_.file();
        if (!f) {
            appendPositions();
            return;
        }
        const uint32_t count = f->recordCount();
        const std::string path = boundTablePath(smeta_);
        auto collect = [&] {
            // The handle reopens its file for its first write: compare the table, not the file.
            const TableFile* g = smeta_.file();
            if (!g || boundTablePath(smeta_) != path || g->recordCount() <= count) return;
            EstimateStep s;
            s.kind = StepKind::Add;
            s.row = count;
            for (auto loc = g->locate(count); loc; loc = g->next(*loc)) s.after.push_back(g->read(*loc));
            const int tab = g->fieldIndex("TAB");
            if (tab >= 0 && !s.after.empty()) s.code = s.after.front()[size_t(tab)].asString();
            step = std::move(s);
        };
        try {
            appendPositions();
        } catch (...) {
            collect();
            if (step) push(std::move(*step));
            throw;
        }
        collect();
    }
    if (step) push(std::move(*step));
}

// ---- following the handle ----------------------------------------------------------------

void EstimateHistory::stateChanged(TableHandle& t) {
    if (busy_ > 0) return;
    const TableFile* f = t.file();
    switch (t.state()) {
    case TableHandle::State::Edit:
    case TableHandle::State::Insert: track(t); break;
    case TableHandle::State::Browse: {
        std::optional<Tracked> was = std::move(tracked_);
        tracked_.reset();
        if (!was || !f) break;
        if (was->state == TableHandle::State::Edit && f->recordCount() == was->count && was->row < was->count) {
            Record after = storedRecord(*f, was->row);
            if (after == was->before) break;
            EstimateStep s;
            s.kind = StepKind::Change;
            s.row = was->row;
            const auto& defs = f->fields();
            for (size_t i = 0; i < defs.size() && i < after.size() && i < was->before.size(); ++i)
                if (!(after[i] == was->before[i])) s.changedFields.push_back(defs[i].name);
            s.before.push_back(std::move(was->before));
            s.after.push_back(std::move(after));
            push(std::move(s));
            return;
        }
        if (was->state == TableHandle::State::Insert && f->recordCount() == was->count + 1) {
            EstimateStep s;
            s.kind = StepKind::NewRow;
            s.row = was->count;
            s.after.push_back(storedRecord(*f, was->count));
            push(std::move(s));
            return;
        }
        break;
    }
    case TableHandle::State::Inactive: tracked_.reset(); break;
    }
    changed();
}

void EstimateHistory::track(TableHandle& t) {
    const TableFile* f = t.file();
    if (!f) return;
    if (t.state() == TableHandle::State::Edit && t.recNo() >= 0) {
        const size_t row = size_t(t.recNo());
        tracked_ = Tracked{TableHandle::State::Edit, row, f->recordCount(), storedRecord(*f, row)};
    } else if (t.state() == TableHandle::State::Insert) {
        tracked_ = Tracked{TableHandle::State::Insert, 0, f->recordCount(), {}};
    }
}

void EstimateHistory::activeChanged(TableHandle&) {
    // Another estimate was created or opened (or this one closed by someone else): the steps
    // belong to what was open before.
    if (busy_ > 0) return;
    reset();
}

void EstimateHistory::dataChanged(TableHandle& t) {
    if (busy_ > 0) return;
    if (t.state() == TableHandle::State::Edit || t.state() == TableHandle::State::Insert) changed();
}

}  // namespace talvira::editing
