#pragma once
/**
 * A table handle: one cursor over one table, set up by directory, table name, index, master
 * link, read-only flag and filter, with optional bound fields. Everything the rest of the
 * program does with tables goes through it. Controls and detail handles follow it through
 * the TableObserver interface.
 *
 *   TableHandle t; t.setDatabaseName("/home/u/Base"); t.setTableName("OGL.DB");
 *   t.setIndexName("IDREESTR"); t.setMasterSource(&collections, "ID"); t.open();
 *
 * Caveats: operations throw talvira::Error with the message the user sees (naming the table).
 * Setters take effect at the next open or create. Reads never load the whole table: the
 * handle keeps a view over an index (or the physical order) and reads records on demand.
 */
#include "storage/FieldDef.h"
#include "storage/TableFile.h"
#include "storage/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::storage {

class TableHandle;
class TableObserver;

/** What one write through a handle changed in its table: told once, when it is stored, with
 *  what it stored, the handle's state after it and who asked for it. */
struct TableChange {
    enum class Kind {
        Posted,    ///< a record stored: an edited one, or a new one (`inserted`)
        Deleted,   ///< a record removed
        Appended,  ///< `count` records stored after the last one
        Replaced,  ///< the records as a whole: the table replaced, or changed while the display was suspended
    };
    Kind kind = Kind::Replaced;
    /** Posted, Deleted: the record's row in the view; Appended: the row of the first one. */
    int row = -1;
    int count = 1;
    bool inserted = false;
    /** Whole records (every field of the table in table order). Posted (edited) and Deleted:
     *  the record as it was stored before; Posted: as it is stored now. */
    const Record* before = nullptr;
    const Record* after = nullptr;
    /** Appended: the records as they are stored now (numbered), in order. */
    const std::vector<Record>* appended = nullptr;
    /** The handle after the write: its state changed with it (an edit or a new record was
     *  stored, or dropped by a replacement; the handle is browsing), and its current row. */
    bool stateChanged = false;
    int current = -1;
    /** Who asked for the write: the observer a write of whole records was made for (it may
     *  pass over its own writes); nullptr for the handle's own editing (post, remove). */
    const TableObserver* origin = nullptr;
};

/** Everything bound to a handle: data-aware controls and detail handles. */
class TableObserver {
public:
    virtual ~TableObserver() = default;
    /** A write was stored: told once per write, after it (the writes made while the display
     *  was suspended are told as one Replaced when it resumes). By default it is taken for
     *  what it is to a bound control: the state (when it changed), the records and the current
     *  record changed. */
    virtual void tableChanged(TableHandle& t, const TableChange& change) {
        if (change.stateChanged) stateChanged(t);
        dataChanged(t);
        recordMoved(t);
    }
    /** The current record changed (a move, or the whole set of records was re-taken). */
    virtual void recordMoved(TableHandle&) {}
    /** Records were re-taken, or a field of the edit buffer was written (a stored write is
     *  tableChanged). */
    virtual void dataChanged(TableHandle&) {}
    /** Browse / edit / insert / inactive changed (by a write: tableChanged). */
    virtual void stateChanged(TableHandle&) {}
    /** The handle was opened or closed. */
    virtual void activeChanged(TableHandle&) {}
};

/** The kind a bound field must have in the table. */
enum class BoundKind { Integer, SmallInt, AutoInc, Float, String, Memo, DateTime };

struct BoundField {
    std::string name;
    BoundKind kind;
    bool readOnly = false;
};

/** How handles reach stored tables. The default provider works on Paradox files; tests
 *  install another one (tests/support/MemoryTableFile.h) to run handles over in-memory tables.
 *
 *   MemoryTables mem;   // installs itself for its lifetime
 *   handle.open();      // now opens mem's tables
 */
class TableFileProvider {
public:
    virtual ~TableFileProvider() = default;
    /** The path of `fileName` in `dir`, matched case-insensitively ("000_name.db" for
     *  "000_NAME.DB"); nothing when there is no such table. */
    virtual std::optional<std::string> resolve(const std::string& dir, const std::string& fileName) const = 0;
    virtual std::unique_ptr<TableFile> open(const std::string& path, OpenMode mode) = 0;
    /** Creates or replaces the table, no index, fields in order. */
    virtual void create(const std::string& path, const std::vector<FieldDef>& fields) = 0;
    /** Replaces the table at `path` as a whole by one of `fields` holding `records`, their
     *  autoincrement values kept. By default created anew and filled record by record; the
     *  Paradox files are replaced atomically (storage/TableFamily.h). */
    virtual void replace(const std::string& path, const std::vector<FieldDef>& fields, const std::vector<Record>& records);
};

/** The provider in use (never null). */
TableFileProvider& tableFileProvider();
/** Installs a provider; nullptr goes back to the Paradox files. Returns the previous one. */
TableFileProvider* setTableFileProvider(TableFileProvider* provider);

/** Opaque mark of a position, for remember-and-return. */
struct Bookmark {
    std::optional<RecordLoc> loc;
    int row = -1;
};

class TableHandle {
public:
    enum class State { Inactive, Browse, Edit, Insert };

    TableHandle();
    explicit TableHandle(std::string objectName);  // e.g. "Table3", used in nothing but diagnostics
    ~TableHandle();
    TableHandle(const TableHandle&) = delete;
    TableHandle& operator=(const TableHandle&) = delete;

    // ---- set-up (takes effect at the next open / create) -------------------------------
    void setDatabaseName(std::string dir);
    const std::string& databaseName() const;
    /** "RABMAT.DB", or a bare name to which ".DB" is added when the file is looked for. */
    void setTableName(std::string name);
    const std::string& tableName() const;
    void setIndexName(std::string index);          // a named index of the table
    void setIndexFieldNames(std::string fields);   // fields of an index, e.g. "ID"
    void setMasterSource(TableHandle* master, std::string masterFields);
    void setReadOnly(bool ro);
    bool readOnly() const;
    const std::string& indexName() const;
    const std::string& indexFieldNames() const;
    TableHandle* masterSource() const;
    const std::string& masterFields() const;
    const std::vector<BoundField>& boundFields() const;
    /** Name given at construction ("Table3"), for diagnostics. */
    const std::string& objectName() const;
    /** The path of the table as found at the last open (or as it would be created). */
    std::string tablePath() const;
    void setBoundFields(std::vector<BoundField> fields);
    void setFieldDefs(std::vector<FieldDef> defs);  // for createTable
    const std::vector<FieldDef>& fieldDefs() const;

    // ---- filter ------------------------------------------------------------------------
    /** Expression "FIELD = value" (a number or a quoted text). Unreadable: talvira::Error. */
    void setFilter(std::string expr);
    const std::string& filter() const;
    /** Switching puts the cursor on the first visible record. */
    void setFiltered(bool on);
    bool filtered() const;

    // ---- life --------------------------------------------------------------------------
    void open();
    void close();  // drops an unposted edit; closing a closed handle does nothing
    bool active() const;
    State state() const;
    /** Creates the table from fieldDefs() in order, replacing one of the same name. The
     *  handle stays closed. */
    void createTable();

    // ---- cursor ------------------------------------------------------------------------
    void first();
    void last();
    void next();
    void prior();
    bool eof() const;  // true after a move past the last record (and on an empty set)
    bool bof() const;
    /** Moves on and answers whether it moved. */
    bool findNext();
    bool isEmpty() const;
    /** Visible records in the current view, and the cursor's row in it (-1 when none).
     *  While a new record is being appended it counts as the last row and is the current one. */
    int recordCount() const;
    int recNo() const;
    /** Makes row `row` (0-based) of the view current (clamped to the view). */
    void moveTo(int row);

    // ---- fields ------------------------------------------------------------------------
    /** The handle's field list: the bound fields in their order, or every field. */
    int fieldCount() const;
    const FieldDef& field(int i) const;
    int fieldIndex(std::string_view name) const;  // -1 when not reachable

    /** Value of a field of the current record (or of the edit buffer); empty when there is
     *  no current record. Unknown field: talvira::Error. */
    Value fieldValue(std::string_view name) const;
    Value fieldValue(int i) const;
    double fieldAsFloat(std::string_view name) const { return fieldValue(name).asFloat(); }
    std::string fieldAsString(std::string_view name) const { return fieldValue(name).asString(); }
    /** Value of field `i` in row `row` of the view, without moving the cursor (grids). */
    Value valueAt(int row, int i) const;
    /** Writes into the edit buffer; only while appending or editing. */
    void setFieldValue(std::string_view name, Value v);
    void setFieldValue(int i, Value v);

    // ---- editing -----------------------------------------------------------------------
    void append();   // new empty record at the end
    void insert();   // as append (the tables have no order of their own to insert into)
    void edit();     // on an empty view, starts a new blank record instead
    void post();     // stores the record
    void cancel();
    /** Removes the current record (cursor to the next one); while appending, cancels instead. */
    void remove();
    bool modified() const;  // the edit buffer differs from the stored record
    /** The names of the fields the edit in progress changes, in table order (none while
     *  browsing; a new record: the fields given a value). */
    std::vector<std::string> modifiedFields() const;

    // ---- whole records (every field of the table, in table order) ------------------------
    /** The table's own fields in table order (empty while closed). */
    const std::vector<FieldDef>& tableFields() const;
    /** The stored records of the view (a record being appended is not one yet). */
    int storedCount() const;
    Record storedRecord(int row) const;
    std::vector<Record> storedRecords() const;
    /** Writes that put records back as they were, each stored like a post and told as one
     *  TableChange naming `origin`; the cursor ends on the record concerned. `storeRecord`
     *  rewrites row `row` (its autoincrement value stays); `insertRecord` stores a record at
     *  row `row` of the physical order and `appendRecords` after the last one, autoincrement
     *  values as given; `removeRecord` removes row `row`, the cursor on the record that
     *  followed; `replaceRecords` replaces the table as a whole (storage/TableFamily.h), its
     *  cursor on the first record. An edit in progress is stored or dropped first (dropped by
     *  a replacement). */
    void storeRecord(int row, const Record& rec, const TableObserver* origin = nullptr);
    void insertRecord(int row, const Record& rec, const TableObserver* origin = nullptr);
    void appendRecords(const std::vector<Record>& records, const TableObserver* origin = nullptr);
    void removeRecord(int row, const TableObserver* origin = nullptr);
    void replaceRecords(const std::vector<FieldDef>& fields, const std::vector<Record>& records,
                        const TableObserver* origin = nullptr);
    /** Stops holding the table for writing (others may open it) until the next write. */
    void releaseWriting();

    // ---- display -----------------------------------------------------------------------
    void disableControls();
    void enableControls();
    bool controlsDisabled() const;

    // ---- positions ---------------------------------------------------------------------
    Bookmark bookmark() const;
    void gotoBookmark(const Bookmark& b);

    // ---- observers ---------------------------------------------------------------------
    void addObserver(TableObserver* o);
    void removeObserver(TableObserver* o);

    /** The open table file (nullptr while closed): for the engine's own tests of shared files;
     *  everything else reads and writes through the handle. */
    TableFile* file() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/** RAII pairing of disableControls / enableControls. */
class ControlsSuspended {
public:
    explicit ControlsSuspended(TableHandle& t) : t_(t) { t_.disableControls(); }
    ~ControlsSuspended() { t_.enableControls(); }
    ControlsSuspended(const ControlsSuspended&) = delete;
    ControlsSuspended& operator=(const ControlsSuspended&) = delete;

private:
    TableHandle& t_;
};

/** RAII remember-and-return of the cursor position. */
class PositionKept {
public:
    explicit PositionKept(TableHandle& t) : t_(t), mark_(t.bookmark()) {}
    ~PositionKept() {
        try { t_.gotoBookmark(mark_); } catch (...) {}
    }
    PositionKept(const PositionKept&) = delete;
    PositionKept& operator=(const PositionKept&) = delete;

private:
    TableHandle& t_;
    Bookmark mark_;
};

}  // namespace talvira::storage
