#include "app/ErrorBox.h"

#include <QMessageBox>

namespace {
std::function<void(const QString&)>& hook() {
    static std::function<void(const QString&)> h;
    return h;
}
}  // namespace

QString errorBoxText(const QString& message) {
    QString text = message;
    if (!text.isEmpty() && text.back() > QChar('.')) text += QChar('.');
    return text;
}

void showErrorBox(const QString& message) {
    const QString text = errorBoxText(message);
    if (hook()) {
        hook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Talvira"), text, QMessageBox::Ok);
    box.exec();
}

void setErrorBoxHook(std::function<void(const QString&)> h) { hook() = std::move(h); }
