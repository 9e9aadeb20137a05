#pragma once
/**
 * Where the data-aware controls send an error that happens inside a Qt event (a refused typed
 * value, a post the table refused): the program routes it to its default error box; tests
 * record it. Without a reporter the text goes to a plain critical message box.
 *
 *   talvira::dbctrls::setErrorReporter([](const QString& m) { showErrorBox(m); });
 */
#include <QString>

#include <exception>
#include <functional>

namespace talvira::dbctrls {

void setErrorReporter(std::function<void(const QString&)> reporter);

/** Hands the message to the reporter. */
void reportError(const QString& message);

/** Runs `body`; an exception it lets through is reported. Answers whether it ran through. */
template <class F>
bool reportErrors(F&& body) {
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    } catch (...) {
        reportError(QStringLiteral("Неизвестная ошибка"));
    }
    return false;
}

}  // namespace talvira::dbctrls
