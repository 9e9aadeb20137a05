#include "app/GgeExportCommand.h"

#include "app/ErrorBox.h"
#include "app/FileDialogs.h"
#include "app/FormExport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace ed = talvira::editing;

GgeChecksDialog::GgeChecksDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("GgeChecksDialog");
    setWindowTitle(QStringLiteral("Проверка сметы перед экспертизой"));
    setWindowModality(Qt::WindowModal);
    Caption = new QLabel(this);
    Caption->setObjectName("Caption");
    Caption->setWordWrap(true);
    ChecksList = new QListWidget(this);
    ChecksList->setObjectName("ChecksList");
    ChecksList->setWordWrap(true);
    WriteAnywayButton = new QPushButton(QStringLiteral("Записать всё равно"), this);
    WriteAnywayButton->setObjectName("WriteAnywayButton");
    CloseButton = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseButton->setObjectName("CloseButton");
    CloseButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(WriteAnywayButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Caption);
    layout->addWidget(ChecksList, 1);
    layout->addLayout(buttons);
    resize(720, 360);
    connect(WriteAnywayButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
}

void GgeChecksDialog::showChecks(const std::vector<talvira::gge::GgeCheck>& checks) {
    const bool blocking = talvira::gge::blocks(checks);
    Caption->setText(blocking ? QStringLiteral("Файл для экспертизы не записан: эксперт отклонит смету. Исправьте "
                                               "то, что блокирует запись, и выгрузите снова.")
                              : QStringLiteral("Эксперт может сделать замечания. Файл можно записать всё равно."));
    ChecksList->clear();
    for (const talvira::gge::GgeCheck& c : checks) {
        auto* item = new QListWidgetItem(QString::fromStdString(talvira::gge::checkLine(c)), ChecksList);
        item->setData(Qt::UserRole, c.blocking);
    }
    WriteAnywayButton->setVisible(!blocking);
    open();
}

GgeExportCommand::GgeExportCommand(QWidget& window, ed::EstimateDocument& doc, Texts texts, Tell tell)
    : QObject(&window), window_(window), doc_(doc), texts_(std::move(texts)), tell_(std::move(tell)) {
    setObjectName("GgeExport");
    Checks = new GgeChecksDialog(&window);
    Writer = new FormExport(window, QStringLiteral("Файл для экспертизы"));
    askPath = [this](const QString& suggested) {
        RussianFileDialog d(&window_, QStringLiteral("Файл для экспертизы"));
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setNameFilter(QStringLiteral("Файл для экспертизы (*.gge)"));
        d.setDefaultSuffix(QStringLiteral("gge"));
        d.selectFile(suggested);
        return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
    };
    connect(Checks, &QDialog::accepted, this, [this] {
        if (auto data = std::move(pending_)) guarded([&] { write(data); });
    });
    connect(Checks, &QDialog::rejected, this, [this] { pending_.reset(); });
}

void GgeExportCommand::run() {
    if (Writer->bringForward()) return;  // one is being written
    const talvira::model::EstimateTexts texts = texts_();
    auto data = std::make_shared<const ed::GgeData>(ed::prepareGge(doc_, texts));
    if (data->checks.empty()) return write(data);
    pending_ = data;
    Checks->showChecks(data->checks);
}

void GgeExportCommand::write(std::shared_ptr<const ed::GgeData> data) {
    std::filesystem::path suggested = doc_.table().tablePath();
    suggested.replace_extension(".gge");
    const QString path = askPath(QString::fromStdString(suggested.string()));
    if (path.isEmpty()) return;
    const std::filesystem::path out = path.toStdString();
    Writer->start([data, out](const talvira::sheet::Progress& progress) { return ed::writeGgeFile(*data, out, false, progress); },
                  [this](const std::filesystem::path& file) {
                      const QString shown = QString::fromStdString(file.string());
                      if (tell_) tell_(QStringLiteral("Файл для экспертизы записан: %1").arg(shown));
                      emit written(shown);
                  });
}
