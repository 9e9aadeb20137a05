#pragma once
/**
 * The inside of a table handle, private to storage/: the handle's state (set-up, the open file,
 * the rows it shows (storage/TableView.h), the cursor and the edit buffer, the observers) and
 * the helpers its sources share. TableHandleImpl.cpp holds the state's own work (the master
 * link, the notices, taking the rows and finding the cursor's row again after a write);
 * TableHandle.cpp set-up, filter, open and close; TableCursor.cpp moves, fields, edits,
 * positions and observers; TableRegistry.cpp the providers and the files shared by read-only
 * handles.
 *
 *   d->retake(); d->toFirst(); d->notify(Impl::Event::Moved);
 */
#include "storage/TableHandle.h"

#include "common/Error.h"
#include "storage/Filter.h"
#include "storage/TableView.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::storage {

/** `dir` and `name` joined by one separator. */
std::string joinPath(const std::string& dir, const std::string& name);
/** The file name of a table: the name as given when it ends in ".DB" (any case), otherwise
 *  the name with ".DB" added. A dot inside the name ("Дом 1.5") is part of the name. */
std::string tableFileName(const std::string& name);
/** A table name must name a file in the handle's directory: no separator, no NUL, and not
 *  "." or "..", so that a typed name can never reach outside that directory. */
void checkTableName(const std::string& name);
/** The field names of "A;B" or "A, B". */
std::vector<std::string> splitFields(const std::string& s);
/** A bound field of kind `k` may be a table field of type `t`; the kind's name for messages. */
bool compatible(BoundKind k, FieldType t);
const char* boundKindName(BoundKind k);
/** An index file too damaged to tell its name may be the one asked for: its message says more
 *  than "no such index". */
void throwSetAsideUnnamed(const TableFile& f);
/** The read-only file of `path`, shared by every handle that reads it (TableRegistry.cpp). */
std::shared_ptr<TableFile> openShared(const std::string& path);

struct TableHandle::Impl {
    /** Follows the master: re-takes the records when its current record changes. */
    struct MasterLink : TableObserver {
        Impl* detail = nullptr;
        void recordMoved(TableHandle&) override;
        void dataChanged(TableHandle&) override;
        void activeChanged(TableHandle&) override;
    };

    TableHandle* self = nullptr;
    std::string objectName;

    // ---- set-up
    std::string dir, tableName, indexName, indexFieldNames, masterFieldsText;
    TableHandle* master = nullptr;
    std::vector<std::string> masterFields;
    bool readOnly = false;
    std::vector<BoundField> bound;
    std::vector<FieldDef> defs;
    std::string filterText;
    Filter filterParsed;  // parsed, not bound
    bool filtered = false;

    MasterLink link;
    std::vector<Impl*> details;
    std::vector<TableObserver*> observers;

    // ---- open table
    std::shared_ptr<TableFile> file;  // read-only files are shared by the handles on one table
    bool writable = false;
    std::string path;
    std::vector<FieldDef> fields;  // the handle's field list
    std::vector<int> cols;         // handle field -> file column
    std::vector<bool> fieldRO;
    TableView view;                // the rows shown: order, link, filter, kept records
    std::vector<Value> lastKey;    // link values the rows were taken with
    bool lastKeyValid = false;

    // ---- cursor and edit buffer
    int row = -1;
    bool atEof = true, atBof = true;
    State state = State::Inactive;
    Record buffer, original;       // edit buffer over the file's fields
    int rowBeforeInsert = -1;

    // ---- display
    int disabled = 0;
    bool pendingMoved = false, pendingData = false, pendingState = false, pendingActive = false, pendingChange = false;

    // ------------------------------------------------------------------ helpers
    std::string label() const;
    [[noreturn]] void fail(const std::string& what) const;
    void checkActive() const;
    /** The file the handle reads and writes, the rows read from it. */
    void setFile(std::shared_ptr<TableFile> f);

    int storedCount() const { return view.count(); }
    int visibleCount() const { return storedCount() + (state == State::Insert ? 1 : 0); }
    bool editing() const { return state == State::Edit || state == State::Insert; }
    bool hasCurrent() const { return state == State::Insert || (row >= 0 && row < storedCount()); }
    /** The value of a handle field: the edit buffer's, or the current record's. */
    Value fileValue(int handleField) const;
    int fieldIndexOf(std::string_view name) const;
    int requireField(std::string_view name) const;
    /** The stored record at `row` of the view, whole. */
    Record storedAt(int r) const;

    // ------------------------------------------------------------------ notices
    enum class Event { Moved, Data, State, Active };
    void notify(Event e);
    /** Tells the observers what a write changed, the one notice of the write (the current row
     *  filled in); while the display is suspended the changes are told as one Replaced at its
     *  end. */
    void notifyChange(TableChange c);
    void setState(State s);

    // ------------------------------------------------------------------ rows and cursor
    /** Sets up the field list and the view over the file at `path` (no notification); on
     *  failure the handle is left closed. TableHandle.cpp. */
    void attach();
    /** The link values from the master's current record; nothing when there is none. */
    std::optional<std::vector<Value>> masterKey() const;
    /** Takes the rows anew (master link, index, filter). No notification. */
    void retake();
    void toFirst();
    /** Stores or drops the edit in progress before the cursor moves: a changed record is
     *  posted, an unchanged one (a blank new record included) is dropped. */
    void checkBrowseMode();
    bool modified() const;
    void masterChanged(bool force);
    /** After a write: the rows taken anew, the cursor on the record at `ord` (physical views)
     *  or `loc` (indexed views), or on the nearest row when it is no longer shown. */
    void reposition(std::optional<uint32_t> ord, std::optional<RecordLoc> loc, int fallbackRow);
    /** Removes the record at `r` (the edit buffer's when `wasEdit`), the cursor on the record
     *  that followed, told once. TableCursor.cpp. */
    void removeRow(int r, bool wasEdit, const TableObserver* origin);
    /** Reopens the file for writing the first time the handle writes. Opening read-only
     *  first lets several handles read one table (the rate table is read by two). */
    void ensureWritable();
    /** A value made fit for field `f` (storage/FieldValue.h), or talvira::Error naming the table. */
    Value conform(const Value& v, const FieldDef& f) const;
};

}  // namespace talvira::storage
