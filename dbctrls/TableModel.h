#pragma once
/**
 * The item model behind DBGrid: a view of a table handle's records, column by column as the
 * grid declares them. Rows are read on demand with TableHandle::valueAt (the current row from
 * the edit buffer while it is being edited); nothing of the table is copied. The model follows
 * the handle through TableObserver and keeps its row count in step with the handle's view.
 *
 *   TableModel m; m.setColumns({{"KOLL", "Кол-во"}}); m.setTable(&table3);
 *   m.data(m.index(0, 0));   // "1,5" in a decimal-comma locale
 *
 * Caveat: unbind (setTable(nullptr)) before the handle is destroyed.
 */
#include "storage/TableHandle.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace talvira::dbctrls {

/** One column of a grid: the field it shows, its title and how it looks. */
struct GridColumn {
    std::string field;
    QString title;
    bool visible = true;
    int width = -1;            // pixels; -1 the grid's default
    bool titleBold = false;
    bool titleUnderline = false;
    bool titleCentered = false;
    /** Widened beyond `width` to show every value of the grid's rows whole (a code is the
     *  estimator's key: cut, "ФЕР11-01-01…" names nothing); never narrower than `width`. */
    bool fitContents = false;
};

/** How a row looks beyond the grid's own colours; an invalid colour leaves the grid's. */
struct RowLook {
    bool italic = false;
    QColor text;
    QColor background;
};

class TableModel : public QAbstractTableModel, public storage::TableObserver {
    Q_OBJECT
public:
    explicit TableModel(QObject* parent = nullptr);
    ~TableModel() override;

    void setTable(storage::TableHandle* table);
    storage::TableHandle* table() const { return table_; }
    void setColumns(std::vector<GridColumn> columns);
    const std::vector<GridColumn>& columns() const { return columns_; }
    /** Editable models show one blank row over an empty table, where typing starts the
     *  first record (as the table's edit() does on an empty view). */
    void setEditable(bool on);
    bool editable() const { return editable_; }
    /** Cells of an editable model that take no typing (a value the row holds as given); the
     *  rest of the row stays editable. */
    std::function<bool(int row, int col)> readOnlyCell;
    /** The font of the title row; columns make it bold or underlined as they declare. */
    void setTitleFont(const QFont& font);

    /** The look of a row by what it holds, given as the font and colour roles of its cells
     *  (a selected cell keeps the selection's colours). */
    std::function<RowLook(int row)> rowLook;
    /** Cells that show nothing whatever their value (a value that is not what the column's
     *  title names, for that row); cellText() gives them empty. */
    std::function<bool(int row, int col)> hiddenCell;

    /** Field index in the handle of column `col`; -1 when the handle does not reach it. */
    int fieldOf(int col) const;
    /** Field type of column `col` (Alpha when unbound). */
    storage::FieldType fieldTypeOf(int col) const;
    /** Value of a field (by name) in a row: from the edit buffer for the row being edited. */
    storage::Value rowValue(int row, std::string_view field) const;
    storage::Value cellValue(int row, int col) const;
    QString cellText(int row, int col) const;
    /** The handle's current row as a model row; -1 when none. */
    int currentRow() const;
    /** True when `row` is the blank row shown over an empty editable table. */
    bool isPlaceholderRow(int row) const;

    /** Writes typed text into the field of column `col` of the current record, starting an
     *  edit when the handle is browsing. A text that is not a value of the field: talvira::Error
     *  (nothing written). */
    void writeCell(int col, const QString& text);

    /** Re-reads the handle: row count, every visible cell, then currentRowChanged. */
    void refresh();
    /** Runs `body` without following the handle: for a change that alters nothing shown
     *  (an edit starting on the current record), so that an open cell editor keeps its text. */
    template <class F>
    void unfollowed(F&& body) {
        const bool was = muted_;
        muted_ = true;
        try {
            body();
        } catch (...) {
            muted_ = was;
            throw;
        }
        muted_ = was;
    }
    /** True while rows are being inserted or removed to follow the handle. */
    bool isRefreshing() const { return refreshing_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // TableObserver
    void recordMoved(storage::TableHandle&) override { refresh(); }
    void dataChanged(storage::TableHandle&) override { refresh(); }
    void stateChanged(storage::TableHandle&) override { refresh(); }
    void activeChanged(storage::TableHandle&) override;

signals:
    /** The handle's current row after a change (-1: none). */
    void currentRowChanged(int row);

private:
    int computeRowCount() const;
    QVariant lookRole(int row, int role) const;
    void resolveFields();

    storage::TableHandle* table_ = nullptr;
    std::vector<GridColumn> columns_;
    std::vector<int> fieldIdx_;
    int rows_ = 0;
    bool editable_ = false;
    QFont titleFont_;
    bool refreshing_ = false;
    bool muted_ = false;
    char sep_ = ',';
};

}  // namespace talvira::dbctrls
