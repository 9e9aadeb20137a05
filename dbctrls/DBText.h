#pragma once
/**
 * DBText: a label showing one field of a table handle's current record, wrapped at words;
 * empty when the handle is closed or holds no record.
 *
 *   DBText t; t.setField(&table8, "NAME");
 *
 * Caveat: unbind (setField(nullptr, {})) before the handle is destroyed.
 */
#include "storage/TableHandle.h"

#include <QLabel>

#include <string>

namespace talvira::dbctrls {

class DBText : public QLabel, public storage::TableObserver {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);
    ~DBText() override;

    void setField(storage::TableHandle* table, std::string field);

    void recordMoved(storage::TableHandle&) override { load(); }
    void dataChanged(storage::TableHandle&) override { load(); }
    void activeChanged(storage::TableHandle&) override { load(); }

private:
    void load();

    storage::TableHandle* table_ = nullptr;
    std::string field_;
};

}  // namespace talvira::dbctrls
