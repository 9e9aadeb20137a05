#include "dbctrls/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>

namespace talvira::dbctrls {

namespace {
std::function<void(const QString&)>& reporterSlot() {
    static std::function<void(const QString&)> r;
    return r;
}
}  // namespace

void setErrorReporter(std::function<void(const QString&)> reporter) { reporterSlot() = std::move(reporter); }

void reportError(const QString& message) {
    if (reporterSlot()) {
        reporterSlot()(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(), message);
}

}  // namespace talvira::dbctrls
