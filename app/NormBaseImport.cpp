#include "app/NormBaseImport.h"

#include "app/ErrorBox.h"
#include "app/FileDialogs.h"
#include "app/FormParts.h"
#include "app/Globals.h"
#include "dbctrls/FieldText.h"
#include "normbase/NormBaseFields.h"
#include "normbase/import/OfficialImport.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFrame>
#include <QInputDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace fs = std::filesystem;
using talvira::normimport::ImportJob;
using talvira::normimport::JobState;

namespace {

const QString kTitle = QStringLiteral("Импорт нормативной базы");
const QString kWageLabel = QStringLiteral(
    "Часовая ставка рабочих, руб. за чел.-ч\n(основная зарплата = затраты труда × ставка; пусто — без неё).\n"
    "Расценки со своей ценой в файле (ФЕР) берут зарплату из неё, ставка их не меняет:");

fs::path baseDirectory() { return talvira::normbase::baseDirectory(StartDir.toStdString()); }

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TextViewBox
// ---------------------------------------------------------------------------------------------

TextViewBox::TextViewBox(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    setModal(false);
    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_);
    layout->addWidget(buttons);
    resize(560, 420);
}

void TextViewBox::showText(const QString& text) {
    view_->setPlainText(text);
    talvira::app::bringToFront(this);
}

QString TextViewBox::text() const { return view_->toPlainText(); }

// ---------------------------------------------------------------------------------------------
// NormBaseImport: menu items and dialogs
// ---------------------------------------------------------------------------------------------

NormBaseImport::NormBaseImport(QWidget& window, QMenu& fileMenu, QMenu& helpMenu, BaseHandles handles)
    : QObject(&window), window_(window), handles_(std::move(handles)) {
    setObjectName("NormBaseImport");
    // Between the estimate's items and "Выход", which ends the menu as every program's does; the
    // menu's own items keep their order. In "Справка", after "О программе".
    ImportAction = new QAction(QStringLiteral("&Импорт нормативной базы..."), &fileMenu);
    ImportAction->setObjectName("N11");
    const QList<QAction*> items = fileMenu.actions();
    QAction* exitItem = items.isEmpty() ? nullptr : items.constLast();
    fileMenu.insertAction(exitItem, ImportAction);
    fileMenu.insertSeparator(ImportAction);
    if (exitItem) fileMenu.insertSeparator(exitItem);
    OriginAction = talvira::app::namedAction(&helpMenu, "N12", QStringLiteral("О &нормативной базе..."));
    talvira::app::connectGuarded(this, &QAction::triggered,
                                 {{ImportAction, &NormBaseImport::ImportActionClick},
                                  {OriginAction, &NormBaseImport::OriginActionClick}});
}

NormBaseImport::~NormBaseImport() { cancelAndWait(); }

RussianFileDialog* NormBaseImport::fileDialog() {
    if (!fileDialog_) {
        fileDialog_ = new RussianFileDialog(&window_, kTitle);
        fileDialog_->setObjectName("ImportDialog");
        fileDialog_->setFileMode(QFileDialog::ExistingFiles);
        fileDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        fileDialog_->setNameFilters({QStringLiteral("Нормы и цены (*.xml *.zip)"), QStringLiteral("Все файлы (*)")});
    }
    return fileDialog_;
}

QInputDialog* NormBaseImport::wageDialog() {
    if (!wageDialog_) {
        wageDialog_ = new QInputDialog(&window_);
        wageDialog_->setObjectName("WageDialog");
        wageDialog_->setWindowTitle(kTitle);
        wageDialog_->setInputMode(QInputDialog::TextInput);
    }
    return wageDialog_;
}

QProgressDialog* NormBaseImport::progressDialog() {
    if (!progress_) {
        progress_ = new QProgressDialog(&window_);
        progress_->setObjectName("ImportProgress");
        progress_->setWindowTitle(kTitle);
        progress_->setWindowModality(Qt::NonModal);  // the program stays usable on the old base
        progress_->setCancelButtonText(QStringLiteral("Отмена"));
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        progress_->setMinimumWidth(420);
        progress_->reset();
        progress_->hide();
        // "Отмена", Escape or the close box: the worker stops at its next step and the window
        // goes at once; Base/ stays as it was.
        connect(progress_, &QProgressDialog::canceled, this, [this] {
            if (job_) job_->cancel();
        });
    }
    return progress_;
}

TextViewBox* NormBaseImport::reportBox() {
    if (!reportBox_) {
        reportBox_ = new TextViewBox(QStringLiteral("Отчёт об импорте нормативной базы"), &window_);
        reportBox_->setObjectName("ImportReport");
    }
    return reportBox_;
}

TextViewBox* NormBaseImport::originBox() {
    if (!originBox_) {
        originBox_ = new TextViewBox(QStringLiteral("О нормативной базе"), &window_);
        originBox_->setObjectName("BaseOrigin");
    }
    return originBox_;
}

// ---------------------------------------------------------------------------------------------
// NormBaseImport: the import road
// ---------------------------------------------------------------------------------------------

void NormBaseImport::ImportActionClick() {
    if (running()) {
        talvira::app::bringToFront(progressDialog());
        return;
    }
    if (fileDialog()->exec() != QDialog::Accepted) return;
    const QStringList files = fileDialog()->selectedFiles();
    if (files.isEmpty()) return;
    // Norms that carry their own prices (ФЕР) need no wage: nothing to ask.
    std::vector<fs::path> paths;
    for (const QString& f : files) paths.emplace_back(f.toStdString());
    if (!talvira::normimport::needsWage(paths, {})) return startImport(files, std::nullopt);
    const auto wage = askWage();
    if (!wage) return;
    startImport(files, *wage);
}

std::optional<std::optional<talvira::Money>> NormBaseImport::askWage() {
    QInputDialog* d = wageDialog();
    d->setLabelText(kWageLabel);
    d->setTextValue({});
    const char sep = talvira::dbctrls::userDecimalSeparator();
    for (;;) {
        if (d->exec() != QDialog::Accepted) return std::nullopt;
        try {
            return talvira::normimport::parseWage(d->textValue().toStdString(), sep);
        } catch (const std::exception& e) {
            // Asked again with what was typed still there, the reason above the question.
            d->setLabelText(errorBoxText(QString::fromUtf8(e.what())) + QStringLiteral("\n\n") + kWageLabel);
        }
    }
}

void NormBaseImport::startImport(const QStringList& files, std::optional<talvira::Money> wagePerHour) {
    if (running()) return;
    std::vector<fs::path> paths;
    for (const QString& f : files) paths.emplace_back(f.toStdString());
    talvira::normimport::ImportOptions options;
    options.wagePerHour = wagePerHour;

    QProgressDialog* p = progressDialog();
    p->setLabelText(QStringLiteral("Подготовка импорта…"));
    p->setRange(0, 0);  // busy until the first step tells the sizes
    p->setValue(0);
    talvira::app::bringToFront(p);
    ImportAction->setEnabled(false);

    job_ = std::make_unique<ImportJob>();
    // The worker's notices come back to this thread as queued calls.
    job_->start(baseDirectory(), std::move(paths), options,
                [this] { QMetaObject::invokeMethod(this, &NormBaseImport::showProgress, Qt::QueuedConnection); },
                [this] { QMetaObject::invokeMethod(this, &NormBaseImport::finishImport, Qt::QueuedConnection); });
}

void NormBaseImport::showProgress() {
    if (!job_ || !progress_ || job_->cancelRequested()) return;
    const auto step = job_->takeProgress();
    if (!step.stage.empty()) progress_->setLabelText(fromUtf8(step.stage));
    if (step.total == 0) {
        progress_->setRange(0, 0);
    } else {
        constexpr int kSteps = 1000;  // byte counts exceed an int
        progress_->setRange(0, kSteps);
        progress_->setValue(int(std::min(step.done, step.total) * kSteps / step.total));
    }
}

void NormBaseImport::finishImport() {
    if (!job_) return;
    // Not in the middle of another dialog the user is answering: the handles are swapped and
    // the report shown once it is closed.
    if (job_->state() == JobState::Built && !job_->cancelRequested() && QApplication::activeModalWidget()) {
        QTimer::singleShot(200, this, &NormBaseImport::finishImport);
        return;
    }
    progressDialog()->reset();
    progressDialog()->hide();
    ImportAction->setEnabled(true);
    std::unique_ptr<ImportJob> job = std::move(job_);
    job->wait();
    switch (job->state()) {
    case JobState::Failed:
        // After a cancel (or the program closing) the user waits for nothing: no word.
        if (!job->cancelRequested()) showErrorBox(fromUtf8(job->error()));
        break;
    case JobState::Built:
        guarded([&] { job->install(handles_.close, handles_.reopen); });
        if (job->state() == JobState::Installed) reportBox()->showText(fromUtf8(job->report().text()));
        break;
    default:  // cancelled: the user knows, nothing changed
        break;
    }
    emit finished();
}

void NormBaseImport::cancel() {
    if (!job_) return;
    job_->cancel();
    if (progress_) {
        progress_->reset();
        progress_->hide();
    }
}

void NormBaseImport::cancelAndWait() {
    if (!job_) return;
    job_->cancel();
    job_->wait();
    job_.reset();  // a base built but not put in place is removed
    if (progress_) {
        progress_->reset();
        progress_->hide();
    }
    ImportAction->setEnabled(true);
}

// ---------------------------------------------------------------------------------------------
// NormBaseImport: the origin of the base
// ---------------------------------------------------------------------------------------------

void NormBaseImport::OriginActionClick() {
    const fs::path dir = baseDirectory();
    std::string origin = talvira::normimport::readBaseOrigin(dir);
    if (origin.empty())
        origin = "Нормативная база в папке «" + dir.string() +
                 "» не импортирована этой программой: сведений о её происхождении в ней нет.";
    originBox()->showText(fromUtf8(origin));
}
