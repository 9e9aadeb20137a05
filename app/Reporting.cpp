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
        // The action ends when the event loop gets control back; the next one gets a box of
        // its own.
        clearQueued_ = true;
        QTimer::singleShot(0, qApp, [this] {
            warned_.clear();
            actionBox_.clear();
            clearQueued_ = false;
        });
    }
    if (warningHook_) {
        warningHook_(text);
        return;
    }
    if (actionBox_ && actionBox_->isVisible()) {
        actionBox_->setText(actionBox_->text() + QLatin1Char('\n') + text);
        return;
    }
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    if (!parent) parent = mainWindow_;
    // Captioned with the window it is shown over, which says what it concerns; the program's
    // name stays the error box's caption.
    QString caption = parent ? parent->window()->windowTitle() : QString();
    if (caption.isEmpty()) caption = QStringLiteral("Тальвира 1.0");
    auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Modal and with the keyboard: Enter or Escape closes it, not a control behind it. Shown
    // without waiting, so that the action that warned ends as it would without the box.
    box->setWindowModality(Qt::ApplicationModal);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
    box->show();
    box->raise();
    box->activateWindow();
    actionBox_ = box;
    warningBoxes_.removeIf([](const QPointer<QMessageBox>& b) { return b.isNull(); });
    warningBoxes_.append(box);
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
    for (const QPointer<QMessageBox>& box : std::as_const(warningBoxes_))
        if (box) box->close();
    warningBoxes_.clear();
}

Reporting& reporting() {
    if (auto* app = qobject_cast<Application*>(QCoreApplication::instance())) return app->reporting();
    static Reporting fallback;
    return fallback;
}
