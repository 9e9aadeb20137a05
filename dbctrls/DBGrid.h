#pragma once
/**
 * DBGrid: a data-aware grid over a table handle. It shows the handle's records (read on demand,
 * never copied), keeps its current row and the handle's cursor in step both ways, and in
 * editable mode lets the user type into cells, add a blank row (Insert, or Down past the last
 * row) and posts a changed row when the cursor leaves it.
 *
 *   DBGrid g(reporter); g.setColumns({{"TAB", "Шифр", true, 70}, {"BA", "Всего"}});
 *   g.setTable(&table2);
 *   g.onDrawColumnCell = [&](DrawCellArgs& a) { ... paint over a.rect ... };
 *
 * A column that fits its contents (GridColumn::fitContents) widens to its widest value among the
 * grid's rows (the first thousand) whenever they change, and never goes below its own width
 * or the width the user dragged it to.
 *
 * A cell never shows a different figure than its value: a text too wide for its cell is cut at
 * the right with "…", a number only in its decimals with "…", and a number whose integer part
 * does not fit shows "###"; a cut cell shows its whole text as a tooltip (fitCellText below).
 *
 * Caveats: unbind (setTable(nullptr)) before the handle is destroyed, e.g. in the window's
 * destructor when the handle is a member of the window. Errors raised inside Qt events (a value
 * the field refuses, a post the table refuses) go to the reporter the grid is made with.
 */
#include "dbctrls/ErrorReport.h"
#include "dbctrls/TableModel.h"

#include <QFont>
#include <QRect>
#include <QTableView>

#include <functional>
#include <optional>
#include <set>
#include <utility>

class QPainter;
class QProxyStyle;

namespace talvira::dbctrls {

/** The mark a cut text carries. */
inline constexpr char16_t kElisionMark = u'\u2026';

/** The text shown for `text` in `width` pixels: the text itself when it fits; else a text
 *  cut at the right with "…"; a number (`number`) keeps its whole integer part and loses
 *  only decimals, marked with "…"; a number whose integer part (or exponent) would be lost
 *  is shown as "###". `sep` is the number's decimal separator. */
QString fitCellText(const QString& text, bool number, char sep, const QFontMetrics& metrics, int width);

class DBGrid;

/** What a cell-painting handler is given; it runs after the grid has drawn the cell. */
struct DrawCellArgs {
    QPainter* painter = nullptr;
    QRect rect;               // the cell rectangle
    int column = -1;          // index into the grid's columns
    const GridColumn* columnDef = nullptr;
    int row = -1;             // the row painted (the record the cell belongs to)
    bool selected = false;    // the cell belongs to the selection (the current row)
    bool focused = false;     // the grid has the input focus
    QFont font;               // the font for a redraw with drawDefaultCell (handlers may change it)
    DBGrid* grid = nullptr;
};

/** How a grid looks and behaves. */
struct GridOptions {
    bool titles = true;               // title row shown
    bool lines = true;                // lines between cells
    bool rowSelect = false;           // the whole current row is marked
    bool alwaysShowSelection = false; // the mark stays when the grid loses the focus
    bool resizableColumns = true;     // the user may drag column edges
    bool movableColumns = false;      // the user may drag titles to reorder columns
    bool tabBetweenColumns = true;    // Tab moves between columns (otherwise it leaves the grid);
                                      // from the last cell (first, with Shift+Tab) it leaves
    bool slimScrollBar = false;       // the vertical scroll bar takes only the room the columns
                                      // leave, so that a narrow grid's columns stay whole beside it
    bool editable = false;            // cells can be typed into, rows added
};

class DBGrid : public QTableView {
    Q_OBJECT
public:
    /** `errors` is told of the errors raised inside Qt events; it outlives the grid. */
    explicit DBGrid(ErrorReporter& errors, QWidget* parent = nullptr);
    ~DBGrid() override;

    void setTable(storage::TableHandle* table);
    storage::TableHandle* table() const { return model_->table(); }
    void setColumns(std::vector<GridColumn> columns);
    const std::vector<GridColumn>& columns() const { return model_->columns(); }
    void setOptions(const GridOptions& options);
    const GridOptions& options() const { return options_; }
    TableModel* tableModel() const { return model_; }

    /** Run for every data cell after the standard drawing; may paint over it. */
    std::function<void(DrawCellArgs&)> onDrawColumnCell;

    /** Draws the cell the standard way with args.font: background (the grid's, or the
     *  highlight for a selected cell), then the text 2 pixels in from the left (right for
     *  numbers) and top edges. */
    void drawDefaultCell(DrawCellArgs& args) const;

    /** Value of `field` in `row` (the edit buffer for the row being edited). */
    storage::Value rowValue(int row, std::string_view field) const { return model_->rowValue(row, field); }
    /** The text the grid shows for a cell (its whole value). */
    QString cellText(int row, int column) const { return model_->cellText(row, column); }
    /** The cell's text as painted `width` pixels wide in `font` (fitCellText). Painting notes
     *  whether it was cut, for the cell's tooltip. */
    QString fittedCellText(int row, int column, int width, const QFont& font) const;
    /** The part of the cell rectangle that the viewport shows. */
    QRect visibleCellRect(int row, int column) const;

    /** Makes the cell of `field` in the current row the current cell (a hidden or unknown
     *  field changes nothing). */
    void setCurrentField(std::string_view field);

    /** Stores what is being typed: commits an open cell editor, then posts a changed record
     *  or drops an unchanged new one. A typed text the field refuses: talvira::Error (the
     *  editor stays open with the text). Does nothing on a browsing or closed handle. */
    void postEdit();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    friend class GridDelegate;
    void onCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void syncToTable(int row);
    void applyPalette();
    void applyColumnLayout();
    void appendRow();
    void beginEditOnTyping();
    /** The delegate could not store a typed text. */
    void typedTextRefused(const QModelIndex& index, const QString& text, const QString& message);
    void flushRefused();
    bool commitOpenEditor();
    /** True when Tab (next) or Shift+Tab would go past the grid's last (first) cell. */
    bool atTabEdge(bool next) const;
    void updateScrollBarExtent();
    void keepTopRowWhole();
    /** Widens the columns that fit their contents to their widest value. */
    void fitColumns();

    struct Refused {
        int row;
        int column;
        QString text;
        QString message;
    };

    ErrorReporter& errors_;
    TableModel* model_;
    GridOptions options_;
    bool syncing_ = false;
    int userColumn_ = -1;  // the column of the last current cell
    std::optional<Refused> refused_;
    QMetaObject::Connection focusLink_;
    QProxyStyle* scrollStyle_ = nullptr;
    /** The width below which a fitting column never goes: its own, or the user's last. */
    std::vector<int> fitFloor_;
    bool fitting_ = false;
    /** Cells (row, column) whose text was cut when last painted. */
    mutable std::set<std::pair<int, int>> cut_;
};

}  // namespace talvira::dbctrls
