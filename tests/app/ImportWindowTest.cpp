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
#include "tests/dbctrls/PaintedText.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QHeaderView>
#include <QTreeView>
#include <QSignalSpy>
#include <QtTest>

#include <fstream>

namespace fs = std::filesystem;
using talvira::dbctrls::DBGrid;

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
            // Typed key by key into the field, two blanks between the names: only one of them
            // was taken. (Typed into a field without the focus, the list rewrites it.)
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            name->setFocus();
            if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == files && name->hasFocus(); }, 20000)) {
                static_cast<QDialog*>(files)->reject();
                return;
            }
            QTest::keyClicks(name, "\"GESNp.xml\"  \"FSBC_Mash.xml\"");
            whenShown(wage, [&] {
                wage->setTextValue("триста");
                whenShown(wage, [&] {
                    secondQuestion = wage->labelText();
                    wage->setTextValue(QString("350") + QChar(talvira::dbctrls::userDecimalSeparator()) + "5");
                    wage->accept();
                });
                wage->accept();
            });
            QTest::keyClick(name, Qt::Key_Return);
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
        // The codes whole, in the rates grid and in the search list ("ГЭСНп01-01-0…").
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        auto& found = Form1->SearchBox->search();
        found.goTo(*found.rateOfCode("ГЭСНп01-01-001-01"));
        DBGrid* rates = Form1->DBGrid2;
        QCOMPARE(rates->model()->rowCount(), 8);
        const auto painted = talvira::test::paintedTexts(rates->viewport());
        for (int r = 0; r < rates->model()->rowCount(); ++r) {
            const QRect cell = rates->visualRect(rates->model()->index(r, 0));
            if (!rates->viewport()->rect().contains(cell)) continue;
            QStringList shown;
            for (const auto& t : painted)
                if (cell.contains(t.box.center().toPoint())) shown << t.text;
            QCOMPARE(shown, QStringList{rates->cellText(r, 0)});
        }
        RateSearchBox* search = Form1->SearchBox;
        search->SearchEdit->setText("01-01-001-01");
        QVERIFY(search->Model->rowCount() > 0);
        QStyleOptionViewItem item;
        item.initFrom(search->ResultsView);
        for (int r = 0; r < search->Model->rowCount(); ++r) {
            const QModelIndex code = search->Model->index(r, 0);
            QVERIFY2(search->ResultsView->itemDelegateForIndex(code)->sizeHint(item, code).width() <= search->ResultsView->columnWidth(0),
                     qPrintable(code.data().toString()));
        }
        search->ResultsClose();
        search->SearchEdit->clear();
        Form1->hide();
        // A machine of the price book: its price under "Всего", none under "Материалы" (it
        // stood there, "маш. 824,35").
        found.goTo(*found.rateOfCode("91.01.01-014"));
        QCOMPARE(rates->cellText(rates->currentIndex().row(), 0), QString("91.01.01-014"));
        QCOMPARE(rates->cellText(rates->currentIndex().row(), 1), QString("1348,38").replace(',', QChar(talvira::dbctrls::userDecimalSeparator())));
        QCOMPARE(rates->cellText(rates->currentIndex().row(), 2), QString());
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
        // The size, the kind and the date whole under their titles ("Фа…ML", "10.12.… 13:05").
        QStyleOptionViewItem option;
        option.initFrom(view);
        for (int c = 1; c < 4; ++c)
            for (int r = 0; r < 2; ++r) {
                const QModelIndex cell = view->model()->index(r, c, view->rootIndex());
                const int need = view->itemDelegateForIndex(cell)->sizeHint(option, cell).width();
                QVERIFY2(view->header()->sectionSize(c) >= need, qPrintable(cell.data().toString()));
            }
        files->hide();
    }

    void aBaseOfRatesWithTheirOwnPricesAsksNoWage() {
        // It asked for a wage the ФЕР file does not need, said «основная зарплата расценок
        // равна 0» of rates whose price holds it, marked every rate as lacking the prices of the
        // resources its price holds, and showed a machine's price under "Материалы".
        const fs::path fer = start / "ФЕР.xml";
        std::ofstream(fer, std::ios::binary)
            << "<base BaseType=\"ФЕР\"><ResourcesDirectory><ResourceCategory CodePrefix=\"ФЕР\">"
               "<Section Type=\"Сборник\" Code=\"11\" Name=\"Полы\"><Section Type=\"Таблица\" Code=\"11-01-011\" Name=\"Стяжки\">"
               "<NameGroup BeginName=\"Устройство стяжек:\"><Work Code=\"11-01-011-01\" EndName=\"цементных\" MeasureUnit=\"100 м2\">"
               "<Resources><Resource Code=\"1-100-30\" Quantity=\"39.51\"/><Resource Code=\"91.01.01-014\" Quantity=\"0.1\"/>"
               "<Resource Code=\"04.3.01.09-0015\" Quantity=\"2.04\"/>"
               "<AbstractResource Code=\"04.1.02.05\" Name=\"Смеси бетонные\" MeasureUnit=\"м3\" Quantity=\"1.02\"/></Resources>"
               "<Prices><Price Cost=\"1812.57\" Salary=\"370.83\" Machines=\"32.74\" SalaryMach=\"3.98\" Materials=\"1409\"/></Prices>"
               "</Work></NameGroup></Section></Section></ResourceCategory></ResourcesDirectory></base>";
        fs::copy_file(official / "FSBC_Mash.xml", start / "FSBC_Mash.xml");
        NormBaseImport* imp = Form1->Import;
        QSignalSpy finished(imp, &NormBaseImport::finished);
        QFileDialog* files = imp->fileDialog();
        files->setDirectory(QString::fromStdString(start.path().string()));
        bool wageAsked = false;
        QTimer watch;  // answers the question, should it come
        connect(&watch, &QTimer::timeout, this, [&] {
            if (QApplication::activeModalWidget() != imp->wageDialog()) return;
            wageAsked = true;
            imp->wageDialog()->reject();
        });
        watch.start(10);
        whenShown(files, [&] {
            files->findChild<QLineEdit*>("fileNameEdit")->setText("\"ФЕР.xml\" \"FSBC_Mash.xml\"");
            static_cast<QDialog*>(files)->accept();
        });
        imp->ImportAction->trigger();
        QVERIFY(finished.wait(120000));
        QVERIFY(!wageAsked);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
        const QString report = imp->reportBox()->text();
        QVERIFY2(report.contains("Основная зарплата расценок взята из их цен в файлах") && !report.contains("равна 0"),
                 qPrintable(report));

        const int book = int(collections().indexOf("ФЕР 11. Полы"));
        QVERIFY(book >= 0);
        Form1->Base.Table7.moveTo(book);
        Form1->Base.Table6.last();  // the table of the rate
        QCOMPARE(Form1->DBGrid2->cellText(0, 0), QString("ФЕР11-01-011-01"));
        QCOMPARE(Form1->unpricedOfRow(0), size_t(1));  // the concrete, left out of the price
        // Of its lines only the concrete's is marked (white on its red), not the material the
        // price holds, nor the priced machine, whose price stands under "Всего" alone.
        DBGrid* lines = Form1->DBGrid3;
        QCOMPARE(lines->model()->rowCount(), 4);
        lines->setCurrentIndex(lines->model()->index(0, 0));
        lines->scrollTo(lines->model()->index(3, 0));
        const QImage img = lines->viewport()->grab().toImage();
        auto corner = [&](int row) {
            const QRect r = lines->visualRect(lines->model()->index(row, 0));
            return img.pixelColor(r.left() + 1, r.top() + 1);
        };
        QCOMPARE(corner(3), QColor(255, 255, 255));
        QCOMPARE(corner(2), QColor(255, 255, 225));
        for (int row = 0; row < 4; ++row) QCOMPARE(Form1->unpricedLine(row), row == 3);
        Form1->Base.Table3.moveTo(1);
        QCOMPARE(Form1->DBGrid4->cellText(0, 0), QString("91.01.01-014"));
        QCOMPARE(Form1->DBGrid4->cellText(0, 2), QString("1348,38").replace(',', QChar(talvira::dbctrls::userDecimalSeparator())));
        QCOMPARE(Form1->DBGrid4->cellText(0, 3), QString());
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
