#pragma once
/**
 * "Файл для экспертизы (XML, .gge)..." of the estimate window's menu "Расчет": the file made from
 * the open estimate (its result as the totals show it), the expert's checks listed each with its
 * position — "Записать всё равно" offered only when every one of them is a warning —, the place
 * asked, then the file checked against the shipped schema and written by a worker with progress
 * (FormExport), the window staying usable.
 *
 *   Gge = new GgeExportCommand(*this, document(), [this] { storePendingEdit(); return typedTexts(); },
 *                              [this](const QString& text) { setStatusText(text); });
 *   Gge->run();                                   // the menu item
 *
 * Caveats: an estimate «по шаблону» is refused with the error box. The first export makes the
 * estimate's GUID and keeps it (its calc file changes once). Tests replace askPath.
 */
#include "editing/GgeExport.h"

#include <QDialog>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class FormExport;
class QLabel;
class QListWidget;
class QPushButton;

/** The list of the expert's checks before the file is written. */
class GgeChecksDialog : public QDialog {
    Q_OBJECT
public:
    explicit GgeChecksDialog(QWidget* parent);
    /** Shows `checks`; "Записать всё равно" only when none blocks. Accepted: write all the same. */
    void showChecks(const std::vector<talvira::gge::GgeCheck>& checks);

    QLabel* Caption = nullptr;
    QListWidget* ChecksList = nullptr;
    QPushButton* WriteAnywayButton = nullptr;
    QPushButton* CloseButton = nullptr;
};

class GgeExportCommand : public QObject {
    Q_OBJECT
public:
    using Texts = std::function<talvira::model::EstimateTexts()>;
    using Tell = std::function<void(const QString&)>;
    GgeExportCommand(QWidget& window, talvira::editing::EstimateDocument& doc, Texts texts, Tell tell);

    /** The menu item: prepare, check, ask, write. */
    void run();

    /** The file's place, `suggested` first; empty: not written. A save dialog by default. */
    std::function<QString(const QString& suggested)> askPath;

    GgeChecksDialog* Checks = nullptr;
    FormExport* Writer = nullptr;

signals:
    /** A file is in place. */
    void written(const QString& path);

private:
    void write(std::shared_ptr<const talvira::editing::GgeData> data);

    QWidget& window_;
    talvira::editing::EstimateDocument& doc_;
    Texts texts_;
    Tell tell_;
    std::shared_ptr<const talvira::editing::GgeData> pending_;  // checked, waiting for the estimator
};
