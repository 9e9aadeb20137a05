#include "dbctrls/DBMemo.h"

#include "dbctrls/ErrorReport.h"
#include "dbctrls/FieldText.h"

namespace talvira::dbctrls {

using storage::TableHandle;
using storage::Value;

DBMemo::DBMemo(ErrorReporter& errors, QWidget* parent) : QPlainTextEdit(parent), errors_(errors) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setReadOnly(true);
    connect(this, &QPlainTextEdit::textChanged, this, &DBMemo::onUserEdit);
}

DBMemo::~DBMemo() {
    if (table_) table_->removeObserver(this);
}

void DBMemo::setField(TableHandle* table, std::string field) {
    if (table_) table_->removeObserver(this);
    table_ = table;
    field_ = std::move(field);
    if (table_) table_->addObserver(this);
    load();
}

void DBMemo::setEditable(bool on) {
    editable_ = on;
    load();
}

void DBMemo::load() {
    if (writing_) return;  // our own write echoing back
    setReadOnly(!editable_ || !table_ || !table_->active());
    QString text;
    if (table_ && table_->active() && table_->fieldIndex(field_) >= 0)
        text = displayText(table_->fieldValue(field_), userDecimalSeparator());
    if (text == toPlainText()) return;
    loading_ = true;
    setPlainText(text);
    loading_ = false;
}

void DBMemo::onUserEdit() {
    if (loading_ || isReadOnly() || !table_ || !table_->active()) return;
    writing_ = true;
    reportErrors(errors_, [this] {
        if (table_->state() == TableHandle::State::Browse) table_->edit();
        const QString text = toPlainText();
        table_->setFieldValue(field_, text.isEmpty() ? Value::empty() : Value::string(text.toStdString()));
    });
    writing_ = false;
}

}  // namespace talvira::dbctrls
