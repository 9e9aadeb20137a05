// The import of an official norm base through the main window: a cancel leaves the base and the
// browser as they were; the menu item with its dialogs answered puts the new base under the browser.
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
};

QTEST_MAIN(ImportWindowTest)
#include "ImportWindowTest.moc"
