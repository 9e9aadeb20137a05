// The import of an official norm base through the main window: a cancel leaves the base and the
// browser as they were; the menu item with its dialogs answered puts the new base under the browser.
#include "app/Application.h"
#include "app/FileDialogs.h"
#include "app/Globals.h"
#include "app/NormBaseImport.h"
#include "app/RateSearchBox.h"
#include "app/Unit1.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "tests/app/FixtureStart.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QHeaderView>
#include <QTreeView>
#include <QSignalSpy>
#include <QtTest>

namespace fs = std::filesystem;

namespace {

/** Runs `answer` once `dialog` is the modal dialog on the screen. */
void whenShown(QDialog* dialog, std::function<void()> answer) {
    QTimer::singleShot(10, dialog, [dialog, answer] {
        QApplication::activeModalWidget() == dialog ? answer() : whenShown(dialog, answer);
    });
}

/** The names the file list shows under its root, in the order it shows them or sorted. */
QStringList listed(const QTreeView* view, bool sorted = false) {
    QStringList names;
    for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
        names << view->model()->index(r, 0, view->rootIndex()).data().toString();
    if (sorted) names.sort();
    return names;
}

/** What the file list of `dir` holds once loaded: its folders and the files `filters` let
 *  through, each once, sorted. */
QStringList entriesOf(const QString& dir, const QStringList& filters) {
    QDir d(dir);
    QStringList names = d.entryList(QDir::AllDirs | QDir::NoDotAndDotDot) + d.entryList(filters, QDir::Files);
    names.sort();
    return names;
}

QStringList collections() {
    QStringList names;
    for (int r = 0; r < Form1->DBGrid6->model()->rowCount(); ++r)
        names << QString::fromStdString(Form1->DBGrid6->rowValue(r, "NAME").asString());
    return names;
}

}  // namespace

class ImportWindowTest : public QObject {
    Q_OBJECT

    QStringList boxes;
    talvira::test::TempDir start{"talvira-import-window"};
    const fs::path official = talvira::test::testDataDir() / "official";

private slots:
    void initTestCase() {
        const fs::path fixture = talvira::test::fixtureStartDir() / "Base";
        if (!fs::exists(fixture) || !fs::exists(official / "GESNp.xml")) QSKIP("fixtures missing");
        fs::copy(fixture, start / "Base");
        setErrorBoxHook([this](const QString& text) { boxes << text; });
        QDir::setCurrent(QString::fromStdString(start.path().string()));
        createWindows();
    }
    void cleanupTestCase() { talvira::test::stopWindows(); }

    void cancelThenImportThroughTheMenu() {
        const auto before = talvira::test::directoryBytes(start / "Base");
        const QStringList namesBefore = collections();
        NormBaseImport* imp = Form1->Import;
        QSignalSpy finished(imp, &NormBaseImport::finished);
        imp->startImport({QString::fromStdString((official / "GESNp.xml").string())}, std::nullopt);
        imp->progressDialog()->findChild<QPushButton*>()->click();  // "Отмена"
        QVERIFY(finished.wait(120000));
        QCOMPARE(talvira::test::directoryBytes(start / "Base"), before);
        QVERIFY(boxes.isEmpty() && collections() == namesBefore && imp->ImportAction->isEnabled());

        QFileDialog* files = imp->fileDialog();
        files->setDirectory(QString::fromStdString(official.string()));
        QInputDialog* wage = imp->wageDialog();
        QString secondQuestion;
        whenShown(files, [&] {
            files->findChild<QLineEdit*>("fileNameEdit")->setText("\"GESNp.xml\" \"FSBC_Mash.xml\"");
            whenShown(wage, [&] {
                wage->setTextValue("триста");
                whenShown(wage, [&] {
                    secondQuestion = wage->labelText();
                    wage->setTextValue(QString("350") + QChar(talvira::dbctrls::userDecimalSeparator()) + "5");
                    wage->accept();
                });
                wage->accept();
            });
            static_cast<QDialog*>(files)->accept();
        });
        imp->ImportAction->trigger();
        QVERIFY(secondQuestion.startsWith("«триста» — не число."));
        // The old base is browsed while the new one is built.
        QVERIFY(imp->progressDialog()->isVisible() && !imp->ImportAction->isEnabled());
        QCOMPARE(collections(), namesBefore);
        QVERIFY(finished.wait(120000));

        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
        QVERIFY(!imp->progressDialog()->isVisible() && imp->ImportAction->isEnabled());
        const QStringList names = collections();  // ten collections of norms, one book of prices
        QCOMPARE(names.size(), 11);
        QVERIFY2(names.first().contains("01. Электротехнические") && names.last().startsWith("ФСБЦ "), qPrintable(names.join('\n')));
        QCOMPARE(talvira::test::directoryBytes(start / "Base.old"), before);
        QVERIFY(imp->reportBox()->isVisible() && imp->reportBox()->text().contains("GESNp.xml"));
        QVERIFY(!Form1->SearchBox->search().find("01-01-001-01").rates.empty());  // the search reads the new base
        imp->OriginAction->trigger();
        QVERIFY(imp->originBox()->text().contains("FSBC_Mash.xml"));
    }

    void theFileDialogIsTheRussianOne() {
        // It said "Folder", "KiB" and cut its column titles, the open dialog being Russian.
        RussianFileDialog* files = Form1->Import->fileDialog();
        files->setDirectory(QString::fromStdString(talvira::test::testDataDir().string()));
        files->show();
        auto* view = files->findChild<QTreeView*>("treeView");
        QVERIFY(view);
        // Read once the folder has loaded whole: some rows were there before the others.
        const QStringList filters{"*.xml", "*.zip"};
        const QStringList all = entriesOf(QString::fromStdString(talvira::test::testDataDir().string()), filters);
        QTRY_COMPARE_WITH_TIMEOUT(listed(view, true), all, 20000);
        QStringList kinds;
        for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r) {
            const QModelIndex row = view->model()->index(r, 0, view->rootIndex());
            kinds << row.siblingAtColumn(2).data().toString();
            if (row.data().toString() == "official") QCOMPARE(row.siblingAtColumn(1).data().toString(), QString());
        }
        QVERIFY2(kinds.contains("Папка"), qPrintable(kinds.join(", ")));
        files->setDirectory(QString::fromStdString(official.string()));
        // Read once sorted: the list shows the files in the order they were found first (it
        // read "GESNp.xml" in the first row on a busy machine).
        QTRY_COMPARE_WITH_TIMEOUT(listed(view), (QStringList{"FSBC_Mash.xml", "GESNp.xml"}), 20000);
        const QModelIndex first = view->model()->index(0, 0, view->rootIndex());
        QCOMPARE(first.data().toString(), QString("FSBC_Mash.xml"));
        QCOMPARE(first.siblingAtColumn(2).data().toString(), QString("Файл XML"));
        QVERIFY2(first.siblingAtColumn(1).data().toString().endsWith(" КБ"), qPrintable(first.siblingAtColumn(1).data().toString()));
        for (int c = 0; c < 4; ++c) {
            const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
            QVERIFY2(view->header()->sectionSize(c) > view->header()->fontMetrics().horizontalAdvance(title) + 8, qPrintable(title));
        }
        files->hide();
    }

    void closingDuringAnImportClosesTheWindowsAtOnce() {
        const auto before = talvira::test::directoryBytes(start / "Base");
        NormBaseImport* imp = Form1->Import;
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        imp->startImport({QString::fromStdString((official / "GESNp.xml").string())}, std::nullopt);
        QVERIFY(imp->progressDialog()->isVisible());
        QVERIFY(Form1->close());
        // Gone from the screen without waiting for the import's worker (the windows stood
        // frozen until it had stopped)...
        QVERIFY(imp->running());
        QVERIFY(!Form1->isVisible() && !imp->progressDialog()->isVisible());
        QCoreApplication::processEvents();  // the other windows go with the main one
        for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        // ...which the program waits for once they are gone: the base stays as it was, nothing
        // of the new one is left.
        destroyWindows();
        QCOMPARE(talvira::test::directoryBytes(start / "Base"), before);
        for (const auto& entry : fs::directory_iterator(start.path()))
            QVERIFY2(!entry.path().filename().string().starts_with("Base.import-"), entry.path().c_str());
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
    }
};

QTEST_MAIN(ImportWindowTest)
#include "ImportWindowTest.moc"
