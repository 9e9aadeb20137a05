#pragma once
/**
 * TForm2, the estimate window: the grid of positions of SmetaTable, the title block, the
 * charge rates, clearing, deleting, the price converter and the workbook export. It makes the
 * estimate document over SmetaTable (the one the other windows are given) and shows it.
 */
#include "app/OnDemand.h"
#include "editing/EstimateDocument.h"
#include "model/EstimateRows.h"
#include "storage/TableHandle.h"

#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTableWidget;
class UndoCommands;
class EstimateParamsDialog;
class PositionDialog;

namespace talvira::editing {
class EstimateHistory;
}
class TotalsWindow;

namespace talvira::dbctrls {
class DBGrid;
class DBMemo;
}  // namespace talvira::dbctrls

class FormExport;
class GgeExportCommand;

class TForm2 : public QMainWindow, public talvira::editing::EstimateView {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    /** The one estimate handle; bound by the main window's New and Open, appended to by Add,
     *  all through the estimate document. */
    talvira::storage::TableHandle SmetaTable;

    /** The open estimate: created, opened, stored and appended to through it. */
    talvira::editing::EstimateDocument& document() { return *document_; }

    /** Stores an edit still in progress in the grid and the texts (before the estimate is closed
     *  or the program ends), so that nothing typed is lost. */
    void storePendingEdit();

    /** Opens a finished workbook for the user; by default in the program the desktop associates
     *  with .xls files. Returns whether a program took it. Tests replace it. */
    std::function<bool(const std::filesystem::path&)> openWorkbook;
    /** Asks whether to write the template workbook instead of the official form, which an
     *  estimate by the template cannot have; a Yes/No box by default. Tests replace it. */
    std::function<bool(const QString& question)> offerTemplateWorkbook;
    /** What "Excel" writes of an estimate by the base-index method. */
    enum class WorkbookChoice { OfficialForm, TemplateWorkbook, Nothing };
    /** Asks it ("Официальная форма" / "Книга по шаблону" / "Отмена"); a box by default. Tests
     *  replace it. */
    std::function<WorkbookChoice(const QString& question)> chooseWorkbook;
    /** Asks whether to take the shipped tables' НР and СП percentages in place of those the
     *  estimate kept ("Взять из таблиц" / "Оставить"); a box by default. Tests replace it. */
    std::function<bool(const QString& question)> askTablePercents;

    /** Undo and redo of the open estimate (the "&Правка" menu's first two items). */
    UndoCommands& undoCommands() { return *undo_; }
    /** The history of the open estimate. */
    talvira::editing::EstimateHistory& history();

    /** The status bar's text. */
    QString statusText() const;
    void setStatusText(const QString& text);

    // ---- controls (named as the window's design names them) ------------------------------
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* UTVEdit = nullptr;
    QLineEdit* FUEdit = nullptr;
    QLineEdit* SOGLEdit = nullptr;
    QLineEdit* FSEdit = nullptr;
    QLineEdit* NAMEEdit = nullptr;
    talvira::dbctrls::DBMemo* DBMemo1 = nullptr;

    QLabel* NRLabel = nullptr;
    QLabel* PNLabel = nullptr;
    QLabel* SULabel = nullptr;
    QLabel* ZULabel = nullptr;
    QLabel* VZSLabel = nullptr;
    QLabel* KoefLabel = nullptr;
    QLabel* NDSLabel = nullptr;
    QLineEdit* NREdit = nullptr;
    QLineEdit* PNEdit = nullptr;
    QLineEdit* SUEdit = nullptr;
    QLineEdit* ZUEdit = nullptr;
    QLineEdit* VZSEdit = nullptr;
    QLineEdit* KoefEdit = nullptr;
    QLineEdit* NDSEdit = nullptr;
    /** The seven charge rate edits above, top to bottom. */
    const std::vector<QLineEdit*>& rateEdits() const { return rateEdits_; }

    QFrame* Bevel1 = nullptr;  // frame of the commands row
    QFrame* Bevel2 = nullptr;  // horizontal line over the charge rates
    QFrame* Bevel3 = nullptr;  // vertical line right of the charge rates
    QPushButton* ClearButton = nullptr;
    QPushButton* DeleteButton = nullptr;
    QPushButton* EButton = nullptr;

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLineEdit* Edit2 = nullptr;

    talvira::dbctrls::DBGrid* SmetaDBGrid = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    QMenu* N1 = nullptr;  // "&Правка"
    QAction* N2 = nullptr;  // "&Очистка сметы"
    QAction* N3 = nullptr;  // "&Удалить позицию"
    QAction* N4 = nullptr;  // "В&ыход"
    QMenu* N5 = nullptr;  // "&Расчет"
    QAction* Excell20xx1 = nullptr;
    QAction* Excell971 = nullptr;
    QAction* TotalsItem = nullptr;          // "&Итоги сметы": shows the totals window
    QAction* NextIncompleteItem = nullptr;  // "Следующая незаполненная" (F3)
    QAction* LsrItem = nullptr;             // "Локальный сметный расчет (421/пр)...": the official form
    FormExport* LsrExport = nullptr;        // writes the form off the window's thread (made at first use)
    QAction* GgeItem = nullptr;             // "Файл для экспертизы (XML, .gge)...": the state-expertise XML
    GgeExportCommand* GgeExport = nullptr;  // its checks, place and writer
    /** The totals window: made when first shown or walked with, then living as long as this one. */
    OnDemand<TotalsWindow> Totals;
    QMenu* EstimateMenu = nullptr;          // "&Смета"
    QAction* ParamsItem = nullptr;          // "&Параметры сметы..."
    QAction* PositionItem = nullptr;        // "&Данные позиции..." (by the base-index method)
    /** By the base-index method, between the price converter and the grid: the estimate's price
     *  levels and indices, what the current position keeps, a button for its data, and its
     *  amounts in base and current prices. */
    QFrame* PositionPanel = nullptr;
    QLabel* LevelLabel = nullptr;
    QLabel* PositionLabel = nullptr;
    QPushButton* PositionButton = nullptr;
    /** The current position's ОТ, ЭМ, в т.ч. ОТМ, М, ПЗ, ФОТ, НР, СП and total: a column each,
     *  a row for base and one for current prices. */
    QTableWidget* AmountsGrid = nullptr;
    // Made when first asked for (not on the path to the first window).
    EstimateParamsDialog* ParamsDialog = nullptr;
    PositionDialog* PositionDlg = nullptr;

    // ---- handlers -------------------------------------------------------------------------
    /** The export commands and the status bar's warning after what the estimate holds. */
    void showEstimateState();
    void ClearButtonClick();
    void DeleteButtonClick();
    void N4Click();
    void EButtonClick();
    void LsrItemClick();
    void GgeItemClick();
    void Button1Click();
    void ParamsItemClick();
    void PositionItemClick();
    /** The position panel and the estimate menu after the estimate, its parameters and the
     *  current position; the charge rates that count for nothing by the base-index method
     *  disabled, saying why. */
    void showPositionPanel();

    // ---- the estimate document's views ---------------------------------------------------
    void collectTyped(talvira::editing::EstimateDocument& doc) override;
    void estimateBinding(talvira::editing::EstimateDocument& doc, const talvira::editing::EstimatePlace& place) override;
    void estimateOpened(talvira::editing::EstimateDocument& doc) override;
    void calcChanged(talvira::editing::EstimateDocument& doc) override;
    bool takeTablePercents(talvira::editing::EstimateDocument& doc,
                           const std::vector<talvira::editing::PercentDifference>& differences) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildMenu();
    void buildPositionPanel();
    void placeGrid();
    /** The template's charge rates enabled by the template, disabled with their reason by the
     *  base-index method. */
    void showRateControls(bool byBaseIndex);
    /** The current position's amounts in AmountsGrid (nullptr: none). */
    void showAmounts(const talvira::model::PositionResult* position);
    /** A charge rate's label and edit, named `name` + "Label" / "Edit"; the edit joins rateEdits(). */
    QLineEdit* rateEdit(QLabel*& label, const char* name, const QString& caption, int top, const std::string& text);
    void setHint(QWidget* w, const QString& hint);
    /** The window's menu shortcuts, which it takes before the focused control sees the key. */
    bool isWindowShortcut(const QKeyEvent* key) const;

    /** The twelve edits whose texts the estimate keeps, in tab order. */
    std::vector<QLineEdit*> textEdits() const;
    talvira::model::EstimateTexts typedTexts() const;
    /** Gives the document the texts as typed and has them kept beside the open estimate. */
    void storeEstimateTexts();
    /** A workbook written: opened in the spreadsheet program; said in a box ("`written` в файл
     *  «…»", `it` naming the book in "… не открыла") when it was not opened or not written
     *  beside the estimate. */
    void openWritten(const std::filesystem::path& book, bool besideEstimate, const std::string& written,
                     const std::string& it);

    QWidget* client_ = nullptr;
    std::vector<QLineEdit*> rateEdits_;
    QString standingWarning_;  // the status bar's text while no hint or message is shown
    // After SmetaTable: gone before the handle they watch; the undo items before the document.
    std::unique_ptr<talvira::editing::EstimateDocument> document_;
    std::unique_ptr<UndoCommands> undo_;
};
