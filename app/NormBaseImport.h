#pragma once
/**
 * The main window's import of an official norm base: "&Импорт нормативной базы..." in "&Файл"
 * (before "В&ыход", between separators) asks for the files (*.xml *.zip) and, when some norm
 * among them is priced from its resources, the optional hourly wage, builds the new base
 * beside Base/ while a progress window shows what is being read (with "Отмена") and the program
 * stays usable on the old base, then closes the nine handles, puts the new base in place,
 * reopens them and shows the report. "О &нормативной базе..." at the end of "&Справка" tells
 * where the base came from.
 *
 *   Import = new NormBaseImport(*this, *N1, *N8, {closeBase, reopenBase});   // in TForm1's constructor
 *   Import->cancel();                     // in TForm1's closeEvent, before the handles close
 *
 * Caveats: while one import runs the item only brings its progress window forward. A cancel or
 * a failure leaves Base/ and the handles as they were (a failure says why in the error box);
 * the estimate window and its estimate are never touched.
 */
#include "normbase/import/ImportJob.h"

#include <QDialog>
#include <QObject>
#include <QStringList>

#include <functional>

#include <memory>
#include <optional>

class QAction;
class RussianFileDialog;
class QInputDialog;
class QPlainTextEdit;
class QProgressDialog;
class QMenu;

/** A window with a text to read (scrollable, selectable) and an OK button. */
class TextViewBox : public QDialog {
    Q_OBJECT
public:
    TextViewBox(const QString& title, QWidget* parent);
    void showText(const QString& text);
    QString text() const;

private:
    QPlainTextEdit* view_ = nullptr;
};

class NormBaseImport : public QObject {
    Q_OBJECT
public:
    /** What the main window does around putting a new base in place: close every handle on the
     *  old one (and make whatever read it forget it), then open them on Base/ again. */
    struct BaseHandles {
        std::function<void()> close;
        std::function<void()> reopen;
    };

    /** The items go before the last item of `fileMenu` and at the end of `helpMenu`; the
     *  dialogs open over `window`. */
    NormBaseImport(QWidget& window, QMenu& fileMenu, QMenu& helpMenu, BaseHandles handles);
    ~NormBaseImport() override;

    QAction* ImportAction = nullptr;  // "&Импорт нормативной базы..." in "&Файл"
    QAction* OriginAction = nullptr;  // "О &нормативной базе..." in "&Справка"

    /** The dialogs, each made at its first use and kept. */
    RussianFileDialog* fileDialog();
    QInputDialog* wageDialog();
    QProgressDialog* progressDialog();
    TextViewBox* reportBox();
    TextViewBox* originBox();

    /** The menu item: files, the wage when they need one, then the import starts (nothing when
     *  either is cancelled). */
    void ImportActionClick();
    /** The help item: where the base in Base/ came from. */
    void OriginActionClick();
    /** Starts importing `files` into Base/ under the start directory. */
    void startImport(const QStringList& files, std::optional<talvira::Money> wagePerHour);
    /** Whether an import is under way (built or being put in place). */
    bool running() const { return job_ != nullptr; }
    /** Asks a running import to stop and hides its progress window; returns at once. Its
     *  worker ends on its own (the program waits for it when this object goes), and Base/
     *  stays as it was: a base built all the same is never put in place. */
    void cancel();
    /** Stops a running import and waits for its worker; Base/ stays as it was. */
    void cancelAndWait();

signals:
    /** An import has ended, whatever the outcome. */
    void finished();

private:
    /** Asks for the wage until it is a number or empty; nothing when the user cancels. */
    std::optional<std::optional<talvira::Money>> askWage();
    void showProgress();
    void finishImport();

    QWidget& window_;
    BaseHandles handles_;
    RussianFileDialog* fileDialog_ = nullptr;
    QInputDialog* wageDialog_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    TextViewBox* reportBox_ = nullptr;
    TextViewBox* originBox_ = nullptr;
    std::unique_ptr<talvira::normimport::ImportJob> job_;
};
