// The program's frame: the four windows, the main window's layout, menu, toolbar, commands and
// tab order, the default error box, start-up without a norm base, the about box, and the norm
// browser over the small real norm base (walking, the resource filter, the red cell painting).
#include "app/Application.h"
#include "common/Error.h"
#include "app/ErrorBox.h"
#include "app/RateSearchBox.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit7.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBMemo.h"
#include "dbctrls/DBText.h"
#include "dbctrls/FieldText.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "tests/app/CaptionFit.h"
#include "tests/app/FixtureStart.h"
#include "tests/dbctrls/PaintedText.h"
#include "storage/Warnings.h"
#include "tests/support/TestPaths.h"

#include <QAction>
#include <QHeaderView>
#include <QCheckBox>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QToolBar>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QListView>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

#include <filesystem>
#include <thread>

using talvira::dbctrls::DBGrid;
using talvira::storage::Value;
namespace fs = std::filesystem;
using talvira::test::fixtureStartDir;

namespace {

/** Makes the row of `grid` whose `field` reads `value` current, as a click would. */
bool selectRow(DBGrid* grid, const char* field, int64_t value) {
    for (int r = 0; r < grid->model()->rowCount(); ++r) {
        if (grid->rowValue(r, field).asInteger() == value) {
            int col = 0;
            while (grid->isColumnHidden(col)) ++col;
            grid->setCurrentIndex(grid->model()->index(r, col));
            return grid->table()->recNo() == r;
        }
    }
    return false;
}

bool isWhitish(QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }

}  // namespace

class AppTest : public QObject {
    Q_OBJECT

    QStringList boxes;
    // The start as the program makes it: what stood when the main window was shown, and when the
    // work that follows the start (opening a file named on the command line) ran.
    bool othersMadeWhenShown = true;
    bool othersMadeForWhatFollows = false;

private slots:
    void initTestCase() {
        QVERIFY2(talvira::test::startOnFixtureBase(boxes, true,
                                                   [this] { othersMadeForWhatFollows = Form2 && OKRightDlg && AboutBox; }),
                 "the normbase-pxlib fixture is missing");
        othersMadeWhenShown = Form1->isVisible() && Form2;
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        QTRY_VERIFY(Form2 && AboutBox);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
        if (qEnvironmentVariableIsSet("TALVIRA_SHOT")) Form1->grab().save(qEnvironmentVariable("TALVIRA_SHOT"));
    }
    void cleanupTestCase() { talvira::test::stopWindows(); }
    void init() { boxes.clear(); }

    // ---- frame ------------------------------------------------------------------------------

    void fourWindowsMainOneShown() {
        QCOMPARE(QApplication::applicationName(), QString("Talvira"));
        // The main window is on the screen before the other three are built; they exist, tied to
        // it, before the event loop gives it any input or runs what follows the start.
        QVERIFY(!othersMadeWhenShown);
        QVERIFY(othersMadeForWhatFollows);
        QVERIFY(Form1 && Form2 && OKRightDlg && AboutBox);
        QVERIFY(!Form1->menuBar()->isNativeMenuBar());  // the menus stay in the window
        QCOMPARE(Form1->windowTitle(), QString("Тальвира 1.0"));
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form2->isVisible());
        QVERIFY(!OKRightDlg->isVisible());
        QVERIFY(!AboutBox->isVisible());
        QCOMPARE(Form1->centralWidget()->size(), QSize(706, 515));
        QCOMPARE(Form1->pos(), QPoint(45, 9));
        QCOMPARE(StartDir, QString::fromStdString(fixtureStartDir().string()));
        QCOMPARE(Form1->font().pixelSize(), 11);
        QCOMPARE(QFontInfo(Form1->font()).family(), QString("Liberation Sans"));
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::newRow("ToolBar1") << "ToolBar1" << QRect(0, 0, 706, 29);
        QTest::newRow("DBGrid6") << "DBGrid6" << QRect(8, 32, 349, 184);
        QTest::newRow("DBGrid5") << "DBGrid5" << QRect(360, 32, 337, 184);
        QTest::newRow("DBGrid2") << "DBGrid2" << QRect(8, 219, 534, 150);
        QTest::newRow("DBMemo1") << "DBMemo1" << QRect(544, 219, 153, 121);
        QTest::newRow("DBText1") << "DBText1" << QRect(547, 344, 150, 25);
        QTest::newRow("Bevel2") << "Bevel2" << QRect(8, 371, 534, 118);
        QTest::newRow("DBMemo2") << "DBMemo2" << QRect(16, 383, 205, 66);
        QTest::newRow("DBGrid3") << "DBGrid3" << QRect(224, 383, 85, 66);
        QTest::newRow("DBGrid4") << "DBGrid4" << QRect(312, 384, 225, 65);
        QTest::newRow("DBText2") << "DBText2" << QRect(221, 450, 121, 36);
        QTest::newRow("Bevel3") << "Bevel3" << QRect(352, 453, 185, 32);
        QTest::newRow("CheckBox1") << "CheckBox1" << QRect(360, 455, 169, 26);
        QTest::newRow("Bevel1") << "Bevel1" << QRect(544, 371, 153, 118);
        QTest::newRow("NewButton") << "NewButton" << QRect(552, 375, 137, 25);
        QTest::newRow("OpenButton") << "OpenButton" << QRect(552, 403, 137, 25);
        QTest::newRow("AddButton") << "AddButton" << QRect(552, 431, 137, 25);
        QTest::newRow("ViewButton") << "ViewButton" << QRect(552, 459, 137, 25);
        QTest::newRow("StatusBar1") << "StatusBar1" << QRect(0, 496, 706, 19);
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        auto* w = Form1->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), place);
    }

    void labelsAndColours() {
        QCOMPARE(Form1->PathLabel->pos(), QPoint(16, 456));
        QCOMPARE(Form1->NameLabel->pos(), QPoint(16, 472));
        QCOMPARE(Form1->PathLabel->text(), QString());
        // A long path on the labels must not take the check box's clicks.
        QCOMPARE(Form1->centralWidget()->childAt(Form1->CheckBox1->geometry().center()),
                 static_cast<QWidget*>(Form1->CheckBox1));
        QCOMPARE(Form1->NameLabel->text(), QString());
        QCOMPARE(Form1->DBGrid6->palette().color(QPalette::Base), QColor(166, 202, 240));
        QCOMPARE(Form1->DBGrid5->palette().color(QPalette::Base), QColor(166, 202, 240));
        QCOMPARE(Form1->DBGrid2->palette().color(QPalette::Base), QColor(255, 251, 240));
        QCOMPARE(Form1->DBMemo1->palette().color(QPalette::Base), QColor(255, 251, 240));
        QCOMPARE(Form1->DBGrid3->palette().color(QPalette::Base), QColor(255, 255, 225));
        QCOMPARE(Form1->DBGrid4->palette().color(QPalette::Base), QColor(255, 255, 225));
        QCOMPARE(Form1->DBMemo2->palette().color(QPalette::Base), QColor(255, 255, 225));
        QCOMPARE(Form1->CheckBox1->text(), QString("Скрывать учтенные материалы и ресурсы"));
        QCOMPARE(Form1->CheckBox1->toolTip(), QString("Показывать только неучтенные"));
        QVERIFY(!Form1->CheckBox1->isChecked());
        QVERIFY(Form1->StatusBar1->currentMessage().isEmpty());
    }

    void gridColumns() {
        auto titles = [](DBGrid* g) {
            QStringList t;
            for (int c = 0; c < g->model()->columnCount(); ++c)
                if (!g->isColumnHidden(c)) t << g->model()->headerData(c, Qt::Horizontal).toString();
            return t;
        };
        QCOMPARE(titles(Form1->DBGrid6), QStringList{"Наименования сборников"});
        QCOMPARE(titles(Form1->DBGrid5), QStringList{"Наименования разделов и таблиц"});
        QCOMPARE(titles(Form1->DBGrid2), (QStringList{"Шифр", "Всего", "Материалы", "Экспл. маш", "В тч з/п маш",
                                                      "Основн з/п", "Затр. труда"}));
        QCOMPARE(titles(Form1->DBGrid3), QStringList{"Кол-во"});
        QCOMPARE(titles(Form1->DBGrid4), (QStringList{"Шифр", "Всего", "Материалы"}));
        for (DBGrid* g : {Form1->DBGrid2, Form1->DBGrid4}) {  // every column in sight, none scrolled away
            const int last = g->model()->columnCount() - 1;
            QVERIFY2(g->columnViewportPosition(last) + g->columnWidth(last) <= g->viewport()->width(),
                     qPrintable(g->objectName() + QString(" %1 + %2 > %3").arg(g->columnViewportPosition(last)).arg(g->columnWidth(last)).arg(g->viewport()->width())));
        }
        QCOMPARE(Form1->DBGrid2->columnWidth(0), 70);
        QCOMPARE(Form1->DBGrid3->columnWidth(0), 80);
        QCOMPARE(Form1->DBGrid4->columnWidth(0), 80);
        auto font = [](DBGrid* g, int c) { return g->model()->headerData(c, Qt::Horizontal, Qt::FontRole).value<QFont>(); };
        QVERIFY(font(Form1->DBGrid6, 0).bold() && font(Form1->DBGrid6, 0).underline());
        QVERIFY(font(Form1->DBGrid2, 0).bold() && !font(Form1->DBGrid2, 0).underline());
        QVERIFY(font(Form1->DBGrid3, 0).bold());
        QVERIFY(Form1->DBGrid2->showGrid());
        QVERIFY(!Form1->DBGrid3->showGrid());
        QVERIFY(Form1->DBGrid2->tabKeyNavigation());
        QVERIFY(!Form1->DBGrid6->tabKeyNavigation());
        QVERIFY(Form1->DBGrid2->horizontalHeader()->sectionResizeMode(0) == QHeaderView::Interactive);
        QVERIFY(Form1->DBGrid6->horizontalHeader()->sectionResizeMode(0) == QHeaderView::Fixed);
        QVERIFY(!Form1->DBGrid2->verticalHeader()->isVisible());
        QCOMPARE(Form1->DBGrid2->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void menu_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("enabledAtStart");
        QTest::newRow("N2") << "N2" << "Созд&ать..." << QKeySequence("Ctrl+N") << true;
        QTest::newRow("N3") << "N3" << "&Открыть..." << QKeySequence("Ctrl+O") << true;
        QTest::newRow("N4") << "N4" << "В&ыход" << QKeySequence("Alt+F4") << true;
        QTest::newRow("N6") << "N6" << "П&равить смету" << QKeySequence("Ctrl+Ins") << false;
        QTest::newRow("N7") << "N7" << "&Добавить пункт в смету" << QKeySequence("Ins") << false;
        QTest::newRow("N9") << "N9" << "&О программе" << QKeySequence("Alt+F1") << true;
    }
    void menu() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, enabledAtStart);
        auto* a = Form1->findChild<QAction*>(name);
        QVERIFY(a);
        QCOMPARE(a->text(), text);
        QCOMPARE(a->shortcut(), shortcut);
        if (!Form1->AddButton->isEnabled()) QCOMPARE(a->isEnabled(), enabledAtStart);
    }

    void menuTitles() {
        QCOMPARE(Form1->N1->title(), QString("&Файл"));
        QCOMPARE(Form1->N5->title(), QString("&Правка"));
        QCOMPARE(Form1->N8->title(), QString("&Справка"));
        // After the estimate's items (the last opens an expertise file as a new estimate) the norm
        // base import between separators, then the summary estimate, and "Выход" ends the menu (it
        // stood after "Выход").
        QList<QAction*> file = Form1->N1->actions();
        QCOMPARE(file.size(), 9);
        QVERIFY(file[3]->isSeparator() && file[5]->isSeparator() && file[7]->isSeparator());
        QCOMPARE((QList<QAction*>{file[0], file[1], file[2], file[4], file[6], file[8]}),
                 (QList<QAction*>{Form1->N2, Form1->N3, Form1->findChild<QAction*>("NGge"),
                                  Form1->findChild<QAction*>("N11"), Form1->findChild<QAction*>("SummaryItem"),
                                  Form1->N4}));
        // The rate search adds "&Найти расценку..." after the two estimate commands.
        QCOMPARE(Form1->N5->actions(), (QList<QAction*>{Form1->N6, Form1->N7, Form1->findChild<QAction*>("N10")}));
    }

    void toolbarAndButtons() {
        QCOMPARE(Form1->ToolButton1->toolTip(), QString("Создать"));
        QCOMPARE(Form1->ToolButton2->toolTip(), QString("Открыть"));
        QCOMPARE(Form1->ToolButton3->toolTip(), QString("Добавить"));
        QCOMPARE(Form1->ToolButton4->toolTip(), QString("Править"));
        for (auto* b : {Form1->ToolButton1, Form1->ToolButton2, Form1->ToolButton3, Form1->ToolButton4})
            QCOMPARE(b->icon().pixmap(16, 16).size(), QSize(16, 16));
        QCOMPARE(Form1->NewButton->text(), QString("Создать"));
        QCOMPARE(Form1->OpenButton->text(), QString("Открыть"));
        QCOMPARE(Form1->AddButton->text(), QString("Добавить в смету"));
        QCOMPARE(Form1->ViewButton->text(), QString("Править смету"));
        QVERIFY(Form1->NewButton->isEnabled() && Form1->OpenButton->isEnabled());
        QVERIFY(Form1->ToolButton1->isEnabled() && Form1->ToolButton2->isEnabled());
    }

    void tabOrderAndFirstFocus() {
        const QList<QWidget*> expected{Form1->DBGrid2, Form1->DBMemo1,  Form1->DBGrid3,  Form1->DBGrid4,
                                       Form1->DBMemo2, Form1->DBGrid6,  Form1->DBGrid5,  Form1->CheckBox1,
                                       Form1->ViewButton, Form1->AddButton, Form1->OpenButton, Form1->NewButton};
        QList<QWidget*> chain;
        QWidget* w = Form1->DBGrid2;
        do {
            if (expected.contains(w)) chain << w;
            w = w->nextInFocusChain();
        } while (w != Form1->DBGrid2 && chain.size() < 20);
        QCOMPARE(chain, expected);
        QCOMPARE(Form1->focusWidget(), static_cast<QWidget*>(Form1->DBGrid2));
    }

    // ---- default error box -----------------------------------------------------------------

    void errorBoxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Таблица не найдена" << "Таблица не найдена.";
        QTest::newRow("digit") << "Ошибка 12" << "Ошибка 12.";
        QTest::newRow("apostrophe") << "'x' is not a valid floating point value" << "'x' is not a valid floating point value.";
        QTest::newRow("closing quote") << "Нет поля «KOLVO»" << "Нет поля «KOLVO».";
        QTest::newRow("point") << "Уже с точкой." << "Уже с точкой.";
        QTest::newRow("exclamation") << "Внимание!" << "Внимание!";
        QTest::newRow("bracket sorts before point") << "Ошибка (код 5)" << "Ошибка (код 5)";
        QTest::newRow("empty") << "" << "";
    }
    void errorBoxText() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(::errorBoxText(message), shown);
    }

    void guardedShowsTheErrorAndGoesOn() {
        int after = 0;
        guarded([] { throw talvira::Error("Таблица «X.DB» занята другой программой"); });
        after = 1;
        QCOMPARE(boxes, QStringList{"Таблица «X.DB» занята другой программой."});
        QCOMPARE(after, 1);
    }

    void anExceptionEscapingAnEventReachesTheErrorBox() {
        struct Thrower : QObject {
            bool event(QEvent* e) override {
                if (e->type() == QEvent::User) throw talvira::Error("Сбой в обработчике");
                return QObject::event(e);
            }
        } thrower;
        QEvent ev(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &ev);
        QCOMPARE(boxes, QStringList{"Сбой в обработчике."});
    }

    void resourcesWithoutAPriceAreMarkedAndTheAddNamesThem() {
        auto& search = Form1->SearchBox->search();
        auto rateColour = [&] {
            const auto* m = Form1->DBGrid2->model();
            return m->data(m->index(Form1->Base.Table2.recNo(), 0), Qt::ForegroundRole).value<QBrush>().color();
        };
        search.goTo(*search.rateOfCode("06-01-041-01"));  // a material without a price among its lines
        QCOMPARE(rateColour(), QColor(160, 0, 0));
        QCOMPARE(Form1->unpricedOfRow(Form1->Base.Table2.recNo()), size_t(1));
        search.goTo(*search.rateOfCode("01-01-001-01"));  // machines and labour, all priced
        QCOMPARE(Form1->unpricedOfRow(Form1->Base.Table2.recNo()), size_t(0));
        QVERIFY(rateColour() != QColor(160, 0, 0));
        Form1->Base.Table3.moveTo(1);  // a machine: its price stands under "Материалы"
        QCOMPARE(Form1->DBGrid4->cellText(0, 0), QString("060248"));
        QCOMPARE(Form1->DBGrid4->cellText(0, 2), QString("96,89").replace(',', QChar(talvira::dbctrls::userDecimalSeparator())));
        QCOMPARE(Form1->DBGrid4->cellText(0, 3), QString());  // no "Материалы" here
        auto marks = [] {
            const QRect cell = Form1->DBGrid4->visualRect(Form1->DBGrid4->model()->index(0, 2));
            int n = 0;
            for (const auto& t : talvira::test::paintedTexts(Form1->DBGrid4->viewport()))
                if (t.text == "маш.") n += cell.contains(t.box.center().toPoint()) ? 1 : 100;
            return n;
        };
        QCOMPARE(marks(), 1);  // the machine's price is marked as a machine's, and only there
        Form1->Base.Table3.moveTo(0);  // labour: no record of its own, no mark
        QCOMPARE(marks(), 0);

        talvira::test::TempDir dir("talvira-unpriced");
        {
            talvira::storage::TableHandle t;
            talvira::estimate::bindEstimate(t, dir.path().string(), "Цены");
            talvira::estimate::createAndOpen(t);
        }
        talvira::estimate::bindForOpening(Form2->SmetaTable, dir.path().string(), "Цены.db");
        Form2->SmetaTable.open();
        QStringList warned;
        setWarningBoxHook([&](const QString& w) { warned << w; });
        search.goTo(*search.rateOfCode("06-01-041-01"));
        Form1->AddButtonClick();
        QCOMPARE(Form2->SmetaTable.recordCount(), 3);  // the rate and its two unaccounted lines, as ever
        QCOMPARE(warned.size(), 1);
        QVERIFY2(warned[0].contains("«06-01-041-01»") && warned[0].contains("401-9999"), qPrintable(warned[0]));
        search.goTo(*search.rateOfCode("01-01-001-01"));
        Form1->AddButtonClick();
        QCOMPARE(warned.size(), 1);  // nothing to say of a rate whose resources are priced
        setWarningBoxHook({});
        Form2->SmetaTable.close();
        Form1->Base.Table7.first();
    }

    void storageWarningsAreShownOncePerActionInAModalBoxOfTheirOwn() {
        QStringList warned;
        setWarningBoxHook([&](const QString& w) { warned << w; });
        talvira::storage::warn("Таблица «A.DB», поле «TAB»: текст длиннее 50 символов обрезан");
        talvira::storage::warn("Таблица «A.DB», поле «TAB»: текст длиннее 50 символов обрезан");
        talvira::storage::warn("Файл мемо-полей таблицы «B.DB» не найден");
        QCOMPARE(warned.size(), 2);
        QCoreApplication::processEvents();  // the next action shows the same text again
        talvira::storage::warn("Файл мемо-полей таблицы «B.DB» не найден");
        QCOMPARE(warned.size(), 3);
        // A worker's warning (the import writes tables on its own thread) reaches the box
        // through the window thread.
        std::thread([] { talvira::storage::warn("предупреждение потока"); }).join();
        QCOMPARE(warned.size(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(warned.value(3), QStringLiteral("предупреждение потока"));
        setWarningBoxHook({});
        QCoreApplication::processEvents();

        // The box itself: modal and with the keyboard (it had neither: Enter went to the window
        // behind), the action's texts gathered.
        auto shownBoxes = [] {
            QList<QMessageBox*> shown;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) shown << b;
            return shown;
        };
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        talvira::storage::warn("первое предупреждение");
        talvira::storage::warn("второе предупреждение");
        QCOMPARE(shownBoxes().size(), 1);
        QPointer<QMessageBox> box = shownBoxes().first();
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QCOMPARE(box->text(), QStringLiteral("первое предупреждение\nвторое предупреждение"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Тальвира 1.0"));  // the window it concerns; it said "Talvira"
        QVERIFY(boxes.isEmpty());  // not the error box
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(box.data()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!box || !box->isVisible());
        // Each later action a box of its own, not a text added to a box still open.
        QCoreApplication::processEvents();
        talvira::storage::warn("первое предупреждение");
        QCoreApplication::processEvents();
        talvira::storage::warn("третье предупреждение");
        const QList<QMessageBox*> two = shownBoxes();
        QCOMPARE(two.size(), 2);
        QStringList texts{two[0]->text(), two[1]->text()};
        texts.sort();
        QCOMPARE(texts, (QStringList{"первое предупреждение", "третье предупреждение"}));
        for (QMessageBox* b : two) b->close();
        QCoreApplication::processEvents();
    }

    void theReplaceQuestionIsCaptionedWithItsCommand() {
        // Every box said "Talvira"; the default error box alone keeps the program's name.
        QString caption;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            caption = box->windowTitle();
            box->reject();
        });
        QVERIFY(!OKRightDlg->confirmReplace("Смета «Дом» уже есть. Заменить её?"));
        QCOMPARE(caption, QStringLiteral("Создание сметы"));
    }

    // ---- start without a norm base ---------------------------------------------------------

    void startWithoutBaseShowsTheErrorThenTheWindow() {
        talvira::test::TempDir empty("talvira-nobase");
        const QString saved = QDir::currentPath();
        const QString savedStart = StartDir;
        QDir::setCurrent(QString::fromStdString(empty.path().string()));
        {
            TForm1 w;
            QCOMPARE(boxes.size(), 1);
            QVERIFY(!boxes.first().isEmpty());
            QVERIFY(boxes.first().endsWith('.'));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            for (DBGrid* g : {w.DBGrid6, w.DBGrid5, w.DBGrid2, w.DBGrid3, w.DBGrid4}) QCOMPARE(g->model()->rowCount(), 0);
            QVERIFY(w.DBMemo1->toPlainText().isEmpty());
            QVERIFY(w.DBText1->text().isEmpty());
            for (int i = 1; i <= 9; ++i) QVERIFY(!w.Base.table(i).active());
        }
        QDir::setCurrent(saved);
        StartDir = savedStart;
    }

    void aLongStartDirectoryIsReadWhole() {
        talvira::test::TempDir root("talvira-long");
        fs::path deep = root.path();
        while (deep.string().size() <= 300) deep /= "каталог-с-длинным-именем";
        fs::create_directories(deep);
        const QString saved = QDir::currentPath();
        const QString savedStart = StartDir;
        QDir::setCurrent(QString::fromStdString(deep.string()));
        {
            TForm1 w;
            QCOMPARE(StartDir, QString::fromStdString(deep.string()));
            QCOMPARE(w.Base.Table1.databaseName(), deep.string() + "/Base");
        }
        QDir::setCurrent(saved);
        StartDir = savedStart;
    }

    // ---- about box -------------------------------------------------------------------------

    void aboutBoxIsOneWindow() {
        Form1->N9->trigger();
        QVERIFY(AboutBox->isVisible());
        QWidget* first = QApplication::topLevelWidgets().contains(AboutBox) ? AboutBox : nullptr;
        const int windows = QApplication::topLevelWidgets().size();
        Form1->N9->trigger();
        QVERIFY(AboutBox->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QCOMPARE(static_cast<QWidget*>(AboutBox), first);
        QVERIFY(!AboutBox->isModal());
        QCOMPARE(AboutBox->windowTitle(), QString("О программе Тальвира"));
        QCOMPARE(AboutBox->size(), QSize(408, 162));
        QCOMPARE(AboutBox->OKButton->text(), QString("OK"));
        QVERIFY(AboutBox->OKButton->isDefault());
        QTest::mouseClick(AboutBox->OKButton, Qt::LeftButton);
        QVERIFY(!AboutBox->isVisible());
    }

    // ---- norm browser ----------------------------------------------------------------------

    void browserStartsOnTheFirstRecords() {
        QCOMPARE(Form1->DBGrid6->model()->rowCount(), 7);
        QCOMPARE(Form1->Base.Table7.fieldValue("ID").asInteger(), 1);
        QCOMPARE(Form1->Base.Table6.fieldValue("ID").asInteger(), 101);
        QCOMPARE(Form1->DBGrid2->model()->rowCount(), 0);  // a section holds no rates
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 0);
        QCOMPARE(Form1->DBGrid6->currentIndex().row(), 0);
    }

    void walkingFollowsTheChain() {
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 1));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 103));
        QCOMPARE(Form1->DBGrid2->model()->rowCount(), 3);
        QCOMPARE(Form1->DBGrid2->cellText(0, 0), QString("01-01-003-02"));  // ID order, not code order
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 1006));
        QCOMPARE(Form1->DBMemo1->toPlainText(),
                 QString("Разработка грунта в отвал экскаваторами «драглайн» или «обратная лопата» с ковшом "
                         "вместимостью 0,5 (0,5-0,63) м3, группа грунтов 1"));
        QCOMPARE(Form1->DBText1->text(), QString("1000 м3 грунта"));
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 2);
        QVERIFY(selectRow(Form1->DBGrid3, "ID", 100602));
        QCOMPARE(Form1->DBGrid4->model()->rowCount(), 1);
        QCOMPARE(Form1->DBGrid4->cellText(0, 0), QString("060248"));
        QCOMPARE(Form1->DBText2->text(), QString("маш.-ч"));
        QVERIFY(Form1->DBMemo2->toPlainText().startsWith("Экскаваторы одноковшовые"));
        // A rate without resource lines empties the lines and everything below them.
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 106));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 1010));
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 0);
        QCOMPARE(Form1->DBGrid4->model()->rowCount(), 0);
        QVERIFY(Form1->DBMemo2->toPlainText().isEmpty());
        // A rate whose name record is missing shows no name.
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 1011));
        QVERIFY(Form1->DBMemo1->toPlainText().isEmpty());
        // A collection without contents entries.
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 46));
        QCOMPARE(Form1->DBGrid5->model()->rowCount(), 0);
        QCOMPARE(Form1->DBGrid2->model()->rowCount(), 0);
    }

    void resourceFilter_data() {
        QTest::addColumn<int>("collection");
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("allLines");
        QTest::addColumn<int>("unaccountedLines");
        QTest::newRow("all lines unaccounted") << 6 << 602 << 6001 << 2 << 2;
        QTest::newRow("only the second of three") << 6 << 603 << 6005 << 3 << 1;
        QTest::newRow("VIDNR 1, 2 and 0") << 6 << 603 << 6006 << 3 << 1;
        QTest::newRow("no unaccounted line") << 1 << 104 << 1001 << 3 << 0;
        QTest::newRow("no line at all") << 1 << 106 << 1010 << 0 << 0;
    }
    void resourceFilter() {
        QFETCH(int, collection);
        QFETCH(int, entry);
        QFETCH(int, rate);
        QFETCH(int, allLines);
        QFETCH(int, unaccountedLines);
        QVERIFY(selectRow(Form1->DBGrid6, "ID", collection));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", entry));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", rate));
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), allLines);
        Form1->CheckBox1->setChecked(true);
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), unaccountedLines);
        for (int r = 0; r < unaccountedLines; ++r) QCOMPARE(Form1->DBGrid3->rowValue(r, "VIDNR").asInteger(), 1);
        if (unaccountedLines > 0) QCOMPARE(Form1->DBGrid3->currentIndex().row(), 0);
        Form1->CheckBox1->setChecked(false);
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), allLines);
        QVERIFY(boxes.isEmpty());
    }

    void filterStaysWhileWalkingAndUncheckingListsTheRateNowCurrent() {
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 6));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 603));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 6005));
        Form1->CheckBox1->setChecked(true);
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 1);
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 604));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 6041));
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 2);  // still filtered: 604101, 604102
        Form1->CheckBox1->setChecked(false);
        QCOMPARE(Form1->DBGrid3->model()->rowCount(), 4);
        QCOMPARE(Form1->DBGrid3->rowValue(0, "ID").asInteger(), 604101);
        QCOMPARE(Form1->DBGrid3->currentIndex().row(), 0);
    }

    void unaccountedLinesArePaintedWhiteOnRed() {
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 6));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 603));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 6005));  // lines: VIDNR 0, 1, empty
        DBGrid* g = Form1->DBGrid3;
        QCOMPARE(g->model()->rowCount(), 3);
        const QColor red(255, 0, 0), infoBk(255, 255, 225);
        const QColor highlight = g->palette().color(QPalette::Active, QPalette::Highlight);
        auto image = [&] { return g->viewport()->grab().toImage(); };
        auto corner = [&](const QImage& img, int row) {
            const QRect r = g->visualRect(g->model()->index(row, 0));
            return img.pixelColor(r.left() + 1, r.top() + 1);
        };
        auto hasWhiteText = [&](const QImage& img, int row) {
            const QRect r = g->visualRect(g->model()->index(row, 0)).intersected(img.rect());
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    if (isWhitish(img.pixelColor(x, y))) return true;
            return false;
        };
        g->setCurrentIndex(g->model()->index(0, 0));
        QImage img = image();
        QCOMPARE(corner(img, 0), highlight);  // current row: highlight colours
        QCOMPARE(corner(img, 1), red);        // VIDNR 1
        QVERIFY(hasWhiteText(img, 1));
        QCOMPARE(corner(img, 2), infoBk);     // empty VIDNR: drawn plainly
        // The unaccounted line is drawn in highlight colours while it is current, red once
        // another row becomes current.
        g->setCurrentIndex(g->model()->index(1, 0));
        img = image();
        QCOMPARE(corner(img, 1), highlight);
        QCOMPARE(corner(img, 0), infoBk);
        g->setCurrentIndex(g->model()->index(2, 0));
        img = image();
        QCOMPARE(corner(img, 1), red);
    }

    void resourceQuantitiesStayWholeBesideTheScrollBar() {
        // Before, the 80-pixel "Кол-во" column slid under the scroll bar as soon as a rate had
        // three lines or more, and the quantities lost their last digits without a mark.
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 6));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 604));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 6041));
        DBGrid* g = Form1->DBGrid3;
        QCOMPARE(g->model()->rowCount(), 4);
        QCOMPARE(g->geometry(), QRect(224, 383, 85, 66));
        QCOMPARE(g->columnWidth(0), 80);
        QTRY_VERIFY2(g->verticalScrollBar()->isVisible(), qPrintable(QString("rows %1 high in %2").arg(g->rowHeight(0)).arg(g->viewport()->height())));
        QVERIFY2(g->columnViewportPosition(0) + g->columnWidth(0) <= g->viewport()->width(),
                 qPrintable(QString("the viewport is %1 wide").arg(g->viewport()->width())));
        g->setCurrentIndex(g->model()->index(3, 0));  // the unaccounted lines in red as well
        QStringList values;
        for (int r = 0; r < g->model()->rowCount(); ++r) values << g->cellText(r, 0);
        int shown = 0;
        for (const auto& t : talvira::test::paintedTexts(g->viewport())) {
            QVERIFY2(values.contains(t.text), qPrintable(t.text + " is none of " + values.join(' ')));
            QVERIFY2(t.box.left() >= 0 && t.box.right() <= g->viewport()->width(), qPrintable(t.text));
            ++shown;
        }
        QVERIFY(shown >= 3);
    }

    void longNamesAreElidedWithTheirWholeTextAsTooltip() {
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 1));
        DBGrid* g = Form1->DBGrid5;
        int row = -1;
        for (int r = 0; r < g->model()->rowCount(); ++r)
            if (g->rowValue(r, "ID").asInteger() == 103) row = r;
        QVERIFY(row >= 0);
        const QString whole = g->cellText(row, 0);
        const QRect cell = g->visibleCellRect(row, 0);
        QString painted;
        for (const auto& t : talvira::test::paintedTexts(g->viewport()))
            if (cell.contains(t.box.center().toPoint())) painted = t.text;
        QVERIFY2(painted.endsWith(QChar(talvira::dbctrls::kElisionMark)), qPrintable(painted));
        QVERIFY(whole.startsWith(painted.chopped(1)));
        QHelpEvent help(QEvent::ToolTip, cell.center(), g->viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(g->viewport(), &help);
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), whole);
        QToolTip::hideText();
    }

    void tabLeavesTheRatesAndTheLinesGrids() {
        // Before, Tab wrapped round inside these grids: the buttons were never reached.
        QVERIFY(selectRow(Form1->DBGrid6, "ID", 6));
        QVERIFY(selectRow(Form1->DBGrid5, "ID", 603));
        QVERIFY(selectRow(Form1->DBGrid2, "ID", 6005));
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        auto lastVisibleColumn = [](DBGrid* g) {
            int last = 0;
            for (int c = 0; c < g->model()->columnCount(); ++c)
                if (!g->isColumnHidden(c)) last = c;
            return last;
        };
        struct Case {
            DBGrid* grid;
            QWidget* next;
            QWidget* previous;
        };
        for (const Case& c : {Case{Form1->DBGrid2, Form1->DBMemo1, Form1->NewButton},
                              Case{Form1->DBGrid3, Form1->DBGrid4, Form1->DBMemo1}}) {
            DBGrid* g = c.grid;
            g->setFocus(Qt::TabFocusReason);
            const int rows = g->model()->rowCount();
            QVERIFY(rows >= 2);
            g->setCurrentIndex(g->model()->index(rows - 1, lastVisibleColumn(g)));
            QTest::keyClick(g, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), c.next);
            g->setFocus(Qt::TabFocusReason);
            int first = 0;
            while (g->isColumnHidden(first)) ++first;
            g->setCurrentIndex(g->model()->index(0, first));
            QTest::keyClick(g, Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), c.previous);
        }
    }

    void captionsAndTitlesAreWhole() {
        const QStringList cut = talvira::test::cutCaptions(Form1);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
    }

    void qtsOwnTextsAreRussian() {
        // Before, the open dialog, the edit menus and Yes/No spoke English.
        TOpenDialog dlg;
        auto* box = dlg.findChild<QDialogButtonBox*>();
        QVERIFY(box);
        QCOMPARE(box->button(QDialogButtonBox::Cancel)->text(), QString("Отмена"));
        auto* label = dlg.findChild<QLabel*>("fileNameLabel");
        QVERIFY(label);
        QVERIFY2(label->text().contains(QString("Имя")), qPrintable(label->text()));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), QString("&Отменить действие"));
        QMessageBox question(QMessageBox::Question, "Talvira", "?", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.button(QMessageBox::Yes)->text().remove('&'), QString("Да"));
        QCOMPARE(question.button(QMessageBox::No)->text().remove('&'), QString("Нет"));
    }

    void theOpenDialogsCompletionListGoesWithIt() {
        // Before, the completion list of the file name stayed over the main window after the
        // dialog had closed and took its keys.
        talvira::test::TempDir dir("talvira-complete");
        const std::string d = dir.path().string();
        for (const char* name : {"Dom", "Dacha", "Dok"}) {
            talvira::storage::TableHandle t;
            talvira::estimate::bindEstimate(t, d, name);
            talvira::estimate::createAndOpen(t);
        }
        TOpenDialog* dlg = Form1->openDialog();
        QCompleter* completer = nullptr;
        for (QCompleter* c : dlg->findChildren<QCompleter*>()) completer = c;
        QVERIFY(completer);
        auto* files = dlg->findChild<QFileSystemModel*>();
        QVERIFY(files);
        const QString folder = QString::fromStdString(d);
        for (int round = 0; round < 2; ++round) {
            dlg->setDirectory(round ? QDir::tempPath() : folder);
            bool sawPopup = false;
            QTimer::singleShot(0, dlg, [&] {
                auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit");
                edit->setFocus();
                dlg->setDirectory(folder);
                // First typed into the folder loaded, so that the list pops up ("Dom", "Dok");
                // then while it is still loading, so that a list may come after the dialog.
                if (round == 0 && !QTest::qWaitFor([&] { return files->rowCount(files->index(folder)) == 3; }, 20000)) {
                    dlg->reject();
                    return;
                }
                QTest::keyClicks(edit, QString("Do"));
                sawPopup = completer->popup()->isVisible();
                if (round == 0) {
                    completer->popup()->hide();  // Enter goes to the dialog itself
                    QTest::keyClick(edit, 'm');
                    edit->setText("Dom");
                    QTest::keyClick(edit, Qt::Key_Return);
                } else {
                    QTest::keyClick(edit, 'm');  // a new list may be on its way when Enter comes
                    dlg->accept();
                }
            });
            Form1->OpenButton->click();
            QVERIFY(!dlg->isVisible());
            if (round == 0) QVERIFY2(sawPopup, "the completion list was never shown");
            // A list still on its way pops up once the folder has loaded whole, and goes at once.
            QTRY_COMPARE(files->rowCount(files->index(folder)), 3);
            QCoreApplication::processEvents();
            QVERIFY(!completer->popup()->isVisible());
            QVERIFY(!QApplication::activePopupWidget());
        }
        Form2->SmetaTable.close();
        boxes.clear();
    }

    // ---- estimate commands -----------------------------------------------------------------

    void openDialogIsConfigured() {
        TOpenDialog* d = Form1->openDialog();
        QCOMPARE(d->windowTitle(), QString("Открытие сметы"));
        QCOMPARE(d->nameFilters(), QStringList{"Файлы баз данных (*.db)"});
        QCOMPARE(d->defaultSuffix(), QString("db"));
        QVERIFY(d->testOption(QFileDialog::DontUseNativeDialog));
        QVERIFY(d->isSizeGripEnabled());
        QCOMPARE(d->fileMode(), QFileDialog::AnyFile);
        QCOMPARE(d->parent(), static_cast<QObject*>(Form1));
    }

    void openDialogListsDbFilesWhateverTheCase() {
        talvira::test::TempDir dir("talvira-list");
        for (const char* name : {"A.DB", "b.db", "c.Db", "d.txt", "e.dbf"})
            QFile(QString::fromStdString((dir.path() / name).string())).open(QIODevice::WriteOnly);
        TOpenDialog dlg;
        auto* fsModel = dlg.findChild<QFileSystemModel*>();
        QVERIFY(fsModel);
        const QString path = QString::fromStdString(dir.path().string());
        dlg.setDirectory(path);
        dlg.show();
        QTRY_COMPARE(fsModel->rowCount(fsModel->index(path)), 3);  // the others are filtered out
        QStringList listed;
        const QModelIndex parent = fsModel->index(path);
        for (int r = 0; r < fsModel->rowCount(parent); ++r) {
            const QModelIndex i = fsModel->index(r, 0, parent);
            // Files that the filter refuses are either hidden or disabled.
            if (fsModel->flags(i) & Qt::ItemIsEnabled) {
                auto* proxy = dlg.findChild<QSortFilterProxyModel*>();
                if (!proxy || proxy->mapFromSource(i).isValid()) listed << i.data().toString();
            }
        }
        listed.sort();
        QCOMPARE(listed, (QStringList{"A.DB", "b.db", "c.Db"}));
        // In Russian whatever the locale (it said "KiB", "Folder"), its column titles whole.
        auto* view = dlg.findChild<QTreeView*>("treeView");
        const QModelIndex a = view->model()->index(0, 0, view->rootIndex());
        QCOMPARE(a.siblingAtColumn(1).data().toString() + a.siblingAtColumn(2).data().toString(), QString("0 байтФайл DB"));
        for (int c = 0; c < 4; ++c)
            QVERIFY(view->header()->sectionSize(c) > view->header()->fontMetrics().horizontalAdvance(view->model()->headerData(c, Qt::Horizontal).toString()) + 8);
        dlg.hide();
    }

    void openingANormBaseTableFailsAtBindingButTheStepsStand() {
        const QString rabmat = QString::fromStdString((fixtureStartDir() / "Base" / "RABMAT.DB").string());
        Form1->openDialog()->onCanClose(rabmat);  // as the dialog calls it on confirmation
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(Form1->NameLabel->text(), QString("RABMAT.DB"));
        QCOMPARE(Form1->PathLabel->text(), QString::fromStdString((fixtureStartDir() / "Base").string()));
        QVERIFY(!Form2->SmetaTable.active());
        for (QAction* a : {Form1->N6, Form1->N7}) QVERIFY(a->isEnabled());
        for (QWidget* w : std::initializer_list<QWidget*>{Form1->ToolButton3, Form1->ToolButton4, Form1->ViewButton,
                                                          Form1->AddButton})
            QVERIFY(w->isEnabled());
        // The window is titled only by an open that succeeds (before, it read Смета "RABMAT").
        QCOMPARE(Form2->windowTitle(), QString("Смета"));
        // Add on the closed estimate reports the engine's error and appends nothing.
        boxes.clear();
        Form1->AddButton->click();
        QCOMPARE(boxes.size(), 1);
    }

    void openThroughTheDialogThenTypeIntoTheEstimate() {
        talvira::test::TempDir dir("talvira-open");
        const std::string d = dir.path().string();
        {
            talvira::storage::TableHandle t;
            talvira::estimate::bindEstimate(t, d, "Дом");
            talvira::estimate::createAndOpen(t);
        }
        TOpenDialog* dlg = Form1->openDialog();
        dlg->setDirectory(QString::fromStdString(d));
        // Cancelling changes nothing.
        const QString pathBefore = Form1->PathLabel->text();
        QTimer::singleShot(0, dlg, [dlg] { dlg->reject(); });
        Form1->OpenButton->click();
        QCOMPARE(Form1->PathLabel->text(), pathBefore);
        // The name typed without its extension opens Дом.db.
        QTimer::singleShot(0, dlg, [dlg] {
            auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit");
            if (edit) edit->setText("Дом");
            dlg->accept();
        });
        Form1->OpenButton->click();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
        QVERIFY(!dlg->isVisible());
        QCOMPARE(Form1->NameLabel->text(), QString("Дом.db"));
        QCOMPARE(Form1->PathLabel->text(), QString::fromStdString(d));
        QVERIFY(Form2->SmetaTable.active());
        QCOMPARE(Form2->windowTitle(), QString("Смета \"Дом\""));

        // Typing into the estimate grid with real keys; the value is stored exactly.
        Form1->ViewButton->click();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        DBGrid* g = Form2->SmetaDBGrid;
        int kolvo = -1;
        for (int c = 0; c < static_cast<int>(g->columns().size()); ++c)
            if (g->columns()[static_cast<size_t>(c)].field == "KOLVO") kolvo = c;
        QVERIFY(kolvo >= 0);
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, kolvo));
        const QString typed = QString("2") + QChar(talvira::dbctrls::userDecimalSeparator()) + "15";
        auto send = [](QWidget* fallback, auto k) {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : fallback;
            QTest::keyClick(target, k);
            QCoreApplication::processEvents();
        };
        for (QChar c : typed) send(g, c.toLatin1());
        send(g, Qt::Key_Down);  // stores the new position and starts another one
        send(g, Qt::Key_Up);    // the blank one is dropped
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n")));
        Form2->SmetaTable.close();
        Form2->SmetaTable.open();
        QCOMPARE(Form2->SmetaTable.recordCount(), 1);
        QCOMPARE(Form2->SmetaTable.fieldValue("KOLVO"), Value::real(2.15));

        // Letters in a number cell are refused with the field named.
        g->setCurrentIndex(g->model()->index(0, kolvo));
        for (QChar c : QString("abc")) send(g, c.toLatin1());
        send(g, Qt::Key_Down);
        QCOMPARE(boxes, QStringList{"'abc' is not a valid floating point value for field 'KOLVO'"});
        send(g, Qt::Key_Escape);  // the cell editor
        send(g, Qt::Key_Escape);  // the record
        Form2->SmetaTable.close();
        Form2->SmetaTable.open();
        QCOMPARE(Form2->SmetaTable.fieldValue("KOLVO"), Value::real(2.15));
        Form2->hide();
        Form2->SmetaTable.close();
    }

    void quittingWithATypingThatCannotBeStoredKeepsTheProgram() {
        talvira::test::TempDir dir("talvira-quit");
        {
            talvira::storage::TableHandle t;
            talvira::estimate::bindEstimate(t, dir.path().string(), "Q");
            talvira::estimate::createAndOpen(t);
            t.append();
            t.setFieldValue("TAB", Value::string("01-01"));
            t.post();
        }
        talvira::estimate::bindForOpening(Form2->SmetaTable, dir.path().string(), "Q.db");
        Form2->SmetaTable.open();
        Form2->show();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        DBGrid* g = Form2->SmetaDBGrid;
        int kolvo = -1, tab = -1;
        for (int c = 0; c < static_cast<int>(g->columns().size()); ++c) {
            if (g->columns()[static_cast<size_t>(c)].field == "KOLVO") kolvo = c;
            if (g->columns()[static_cast<size_t>(c)].field == "TAB") tab = c;
        }
        g->setFocus();
        auto send = [g](auto k) {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : g;
            QTest::keyClick(target, k);
            QCoreApplication::processEvents();
        };
        g->setCurrentIndex(g->model()->index(0, tab));
        send('Z');
        send(Qt::Key_Return);  // TAB "Z" waits in the record, not yet stored
        g->setCurrentIndex(g->model()->index(0, kolvo));
        send('x');  // letters in the quantity, the cell still open
        {
            TForm1 w;
            w.setEstimate(&Form2->document());  // as createWindows() gives it the estimate
            w.show();
            QSignalSpy closed(&w, &TForm1::closed);
            boxes.clear();
            QVERIFY(!w.close());
            QCOMPARE(boxes, QStringList{"'x' is not a valid floating point value for field 'KOLVO'"});
            QCOMPARE(closed.count(), 0);
            QVERIFY(w.isVisible());
            QVERIFY(w.Base.Table1.active());
            // Corrected, the typing is stored and the program ends.
            QLineEdit* ed = nullptr;
            for (auto* e : g->viewport()->findChildren<QLineEdit*>())
                if (e->isVisible()) ed = e;
            QVERIFY(ed);  // the cell is open again with what was typed
            QCOMPARE(ed->text(), QString("x"));
            ed->setText("3");
            QVERIFY(w.close());
            QCOMPARE(closed.count(), 1);
        }
        Form2->SmetaTable.close();
        Form2->SmetaTable.open();
        QCOMPARE(Form2->SmetaTable.fieldValue("TAB"), Value::string("Z"));
        QCOMPARE(Form2->SmetaTable.fieldValue("KOLVO"), Value::real(3));
        Form2->SmetaTable.close();
        Form2->hide();
    }

    void viewShowsTheEstimateWindow() {
        Form1->ViewButton->click();
        QVERIFY(Form2->isVisible());
        Form2->hide();
    }

    void closingTheMainWindowEndsTheProgramAndClosesTheBase() {
        TForm1 w;
        QVERIFY(w.Base.Table9.active());
        w.show();
        Form2->show();
        QSignalSpy closed(&w, &TForm1::closed);
        w.N4->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w.isVisible());
        for (int i = 1; i <= 9; ++i) QVERIFY(!w.Base.table(i).active());
        Form2->hide();
    }

    void aLargerWindowGivesItsSpaceToTheRatesAndResourceGrids() {
        Form1->resize(Form1->size() + QSize(200, 120));
        for (const auto& [w, place] : {std::pair<QWidget*, QRect>{Form1->DBGrid2, {8, 219, 734, 210}}, {Form1->DBGrid4, {312, 444, 425, 125}},
                                       {Form1->DBGrid6, {8, 32, 349, 184}}, {Form1->ViewButton, {752, 579, 137, 25}}})
            QTRY_COMPARE(w->geometry(), place);
        Form1->SearchBox->placePanel();
        QCOMPARE(Form1->SearchBox->ResultsPanel->size(), QSize(860, 440));
        Form1->resize(Form1->size() - QSize(200, 120));
        QTRY_COMPARE(Form1->DBGrid2->geometry(), QRect(8, 219, 534, 150));  // the rest: layout()
    }

    void closingTheMainWindowEndsTheProgramWhateverIsShown_data() {
        QTest::addColumn<QString>("shown");
        for (const char* w : {"Form2", "TotalsForm", "AboutBox", "OKRightDlg"}) QTest::newRow(w) << w;
    }
    void closingTheMainWindowEndsTheProgramWhateverIsShown() {
        // Before, it often went on with a window shown, or none, holding the estimate's files.
        QFETCH(QString, shown);
        talvira::test::TempDir dir("talvira-end");
        talvira::estimate::bindEstimate(Form2->SmetaTable, dir.path().string(), "E");
        talvira::estimate::createAndOpen(Form2->SmetaTable);
        Form2->show();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == shown) w->show();
        struct HidingWindow : QWidget {  // as the estimate window: of the two, whichever was asked first stayed
            void closeEvent(QCloseEvent* e) override { hide(), e->ignore(); }
        } hiding;
        hiding.show();
        QTimer::singleShot(0, Form1, [] { Form1->close(); });
        QTimer::singleShot(5000, &hiding, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        std::error_code gone;  // the listing's own descriptor
        for (const auto& fd : fs::directory_iterator("/proc/self/fd"))
            QVERIFY(fs::read_symlink(fd, gone).string().find(dir.path().string()) == std::string::npos);
        Form1->FormCreate(), Form1->show();  // the next case starts again
    }
};

// The program's own application object, so that its notify() backstop is what the tests meet.
int main(int argc, char** argv) {
    Application app(argc, argv);
    AppTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "AppTest.moc"
