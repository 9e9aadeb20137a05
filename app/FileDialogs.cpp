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
#include <QItemSelection>
#include <QLineEdit>
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
    auto* list = new RussianFileList(this);
    setProxyModel(list);
    // Rows come in as the folder loads, and again when it is sorted or another one is shown.
    connect(list, &QAbstractItemModel::rowsInserted, this, &RussianFileDialog::fitColumns);
    connect(list, &QAbstractItemModel::layoutChanged, this, &RussianFileDialog::fitColumns);
    // The file name's completion list may pop up late, when the folder it lists has loaded:
    // after the dialog has gone, it is hidden at once.
    for (QCompleter* c : findChildren<QCompleter*>()) c->popup()->installEventFilter(this);
    // After the dialog's own handler, which keeps the list's selection in step with the typed
    // names but, through the list above, unselects a name at every other key: the names taken
    // were those the last key left selected ("a" "b" with two blanks between gave only "a").
    if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(edit, &QLineEdit::textChanged, this, &RussianFileDialog::selectTypedNames);
}

QStringList RussianFileDialog::typedNames(const QString& text) {
    QStringList names;
    if (!text.contains(QLatin1Char('"'))) return names;
    const QStringList parts = text.split(QLatin1Char('"'));
    for (qsizetype i = 1; i < parts.size(); i += 2)  // the odd parts lie between quotes
        if (!parts[i].isEmpty()) names << parts[i];
    return names;
}

void RussianFileDialog::selectTypedNames(const QString& text) {
    const QStringList names = typedNames(text);
    auto* files = qobject_cast<QFileSystemModel*>(proxyModel() ? proxyModel()->sourceModel() : nullptr);
    auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (names.isEmpty() || !files || !list || !list->selectionModel()) return;
    // Exactly the typed names; when one is not in the list (not loaded yet, or not there),
    // none: the dialog then takes the names as typed and says which is missing.
    QItemSelection chosen;
    const QDir dir = directory();
    for (const QString& name : names) {
        const QModelIndex row = proxyModel()->mapFromSource(files->index(dir.absoluteFilePath(name)));
        if (!row.isValid()) {
            chosen.clear();
            break;
        }
        chosen.select(row, row);
    }
    list->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
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
    fitColumns();
}

void RussianFileDialog::fitColumns() {
    // Every column title whole, with the room of the sort mark; the size, the kind and the
    // date whole as well ("Фа…ML", "10.12.… 13:05"), as far as the rows shown need. The name
    // keeps its width: a long one is cut, its whole text in the field below once chosen.
    for (QTreeView* list : findChildren<QTreeView*>()) {
        QHeaderView* header = list->header();
        const int room = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                         style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) + 8;
        for (int c = 0; c < header->count(); ++c) {
            const QString title = header->model()->headerData(c, Qt::Horizontal).toString();
            int need = header->fontMetrics().horizontalAdvance(title) + room;
            if (c != RussianFileList::Name) need = std::max(need, static_cast<QAbstractItemView*>(list)->sizeHintForColumn(c));
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
