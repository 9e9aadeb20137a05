#pragma once
/**
 * Where the data-aware controls send an error that happens inside a Qt event (a refused typed
 * value, a post the table refused). Each control is given its reporter when it is made: the
 * program hands them its one reporting place (app/Reporting.h), tests a recorder.
 *
 *   DBGrid grid(reporter, parent);
 *   reportErrors(reporter, [&] { table->post(); });
 */
#include <QString>

#include <exception>

namespace talvira::dbctrls {

class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    /** Tells the user of an error that ended an action; the program goes on. */
    virtual void reportError(const QString& message) = 0;
};

/** The text the user sees for an exception caught by a catch-all: its message, or "Неизвестная
 *  ошибка" for one that carries none. */
QString exceptionText(const std::exception_ptr& error);

/** Runs `body`; an exception it lets through goes to `reporter`. Answers whether it ran through.
 *  Every catch-all of the program is this one. */
template <class F>
bool reportErrors(ErrorReporter& reporter, F&& body) {
    try {
        body();
        return true;
    } catch (...) {
        reporter.reportError(exceptionText(std::current_exception()));
    }
    return false;
}

}  // namespace talvira::dbctrls
