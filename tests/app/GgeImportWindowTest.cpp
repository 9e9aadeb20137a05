// Another program's expertise file opened as a new estimate through the windows, one road: the
// main window's "Файл" menu item after its fixed items, its file dialog, the new estimate in the
// estimate window with the list of differences beside it; the real export named on the command line
// (`talvira FILE.gge`, as the file manager starts the program) opens once the windows are up (its
// differences listed); a refused file is told in the error box and nothing is made.
#include "tests/support/TestPaths.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/GgeOpen.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "dbctrls/DBGrid.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <filesystem>

namespace fs = std::filesystem;

class GgeWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<talvira::test::TempDir> start_;
    QStringList errors_;

    static QListWidget* differences() {
        QListWidget* found = nullptr;
        for (QListWidget* l : Form2->findChildren<QListWidget*>(QStringLiteral("GgeDifferences")))
            if (l->isVisible()) found = l;
        return found;
    }
    static void closeDifferences() {
        for (QWidget* w : Form2->findChildren<QWidget*>(QStringLiteral("GgeCompare"))) w->close();
    }
    fs::path smeti() const { return start_->path() / "Smeti"; }

private slots:
    void initTestCase() {
        setErrorBoxHook([this](const QString& m) { errors_ << m; });
        setWarningBoxHook([](const QString&) {});
        start_ = std::make_unique<talvira::test::TempDir>("talvira-gge-window");
        fs::create_directory(smeti());
        QDir::setCurrent(QString::fromStdString(start_->path().string()));
        // Started as the program starts: the estimate is opened once the estimate window exists.
        const QString real = QString::fromStdString(talvira::test::fixture("real/gge/BIM-3.01-example.gge").string());
        startWindows([real] { talvira::app::openFromCommandLine(Form1, Form2->document(), {"talvira", real}); });
        errors_.clear();  // no norm base here
    }
    void cleanupTestCase() {
        destroyWindows();
        setWarningBoxHook({});
        setErrorBoxHook({});
        QDir::setCurrent(QDir::tempPath());
        start_.reset();
    }

    void theRoadOfAnExpertiseFile() {
        // The real export named on the command line: its positions and lines, its differences listed.
        QTRY_VERIFY(Form2 && Form2->isVisible());
        QCOMPARE(Form2->document().place().fileName, std::string("ЛСР 02-01-01 Технический пример.db"));
        QCOMPARE(Form2->SmetaDBGrid->model()->rowCount(), 24);  // 15 positions, their 9 priced lines and freight
        QVERIFY(differences());
        QVERIFY(differences()->count() > 0);
        closeDifferences();
        QCOMPARE(errors_, QStringList());

        // The menu item right after the estimate's fixed items of "Файл" ("Выход" still ends it).
        QMenu* file = Form1->menuBar()->actions().first()->menu();
        QAction* item = Form1->findChild<QAction*>(QStringLiteral("NGge"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("Открыть смету из файла экспертизы (.gge)..."));
        QCOMPARE(file->actions().indexOf(item), file->actions().indexOf(Form1->findChild<QAction*>(QStringLiteral("N3"))) + 1);
        QCOMPARE(file->actions().last(), Form1->findChild<QAction*>(QStringLiteral("N4")));

        // Its file dialog takes the file; the estimate opens with nothing differing.
        const QString minimal = QString::fromStdString(talvira::test::fixture("gge/minimal.gge").string());
        QTimer::singleShot(0, [minimal] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Открытие сметы из файла экспертизы"));
            dialog->selectFile(minimal);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        item->trigger();
        QCOMPARE(errors_, QStringList());
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->document().place().fileName, std::string("ЛСР 02-01-01 Антенны.db"));
        QCOMPARE(Form2->SmetaDBGrid->model()->rowCount(), 1);
        QVERIFY(differences());
        QVERIFY(differences()->item(0)->text().startsWith(QStringLiteral("Примечание: ")));
        closeDifferences();

        // A refused file: the error box names it, nothing is made.
        const auto before = talvira::test::directoryBytes(smeti());
        const QString cut = QString::fromStdString(talvira::test::fixture("fail/gge/cut-short.gge").string());
        QVERIFY(!guarded([&] { talvira::app::openGge(Form1, Form2->document(), cut); }));
        QCOMPARE(errors_.size(), 1);
        QVERIFY2(errors_.first().contains(QStringLiteral("«cut-short.gge»")), qPrintable(errors_.first()));
        QCOMPARE(talvira::test::directoryBytes(smeti()), before);
    }

    // What the command line names is opened only when it is an expertise file, whatever the case
    // of its extension; a refusal is told in the error box. (After the road: the file manager's
    // second start of the same file finds its estimate already made.)
    void theCommandLineOpensOnlyAnExpertiseFile_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");  // a part of the error box's text; empty: no box
        const QString minimal = QString::fromStdString(talvira::test::fixture("gge/minimal.gge").string());
        const QString upper = QString::fromStdString((start_->path() / "MINIMAL.GGE").string());
        QFile::remove(upper);
        QVERIFY(QFile::copy(minimal, upper));
        QTest::newRow("nothing named") << QStringList{"talvira"} << QString();
        QTest::newRow("an estimate table") << QStringList{"talvira", QString::fromStdString((smeti() / "x.db").string())}
                                           << QString();
        QTest::newRow("an expertise file in capitals") << QStringList{"talvira", upper} << QStringLiteral("уже существует");
        QTest::newRow("a cut expertise file")
            << QStringList{"talvira", QString::fromStdString(talvira::test::fixture("fail/gge/cut-short.gge").string())}
            << QStringLiteral("«cut-short.gge»");
    }
    void theCommandLineOpensOnlyAnExpertiseFile() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        errors_.clear();
        const auto before = talvira::test::directoryBytes(smeti());
        talvira::app::openFromCommandLine(Form1, Form2->document(), args);
        QCOMPARE(errors_.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty()) QVERIFY2(errors_.first().contains(error), qPrintable(errors_.first()));
        QCOMPARE(talvira::test::directoryBytes(smeti()), before);
    }
};

QTEST_MAIN(GgeWindowTest)
#include "GgeImportWindowTest.moc"
