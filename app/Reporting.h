#pragma once
/**
 * The program's one reporting place, owned by the application object: an error ends the action
 * and is shown in the default error box (caption "Talvira", an error icon, one OK button, modal;
 * the message gets a "." appended when its last character sorts after "."); a warning (the
 * table layer's: a text cut to its field's length, a memo file missing, an index set aside; a
 * window's: a workbook no program took) is shown in a modal box with a warning icon over the
 * window at work, captioned with that window's title, which takes the keyboard (Enter closes
 * it) without holding up the action that warned; each distinct text once per action (until the
 * event loop runs again), the texts of one action gathered in one box, each later action in a
 * box of its own. A warning raised on another thread is shown once the window thread gets it.
 *
 * The data-aware controls are given it as their reporter; every handler of the windows runs
 * through guarded() (app/ErrorBox.h) and the application's notify() through the same catch-all.
 *
 *   reporting().reportError("Нет прав на запись");
 *   reporting().attachToStorage();   // createWindows() does it
 */
#include "dbctrls/ErrorReport.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <string>

class QMessageBox;
class QWidget;

class Reporting : public talvira::dbctrls::ErrorReporter {
public:
    using Hook = std::function<void(const QString&)>;

    Reporting() = default;
    ~Reporting() override;
    Reporting(const Reporting&) = delete;
    Reporting& operator=(const Reporting&) = delete;

    /** The message as the error box shows it (the "." rule applied). */
    static QString errorBoxText(const QString& message);

    void reportError(const QString& message) override;
    void reportWarning(const QString& message);

    /** The table layer's warnings come here until detachFromStorage() (then to standard error). */
    void attachToStorage();
    void detachFromStorage();

    /** Tests replace the error box (texts with the "." rule) or the warning box by a recorder;
     *  an empty function restores the box. */
    void setErrorHook(Hook hook) { errorHook_ = std::move(hook); }
    void setWarningHook(Hook hook) { warningHook_ = std::move(hook); }
    /** The warning box opens over the active window, else over this one. */
    void setMainWindow(QWidget* window) { mainWindow_ = window; }

private:
    QSet<QString> warned_;  // shown during the current action
    bool clearQueued_ = false;
    bool attached_ = false;
    QPointer<QMessageBox> actionBox_;              // the box of the current action
    QList<QPointer<QMessageBox>> warningBoxes_;    // every box shown, closed when detached
    QPointer<QWidget> mainWindow_;
    Hook errorHook_;
    Hook warningHook_;
};

/** The application's reporting place (one for the process when the application object is not
 *  the program's own, as in the controls' tests). */
Reporting& reporting();
