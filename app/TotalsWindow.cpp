#include "app/TotalsWindow.h"

#include "app/ErrorBox.h"
#include "app/FormParts.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "editing/EstimateCommands.h"
#include "editing/EstimateDocument.h"
#include "editing/BaseIndexText.h"
#include "estimate/EstimateFields.h"
#include "export/ChargeBlock.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using talvira::xls::BlockRowKind;
using talvira::xls::TotalColumn;
namespace efld = talvira::estimate::fld;

namespace {

enum BlockColumn { CaptionColumn, RateColumn, UnitColumn, AmountColumn };

QTableWidgetItem* cell(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(align);
    return item;
}

void setCellText(QTableWidget* grid, int row, int column, const QString& text) {
    QTableWidgetItem* item = grid->item(row, column);
    if (item->text() != text) item->setText(text);
}

const Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

}  // namespace

/** Every position's lines (editing::positionLines) one block after another, written only for
 *  the rows the view asks for: ten thousand positions make some hundred thousand lines. */
class PositionLinesModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    /** Follows `result` (nullptr: none), whose positions belong to `rows`; true when the lines
     *  were laid anew (their number changed), false when only their texts may have. */
    bool show(const talvira::model::BaseIndexResult* result, const std::vector<talvira::model::PositionRow>* rows,
              const talvira::model::EstimateParams& params, char sep) {
        std::vector<size_t> starts = result ? talvira::editing::positionLineStarts(*result) : std::vector<size_t>{0};
        const bool sameRows = starts.back() == starts_.back();
        if (!sameRows) beginResetModel();
        result_ = result;
        rows_ = rows;
        params_ = params;
        sep_ = sep;
        starts_ = std::move(starts);
        cached_ = SIZE_MAX;
        if (!sameRows) endResetModel();
        else if (!starts_.empty() && starts_.back() > 0)
            emit dataChanged(index(0, 0), index(int(starts_.back()) - 1, 3));
        return !sameRows;
    }

    /** The font of headings and totals. */
    QFont bold;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(starts_.back()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }

    QVariant data(const QModelIndex& index, int role) const override {
        const talvira::editing::TotalsLine* l = line(size_t(index.row()));
        if (!l) return {};
        using Kind = talvira::editing::TotalsLine::Kind;
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            const std::string* texts[] = {&l->caption, &l->base, &l->index, &l->current};
            if (role == Qt::ToolTipRole && index.column() != 0) return {};
            return QString::fromStdString(*texts[index.column()]);
        }
        case Qt::TextAlignmentRole: return int(index.column() == 0 ? Qt::AlignLeft | Qt::AlignVCenter : kRight);
        case Qt::FontRole:
            return l->kind == Kind::Heading || l->kind == Kind::Total ? QVariant(bold) : QVariant();
        case Qt::ForegroundRole: return l->kind == Kind::Problem ? QVariant(QColor(160, 0, 0)) : QVariant();
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        const QString titles[] = {QString(), QStringLiteral("В базисных ценах"), QStringLiteral("Индекс"),
                                  QStringLiteral("В текущих ценах")};
        return section >= 0 && section < 4 ? titles[section] : QString();
    }

private:
    /** Line `row`, the lines of its position written once for all its cells. */
    const talvira::editing::TotalsLine* line(size_t row) const {
        if (!result_ || row >= starts_.back()) return nullptr;
        const size_t p = size_t(std::upper_bound(starts_.begin(), starts_.end(), row) - starts_.begin()) - 1;
        if (p >= result_->positions.size()) return nullptr;
        if (cached_ != p) {
            lines_ = talvira::editing::positionLines(result_->positions[p], *rows_, params_, sep_);
            cached_ = p;
        }
        const size_t at = row - starts_[p];
        return at < lines_.size() ? &lines_[at] : nullptr;
    }

    const talvira::model::BaseIndexResult* result_ = nullptr;
    const std::vector<talvira::model::PositionRow>* rows_ = nullptr;
    talvira::model::EstimateParams params_;
    char sep_ = ',';
    std::vector<size_t> starts_{0};
    mutable size_t cached_ = SIZE_MAX;
    mutable std::vector<talvira::editing::TotalsLine> lines_;
};

TotalsWindow::TotalsWindow(Estimate estimate)
    : QWidget(nullptr, Qt::Window), estimate_(std::move(estimate)), follower_(estimate_.follower) {
    setObjectName("TotalsForm");
    setWindowTitle(QStringLiteral("Итоги сметы"));
    setFont(estimate_.window.font());

    SumsGrid = new QTableWidget(1, talvira::xls::kTotalColumns, this);
    SumsGrid->setObjectName("SumsGrid");
    SumsGrid->setHorizontalHeaderLabels({QStringLiteral("Стоимость"), QStringLiteral("Осн. з/п"),
                                         QStringLiteral("Материалы"), QStringLiteral("Экспл. маш."),
                                         QStringLiteral("З/п маш."), QStringLiteral("Затр. труда")});
    SumsGrid->verticalHeader()->hide();
    SumsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int c = 0; c < talvira::xls::kTotalColumns; ++c) SumsGrid->setItem(0, c, cell(QString(), kRight));
    SumsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);

    const auto& rows = talvira::xls::chargeBlockRows();
    BlockGrid = new QTableWidget(int(rows.size()), 4, this);
    BlockGrid->setObjectName("BlockGrid");
    BlockGrid->setHorizontalHeaderLabels({QStringLiteral("Наименование"), QStringLiteral("Ставка"), QString(),
                                          QStringLiteral("Сумма")});
    BlockGrid->verticalHeader()->hide();
    BlockGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    BlockGrid->setWordWrap(false);
    for (const talvira::xls::BlockRow& row : rows) {
        const bool charge = row.kind == BlockRowKind::ChargeOfWages || row.kind == BlockRowKind::ChargeOfRunning;
        BlockGrid->setItem(row.offset, CaptionColumn, cell(QString::fromUtf8(row.caption)));
        BlockGrid->setItem(row.offset, RateColumn, cell(QString(), kRight));
        BlockGrid->setItem(row.offset, UnitColumn, cell(charge ? QStringLiteral("%") : QString()));
        BlockGrid->setItem(row.offset, AmountColumn, cell(QString(), kRight));
    }
    QHeaderView* header = BlockGrid->horizontalHeader();
    header->setSectionResizeMode(CaptionColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(RateColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(UnitColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(AmountColumn, QHeaderView::Interactive);
    BlockGrid->setColumnWidth(AmountColumn, 130);

    CountLabel = new QLabel(this);
    CountLabel->setObjectName("CountLabel");
    NextButton = new QPushButton(QStringLiteral("Следующая незаполненная"), this);
    NextButton->setObjectName("NextButton");
    NextButton->setToolTip(QStringLiteral("F3"));
    MessageLabel = new QLabel(this);
    MessageLabel->setObjectName("MessageLabel");
    NextAction = new QAction(QStringLiteral("Следующая незаполненная"), this);
    NextAction->setObjectName("NextAction");
    NextAction->setShortcut(QKeySequence(Qt::Key_F3));
    NextAction->setShortcutContext(Qt::WindowShortcut);
    addAction(NextAction);

    BaseIndexGrid = new QTableWidget(0, 4, this);
    BaseIndexGrid->setObjectName("BaseIndexGrid");
    BaseIndexGrid->setHorizontalHeaderLabels({QString(), QStringLiteral("В базисных ценах"), QStringLiteral("Индекс"),
                                              QStringLiteral("В текущих ценах")});
    BaseIndexGrid->verticalHeader()->hide();
    BaseIndexGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    BaseIndexGrid->setWordWrap(false);
    BaseIndexGrid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c) BaseIndexGrid->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);

    positions_ = new PositionLinesModel(this);
    positions_->bold = font();
    positions_->bold.setBold(true);
    PositionsGrid = new QTableView(this);
    PositionsGrid->setObjectName("PositionsGrid");
    PositionsGrid->setModel(positions_);
    PositionsGrid->verticalHeader()->hide();
    PositionsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PositionsGrid->setWordWrap(false);
    PositionsGrid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    // The amounts' columns are fitted by showPositions: measured over a thousand lines at every
    // edit they would take the edit's time.
    for (int c = 1; c < 4; ++c) PositionsGrid->horizontalHeader()->setSectionResizeMode(c, QHeaderView::Interactive);
    auto* positionsPage = new QWidget;
    auto* positionsNote = new QLabel(QStringLiteral("ЭМ, М, прямые затраты и итог позиции переводятся в текущие цены "
                                                    "по виду работ: см. «Итоги»."),
                                     positionsPage);
    positionsNote->setObjectName("PositionsNote");
    positionsNote->setWordWrap(true);
    auto* positionsLayout = new QVBoxLayout(positionsPage);
    positionsLayout->setContentsMargins(0, 0, 0, 0);
    positionsLayout->addWidget(positionsNote);
    positionsLayout->addWidget(PositionsGrid, 1);
    BaseIndexTabs = new QTabWidget(this);
    BaseIndexTabs->setObjectName("BaseIndexTabs");
    BaseIndexTabs->addTab(BaseIndexGrid, QStringLiteral("Итоги"));
    BaseIndexTabs->addTab(positionsPage, QStringLiteral("По позициям"));
    connect(BaseIndexTabs, &QTabWidget::currentChanged, this, [this] { showPositions(); });
    BaseIndexTabs->hide();

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CountLabel);
    bottom->addStretch(1);
    bottom->addWidget(MessageLabel);
    bottom->addWidget(NextButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SumsGrid);
    layout->addWidget(BlockGrid, 1);
    layout->addWidget(BaseIndexTabs, 1);
    layout->addLayout(bottom);
    // Compact: rows as high as the estimate grid's, the window as large as the whole block.
    const int rowHeight = fontMetrics().height() + 4;
    for (QTableWidget* grid : {SumsGrid, BlockGrid}) {
        grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        grid->verticalHeader()->setDefaultSectionSize(rowHeight);
        grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    // Rows of one height (a view of a hundred thousand lines measures none of them).
    for (QTableView* grid : {static_cast<QTableView*>(BaseIndexGrid), PositionsGrid}) {
        grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        grid->verticalHeader()->setDefaultSectionSize(rowHeight);
    }
    SumsGrid->setFixedHeight(SumsGrid->horizontalHeader()->sizeHint().height() + rowHeight + 2 * SumsGrid->frameWidth());
    BlockGrid->setMinimumHeight(BlockGrid->horizontalHeader()->sizeHint().height() + BlockGrid->rowCount() * rowHeight +
                                2 * BlockGrid->frameWidth());
    resize(560, sizeHint().height());
    templateSize_ = size();

    connect(NextButton, &QPushButton::clicked, this, [this] { guarded([&] { NextButtonClick(); }); });
    connect(NextAction, &QAction::triggered, this, [this] { guarded([&] { NextButtonClick(); }); });
    // Every change typed into the seven rate edits.
    for (QLineEdit* edit : estimate_.rateEdits)
        connect(edit, &QLineEdit::textChanged, this, [this] {
            if (isVisible()) showBlock();
        });
    showBlock();
}

TotalsWindow::~TotalsWindow() = default;

talvira::model::EstimateTexts TotalsWindow::typedTexts() const {
    // The rates as typed now, each into the text of the edit of the same name.
    talvira::model::EstimateTexts texts;
    for (const QLineEdit* edit : estimate_.rateEdits)
        if (std::string* text = texts.byControlName(edit->objectName().toStdString())) *text = edit->text().toStdString();
    return texts;
}

bool TotalsWindow::showBaseIndex() {
    const talvira::model::BaseIndexResult* result = estimate_.document ? estimate_.document->baseIndex() : nullptr;
    if (shownBaseIndex_ != (result != nullptr)) {
        // The workbook's block in the window's own size; the larger table in a larger one.
        shownBaseIndex_ = result != nullptr;
        SumsGrid->setVisible(!shownBaseIndex_);
        BlockGrid->setVisible(!shownBaseIndex_);
        BaseIndexTabs->setVisible(shownBaseIndex_);
        if (shownBaseIndex_) templateSize_ = size();
        layout()->activate();  // the smallest size of the view now shown, not of the one hidden
        resize(shownBaseIndex_ ? QSize(std::max(width(), 640), std::max(height(), 600)) : templateSize_);
        if (isVisible()) keepOnScreen();
    }
    showPositions();
    if (!result) return false;
    const char sep = talvira::dbctrls::userDecimalSeparator();
    std::vector<talvira::editing::TotalsLine> lines =
        talvira::editing::baseIndexLines(*result, typedTexts().vatPercent, sep);
    // Thousands of positions without a row would make thousands of lines: the first ones say it.
    constexpr size_t kMostLines = 400;
    if (lines.size() > kMostLines) {
        const size_t more = lines.size() - kMostLines;
        lines.resize(kMostLines);
        lines.push_back({talvira::editing::TotalsLine::Kind::Problem, "… и ещё " + std::to_string(more), {}, {}, {}});
    }
    // The columns measured once for the whole block, not once for every cell set (an edit of ten
    // thousand positions would otherwise spend its time measuring text); only what changed is set.
    QHeaderView* header = BaseIndexGrid->horizontalHeader();
    for (int c = 1; c < 4; ++c) header->setSectionResizeMode(c, QHeaderView::Fixed);
    using Kind = talvira::editing::TotalsLine::Kind;
    const bool sameShape = shownKinds_.size() == lines.size() &&
                           std::equal(lines.begin(), lines.end(), shownKinds_.begin(),
                                      [](const talvira::editing::TotalsLine& l, Kind k) { return l.kind == k; });
    if (!sameShape) {
        BaseIndexGrid->clearSpans();
        BaseIndexGrid->setRowCount(int(lines.size()));
        shownKinds_.clear();
    }
    QFont bold = BaseIndexGrid->font();
    bold.setBold(true);
    QFont italic = BaseIndexGrid->font();
    italic.setItalic(true);
    for (int r = 0; r < int(lines.size()); ++r) {
        const talvira::editing::TotalsLine& l = lines[size_t(r)];
        const QString texts[] = {QString::fromStdString(l.caption), QString::fromStdString(l.base),
                                 QString::fromStdString(l.index), QString::fromStdString(l.current)};
        for (int c = 0; c < 4; ++c) {
            if (sameShape) {
                setCellText(BaseIndexGrid, r, c, texts[c]);
                continue;
            }
            QTableWidgetItem* item = cell(texts[c], c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : kRight);
            if (l.kind == Kind::Heading || l.kind == Kind::Total) item->setFont(bold);
            if (l.kind == Kind::Note) item->setFont(italic);
            if (l.kind == Kind::Problem) item->setForeground(QColor(160, 0, 0));
            BaseIndexGrid->setItem(r, c, item);
        }
        if (!sameShape) {
            shownKinds_.push_back(l.kind);
            if (l.kind == Kind::Heading || l.kind == Kind::Note || l.kind == Kind::Problem) BaseIndexGrid->setSpan(r, 0, 1, 4);
        }
    }
    for (int c = 1; c < 4; ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    return true;
}

void TotalsWindow::showPositions() {
    const talvira::model::BaseIndexResult* result = estimate_.document ? estimate_.document->baseIndex() : nullptr;
    // Written only while looked at: the tab is shown again with the lines of the moment.
    if (result && !(isVisible() && BaseIndexTabs->currentIndex() == 1)) return;
    const bool laid = positions_->show(result, &follower_.rows(),
                                       result ? estimate_.document->calc().params : talvira::model::EstimateParams{},
                                       talvira::dbctrls::userDecimalSeparator());
    // Lines laid anew: the columns fit them (as far as a thousand lines tell); after an edit they
    // widen to the lines in view, which is where an edited amount is seen.
    QHeaderView* header = PositionsGrid->horizontalHeader();
    const int precision = header->resizeContentsPrecision();
    if (!laid) header->setResizeContentsPrecision(0);
    for (int c = 1; c < 4; ++c) {
        const int was = header->sectionSize(c);
        PositionsGrid->resizeColumnToContents(c);
        if (!laid && header->sectionSize(c) < was) header->resizeSection(c, was);
    }
    header->setResizeContentsPrecision(precision);
}

void TotalsWindow::showBlock() {
    if (showBaseIndex()) {
        CountLabel->setText(QStringLiteral("Позиций: %1, не заполнено: %2")
                                .arg(follower_.rows().size())
                                .arg(follower_.incompleteCount()));
        return;
    }
    const char sep = talvira::dbctrls::userDecimalSeparator();
    const talvira::model::EstimateTexts texts = typedTexts();
    totals_ = talvira::xls::computeTotals(follower_.sums(), texts, sep);
    const bool open = follower_.estimateOpen();
    for (const talvira::xls::BlockLine& line : totals_.lines) {
        const int r = line.row->offset;
        setCellText(BlockGrid, r, RateColumn, QString::fromStdString(line.rateText));
        const QString amount = open ? QString::fromStdString(talvira::editing::amountText(line.amount, sep)) : QString();
        setCellText(BlockGrid, r, AmountColumn, amount);
        BlockGrid->item(r, AmountColumn)->setToolTip(line.amount.kind == talvira::xls::BlockAmount::Kind::Failure ? amount : QString());
    }
    for (int c = 0; c < talvira::xls::kTotalColumns; ++c)
        setCellText(SumsGrid, 0, c,
                    open ? QString::fromStdString(talvira::editing::amountText(totals_.totals.sums[size_t(c)], sep))
                         : QString());
    CountLabel->setText(QStringLiteral("Позиций: %1, не заполнено: %2")
                            .arg(follower_.rows().size())
                            .arg(follower_.incompleteCount()));
}

QString TotalsWindow::amountText(int offset) const {
    return BlockGrid->item(offset, AmountColumn)->text();
}

QString TotalsWindow::sumText(TotalColumn column) const { return SumsGrid->item(0, int(column))->text(); }

void TotalsWindow::showMessage(const QString& text) {
    MessageLabel->setText(text);
    if (!isVisible() && !text.isEmpty()) estimate_.showStatus(text);
}

void TotalsWindow::NextButtonClick() {
    talvira::storage::TableHandle& smeta = estimate_.table;
    estimate_.storePendingEdit();
    if (!smeta.active()) {
        showMessage(QStringLiteral("Смета не открыта"));
        return;
    }
    const int row = talvira::editing::nextIncompleteRow(smeta, smeta.recNo());
    if (row < 0) {
        showMessage(QStringLiteral("Незаполненных позиций нет"));
        return;
    }
    smeta.moveTo(row);
    // The cell to fill is made current, and the estimate window gets the keyboard on it, so
    // that what is typed next goes there (also when the walk was asked for here).
    estimate_.grid.setCurrentField(
        talvira::editing::fieldToFill(smeta.fieldValue(efld::KOLVO)));
    showMessage(QString());
    talvira::app::bringToFront(&estimate_.window);
    estimate_.grid.setFocus(Qt::OtherFocusReason);
}

void TotalsWindow::showAndActivate() {
    show();
    raise();
    activateWindow();
}

QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen) {
    const int gap = 8;
    int x = anchor.right() + 1 + gap;                                        // right of it
    if (x + size.width() > screen.right() + 1) x = anchor.left() - gap - size.width();  // left of it
    if (x < screen.left()) x = screen.right() + 1 - size.width();           // over its right part
    const int y = std::clamp(anchor.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return {std::max(x, screen.left()), y};
}

QPoint clientPlaceBeside(const QRect& anchorFrame, const QRect& anchorClient, const QSize& clientSize,
                         const QRect& screen) {
    // Framed as the estimate window is (the same kind of window, the same decorations).
    const QMargins frame(anchorClient.left() - anchorFrame.left(), anchorClient.top() - anchorFrame.top(),
                         anchorFrame.right() - anchorClient.right(), anchorFrame.bottom() - anchorClient.bottom());
    const QPoint frameAt = placeBeside(anchorFrame, clientSize.grownBy(frame), screen);
    return frameAt + QPoint(frame.left(), frame.top());
}

QRect keptOnScreen(const QRect& frame, const QRect& screen) {
    const QSize size = frame.size().boundedTo(screen.size());
    const int x = std::clamp(frame.left(), screen.left(), screen.right() + 1 - size.width());
    const int y = std::clamp(frame.top(), screen.top(), screen.bottom() + 1 - size.height());
    return {QPoint(x, y), size};
}

void TotalsWindow::keepOnScreen() {
    QScreen* s = QGuiApplication::screenAt(frameGeometry().center());
    if (!s) s = screen();
    if (!s) return;
    // The frame this window has, or before the window manager has framed it, the estimate
    // window's (the same kind of window, the same decorations).
    auto margins = [](const QRect& outer, const QRect& inner) {
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                        outer.bottom() - inner.bottom());
    };
    QMargins frame = margins(frameGeometry(), geometry());
    if (frame.isNull()) frame = margins(estimate_.window.frameGeometry(), estimate_.window.geometry());
    const QRect outer = geometry().marginsAdded(frame);
    const QRect kept = keptOnScreen(outer, s->availableGeometry());
    if (kept != outer) setGeometry(kept.marginsRemoved(frame));
}

void TotalsWindow::showEvent(QShowEvent* event) {
    // The view of the moment first: its size is the one to place.
    showBlock();
    if (!placed_) {
        // First shown beside the estimate window, on its screen; afterwards where the user left it.
        placed_ = true;
        QScreen* screen = QGuiApplication::screenAt(estimate_.window.frameGeometry().center());
        if (!screen) screen = estimate_.window.screen();
        const QRect anchor = estimate_.window.frameGeometry();
        const QPoint clientAt = clientPlaceBeside(anchor, estimate_.window.geometry(), size(), screen->availableGeometry());
        // The client area is placed: before the window manager has framed it, the window
        // knows no frame of its own, and a position given for the frame would be taken for
        // the client area's, the title bar then standing above it (off the screen at the top).
        setGeometry(QRect(clientAt, size()));
        keepOnScreen();  // a window larger than the screen made to fit it
    }
    QWidget::showEvent(event);
}
