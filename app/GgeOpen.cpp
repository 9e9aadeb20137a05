#include "app/GgeOpen.h"

#include "app/FileDialogs.h"
#include "app/FormParts.h"
#include "app/Globals.h"
#include "app/Unit2.h"
#include "dbctrls/FieldText.h"
#include "editing/GgeImport.h"
#include "estimate/EstimateFile.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace talvira::app {

namespace {

/** The differences, notes and unpriced positions, in a window of their own beside the estimate. */
void showDifferences(QWidget* parent, const editing::GgeImported& r, char sep) {
    auto* box = new QDialog(parent);
    box->setObjectName(QStringLiteral("GgeCompare"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Сравнение с файлом экспертизы"));
    auto* layout = new QVBoxLayout(box);
    const QString head = r.differences.empty()
                             ? QStringLiteral("Расчет программы совпадает с файлом во всех суммах.")
                             : QStringLiteral("Программа считает иначе, чем файл (%1):").arg(r.differences.size());
    layout->addWidget(new QLabel(head, box));
    auto* list = new QListWidget(box);
    list->setObjectName(QStringLiteral("GgeDifferences"));
    for (const editing::GgeDifference& d : r.differences) list->addItem(QString::fromStdString(differenceText(d, sep)));
    for (const std::string& p : r.problems) list->addItem(QStringLiteral("Не рассчитано: ") + QString::fromStdString(p));
    for (const std::string& n : r.notes) list->addItem(QStringLiteral("Примечание: ") + QString::fromStdString(n));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
    layout->addWidget(buttons);
    box->resize(720, 360);
    box->show();
}

}  // namespace

void openGge(QWidget* parent, editing::EstimateDocument& doc, const QString& file) {
    const std::string dir = estimate::estimatesDirectory(StartDir.toStdString());
    const char sep = dbctrls::userDecimalSeparator();
    const editing::GgeImported r = editing::importGge(file.toStdString(), dir, "", sep, shippedTables());
    doc.open(QDir::toNativeSeparators(QString::fromStdString(dir)).toStdString(), r.table.filename().string());
    if (Form2) bringToFront(Form2);
    showDifferences(Form2 ? static_cast<QWidget*>(Form2) : parent, r, sep);
}

void chooseAndOpenGge(QWidget* parent, editing::EstimateDocument& doc) {
    RussianFileDialog dialog(parent, QStringLiteral("Открытие сметы из файла экспертизы"));
    dialog.setNameFilter(QStringLiteral("Файлы экспертизы (*.gge *.xml)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    openGge(parent, doc, dialog.selectedFiles().front());
}

void openFromCommandLine(QWidget* parent, editing::EstimateDocument& doc, const QStringList& args) {
    if (args.size() > 1 && args[1].endsWith(QStringLiteral(".gge"), Qt::CaseInsensitive))
        guarded([&] { openGge(parent, doc, args[1]); });
}

}  // namespace talvira::app
