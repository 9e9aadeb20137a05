#pragma once
/**
 * TForm2, the estimate window: the grid of positions of SmetaTable, the title block, the
 * charge rates, clearing, deleting, the price converter and the workbook export.
 */
#include "estimate/model/EstimateRows.h"
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
class UndoCommands;

namespace talvira::editing {
class EstimateHistory;
}
class TotalsWindow;

namespace talvira::dbctrls {
class DBGrid;
class DBMemo;
}  // namespace talvira::dbctrls

class TForm2 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    /** The one estimate handle; bound by the main window's New and Open, appended to by Add. */
    talvira::storage::TableHandle SmetaTable;

    /** Stores an edit still in progress in the grid (before the estimate is closed or the
     *  program ends), so that nothing typed is lost. */
    void storePendingEdit();

    /** The title block and the charge rates of the estimate just opened or created, from the
     *  file kept beside its table (the defaults when there is none). */
    void loadEstimateTexts();

    /** Opens a finished workbook for the user; by default in the program the desktop associates
     *  with .xls files. Returns whether a program took it. Tests replace it. */
    std::function<bool(const std::filesystem::path&)> openWorkbook;
    /** Asks whether to write the template workbook instead of the official form, which an
     *  estimate by the template cannot have; a Yes/No box by default. Tests replace it. */
    std::function<bool(const QString& question)> offerTemplateWorkbook;

    /** Undo and redo of the open estimate (the "&Правка" menu's first two items). */
    UndoCommands& undoCommands() { return *undo_; }
    /** The history of the open estimate; the main window's Add records its steps in it. */
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
    TotalsWindow* Totals = nullptr;         // the totals window, living as long as this one

    // ---- handlers -------------------------------------------------------------------------
    /** The export commands and the status bar's warning after what the estimate holds. */
    void showEstimateState();
    void ClearButtonClick();
    void DeleteButtonClick();
    void N4Click();
    void EButtonClick();
    void LsrItemClick();
    void Button1Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildMenu();
    void placeGrid();
    /** A charge rate's label and edit, named `name` + "Label" / "Edit"; the edit joins rateEdits(). */
    QLineEdit* rateEdit(QLabel*& label, const char* name, const QString& caption, int top, const std::string& text);
    void setHint(QWidget* w, const QString& hint);
    /** The window's menu shortcuts, which it takes before the focused control sees the key. */
    bool isWindowShortcut(const QKeyEvent* key) const;

    /** The twelve edits whose texts the estimate keeps, in tab order. */
    std::vector<QLineEdit*> textEdits() const;
    talvira::model::EstimateTexts typedTexts() const;
    /** Writes the texts beside the open estimate when they differ from what it keeps. */
    void storeEstimateTexts();
    /** A workbook written: opened in the spreadsheet program; said in a box ("`written` в файл
     *  «…»", `it` naming the book in "… не открыла") when it was not opened or not written
     *  beside the estimate. */
    void openWritten(const std::filesystem::path& book, bool besideEstimate, const std::string& written,
                     const std::string& it);

    QWidget* client_ = nullptr;
    std::vector<QLineEdit*> rateEdits_;
    QString standingWarning_;  // the status bar's text while no hint or message is shown
    talvira::model::EstimateTexts keptTexts_;  // what the open estimate's file holds
    bool userFileBeside_ = false;  // a file of the user's stands where the texts would be kept
    std::unique_ptr<UndoCommands> undo_;  // after SmetaTable: gone before the handle it watches
};
