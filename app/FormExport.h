#pragma once
/**
 * A printed form written off the window's thread: the window stays usable while a progress
 * window (with "Отмена") shows how far the write got; then what the caller does with the file
 * written, or the failure in the default error box. One write at a time: asked again meanwhile,
 * it brings its progress window forward and starts nothing.
 *
 *   LsrExport = new FormExport(*this, QStringLiteral("Локальный сметный расчет"));
 *   LsrExport->start([form, out](const sheet::Progress& p) { return editing::writeLsrForm(*form, out, true, p); },
 *                    [this](const fs::path& book) { openWritten(book, …); });
 *
 * Caveats: the write must own what it writes. A stop leaves nothing and says nothing; the
 * object's destructor stops a running write and waits for it.
 */
#include "editing/WriteJob.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

class FormExport : public QObject {
    Q_OBJECT
public:
    using Written = std::function<void(const std::filesystem::path&)>;

    /** The progress window opens over `window`, titled `title`. */
    FormExport(QWidget& window, const QString& title);
    ~FormExport() override;

    /** Starts `write` on a worker; `written` runs on this thread with the path once it is in
     *  place. Nothing when a write is already running (its progress comes forward). */
    void start(talvira::editing::WriteJob::Write write, Written written);
    bool running() const { return job_ != nullptr; }
    /** While a write runs: its progress window comes forward, and the answer is true. */
    bool bringForward();
    /** Made at its first use and kept. */
    QProgressDialog* progressDialog();

signals:
    /** A write has ended, whatever the outcome. */
    void finished();

private:
    void showProgress();
    void finish();

    QWidget& window_;
    QString title_;
    QProgressDialog* progress_ = nullptr;
    std::unique_ptr<talvira::editing::WriteJob> job_;
    Written written_;
};
