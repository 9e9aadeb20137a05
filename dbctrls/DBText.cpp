#include "dbctrls/DBText.h"

#include "dbctrls/FieldText.h"

namespace talvira::dbctrls {

using storage::TableHandle;

DBText::DBText(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
}

DBText::~DBText() {
    if (table_) table_->removeObserver(this);
}

void DBText::setField(TableHandle* table, std::string field) {
    if (table_) table_->removeObserver(this);
    table_ = table;
    field_ = std::move(field);
    if (table_) table_->addObserver(this);
    load();
}

void DBText::load() {
    QString text;
    if (table_ && table_->active() && table_->fieldIndex(field_) >= 0)
        text = displayText(table_->fieldValue(field_), userDecimalSeparator());
    setText(text);
}

}  // namespace talvira::dbctrls
