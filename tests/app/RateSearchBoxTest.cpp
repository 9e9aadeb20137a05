// The rate search in the main window over the pxlib-written fixture base: the field and the
// menu item, Ctrl+F, typing, the count, Enter, a double-click, the arrow keys and Escape.
#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/RateSearchBox.h"
#include "app/Unit1.h"
#include "dbctrls/DBGrid.h"
#include "tests/app/FixtureStart.h"
#include "tests/support/TestPaths.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

#include <filesystem>

namespace fs = std::filesystem;
using talvira::test::fixtureStartDir;

namespace {

int64_t idOf(talvira::storage::TableHandle& t) { return t.fieldValue("ID").asInteger(); }

/** Key presses carrying the characters of `text` (Cyrillic included), one by one. */
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
    QCoreApplication::processEvents();
}

}  // namespace

class RateSearchBoxTest : public QObject {
    Q_OBJECT

    QStringList boxes;
    RateSearchBox* box = nullptr;

    /** Types `text` into the field as the user would, after Ctrl+F from `from`. */
    void typeFrom(QWidget* from, const QString& text) {
        from->setFocus();
        QCoreApplication::processEvents();
        QTest::keyClick(Form1, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box->SearchEdit));
        typeText(box->SearchEdit, text);
        QCoreApplication::processEvents();
    }

    /** Back to the first collection, its first entry and rate; the field emptied. */
    void resetBrowser() {
        box->SearchEdit->clear();
        Form1->Base.Table7.first();
        Form1->DBGrid2->setFocus();
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() {
        QVERIFY2(talvira::test::startOnFixtureBase(boxes), "the normbase-pxlib fixture is missing");
        Form1->show();
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        box = Form1->SearchBox;
        QVERIFY(box);
    }
    void cleanupTestCase() { talvira::test::stopWindows(); }
    void init() {
        boxes.clear();
        resetBrowser();
    }
    void cleanup() { QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("\n"))); }

    void preparedInTheBackgroundAfterShowing() { QTRY_VERIFY_WITH_TIMEOUT(box->search().prepared(), 20000); }

    void fieldAndMenuItem() {
        QLineEdit* e = box->SearchEdit;
        QCOMPARE(e->placeholderText(), QString("Шифр или слова из названия"));
        QCOMPARE(e->parentWidget(), static_cast<QWidget*>(Form1->ToolBar1));
        // Reached by a click or Ctrl+F, never by Tab.
        QCOMPARE(e->focusPolicy(), Qt::ClickFocus);
        // At the right end of the toolbar, after the four buttons, which keep their places.
        QVERIFY(e->geometry().right() >= Form1->ToolBar1->width() - 16);
        int left = -1;
        for (QToolButton* b : {Form1->ToolButton1, Form1->ToolButton2, Form1->ToolButton3, Form1->ToolButton4}) {
            QVERIFY(b->geometry().left() > left);
            left = b->geometry().left();
            QVERIFY(b->geometry().right() < e->geometry().left());
        }
        QCOMPARE(Form1->ToolBar1->geometry(), QRect(0, 0, 706, 29));
        QAction* a = box->FindAction;
        QCOMPARE(a->text(), QString("&Найти расценку..."));
        QCOMPARE(a->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QVERIFY(a->isEnabled());
        QCOMPARE(Form1->N5->actions().last(), a);
        QVERIFY(!box->ResultsPanel->isVisible());
    }

    void tabNeverReachesTheField() {
        QWidget* w = Form1->DBGrid2;
        for (int i = 0; i < 40; ++i) {
            w = w->nextInFocusChain();
            if (w == box->SearchEdit) QVERIFY(!(w->focusPolicy() & Qt::TabFocus));
        }
        Form1->DBGrid2->setFocus();
        for (int i = 0; i < 30; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
            QVERIFY(QApplication::focusWidget() != box->SearchEdit);
        }
    }

    void foundText_data() {
        QTest::addColumn<qulonglong>("count");
        QTest::addColumn<qulonglong>("forms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0ull << 0ull << "Найдено: 0";
        QTest::newRow("three digits") << 123ull << 0ull << "Найдено: 123";
        QTest::newRow("four digits") << 1234ull << 0ull << "Найдено: 1 234";
        QTest::newRow("six digits") << 150000ull << 0ull << "Найдено: 150 000";
        QTest::newRow("seven digits") << 1234567ull << 0ull << "Найдено: 1 234 567";
        QTest::newRow("with word forms") << 12ull << 40ull << "Найдено: 12 + 40 по формам слов";
        QTest::newRow("by word forms alone") << 0ull << 1234ull << "Найдено: 0 + 1 234 по формам слов";
    }
    void foundText() {
        QFETCH(qulonglong, count);
        QFETCH(qulonglong, forms);
        QFETCH(QString, text);
        QCOMPARE(RateSearchBox::foundText(count, forms), text);
    }

    void nothingFoundText_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("text");
        QTest::newRow("long word") << "кровлями" << "Ничего не найдено. Попробуйте начало слова («кровл» вместо «кровлями»), часть шифра (например, «01-01»).";
        QTest::newRow("short words") << "щъы эюж" << "Ничего не найдено. Попробуйте другое слово, меньше слов, часть шифра (например, «01-01»).";
    }
    void nothingFoundText() {
        QFETCH(QString, query);
        QFETCH(QString, text);
        QCOMPARE(RateSearchBox::nothingFoundText(query), text);
    }

    void typingListsTheResults() {
        typeFrom(Form1->DBGrid5, "кладка");
        QVERIFY(box->ResultsPanel->isVisible());
        const auto expected = box->search().find("кладка").rates;
        QVERIFY(!expected.empty());
        QCOMPARE(box->Model->rowCount(), int(expected.size()));
        QCOMPARE(box->FoundLabel->text(), RateSearchBox::foundText(expected.size()));
        const auto first = box->search().row(expected.front(), "кладка");
        QCOMPARE(box->Model->index(0, 0).data().toString(), QString::fromStdString(first.code));
        QCOMPARE(box->Model->index(0, 1).data().toString(),
                 RateSearchModel::nameCellText(QString::fromStdString(first.name), QString::fromStdString(first.excerpt)));
        QCOMPARE(box->Model->index(0, 2).data().toString(), QString::fromStdString(first.unit));
        QCOMPARE(box->Model->index(0, 3).data().toString(), QString::fromStdString(first.collection));
        QCOMPARE(box->Model->index(0, 4).data().toString(), QString::fromStdString(first.entry));
        QCOMPARE(box->Model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Шифр"));
        // The focus stays in the field while the list is open.
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box->SearchEdit));

        // Every further key narrows or widens the list.
        typeText(box->SearchEdit, " щъыэю");
        QCOMPARE(box->Model->rowCount(), 0);
        QCOMPARE(box->FoundLabel->text(), RateSearchBox::nothingFoundText("кладка щъыэю"));
        // Word forms follow the exact matches, and the count says both.
        box->SearchEdit->setText("кирпича");
        QCOMPARE(box->FoundLabel->text(), RateSearchBox::foundText(1, 1));
        QCOMPARE(box->Model->index(1, 0).data().toString(), QString("404-0005"));
        box->SearchEdit->setText("   ");
        QVERIFY(!box->ResultsPanel->isVisible());
        QCOMPARE(box->Model->rowCount(), 0);
    }

    void aHitInALaterLineIsShownBesideTheName() {
        typeFrom(Form1->DBGrid2, "толщина");
        const auto found = box->Model->results();
        int row = -1;
        for (size_t i = 0; i < found.size(); ++i)
            if (box->search().rateId(found[i]) == 27001) row = int(i);
        QVERIFY(row >= 0);
        const QString text = box->Model->index(row, 1).data().toString();
        QVERIFY2(text.startsWith("Устройство подстилающих"), qPrintable(text));
        // As painted at the column's width, the name gives way to the hit.
        const QString shown = RateSearchModel::fitNameCell(text, box->ResultsView->fontMetrics(), box->ResultsView->columnWidth(1) - 6);
        QVERIFY2(shown.contains("толщин") && shown.startsWith("Устр"), qPrintable(shown));
        QVERIFY(box->ResultsView->fontMetrics().horizontalAdvance(shown) <= box->ResultsView->columnWidth(1) - 6);
        // Texts that fit, and names without an excerpt, are cut at the right as ever.
        const QFontMetrics fm = box->ResultsView->fontMetrics();
        QCOMPARE(RateSearchModel::fitNameCell("Кладка", fm, 200), QString("Кладка"));
        QCOMPARE(RateSearchModel::fitNameCell(QString(80, QChar(u'ж')), fm, 100), fm.elidedText(QString(80, QChar(u'ж')), Qt::ElideRight, 100));
        QCOMPARE(RateSearchModel::nameCellText("Кладка", ""), QString("Кладка"));
        resetBrowser();
    }

    void aWiderWindowWidensTheNames() {
        typeFrom(Form1->DBGrid2, "бетон");
        const int name = box->ResultsView->columnWidth(1), entry = box->ResultsView->columnWidth(4);
        const QSize was = Form1->size();
        Form1->resize(was.width() + 400, was.height() + 200);
        QCoreApplication::processEvents();
        box->placePanel();
        QCoreApplication::processEvents();
        QVERIFY2(box->ResultsView->columnWidth(1) >= name + 300, qPrintable(QString::number(box->ResultsView->columnWidth(1))));
        QCOMPARE(box->ResultsView->columnWidth(4), entry);
        Form1->resize(was);
        QCoreApplication::processEvents();
        resetBrowser();
    }

    void noTooltipIsLeftOverTheList() {
        typeFrom(Form1->DBGrid2, "бетон");
        const QRect cell = box->ResultsView->visualRect(box->Model->index(0, 4));
        QToolTip::showText(box->ResultsView->viewport()->mapToGlobal(cell.center()), "подсказка", box->ResultsView->viewport());
        QVERIFY(QToolTip::isVisible());
        box->SearchEdit->setText("бетонн");  // the list changes under it
        QTRY_VERIFY(!QToolTip::isVisible());
        QToolTip::showText(box->ResultsView->viewport()->mapToGlobal(cell.center()), "подсказка", box->ResultsView->viewport());
        QVERIFY(QToolTip::isVisible());
        box->ResultsClose();  // as Escape does
        QTRY_VERIFY(!QToolTip::isVisible());
        resetBrowser();
    }

    void onlyShownRowsAreRead() {
        const size_t before = box->Model->rowsRead();
        typeFrom(Form1->DBGrid2, "-");
        const int rows = box->Model->rowCount();
        QVERIFY(rows > 10);
        box->ResultsView->resize(box->ResultsView->width(), 80);  // a few rows on screen
        box->ResultsView->viewport()->repaint();
        QVERIFY2(box->Model->rowsRead() - before < size_t(rows), qPrintable(QString::number(box->Model->rowsRead() - before)));
    }

    void enterWalksTheBrowser_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("downs");
        QTest::addColumn<qlonglong>("collection");
        QTest::addColumn<qlonglong>("entry");
        QTest::addColumn<qlonglong>("rate");
        QTest::newRow("code") << "06-01-005-01" << 0 << 6ll << 603ll << 6005ll;
        QTest::newRow("words, first result") << "экскаватор 01-01-003" << 0 << 1ll << 103ll << 1004ll;
        QTest::newRow("second result by Down") << "01-01-003" << 1 << 1ll << 103ll << 1005ll;
        QTest::newRow("material") << "401-0066" << 0 << 100ll << 10401ll << 40066ll;
    }
    void enterWalksTheBrowser() {
        QFETCH(QString, query);
        QFETCH(int, downs);
        QFETCH(qlonglong, collection);
        QFETCH(qlonglong, entry);
        QFETCH(qlonglong, rate);
        typeFrom(Form1->DBGrid6, query);
        QVERIFY(box->Model->rowCount() > downs);
        for (int i = 0; i < downs; ++i) QTest::keyClick(box->SearchEdit, Qt::Key_Down);
        QTest::keyClick(box->SearchEdit, Qt::Key_Return);
        QCoreApplication::processEvents();
        auto& nb = Form1->Base;
        QCOMPARE(idOf(nb.Table7), collection);
        QCOMPARE(idOf(nb.Table6), entry);
        QCOMPARE(idOf(nb.Table2), rate);
        // The grids show it as if clicked; the name and resource lines follow.
        QCOMPARE(Form1->DBGrid6->currentIndex().row(), nb.Table7.recNo());
        QCOMPARE(Form1->DBGrid5->currentIndex().row(), nb.Table6.recNo());
        QCOMPARE(Form1->DBGrid2->currentIndex().row(), nb.Table2.recNo());
        QCOMPARE(nb.Table1.fieldValue("ID").asInteger(), nb.Table2.fieldValue("IDNAME").asInteger());
        if (!nb.Table3.isEmpty()) QCOMPARE(nb.Table3.fieldValue("IDRAB").asInteger(), rate);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Form1->DBGrid2));
        QVERIFY(!box->ResultsPanel->isVisible());
    }

    void doubleClickWalksTheBrowser() {
        typeFrom(Form1->DBGrid2, "08-02-001-01");
        QCOMPARE(box->Model->rowCount(), 1);
        // Clicked where the row is drawn, once the list is laid out on the screen.
        QTRY_VERIFY(box->ResultsView->isVisible() &&
                    box->ResultsView->viewport()->rect().contains(box->ResultsView->visualRect(box->Model->index(0, 1)).center()));
        const QRect cell = box->ResultsView->visualRect(box->Model->index(0, 1));
        QTest::mouseClick(box->ResultsView->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(box->ResultsView->viewport(), Qt::LeftButton, {}, cell.center());
        QCoreApplication::processEvents();
        QCOMPARE(idOf(Form1->Base.Table2), 8001);
        QCOMPARE(idOf(Form1->Base.Table7), 8);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Form1->DBGrid2));
    }

    void escapeClosesAndReturnsTheFocus() {
        for (QWidget* from : {static_cast<QWidget*>(Form1->DBGrid5), static_cast<QWidget*>(Form1->CheckBox1),
                              static_cast<QWidget*>(Form1->DBGrid2)}) {
            const int row7 = Form1->Base.Table7.recNo(), row2 = Form1->Base.Table2.recNo();
            typeFrom(from, "бетон");
            QVERIFY(box->ResultsPanel->isVisible());
            QTest::keyClick(box->SearchEdit, Qt::Key_Escape);
            QVERIFY(!box->ResultsPanel->isVisible());
            QCOMPARE(QApplication::focusWidget(), from);
            QCOMPARE(Form1->Base.Table7.recNo(), row7);
            QCOMPARE(Form1->Base.Table2.recNo(), row2);
            // Ctrl+F again shows the same list with the text selected.
            QTest::keyClick(Form1, Qt::Key_F, Qt::ControlModifier);
            QVERIFY(box->ResultsPanel->isVisible());
            QCOMPARE(box->SearchEdit->selectedText(), QString("бетон"));
            QTest::keyClick(box->SearchEdit, Qt::Key_Escape);
            box->SearchEdit->clear();
        }
    }

    void enterWithoutResultsDoesNothing() {
        const int row2 = Form1->Base.Table2.recNo();
        typeFrom(Form1->DBGrid2, "щъыэюжзх");
        QTest::keyClick(box->SearchEdit, Qt::Key_Return);
        QCOMPARE(Form1->Base.Table2.recNo(), row2);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box->SearchEdit));
    }

    void checkBoxFilterLeftAsItIs() {
        Form1->CheckBox1->setChecked(true);
        typeFrom(Form1->DBGrid2, "06-01-001-01");
        QTest::keyClick(box->SearchEdit, Qt::Key_Return);
        QVERIFY(Form1->CheckBox1->isChecked());
        QVERIFY(Form1->Base.Table3.filtered());
        QCOMPARE(idOf(Form1->Base.Table2), 6001);
        Form1->CheckBox1->setChecked(false);
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    RateSearchBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "RateSearchBoxTest.moc"
