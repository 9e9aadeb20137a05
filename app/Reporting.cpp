#include "app/Reporting.h"

#include "app/Application.h"
#include "storage/Warnings.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

Reporting::~Reporting() { detachFromStorage(); }

QString Reporting::errorBoxText(const QString& message) {
    QString text = message;
    if (!text.isEmpty() && text.back() > QChar('.')) text += QChar('.');
    return text;
}

void Reporting::reportError(const QString& message) {
    const QString text = errorBoxText(message);
    if (errorHook_) {
        errorHook_(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Talvira"), text, QMessageBox::Ok);
    box.exec();
}

void Reporting::reportWarning(const QString& text) {
    if (warned_.contains(text)) return;
    warned_.insert(text);
    if (!clearQueued_) {
        // The action ends when the event loop gets control back.
        clearQueued_ = true;
        QTimer::singleShot(0, qApp, [this] {
            warned_.clear();
            clearQueued_ = false;
        });
    }
    if (warningHook_) {
        warningHook_(text);
        return;
    }
    if (warningBox_ && warningBox_->isVisible()) {
        warningBox_->setText(warningBox_->text() + QLatin1Char('\n') + text);
        return;
    }
    QWidget* parent = QApplication::activeWindow();
    if (!parent) parent = mainWindow_;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Talvira"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowModality(Qt::NonModal);
    box->show();
    warningBox_ = box;
}

void Reporting::attachToStorage() {
    attached_ = true;
    talvira::storage::setWarningSink([this](const std::string& w) {
        const QString text = QString::fromStdString(w);
        // A table read or written by a worker (the import) warns on its thread: the box is
        // shown by the window thread.
        if (QThread::currentThread() != qApp->thread())
            QMetaObject::invokeMethod(qApp, [this, text] { reportWarning(text); }, Qt::QueuedConnection);
        else
            reportWarning(text);
    });
}

void Reporting::detachFromStorage() {
    if (!attached_) return;
    attached_ = false;
    talvira::storage::setWarningSink({});
    if (warningBox_) warningBox_->close();
}

Reporting& reporting() {
    if (auto* app = qobject_cast<Application*>(QCoreApplication::instance())) return app->reporting();
    static Reporting fallback;
    return fallback;
}
