#pragma once
/**
 * The application object. It owns the program's reporting place (app/Reporting.h); its notify()
 * is the backstop of the default error box: an exception that escapes an event handler is shown
 * there and the program goes on.
 */
#include <QApplication>

#include <functional>
#include <memory>

class Reporting;

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;
    bool notify(QObject* receiver, QEvent* event) override;
    Reporting& reporting() { return *reporting_; }

private:
    std::unique_ptr<Reporting> reporting_;
};

/** Creates the four windows in their order (main window, estimate window, estimate-name
 *  dialog, about box), the last three hidden, and routes the table layer's warnings to the
 *  reporting place's warning box (app/Reporting.h). Closing the main window ends the event loop. */
void createWindows();

/** The program's start: the main window made and shown, the other three made by the event loop's
 *  first turn (before it handles any input), then `afterwards` run. */
void startWindows(std::function<void()> afterwards);

/** The two halves of createWindows(): the main window alone; then the other three, tied to it. */
void createMainWindow();
void createOtherWindows();

/** Hides every window but the main one and ends the event loop (also a nested one). Run once
 *  the main window has closed. */
void endProgram();

/** Waits for an import that was told to stop, then deletes the four windows, last created
 *  first. */
void destroyWindows();
