#pragma once
/**
 * Small pieces the program's windows are built of, made the same way in every window:
 * a named menu and its named commands, a window brought to the front.
 */
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QWidget>

namespace talvira::app {

/** A menu of the bar named `name` ("N1"). */
inline QMenu* namedMenu(QMenuBar* bar, const char* name, const QString& caption) {
    QMenu* m = bar->addMenu(caption);
    m->setObjectName(name);
    return m;
}

/** A command of `menu` named `name`, with its shortcut when one is given. */
inline QAction* namedAction(QMenu* menu, const char* name, const QString& caption,
                            const QKeySequence& shortcut = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    return a;
}

/** Shows `w`, raises it above its siblings and gives it the activation. */
inline void bringToFront(QWidget* w) {
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace talvira::app
