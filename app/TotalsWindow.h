#pragma once
/**
 * The window "Итоги сметы": the totals and charges block of the open estimate as the workbook
 * will compute it, row by row with the workbook's captions, live while the estimate and the
 * charge rates of the estimate window change; the count of positions and of incomplete ones,
 * and the walk to the next incomplete position. Not modal; created when first asked for (the
 * estimate window follows the positions from the start and has this window show them while it
 * is shown), shown and hidden, never re-created, so it keeps its place while the program runs. It opens
 * wholly on the screen of the estimate window, just large enough for the whole block, and stays
 * there when it grows for an estimate by the base-index method, whose totals it shows on one tab
 * and each position's amounts on another.
 */
#include "editing/BaseIndexText.h"
#include "editing/TotalsFollower.h"
#include "export/EstimateTotals.h"

#include <QRect>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QPushButton;
class QLineEdit;
class QTabWidget;
class QTableView;
class QTableWidget;
class PositionLinesModel;
namespace talvira::dbctrls {
class DBGrid;
}
namespace talvira::editing {
class EstimateDocument;
}

/** Where a window of outer size `size` opens beside `anchor` (an outer frame): right of it,
 *  else left of it, else over its right part, always wholly within `screen` (the available
 *  area of the screen that shows `anchor`) as far as the size allows. */
QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen);

/** Where the client area of a window of client size `clientSize` goes so that its frame, as
 *  wide as the frame of the anchor window (outer `anchorFrame`, client area `anchorClient`),
 *  stands as placeBeside() places it. */
QPoint clientPlaceBeside(const QRect& anchorFrame, const QRect& anchorClient, const QSize& clientSize,
                         const QRect& screen);

/** The outer frame `frame` kept within `screen` (the available area): as large as the screen at
 *  most, moved in from an edge it reaches past; unchanged when it is within. */
QRect keptOnScreen(const QRect& frame, const QRect& screen);

class TotalsWindow : public QWidget {
    Q_OBJECT
public:
    /** What the window stands on: the estimate window's parts it reads and the calls it makes. */
    struct Estimate {
        QWidget& window;                            // opened beside it, on its screen
        talvira::storage::TableHandle& table;       // the estimate
        talvira::editing::TotalsFollower& follower;  // its positions, followed (it outlives the window)
        talvira::dbctrls::DBGrid& grid;             // its positions: the walk's cell made current there
        std::vector<QLineEdit*> rateEdits;          // the charge rates as typed (named as the workbook's texts)
        std::function<void()> storePendingEdit;     // before the walk
        std::function<void(const QString&)> showStatus;  // the walk's word while this window is hidden
        /** The estimate document: by the base-index method its totals are shown instead of the
         *  workbook's block. */
        const talvira::editing::EstimateDocument* document = nullptr;
    };

    explicit TotalsWindow(Estimate estimate);
    ~TotalsWindow() override;

    /** The block: one row per row of the workbook block (T..T+13); columns caption, rate as
     *  typed, unit sign, amount. */
    QTableWidget* BlockGrid = nullptr;
    /** The six sums of the totals row: cost, base wages, materials, machine operation,
     *  machine operators' wages, labour. */
    QTableWidget* SumsGrid = nullptr;
    /** By the base-index method, in place of the two above, two tabs: "Итоги" (BaseIndexGrid)
     *  and "По позициям" (PositionsGrid). */
    QTabWidget* BaseIndexTabs = nullptr;
    /** Per type of work and for the estimate, in base and current prices with each index, VAT
     *  after them, then what could not be computed. Columns caption, base, index, current. */
    QTableWidget* BaseIndexGrid = nullptr;
    /** Each position's own amounts, a block of lines per position, in the same columns. */
    QTableView* PositionsGrid = nullptr;
    QLabel* CountLabel = nullptr;       // "Позиций: N, не заполнено: M"
    QPushButton* NextButton = nullptr;  // "Следующая незаполненная"
    QLabel* MessageLabel = nullptr;     // what the walk has to say
    QAction* NextAction = nullptr;      // F3

    /** Shows the window (where it was last) in front, with the block of the moment. */
    void showAndActivate();

    /** Makes the next incomplete position after the current one current in the estimate grid,
     *  going round; says so when there is none (here, or in the estimate window's status bar
     *  while this window is hidden). */
    void NextButtonClick();

    /** The amount of the block row at `offset` (0..13) as shown, and one sum of the totals row. */
    QString amountText(int offset) const;
    QString sumText(talvira::xls::TotalColumn column) const;
    /** The block as last computed (for tests and benchmarks). */
    const talvira::xls::EstimateTotals& totals() const { return totals_; }
    /** Shows the block anew from the rates as they are typed now. */
    void showBlock();
    /** The estimate's positions, followed from the start whether the window is shown or not:
     *  the estimate window's commands and warning stand on them too. */
    const talvira::editing::TotalsFollower& follower() const { return follower_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    talvira::model::EstimateTexts typedTexts() const;
    void showMessage(const QString& text);
    /** Fills BaseIndexGrid; false for an estimate by the template. */
    bool showBaseIndex();
    /** The positions' lines after the result, while their tab is the one shown. */
    void showPositions();
    /** The window moved (and made smaller) as far as it takes to stand wholly on its screen. */
    void keepOnScreen();

    Estimate estimate_;
    talvira::editing::TotalsFollower& follower_;
    talvira::xls::EstimateTotals totals_;
    bool placed_ = false;
    bool shownBaseIndex_ = false;   // which of the two views is shown
    /** The kind of each line BaseIndexGrid holds: the same lines again only have their texts set. */
    std::vector<talvira::editing::TotalsLine::Kind> shownKinds_;
    PositionLinesModel* positions_ = nullptr;
    QSize templateSize_;      // the window's size for the workbook's block
};
