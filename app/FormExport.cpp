#include "app/FormExport.h"

#include "app/ErrorBox.h"
#include "app/FormParts.h"

#include <QProgressDialog>

using talvira::editing::WriteJob;
using talvira::editing::WriteState;

namespace {

// A short write is done before the window would show; a long one shows it after this.
constexpr int kShowAfterMs = 300;
constexpr int kSteps = 1000;

}  // namespace

FormExport::FormExport(QWidget& window, const QString& title) : QObject(&window), window_(window), title_(title) {
    setObjectName("FormExport");
}

FormExport::~FormExport() {
    if (job_) {
        job_->cancel();
        job_->wait();
    }
}

QProgressDialog* FormExport::progressDialog() {
    if (!progress_) {
        progress_ = new QProgressDialog(&window_);
        progress_->setObjectName("FormExportProgress");
        progress_->setWindowTitle(title_);
        progress_->setWindowModality(Qt::NonModal);  // the estimate stays open to work on
        progress_->setLabelText(QStringLiteral("Запись файла…"));
        progress_->setCancelButtonText(QStringLiteral("Отмена"));
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(kShowAfterMs);
        progress_->setMinimumWidth(380);
        progress_->setRange(0, kSteps);
        progress_->reset();
        progress_->hide();
        // "Отмена", Escape or the close box: the worker stops at its next step, nothing is left
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            if (job_) job_->cancel();
        });
    }
    return progress_;
}

bool FormExport::bringForward() {
    if (!running()) return false;
    talvira::app::bringToFront(progressDialog());
    return true;
}

void FormExport::start(WriteJob::Write write, Written written) {
    if (bringForward()) return;
    QProgressDialog* p = progressDialog();
    p->setLabelText(title_ + QStringLiteral(": запись файла…"));
    p->setValue(0);  // shown after kShowAfterMs if still running
    written_ = std::move(written);
    job_ = std::make_unique<WriteJob>();
    // The worker's notices come back to this thread as queued calls.
    job_->start(std::move(write),
                [this] { QMetaObject::invokeMethod(this, &FormExport::showProgress, Qt::QueuedConnection); },
                [this] { QMetaObject::invokeMethod(this, &FormExport::finish, Qt::QueuedConnection); });
}

void FormExport::showProgress() {
    if (!job_ || !progress_ || job_->cancelRequested()) return;
    const WriteJob::Progress step = job_->takeProgress();
    if (step.total > 0) progress_->setValue(int(std::min(step.done, step.total) * kSteps / step.total));
}

void FormExport::finish() {
    if (!job_) return;
    std::unique_ptr<WriteJob> job = std::move(job_);
    job->wait();
    progressDialog()->reset();
    progressDialog()->hide();
    const Written written = std::move(written_);
    switch (job->state()) {
    case WriteState::Written: guarded([&] { written(job->written()); }); break;
    case WriteState::Failed: showErrorBox(QString::fromStdString(job->error())); break;
    default: break;  // stopped: the user knows, nothing was left
    }
    emit finished();
}
