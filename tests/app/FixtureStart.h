#pragma once
// The program's windows started on the small real norm base (the normbase-pxlib fixture as the
// start directory), error boxes recorded instead of shown, as the widget tests of the main
// window need them.
#include "app/ErrorBox.h"
#include "app/Application.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <utility>

namespace talvira::test {

/** The start directory holding the fixture's Base. */
inline std::filesystem::path fixtureStartDir() {
    return std::filesystem::weakly_canonical(fixture("normbase-pxlib"));
}

/** Error boxes go to `boxes`; with the fixture as the current directory, the four windows are
 *  made (`asTheProgram`: started as the program starts, the main window shown and the others made
 *  by the event loop, then `afterwards` run). False (nothing made) when the fixture is missing. */
inline bool startOnFixtureBase(QStringList& boxes, bool asTheProgram = false, std::function<void()> afterwards = {}) {
    setErrorBoxHook([&boxes](const QString& text) { boxes << text; });
    if (!missingFixture("normbase-pxlib/Base").empty()) return false;
    QDir::setCurrent(QString::fromStdString(fixtureStartDir().string()));
    if (asTheProgram)
        startWindows(std::move(afterwards));
    else
        createWindows();
    return true;
}

/** The windows gone and the error box back. */
inline void stopWindows() {
    destroyWindows();
    setErrorBoxHook({});
}

}  // namespace talvira::test
