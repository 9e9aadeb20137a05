#pragma once
/**
 * The program's file dialog: Qt's own (not the desktop's), in Russian whatever the locale:
 * sizes in байт/КБ/МБ/ГБ with the user's decimal separator, kinds "Папка" and "Файл XML",
 * dates as "09.12.2026 14:05", the column titles "Имя", "Размер", "Тип", "Изменён", each shown
 * whole. Every file dialog of the program is one of these.
 *
 *   auto* d = new RussianFileDialog(this, QStringLiteral("Открытие сметы"));
 *   d->setNameFilter(QStringLiteral("Файлы баз данных (*.db)"));
 */
#include <QFileDialog>

class RussianFileDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit RussianFileDialog(QWidget* parent = nullptr, const QString& title = {});

    /** A size as the list shows it ("0 байт", "2,0 КБ" with the user's decimal separator). */
    static QString sizeText(qint64 bytes);

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    /** Hides the file name's completion list, a window of its own. */
    void hideCompletions();
};
