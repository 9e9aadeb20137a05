#include "app/WarningSink.h"

#include "app/Globals.h"
#include "app/Unit1.h"
#include "storage/Warnings.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QTimer>

namespace {

struct Shown {
    QSet<QString> texts;  // shown during the current action
    bool clearQueued = false;
    QPointer<QMessageBox> box;
    std::function<void(const QString&)> hook;
};

Shown& shown() {
    static Shown s;
    return s;
}

void showWarning(const std::string& message) {
    Shown& s = shown();
    const QString text = QString::fromStdString(message);
    if (s.texts.contains(text)) return;
    s.texts.insert(text);
    if (!s.clearQueued) {
        // The action ends when the event loop gets control back.
        s.clearQueued = true;
        QTimer::singleShot(0, qApp, [] {
            shown().texts.clear();
            shown().clearQueued = false;
        });
    }
    if (s.hook) {
        s.hook(text);
        return;
    }
    if (s.box && s.box->isVisible()) {
        s.box->setText(s.box->text() + QLatin1Char('\n') + text);
        return;
    }
    QWidget* parent = QApplication::activeWindow();
    if (!parent) parent = Form1;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Talvira"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowModality(Qt::NonModal);
    box->show();
    s.box = box;
}

}  // namespace

void installWarningSink() { talvira::storage::setWarningSink(showWarning); }

void removeWarningSink() {
    talvira::storage::setWarningSink({});
    if (shown().box) shown().box->close();
}

void setWarningBoxHook(std::function<void(const QString&)> hook) { shown().hook = std::move(hook); }
