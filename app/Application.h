#pragma once
/**
 * The application object. Its notify() is the backstop of the default error box: an exception
 * that escapes an event handler is shown there and the program goes on.
 */
#include <QApplication>

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

/** Creates the four windows in their order (main window, estimate window, estimate-name
 *  dialog, about box), the last three hidden, routes the controls' errors to the default
 *  error box and the table layer's warnings to the warning box (app/WarningSink.h). Closing the main window ends the event loop. */
void createWindows();

/** Hides every window but the main one and ends the event loop (also a nested one). Run once
 *  the main window has closed. */
void endProgram();

/** Deletes the four windows, last created first. */
void destroyWindows();
