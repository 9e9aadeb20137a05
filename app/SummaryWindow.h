#pragma once
/**
 * The construction's window: "Сводный сметный расчет..." in the main window's "&Файл" (before "В&ыход")
 * asks for a construction file (an existing .ssr is opened, a new name makes one) and shows it —
 * chapters 1–12 as a tree (chapter, its lines, an object's local estimates) in the eight columns,
 * the totals from «Итого по главам 1–7» to «ВСЕГО» under it, always in view, and above it the
 * estimates that changed since the construction was last opened or whose files are missing
 * (their rows marked). Lines are added (Insert), edited (Enter), deleted (Delete, asked first)
 * and moved (Ctrl+Up, Ctrl+Down), each step undone with Ctrl+Z and redone with Ctrl+Y; the
 * construction's data has its dialog; a linked estimate opens in the estimate window; the
 * summary and an object's estimate are exported as .xlsx or .gge on a worker.
 *
 *   Summary = new SummaryWindow(*this, *summaryItem);   // made by TForm1 at the item's first use
 *
 * Caveats: every step is written to the file at once (editing::SummaryDocument); a step the file
 * refuses is told and not taken. The linked estimates are read again whenever the window is
 * activated, so an estimate saved meanwhile shows at once.
 */
#include "editing/SummaryDocument.h"
#include "editing/SummaryEdits.h"

#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <functional>

class FormExport;
class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class QUndoStack;
class SummaryLineDialog;
class SummaryTitleDialog;

class SummaryWindow : public QMainWindow {
    Q_OBJECT
public:
    /** `item`: "Сводный сметный расчет..." of the main window `mainWindow`, which owns this
     *  window, makes it when the item is first used and calls SummaryItemClick(). */
    SummaryWindow(QWidget& mainWindow, QAction& item);
    ~SummaryWindow() override;

    /** What a file question asks: the caption, the kinds of file, whether a file is written. */
    struct FileQuestion {
        QString title, filter, suggested;
        bool save = false;
    };
    /** Asks for a file; empty: cancelled. The program's file dialog by default; tests replace it. */
    std::function<QString(const FileQuestion&)> askFile;
    /** Asks a Yes/No question (before a deletion); a box by default. Tests replace it. */
    std::function<bool(const QString& question)> confirm;

    /** Opens the construction at `file` in the window (notices shown, undo history cleared). */
    void openConstruction(const std::filesystem::path& file);
    talvira::editing::SummaryDocument& document() { return doc_; }
    QUndoStack& undoStack() { return *undo_; }
    /** The notices the window shows. */
    const std::vector<talvira::editing::LinkNotice>& notices() const { return notices_; }
    /** The place of the current row of the tree. */
    talvira::editing::SummaryPlace currentPlace() const;
    void selectPlace(talvira::editing::SummaryPlace p);
    /** The construction `c` taken (checked and written) and shown with `p` current. */
    void applyConstruction(const talvira::model::Construction& c, talvira::editing::SummaryPlace p);

    // ---- controls ---------------------------------------------------------------------------
    QAction* SummaryItem = nullptr;   // "Сводный сметный расчет..." in the main window's "&Файл"
    QLabel* TitleLabel = nullptr;
    QLabel* NoticeLabel = nullptr;
    QTreeWidget* Tree = nullptr;
    QTreeWidget* TotalsGrid = nullptr;
    QStatusBar* StatusBar = nullptr;
    QMenu* FileMenu = nullptr;
    QAction* TitleItem = nullptr;
    QAction* RefreshItem = nullptr;
    QAction* ExportSsrItem = nullptr;
    QAction* ExportOsrItem = nullptr;
    QAction* CloseItem = nullptr;
    QMenu* EditMenu = nullptr;
    QAction* UndoItem = nullptr;
    QAction* RedoItem = nullptr;
    QAction* AddItem = nullptr;
    QAction* EditItem = nullptr;
    QAction* DeleteItem = nullptr;
    QAction* UpItem = nullptr;
    QAction* DownItem = nullptr;
    QAction* OpenEstimateItem = nullptr;
    SummaryLineDialog* LineDialog = nullptr;
    SummaryTitleDialog* TitleDialog = nullptr;
    FormExport* Export = nullptr;

    // ---- handlers ---------------------------------------------------------------------------
    void SummaryItemClick();
    void TitleItemClick();
    void RefreshItemClick();
    void ExportSsrItemClick();
    void ExportOsrItemClick();
    void AddItemClick();
    void EditItemClick();
    void DeleteItemClick();
    void UpItemClick();
    void DownItemClick();
    void OpenEstimateItemClick();

protected:
    bool event(QEvent* e) override;

private:
    void buildMenu();
    void buildLayout();
    /** Everything after the document: title, notices, tree, totals, commands. */
    void showDocument(talvira::editing::SummaryPlace current);
    void showTree(talvira::editing::SummaryPlace current);
    void showTotals();
    void showNotices();
    /** The commands enabled as the current row allows. */
    void showActions();
    /** `e` taken and kept for undo. */
    void doEdit(talvira::editing::SummaryEdit e);
    /** The line dialog's form taken: a new line (a local estimate or an object asks its file),
     *  or the line at `p` changed. */
    void takeLineForm(const talvira::editing::LineForm& f, talvira::editing::SummaryPlace p, bool newLine);
    void exportForm(bool object);
    QTreeWidgetItem* itemOf(const talvira::editing::SummaryRow& row);

    talvira::editing::SummaryDocument doc_;
    std::vector<talvira::editing::LinkNotice> notices_;
    QUndoStack* undo_ = nullptr;
    bool open_ = false;
};
