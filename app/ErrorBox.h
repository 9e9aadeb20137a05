#pragma once
/**
 * The default error box of the program's reporting place (app/Reporting.h). Every handler runs
 * its body through guarded(), so an exception ends the handler, shows the box and the program
 * goes on.
 *
 *   connect(AddButton, &QPushButton::clicked, this, [this] { guarded([&] { AddButtonClick(); }); });
 */
#include "app/Reporting.h"

/** The message as the box shows it (the "." rule applied). */
inline QString errorBoxText(const QString& message) { return Reporting::errorBoxText(message); }

/** Shows the default error box (modal) with `message`, or hands it to the test's hook. */
inline void showErrorBox(const QString& message) { reporting().reportError(message); }

/** Tests replace the error box or the warning box by a recorder; empty restores the box. */
inline void setErrorBoxHook(Reporting::Hook hook) { reporting().setErrorHook(std::move(hook)); }
inline void setWarningBoxHook(Reporting::Hook hook) { reporting().setWarningHook(std::move(hook)); }

/** Runs `body`; any exception it lets through is shown in the default error box. Answers whether
 *  it ran through. */
template <class F>
bool guarded(F&& body) {
    return talvira::dbctrls::reportErrors(reporting(), std::forward<F>(body));
}
