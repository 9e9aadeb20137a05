#pragma once
/**
 * Small pieces the program's windows are built of, made the same way in every window:
 * a named menu and its named commands, a window brought to the front, handlers run through
 * guarded().
 *
 *   connectGuarded(this, &QAbstractButton::clicked, {{NewButton, &TForm1::NewButtonClick}});
 */
#include "app/ErrorBox.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <utility>

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

/** Runs the handler of `receiver` paired with each sender on the sender's `signal`, through
 *  guarded(). */
template <class Sender, class... SignalArgs, class Receiver>
void connectGuarded(Receiver* receiver, void (Sender::*signal)(SignalArgs...),
                    std::initializer_list<std::pair<Sender*, void (Receiver::*)()>> handlers) {
    for (const auto& [sender, handler] : handlers)
        QObject::connect(sender, signal, receiver, [receiver, handler = handler] { guarded([&] { (receiver->*handler)(); }); });
}

}  // namespace talvira::app
