#include "app/FileDialogs.h"

#include "dbctrls/FieldText.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

namespace {

/** The dialog's list in Russian: Qt's file model speaks English for kinds and sizes ("Folder",
 *  "KiB") and the desktop's long type names ("Документ XML") are cut in a narrow column. */
class RussianFileList : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    enum Column { Name, Size, Kind, Modified };

    QVariant data(const QModelIndex& index, int role) const override {
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() == Name) return QIdentityProxyModel::data(index, role);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        if (index.column() == Modified) return info.lastModified().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
        if (index.column() == Kind) {
            if (info.isDir()) return QStringLiteral("Папка");
            return info.suffix().isEmpty() ? QStringLiteral("Файл") : QStringLiteral("Файл ") + info.suffix().toUpper();
        }
        return info.isDir() ? QString() : RussianFileDialog::sizeText(info.size());
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const titles[] = {"Имя", "Размер", "Тип", "Изменён"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
            return QString::fromUtf8(titles[section]);
        return QIdentityProxyModel::headerData(section, orientation, role);
    }
};

}  // namespace

RussianFileDialog::RussianFileDialog(QWidget* parent, const QString& title) : QFileDialog(parent, title) {
    // The desktop's dialog would speak the desktop's language and skip the list below.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setSizeGripEnabled(true);
    setProxyModel(new RussianFileList(this));
    // The file name's completion list may pop up late, when the folder it lists has loaded:
    // after the dialog has gone, it is hidden at once.
    for (QCompleter* c : findChildren<QCompleter*>()) c->popup()->installEventFilter(this);
}

QString RussianFileDialog::sizeText(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 байт").arg(bytes);
    const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ"};
    double amount = double(bytes) / 1024;
    int unit = 0;
    while (amount >= 1024 && unit < 3) {
        amount /= 1024;
        ++unit;
    }
    QString number = QString::number(amount, 'f', 1);
    number.replace(QLatin1Char('.'), QLatin1Char(talvira::dbctrls::userDecimalSeparator()));
    return number + QLatin1Char(' ') + QString::fromUtf8(units[unit]);
}

void RussianFileDialog::showEvent(QShowEvent* event) {
    QFileDialog::showEvent(event);
    // Every column title whole, with the room of the sort mark.
    for (QTreeView* list : findChildren<QTreeView*>()) {
        QHeaderView* header = list->header();
        const int room = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                         style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) + 8;
        for (int c = 0; c < header->count(); ++c) {
            const QString title = header->model()->headerData(c, Qt::Horizontal).toString();
            const int need = header->fontMetrics().horizontalAdvance(title) + room;
            if (header->sectionSize(c) < need) header->resizeSection(c, need);
        }
    }
}

bool RussianFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && !isVisible()) {
        if (auto* popup = qobject_cast<QWidget*>(watched)) QTimer::singleShot(0, popup, &QWidget::hide);
    }
    return QFileDialog::eventFilter(watched, event);
}

void RussianFileDialog::done(int result) {
    // The completion list goes with the dialog, or it would float over the main window and
    // take its keys.
    hideCompletions();
    QFileDialog::done(result);
    hideCompletions();
}

void RussianFileDialog::hideCompletions() {
    for (QCompleter* c : findChildren<QCompleter*>())
        if (c->popup() && c->popup()->isVisible()) c->popup()->hide();
}
