#pragma once
/**
 * DBMemo: a multi-line text box showing one field of a table handle's current record, wrapped
 * at words. Read-only, or editable: a change by the user starts an edit of the record and
 * writes the field; the record is stored when the cursor leaves it (or by the window). While the
 * handle is closed nothing can be typed: there is no record to take it.
 *
 *   DBMemo m(reporter); m.setField(&table1, "NAME");
 *
 * Caveat: unbind (setField(nullptr, {})) before the handle is destroyed.
 */
#include "dbctrls/ErrorReport.h"
#include "storage/TableHandle.h"

#include <QPlainTextEdit>

#include <string>

namespace talvira::dbctrls {

class DBMemo : public QPlainTextEdit, public storage::TableObserver {
    Q_OBJECT
public:
    /** `errors` is told of a change the table refuses; it outlives the memo. */
    explicit DBMemo(ErrorReporter& errors, QWidget* parent = nullptr);
    ~DBMemo() override;

    void setField(storage::TableHandle* table, std::string field);
    storage::TableHandle* table() const { return table_; }
    const std::string& field() const { return field_; }
    void setEditable(bool on);

    void recordMoved(storage::TableHandle&) override { load(); }
    void dataChanged(storage::TableHandle&) override { load(); }
    void stateChanged(storage::TableHandle&) override { load(); }
    void activeChanged(storage::TableHandle&) override { load(); }

private:
    void load();
    void onUserEdit();

    ErrorReporter& errors_;
    storage::TableHandle* table_ = nullptr;
    std::string field_;
    bool editable_ = false;
    bool loading_ = false;
    bool writing_ = false;
};

}  // namespace talvira::dbctrls
