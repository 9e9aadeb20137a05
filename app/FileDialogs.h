#pragma once
/**
 * The program's file dialog: Qt's own (not the desktop's), in Russian whatever the locale:
 * sizes in байт/КБ/МБ/ГБ with the user's decimal separator, kinds "Папка" and "Файл XML",
 * dates as "09.12.2026 14:05", the column titles "Имя", "Размер", "Тип", "Изменён", each shown
 * whole with the size, kind and date under it; several names typed in quotes are all taken.
 * Every file dialog of the program is one of these.
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
    /** The names typed in quotes into the file name field ("\"a.xml\" \"b.xml\"": a.xml, b.xml);
     *  none for a name typed without them. */
    static QStringList typedNames(const QString& text);

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    /** Hides the file name's completion list, a window of its own. */
    void hideCompletions();

private:
    /** Widens the list's columns to their titles and, but for the name, to the rows shown. */
    void fitColumns();
    /** Selects in the list exactly the files typed in quotes, which the dialog then takes. */
    void selectTypedNames(const QString& text);
};
