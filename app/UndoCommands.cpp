#include "app/UndoCommands.h"

#include "app/ErrorBox.h"
#include "dbctrls/DBGrid.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

using talvira::editing::EstimateHistory;

namespace {

const QString kUndo = QStringLiteral("Отм&енить");  // О is the clearing's
const QString kRedo = QStringLiteral("&Вернуть");

QString itemText(const QString& verb, const std::string& what) {
    if (what.empty()) return verb;
    QString w = QString::fromStdString(what);
    w.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return verb + QStringLiteral(": ") + w;
}

}  // namespace

UndoCommands::UndoCommands(QWidget& window, QMenu& editMenu, EstimateHistory& history,
                           talvira::dbctrls::DBGrid& grid, std::function<void()> storePendingEdit)
    : QObject(&window),
      window_(window),
      grid_(grid),
      storePendingEdit_(std::move(storePendingEdit)),
      history_(history) {
    undoItem_ = new QAction(kUndo, &window);
    undoItem_->setObjectName("UndoItem");
    redoItem_ = new QAction(kRedo, &window);
    redoItem_->setObjectName("RedoItem");
    QAction* first = editMenu.actions().value(0);
    editMenu.insertAction(first, undoItem_);
    editMenu.insertAction(first, redoItem_);
    editMenu.insertSeparator(first);
    for (QAction* a : {undoItem_, redoItem_}) a->setShortcutContext(Qt::WindowShortcut);
    connect(undoItem_, &QAction::triggered, this, [this] { undo(); });
    connect(redoItem_, &QAction::triggered, this, [this] { redo(); });
    connect(&editMenu, &QMenu::aboutToShow, this, [this] { refresh(); });
    history_.onChanged = [this] { refresh(); };
    refresh();
}

UndoCommands::~UndoCommands() { history_.onChanged = nullptr; }

std::string UndoCommands::fieldTitle(const std::string& field) const {
    if (field == "NAME") return "Наименование";
    for (const auto& c : grid_.columns())
        if (c.field == field) return c.title.toStdString();
    return field;
}

void UndoCommands::refresh() {
    // What is typed and not yet stored comes first; a recorded step is looked at, not copied.
    const auto steps = history_.steps();
    const auto title = [this](const std::string& f) { return fieldTitle(f); };
    const auto* step = steps.undo();
    undoItem_->setText(step ? itemText(kUndo, talvira::editing::stepText(*step, title)) : kUndo);
    undoItem_->setEnabled(step != nullptr);
    redoItem_->setText(steps.redo ? itemText(kRedo, talvira::editing::stepText(*steps.redo, title)) : kRedo);
    redoItem_->setEnabled(steps.redo != nullptr);
}

void UndoCommands::undo() {
    // What is typed in the grid is stored first and is then the step taken back. The history
    // tells every change it makes (onChanged), so the items follow without another refresh.
    guarded([&] {
        storePendingEdit_();
        history_.undo();
    });
}

void UndoCommands::redo() {
    guarded([&] { history_.redo(); });
}

UndoCommands::Key UndoCommands::keyOf(const QKeyEvent* key) const {
    const QKeySequence pressed(key->keyCombination());
    if (pressed == undoItem_->shortcut()) return Key::Undo;
    if (pressed == redoItem_->shortcut()) return Key::Redo;
    return Key::None;
}

QWidget* UndoCommands::editorTaking(QWidget* focus, Key key) const {
    if (!focus || focus->window() != &window_) return nullptr;
    const bool inGrid = grid_.isAncestorOf(focus);
    if (auto* e = qobject_cast<QLineEdit*>(focus)) {
        const bool can = key == Key::Undo ? e->isUndoAvailable() : e->isRedoAvailable();
        return !inGrid || can ? e : nullptr;
    }
    if (auto* e = qobject_cast<QPlainTextEdit*>(focus)) {
        const bool can = key == Key::Undo ? e->document()->isUndoAvailable() : e->document()->isRedoAvailable();
        return !inGrid || can ? e : nullptr;
    }
    return nullptr;
}

bool UndoCommands::filterKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != &window_) return false;
    const Key key = keyOf(static_cast<QKeyEvent*>(event));
    if (key == Key::None) return false;
    QWidget* editor = editorTaking(w, key);
    if (event->type() == QEvent::ShortcutOverride) {
        // Accepted: the key goes to the editor; ignored: to the window's menu items.
        if (editor) event->accept();
        else event->ignore();
        return true;
    }
    if (!editor) return false;
    // The editor's own undo, with the same keys on every platform (Ctrl+Y is not every
    // platform's redo key).
    if (auto* e = qobject_cast<QLineEdit*>(editor)) key == Key::Undo ? e->undo() : e->redo();
    else if (auto* p = qobject_cast<QPlainTextEdit*>(editor)) key == Key::Undo ? p->undo() : p->redo();
    return true;
}
