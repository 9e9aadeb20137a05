#pragma once
/**
 * The rate search of the main window: the field at the right end of the toolbar, the menu item
 * "&Найти расценку..." (Ctrl+F) that puts the focus into it, and the list of results that opens
 * under the field while the user types. Enter or a double-click walks the browser to the
 * chosen rate; Escape closes the list and gives the focus back.
 *
 *   SearchBox = new RateSearchBox(*this, *ToolBar1, *N5, Base, *DBGrid2);   // in TForm1's constructor
 *   SearchBox->FindAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F)); // the window's keys are its own
 *
 * The field takes the focus by a click or Ctrl+F only, never by Tab. The search prepares in
 * the background once the main window has shown; a query typed before that ends waits for the
 * rest. Before another norm base is put in place, reset() makes it forget the old one.
 */
#include "normbase/RateSearch.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QPointer>

#include <vector>

class QAction;
class QFontMetrics;
class QFrame;
class QLabel;
class QLineEdit;
class QTableView;
class QMainWindow;
class QMenu;
class QToolBar;

/** The results as rows of a table; a row's texts are read from the base when it is shown. */
class RateSearchModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RateSearchModel(talvira::normbase::RateSearch& search, QObject* parent = nullptr);

    /** The rates found for `query` (whose words pick the line of a name shown). */
    void setResults(std::vector<uint32_t> results, std::string query = {});
    const std::vector<uint32_t>& results() const { return results_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /** The name column's text: the rate's name, and the excerpt of a hit the name does not
     *  show after " | " (RateSearchRow). */
    static QString nameCellText(const QString& name, const QString& excerpt);
    /** That text as painted `width` pixels wide: whole when it fits; else the name is cut
     *  first (down to a third of the width) so that the excerpt, and in it the hit, is shown. */
    static QString fitNameCell(const QString& text, const QFontMetrics& metrics, int width);

    /** Rows formatted so far (for checks that only the shown rows are read). */
    size_t rowsRead() const { return rowsRead_; }

private:
    const talvira::normbase::RateSearchRow& rowAt(int row) const;
    talvira::normbase::RateSearch& search_;
    std::vector<uint32_t> results_;
    std::string query_;
    mutable std::vector<std::pair<int, talvira::normbase::RateSearchRow>> cache_;  // recently shown rows
    mutable size_t rowsRead_ = 0;
};

class RateSearchBox : public QObject {
    Q_OBJECT
public:
    /** The field goes at the right end of `toolBar`, the item at the end of `editMenu`, the list
     *  over `window`'s client area; a chosen rate is shown by walking `base`, the focus then in
     *  `ratesGrid`. */
    RateSearchBox(QMainWindow& window, QToolBar& toolBar, QMenu& editMenu, talvira::normbase::NormBase& base,
                  QWidget& ratesGrid);
    ~RateSearchBox() override;

    /** "Найдено: 1 234", or with word-form matches "Найдено: 12 + 40 по формам слов": the
     *  counts with their digits grouped by three. */
    static QString foundText(size_t exact, size_t forms = 0);
    /** What the list says when `query` finds nothing, with what to try instead. */
    static QString nothingFoundText(const QString& query);

    QLineEdit* SearchEdit = nullptr;     // the field in the toolbar
    QAction* FindAction = nullptr;       // "&Найти расценку..." in "&Правка"
    QFrame* ResultsPanel = nullptr;      // the list under the field with its count
    QLabel* FoundLabel = nullptr;
    QTableView* ResultsView = nullptr;
    RateSearchModel* Model = nullptr;

    talvira::normbase::RateSearch& search() { return search_; }

    /** Ctrl+F: the focus into the field, its text selected, the list shown again. */
    void FindActionClick();
    /** The text changed: the list follows it. */
    void SearchEditChange();
    /** Enter or a double-click: the browser walks to result `row`, the focus to the rates grid. */
    void ResultChoose(int row);
    /** Escape: the list closes, the focus goes back where it was. */
    void ResultsClose();
    /** Forgets the results and what the search read, closing its files: before another norm
     *  base is put in place. Once the handles are open on the new one, search().startPreparing()
     *  reads it in the background (else the next query reads it). */
    void reset();
    /** Lays the list over the main window: 660 × 320 at the window's own size, growing with it. */
    void placePanel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPanel();
    void hidePanel();  // with any tooltip over it
    void focusChanged(QWidget* old, QWidget* now);

    QMainWindow& window_;
    QWidget& ratesGrid_;
    talvira::normbase::RateSearch search_;
    QPointer<QWidget> returnFocus_;
};
