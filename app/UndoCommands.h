#pragma once
/**
 * Undo and redo in the estimate window: the items "&Отменить" (Ctrl+Z) and "&Вернуть" (Ctrl+Y)
 * at the top of its "&Правка" menu, whose texts name the step ("&Отменить: удаление позиции")
 * and which are disabled when there is nothing to undo or redo, over the history of the open
 * estimate (editing::EstimateHistory).
 *
 *   undo_ = std::make_unique<UndoCommands>(*this, *N1, doc.history(), *SmetaDBGrid, storePending);  // in TForm2
 *   undo_->undoItem()->setShortcut(Qt::CTRL | Qt::Key_Z);   // the window's keys are its own
 *   undo_->redoItem()->setShortcut(Qt::CTRL | Qt::Key_Y);
 *   if (undo_->filterKey(watched, event)) return true; // in the window's event filter
 *
 * Caveats: inside a text editor Ctrl+Z and Ctrl+Y act on the editor's text. In the grid's cell
 * editor they do so while the editor has something to undo or redo, and then reach the estimate.
 */
#include "editing/EstimateHistory.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QEvent;
class QKeyEvent;
class QMenu;
class QWidget;
namespace talvira::dbctrls {
class DBGrid;
}

class UndoCommands : public QObject {
    Q_OBJECT
public:
    /** The items go at the top of `editMenu` of `window`, over `history` (the open estimate's,
     *  which outlives them), whose positions `grid` shows; `storePendingEdit` stores what is
     *  typed in the window and not yet stored (it is then the step taken back). */
    UndoCommands(QWidget& window, QMenu& editMenu, talvira::editing::EstimateHistory& history,
                 talvira::dbctrls::DBGrid& grid, std::function<void()> storePendingEdit);
    ~UndoCommands() override;

    talvira::editing::EstimateHistory& history() { return history_; }
    QAction* undoItem() const { return undoItem_; }
    QAction* redoItem() const { return redoItem_; }

    /** Undo and redo of the menu items and the shortcuts; an error goes to the error box. */
    void undo();
    void redo();
    /** Brings the items' texts and state up to date with the history. */
    void refresh();
    /** Routes the items' keys (given from the window's application-wide event filter): true
     *  when the event was dealt with. */
    bool filterKey(QObject* watched, QEvent* event);

    /** The title of an estimate field in the window ("KOLVO" -> "Кол-во"). */
    std::string fieldTitle(const std::string& field) const;

private:
    enum class Key { None, Undo, Redo };
    Key keyOf(const QKeyEvent* key) const;
    /** The editor Ctrl+Z / Ctrl+Y belong to: a text editor of the window with the focus, unless
     *  it is the grid's cell editor with nothing to undo (redo) left. */
    QWidget* editorTaking(QWidget* focus, Key key) const;

    QWidget& window_;
    talvira::dbctrls::DBGrid& grid_;
    std::function<void()> storePendingEdit_;
    talvira::editing::EstimateHistory& history_;
    QAction* undoItem_ = nullptr;
    QAction* redoItem_ = nullptr;
};
