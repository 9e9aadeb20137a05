#include "dbctrls/TableModel.h"

#include "dbctrls/FieldText.h"

#include <QBrush>
#include <QFont>

namespace talvira::dbctrls {

using storage::FieldType;
using storage::TableHandle;
using storage::Value;

TableModel::TableModel(QObject* parent) : QAbstractTableModel(parent), sep_(userDecimalSeparator()) {}

TableModel::~TableModel() {
    if (table_) table_->removeObserver(this);
}

void TableModel::setTable(TableHandle* table) {
    if (table == table_) return;
    refreshing_ = true;
    beginResetModel();
    if (table_) table_->removeObserver(this);
    table_ = table;
    if (table_) table_->addObserver(this);
    resolveFields();
    rows_ = computeRowCount();
    endResetModel();
    refreshing_ = false;
    emit currentRowChanged(currentRow());
}

void TableModel::setColumns(std::vector<GridColumn> columns) {
    beginResetModel();
    columns_ = std::move(columns);
    resolveFields();
    rows_ = computeRowCount();
    endResetModel();
}

void TableModel::setEditable(bool on) {
    editable_ = on;
    refresh();
}

void TableModel::setTitleFont(const QFont& font) {
    titleFont_ = font;
    if (!columns_.empty()) emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(columns_.size()) - 1);
}

void TableModel::resolveFields() {
    fieldIdx_.assign(columns_.size(), -1);
    if (!table_ || !table_->active()) return;
    for (size_t c = 0; c < columns_.size(); ++c) fieldIdx_[c] = table_->fieldIndex(columns_[c].field);
}

void TableModel::activeChanged(TableHandle&) {
    refreshing_ = true;
    beginResetModel();
    resolveFields();
    rows_ = computeRowCount();
    endResetModel();
    refreshing_ = false;
    emit currentRowChanged(currentRow());
}

int TableModel::computeRowCount() const {
    if (!table_ || !table_->active()) return 0;
    int n = table_->recordCount();
    // A record being inserted may lie past the records the view counts.
    if (table_->state() == TableHandle::State::Insert && table_->recNo() >= n) n = table_->recNo() + 1;
    if (n == 0 && editable_) n = 1;
    return n;
}

void TableModel::refresh() {
    if (muted_) return;
    if (fieldIdx_.empty() && !columns_.empty() && table_ && table_->active()) resolveFields();
    const int n = computeRowCount();
    refreshing_ = true;
    if (n > rows_) {
        beginInsertRows({}, rows_, n - 1);
        rows_ = n;
        endInsertRows();
    } else if (n < rows_) {
        beginRemoveRows({}, n, rows_ - 1);
        rows_ = n;
        endRemoveRows();
    }
    refreshing_ = false;
    if (rows_ > 0 && !columns_.empty())
        emit QAbstractTableModel::dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(columns_.size()) - 1));
    emit currentRowChanged(currentRow());
}

int TableModel::fieldOf(int col) const {
    if (col < 0 || col >= static_cast<int>(fieldIdx_.size())) return -1;
    return fieldIdx_[static_cast<size_t>(col)];
}

FieldType TableModel::fieldTypeOf(int col) const {
    const int f = fieldOf(col);
    if (f < 0 || !table_) return FieldType::Alpha;
    return table_->field(f).type;
}

int TableModel::currentRow() const {
    if (!table_ || !table_->active()) return -1;
    const int r = table_->recNo();
    if (r < 0 && editable_ && rows_ > 0) return 0;  // the blank row over an empty table
    return r;
}

bool TableModel::isPlaceholderRow(int row) const {
    return editable_ && row == 0 && table_ && table_->active() && table_->recordCount() == 0 &&
           table_->state() != TableHandle::State::Insert;
}

Value TableModel::rowValue(int row, std::string_view field) const {
    if (!table_ || !table_->active()) return {};
    const int f = table_->fieldIndex(field);
    if (f < 0) return {};
    const auto state = table_->state();
    if ((state == TableHandle::State::Edit || state == TableHandle::State::Insert) && row == table_->recNo())
        return table_->fieldValue(f);
    if (row < 0 || row >= table_->recordCount()) return {};
    return table_->valueAt(row, f);
}

Value TableModel::cellValue(int row, int col) const {
    const int f = fieldOf(col);
    if (f < 0 || !table_ || !table_->active()) return {};
    const auto state = table_->state();
    if ((state == TableHandle::State::Edit || state == TableHandle::State::Insert) && row == table_->recNo())
        return table_->fieldValue(f);
    if (row < 0 || row >= table_->recordCount()) return {};
    return table_->valueAt(row, f);
}

QString TableModel::cellText(int row, int col) const {
    if (hiddenCell && hiddenCell(row, col)) return {};
    return displayText(cellValue(row, col), sep_);
}

void TableModel::writeCell(int col, const QString& text) {
    const int f = fieldOf(col);
    if (f < 0 || !table_) return;
    const auto& def = table_->field(f);
    const Value v = valueFromText(text, def.type, def.name, sep_);
    if (table_->state() == TableHandle::State::Browse) table_->edit();
    table_->setFieldValue(f, v);
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (isNumericField(fieldTypeOf(index.column())) ? Qt::AlignRight : Qt::AlignLeft));
    case Qt::FontRole:
    case Qt::ForegroundRole:
    case Qt::BackgroundRole:
        return lookRole(index.row(), role);
    default:
        return {};
    }
}

QVariant TableModel::lookRole(int row, int role) const {
    if (!rowLook || !table_ || !table_->active()) return {};
    const RowLook look = rowLook(row);
    if (role == Qt::FontRole) {
        if (!look.italic) return {};
        QFont italic;
        italic.setItalic(true);  // only the slant: the rest comes from the grid's font
        return italic;
    }
    const QColor& colour = role == Qt::ForegroundRole ? look.text : look.background;
    return colour.isValid() ? QVariant(QBrush(colour)) : QVariant();
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size()))
        return QAbstractTableModel::headerData(section, orientation, role);
    const GridColumn& c = columns_[static_cast<size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return c.title;
    case Qt::FontRole:
        {
            QFont f = titleFont_;
            f.setBold(c.titleBold);
            f.setUnderline(c.titleUnderline);
            return f;
        }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter | (c.titleCentered ? Qt::AlignHCenter : Qt::AlignLeft));
    default:
        return {};
    }
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable_ && table_ && table_->active()) {
        const int f = fieldOf(index.column());
        const bool locked = readOnlyCell && readOnlyCell(index.row(), index.column());
        if (f >= 0 && table_->field(f).type != FieldType::AutoInc && !locked) fl |= Qt::ItemIsEditable;
    }
    return fl;
}

}  // namespace talvira::dbctrls
