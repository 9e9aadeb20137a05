#include "dbctrls/DBGrid.h"

#include "common/Error.h"
#include "dbctrls/ErrorReport.h"
#include "dbctrls/FieldText.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>

namespace talvira::dbctrls {

using storage::TableHandle;

// ---------------------------------------------------------------------------------------------
// Fitting a cell's text
// ---------------------------------------------------------------------------------------------

QString fitCellText(const QString& text, bool number, char sep, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(text) <= width) return text;
    const QString mark{QChar(kElisionMark)};
    if (!number) return fm.elidedText(text, Qt::ElideRight, std::max(width, 0));
    // A number loses decimals only: its integer part and its exponent say what it is.
    const qsizetype point = text.indexOf(QLatin1Char(sep));
    const bool exponent = text.contains(QLatin1Char('E')) || text.contains(QLatin1Char('e'));
    if (point >= 0 && !exponent) {
        for (qsizetype keep = text.size() - 1; keep >= point + 2; --keep) {
            const QString cut = text.left(keep) + mark;
            if (fm.horizontalAdvance(cut) <= width) return cut;
        }
    }
    QString hashes = QStringLiteral("###");
    while (hashes.size() > 1 && fm.horizontalAdvance(hashes) > width) hashes.chop(1);
    return hashes;
}

namespace {

/** The style of a slim vertical scroll bar: as wide as the grid sets it. */
class SlimScrollBarStyle : public QProxyStyle {
public:
    explicit SlimScrollBarStyle(QStyle* base) : QProxyStyle(base->name()) {}
    int extent = 0;  // 0: the base style's
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_ScrollBarExtent && extent > 0) return extent;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Cell delegate: standard drawing, then the grid's painting handler; a plain line editor.
// ---------------------------------------------------------------------------------------------

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(DBGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QPointer<QLineEdit> editor;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        if (!grid_->options().alwaysShowSelection && !grid_->hasFocus() && !grid_->isAncestorOf(QApplication::focusWidget()))
            opt.state &= ~QStyle::State_Selected;
        // A cell partly out of view at the left or right shows its text in the part that is
        // seen, so that a right-aligned number never loses digits at the viewport's edge. Not
        // so at the top or bottom: the text stays where the whole row puts it, else a partly
        // painted row shows it shifted and cut ("3,74" lost the tail of its comma).
        const QRect viewport = grid_->viewport()->rect();
        const int left = std::max(option.rect.left(), viewport.left());
        const int right = std::min(option.rect.right(), viewport.right());
        if (left <= right) opt.rect = QRect(QPoint(left, option.rect.top()), QPoint(right, option.rect.bottom()));
        // The style draws the cell without its text; the text goes 2 pixels in from the cell's
        // edges, fitted to what is left (fitCellText).
        QStyleOptionViewItem item = opt;
        initStyleOption(&item, index);
        item.text.clear();
        QStyle* st = grid_->style();
        st->drawControl(QStyle::CE_ItemViewItem, &item, painter, grid_);
        // A number ends 2 pixels left of the right edge; a text may run to 1 pixel before it.
        const bool number = isNumericField(grid_->tableModel()->fieldTypeOf(index.column()));
        const QRect textRect = opt.rect.adjusted(2, 0, number ? -2 : -1, 0);
        const QString text = grid_->fittedCellText(index.row(), index.column(), textRect.width(), item.font);
        if (!text.isEmpty()) {
            painter->save();
            const bool selected = (item.state & QStyle::State_Selected) != 0;
            const QPalette::ColorGroup group = (item.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
            painter->setPen(item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            painter->setFont(item.font);
            painter->setClipRect(opt.rect);
            painter->drawText(textRect, int(item.displayAlignment) | Qt::TextSingleLine, text);
            painter->restore();
        }
        if (!grid_->onDrawColumnCell) return;
        const auto& cols = grid_->columns();
        if (index.column() < 0 || index.column() >= static_cast<int>(cols.size())) return;
        DrawCellArgs args;
        args.painter = painter;
        args.rect = opt.rect;
        args.column = index.column();
        args.columnDef = &cols[static_cast<size_t>(index.column())];
        args.row = index.row();
        args.selected = (opt.state & QStyle::State_Selected) != 0;
        args.focused = grid_->hasFocus();
        args.font = item.font;  // as the cell was painted, with the model's font role
        args.grid = grid_;
        painter->save();
        grid_->onDrawColumnCell(args);
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
        auto* e = new QLineEdit(parent);
        e->setFrame(false);
        // The first change typed into a cell puts the record into editing.
        DBGrid* grid = grid_;
        connect(e, &QLineEdit::textEdited, grid, [grid] { grid->beginEditOnTyping(); });
        const_cast<GridDelegate*>(this)->editor = e;
        return e;
    }

    void setEditorData(QWidget* w, const QModelIndex& index) const override {
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(index.data(Qt::EditRole).toString());
    }

    void setModelData(QWidget* w, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* e = qobject_cast<QLineEdit*>(w);
        if (!e) return;
        const QString text = e->text();
        auto* model = grid_->tableModel();
        if (text == model->cellText(index.row(), index.column()) && !model->isPlaceholderRow(index.row())) return;
        if (text.isEmpty() && model->isPlaceholderRow(index.row())) return;
        try {
            model->writeCell(index.column(), text);
        } catch (const std::exception& ex) {
            grid_->typedTextRefused(index, text, QString::fromUtf8(ex.what()));
        }
    }

    void updateEditorGeometry(QWidget* w, const QStyleOptionViewItem& option, const QModelIndex&) const override {
        w->setGeometry(option.rect);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        // The focus going to another window (a message box, another program) leaves the cell
        // open with what is typed: nothing is stored or refused behind the user's back, and the
        // cell has the focus again when the window comes back.
        if (event->type() == QEvent::FocusOut) {
            auto* w = qobject_cast<QWidget*>(object);
            const QWidget* now = QApplication::focusWidget();
            if (w && (!now || now->window() != w->window())) return false;
        }
        // A grid whose Tab leaves it: Tab stores the cell and passes the focus on.
        if (event->type() == QEvent::KeyPress && !grid_->options().tabBetweenColumns) {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
                auto* w = qobject_cast<QWidget*>(object);
                emit commitData(w);
                emit closeEditor(w, NoHint);
                grid_->focusNextPrevChild(ke->key() == Qt::Key_Tab);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    DBGrid* grid_;
};

// ---------------------------------------------------------------------------------------------
// DBGrid
// ---------------------------------------------------------------------------------------------

DBGrid::DBGrid(ErrorReporter& errors, QWidget* parent)
    : QTableView(parent), errors_(errors), model_(new TableModel(this)) {
    setModel(model_);
    setItemDelegate(new GridDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);  // a title click selects nothing
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);  // the delegate fits the text itself (fitCellText)
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Rows scroll whole, whatever the style prefers: the top row is never cut (and again
    // whenever the style changes, changeEvent).
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &DBGrid::onCurrentChanged);
    connect(model_, &TableModel::currentRowChanged, this, &DBGrid::syncToTable);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        // A column the user dragged keeps that width as its least.
        if (!fitting_ && column >= 0 && column < static_cast<int>(fitFloor_.size())) fitFloor_[size_t(column)] = size;
        updateScrollBarExtent();
    });
    // Rows that change (another table walked to, rows added or read again) may hold longer values.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { fitColumns(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { fitColumns(); });
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] { fitColumns(); });
    focusLink_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        // Leaving the grid for another control of the same window stores the record; a
        // window losing activation (a message box, another program) does not.
        if (!options_.editable || !old || !now) return;
        const bool wasIn = old == this || isAncestorOf(old);
        const bool isIn = now == this || isAncestorOf(now);
        if (!wasIn || isIn || now->window() != window()) return;
        if (refused_) return;
        reportErrors(errors_, [this] { postEdit(); });
    });
    changeEvent(nullptr);
    setOptions(GridOptions{});
}

DBGrid::~DBGrid() {
    // The focus leaves a widget while its base destructor runs: no handler may see that.
    disconnect(focusLink_);
    model_->setTable(nullptr);
}

void DBGrid::setTable(TableHandle* table) {
    model_->setTable(table);
    applyColumnLayout();
}

void DBGrid::setColumns(std::vector<GridColumn> columns) {
    model_->setColumns(std::move(columns));
    applyColumnLayout();
    syncToTable(model_->currentRow());
}

void DBGrid::setOptions(const GridOptions& options) {
    options_ = options;
    if (options.slimScrollBar && !scrollStyle_) {
        scrollStyle_ = new SlimScrollBarStyle(style());
        scrollStyle_->setParent(this);
        verticalScrollBar()->setStyle(scrollStyle_);
    }
    horizontalHeader()->setVisible(options.titles);
    setShowGrid(options.lines);
    setSelectionBehavior(options.rowSelect ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    setTabKeyNavigation(options.tabBetweenColumns);
    model_->setEditable(options.editable);
    setEditTriggers(options.editable ? (QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                        QAbstractItemView::EditKeyPressed)
                                     : QAbstractItemView::NoEditTriggers);
    applyColumnLayout();
    applyPalette();
}

void DBGrid::applyPalette() {
    QPalette p = palette();
    if (options_.alwaysShowSelection) {
        p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    }
    setPalette(p);
}

void DBGrid::applyColumnLayout() {
    auto* h = horizontalHeader();
    h->setSectionsMovable(options_.movableColumns);
    h->setSectionResizeMode(options_.resizableColumns ? QHeaderView::Interactive : QHeaderView::Fixed);
    const auto& cols = model_->columns();
    QFont bold = font();
    bold.setBold(true);
    // A column without a width of its own is wide enough for its whole title.
    const int titleRoom = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h) + 8;
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        const GridColumn& col = cols[static_cast<size_t>(c)];
        setColumnHidden(c, !col.visible);
        int w = col.width;
        if (w <= 0) w = std::max(64, QFontMetrics(col.titleBold ? bold : font()).horizontalAdvance(col.title) + titleRoom);
        fitting_ = true;
        setColumnWidth(c, w);
        fitting_ = false;
    }
    fitFloor_.clear();
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) fitFloor_.push_back(columnWidth(c));
    fitColumns();
    updateScrollBarExtent();
}

void DBGrid::fitColumns() {
    const auto& cols = model_->columns();
    if (fitFloor_.size() != cols.size()) return;
    // Enough for the rows of one table of a norm base; a grid of more rows fits its first ones.
    constexpr int kFitRows = 1000;
    const int rows = std::min(model_->rowCount(), kFitRows);
    const QFontMetrics metrics(font());
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        if (!cols[size_t(c)].fitContents || isColumnHidden(c)) continue;
        int widest = 0;
        for (int r = 0; r < rows; ++r) widest = std::max(widest, metrics.horizontalAdvance(model_->cellText(r, c)));
        // The text starts 2 pixels in and may run to 1 pixel before the edge; the grid line
        // takes one more.
        const int need = std::max(fitFloor_[size_t(c)], widest + 3 + (showGrid() ? 1 : 0));
        if (columnWidth(c) == need) continue;
        fitting_ = true;
        setColumnWidth(c, need);
        fitting_ = false;
    }
}

void DBGrid::updateScrollBarExtent() {
    auto* slim = static_cast<SlimScrollBarStyle*>(scrollStyle_);
    if (!slim) return;
    int columns = 0;
    for (int c = 0; c < model_->columnCount(); ++c)
        if (!isColumnHidden(c)) columns += columnWidth(c);
    const int normal = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    // What the columns leave of the grid's inner width, but never thinner than can be grasped.
    const int room = width() - 2 * frameWidth() - columns;
    const int extent = std::clamp(room, 5, normal);
    if (extent == slim->extent) return;
    slim->extent = extent;
    verticalScrollBar()->updateGeometry();
    setViewportMargins(viewportMargins());  // lays the scroll bars out again
}

void DBGrid::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    keepTopRowWhole();
}

void DBGrid::updateGeometries() {
    QTableView::updateGeometries();
    keepTopRowWhole();
}

void DBGrid::keepTopRowWhole() {
    // Scrolled to the end, the table view aligns the last row with the bottom edge and cuts
    // the top row: the rows start whole at the top instead (the last one is whole either way).
    QHeaderView* rows = verticalHeader();
    const int value = verticalScrollBar()->value();
    if (verticalScrollMode() != ScrollPerItem || value <= 0 || value >= rows->count()) return;
    const int top = rows->sectionPosition(rows->logicalIndex(value));
    if (rows->offset() == top) return;
    rows->setOffset(top);
    viewport()->update();
    updateEditorGeometries();
}

void DBGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    updateScrollBarExtent();
}

QString DBGrid::fittedCellText(int row, int column, int width, const QFont& font) const {
    const QString whole = model_->cellText(row, column);
    const bool number = isNumericField(model_->fieldTypeOf(column));
    const QString shown = fitCellText(whole, number, userDecimalSeparator(), QFontMetrics(font), width);
    if (shown != whole) cut_.insert({row, column});
    else cut_.erase({row, column});
    return shown;
}

QRect DBGrid::visibleCellRect(int row, int column) const {
    return visualRect(model_->index(row, column)).intersected(viewport()->rect());
}

bool DBGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // A cut cell shows its whole text as a tooltip; a whole one shows none.
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex idx = indexAt(help->pos());
        if (idx.isValid() && cut_.count({idx.row(), idx.column()})) {
            QToolTip::showText(help->globalPos(), model_->cellText(idx.row(), idx.column()), viewport(),
                               visibleCellRect(idx.row(), idx.column()));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

bool DBGrid::atTabEdge(bool next) const {
    const QModelIndex cur = currentIndex();
    if (!cur.isValid() || model_->rowCount() == 0) return true;
    const auto* h = horizontalHeader();
    int first = -1, last = -1;  // visual positions of the first and last shown columns
    for (int v = 0; v < h->count(); ++v) {
        if (isColumnHidden(h->logicalIndex(v))) continue;
        if (first < 0) first = v;
        last = v;
    }
    const int at = h->visualIndex(cur.column());
    if (next) return cur.row() == model_->rowCount() - 1 && at >= last;
    return cur.row() == 0 && at <= first;
}

bool DBGrid::focusNextPrevChild(bool next) {
    // Tab walks the cells, and from the last cell it goes on to the next control (Shift+Tab
    // from the first cell to the previous one) instead of wrapping round inside the grid.
    if (options_.tabBetweenColumns && atTabEdge(next)) return QWidget::focusNextPrevChild(next);
    return QTableView::focusNextPrevChild(next);
}

void DBGrid::changeEvent(QEvent* event) {
    if (event) QTableView::changeEvent(event);
    if (!event || event->type() == QEvent::FontChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
        horizontalHeader()->setFont(font());
        model_->setTitleFont(font());
    }
    if (event && event->type() == QEvent::PaletteChange) viewport()->update();
    // A new style brings its own scroll mode: rows stay whole.
    if (event && event->type() == QEvent::StyleChange) setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
}

void DBGrid::syncToTable(int row) {
    if (model_->rowCount() == 0 || row < 0 || row >= model_->rowCount()) {
        if (currentIndex().isValid()) {
            syncing_ = true;
            selectionModel()->clearCurrentIndex();
            selectionModel()->clearSelection();
            syncing_ = false;
        }
        return;
    }
    const QModelIndex cur = currentIndex();
    if (cur.isValid() && cur.row() == row && selectionModel()->isSelected(cur)) return;
    // The column the user was in, also when the rows were read anew (undo, clearing).
    int col = cur.isValid() ? cur.column() : userColumn_;
    if (col >= model_->columnCount()) col = -1;
    if (col < 0 || isColumnHidden(col)) {
        col = 0;
        for (int c = 0; c < model_->columnCount(); ++c)
            if (!isColumnHidden(horizontalHeader()->logicalIndex(c))) {
                col = horizontalHeader()->logicalIndex(c);
                break;
            }
    }
    syncing_ = true;
    const QModelIndex idx = model_->index(row, col);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (options_.rowSelect) flags |= QItemSelectionModel::Rows;
    selectionModel()->setCurrentIndex(idx, flags);
    scrollTo(idx);
    syncing_ = false;
}

void DBGrid::onCurrentChanged(const QModelIndex& current, const QModelIndex&) {
    if (current.isValid() && !model_->isRefreshing()) userColumn_ = current.column();
    if (syncing_ || model_->isRefreshing()) return;
    if (refused_) {
        // The text typed into the cell being left was refused: the record stays where it is,
        // and once the view has done moving (its selection follows the move after this), the
        // cell is made current and highlighted again with its editor (flushRefused, queued).
        return;
    }
    TableHandle* t = table();
    if (!current.isValid() || !t || !t->active()) return;
    if (current.row() == model_->currentRow() || model_->isPlaceholderRow(current.row())) return;
    const int row = current.row();
    reportErrors(errors_, [&] { t->moveTo(row); });
    syncToTable(model_->currentRow());
}

void DBGrid::setCurrentField(std::string_view field) {
    const auto& cols = model_->columns();
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        if (cols[static_cast<size_t>(c)].field != field || isColumnHidden(c)) continue;
        const int row = model_->currentRow();
        if (row < 0 || row >= model_->rowCount()) return;
        syncing_ = true;
        setCurrentIndex(model_->index(row, c));
        syncing_ = false;
        userColumn_ = c;
        return;
    }
}

void DBGrid::beginEditOnTyping() {
    TableHandle* t = table();
    if (!t || !t->active() || t->state() != TableHandle::State::Browse) return;
    reportErrors(errors_, [&] { model_->unfollowed([t] { t->edit(); }); });
}

void DBGrid::typedTextRefused(const QModelIndex& index, const QString& text, const QString& message) {
    refused_ = Refused{index.row(), index.column(), text, message};
    QTimer::singleShot(0, this, [this] { flushRefused(); });
}

void DBGrid::flushRefused() {
    if (!refused_) return;
    const Refused r = *refused_;
    refused_.reset();
    // Reopen the cell with what was typed, so that the user can correct it.
    if (isVisible() && r.row < model_->rowCount()) {
        const QModelIndex idx = model_->index(r.row, r.column);
        syncing_ = true;
        setCurrentIndex(idx);
        syncing_ = false;
        edit(idx);
        auto* d = static_cast<GridDelegate*>(itemDelegate());
        if (d->editor) d->editor->setText(r.text);
    }
    errors_.reportError(r.message);
}

bool DBGrid::commitOpenEditor() {
    auto* d = static_cast<GridDelegate*>(itemDelegate());
    if (d->editor && state() == QAbstractItemView::EditingState) {
        QWidget* e = d->editor;
        commitData(e);
        closeEditor(e, QAbstractItemDelegate::NoHint);
    }
    return !refused_;
}

void DBGrid::postEdit() {
    if (!commitOpenEditor()) {
        const Refused r = *refused_;
        refused_.reset();
        if (isVisible()) {
            const QModelIndex idx = model_->index(r.row, r.column);
            edit(idx);
            auto* d = static_cast<GridDelegate*>(itemDelegate());
            if (d->editor) d->editor->setText(r.text);
        }
        throw Error(r.message.toStdString());
    }
    TableHandle* t = table();
    if (!t || !t->active()) return;
    switch (t->state()) {
    case TableHandle::State::Insert:
        if (t->modified()) t->post();
        else t->cancel();
        break;
    case TableHandle::State::Edit:
        if (t->modified()) t->post();
        else t->cancel();
        break;
    default:
        break;
    }
}

void DBGrid::appendRow() {
    TableHandle* t = table();
    if (!t || !t->active()) return;
    if (!commitOpenEditor()) {
        flushRefused();
        return;
    }
    reportErrors(errors_, [&] {
        if (t->state() != TableHandle::State::Browse) {
            if (t->modified()) t->post();
            else t->cancel();
        }
        t->append();
    });
    syncToTable(model_->currentRow());
}

void DBGrid::keyPressEvent(QKeyEvent* event) {
    TableHandle* t = table();
    if (options_.editable && t && t->active() && event->modifiers() == Qt::NoModifier) {
        const int key = event->key();
        const bool lastRow = currentIndex().row() == model_->rowCount() - 1;
        if (key == Qt::Key_Insert || (key == Qt::Key_Down && lastRow)) {
            event->accept();
            // What is typed in the cell counts: it may turn the blank row into a record.
            if (!commitOpenEditor()) {
                flushRefused();
                return;
            }
            const bool onBlankNewRow = (t->state() == TableHandle::State::Insert && !t->modified()) ||
                                       model_->isPlaceholderRow(currentIndex().row());
            if (!onBlankNewRow) appendRow();
            return;
        }
        if (key == Qt::Key_Escape && t->state() != TableHandle::State::Browse) {
            reportErrors(errors_, [&] { t->cancel(); });
            syncToTable(model_->currentRow());
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void DBGrid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();  // the mark of a grid that hides it without the focus
}

void DBGrid::drawDefaultCell(DrawCellArgs& a) const {
    QPainter& p = *a.painter;
    p.save();
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    p.fillRect(a.rect, palette().color(group, a.selected ? QPalette::Highlight : QPalette::Base));
    p.setPen(palette().color(group, a.selected ? QPalette::HighlightedText : QPalette::Text));
    p.setFont(a.font);
    p.setClipRect(a.rect);
    const bool right = isNumericField(model_->fieldTypeOf(a.column));
    const QRect r = a.rect.adjusted(2, 2, right ? -2 : -1, 0);
    p.drawText(r, Qt::TextSingleLine | Qt::AlignTop | (right ? Qt::AlignRight : Qt::AlignLeft),
               fittedCellText(a.row, a.column, r.width(), a.font));
    p.restore();
}

}  // namespace talvira::dbctrls
