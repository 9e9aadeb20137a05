// The totals window over the real windows on the offscreen platform: made when first asked for, its menu item, where it
// opens and how it is kept on the screen (the rules in tables, then once through the window), the block
// with the workbook's captions, following a change without a command (an Add, a position typed
// in the grid, another estimate created or opened, the rate edits; every other kind of change is
// the follower's, tested below the window), the count of incomplete positions and F3 walking them.
#include "tests/support/EstimateWindowFixture.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/TotalsWindow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "export/ChargeBlock.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using talvira::storage::TableHandle;
using talvira::storage::Value;
using talvira::xls::TotalColumn;

class TotalsWindowTest : public QObject {
    Q_OBJECT

    using Fixture = talvira::test::EstimateWindowFixture;
    Fixture w_;

    static TableHandle& smeta() { return Form2->SmetaTable; }
    static TotalsWindow* totals() { return Form2->Totals; }
    static void createThroughDialog(const QString& name) { Fixture::create(name); }
    static void addPosition(std::optional<double> kolvo, std::optional<double> stoim, double osnzp = 0, double zpmash = 0) {
        Fixture::addPosition(kolvo, stoim, "T", {{"OSNZP", osnzp}, {"ZPMASH", zpmash}});
    }
    /** The worked example: base wages 1000, machinist wages 200, cost 520. */
    void addWorkedExample() {
        addPosition(2, 100, 250, 50);
        addPosition(4, 80, 125, 25);
        addPosition(0, 500);
    }
    /** "1 260,00" with the user's decimal separator, thousands apart by no-break spaces. */
    static QString money(const char* commaText) {
        QString s = QString::fromLatin1(commaText);
        s.replace(QLatin1Char(','), QLatin1Char(talvira::dbctrls::userDecimalSeparator()));
        s.replace(QLatin1Char(' '), QChar(0x00A0));
        return s;
    }
    QString count() const { return Form2->Totals->CountLabel->text(); }

private slots:
    void initTestCase() { w_.start("talvira-totals-window"); }
    void cleanupTestCase() { w_.stop(); }
    void init() {
        w_.errors.clear();
        OKRightDlg->confirmReplace = [](const QString&) { return true; };
    }
    void cleanup() { QCOMPARE(w_.errors, QStringList()); }

    void madeAtFirstUseItShowsWhatWasDoneBeforeIt() {
        // Not built with the estimate window (the program's start); the estimate window follows
        // the positions all the same: its commands and its warning.
        QVERIFY(Form2->Totals.built() == nullptr);
        createThroughDialog(QStringLiteral("Сначала"));
        addWorkedExample();
        QVERIFY(Form2->EButton->isEnabled());
        Form2->NDSEdit->setText(QStringLiteral("0"));
        QVERIFY(Form2->Totals.built() == nullptr);
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QTest::keyClick(Form2, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(Form2->Totals.built() != nullptr);
        QVERIFY(totals()->isVisible());
        QCOMPARE(count(), QStringLiteral("Позиций: 3, не заполнено: 1"));
        QCOMPARE(totals()->sumText(TotalColumn::BaseWages), money("1 000,00"));
        QCOMPARE(totals()->amountText(13), money("8 644,31"));
        Form2->NDSEdit->setText(QStringLiteral("18"));
        QCOMPARE(totals()->amountText(13), money("10 200,29"));
        totals()->hide();
        Form2->document().close();  // the next cases start with no estimate
    }

    void theMenuItemComesAfterTheExistingOnes() {
        const QList<QAction*> items = Form2->N5->actions();
        QVERIFY(items.size() >= 5);  // the items added later come after these
        QCOMPARE(items[0], Form2->Excell20xx1);
        QCOMPARE(items[1], Form2->Excell971);
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items[3], Form2->TotalsItem);
        QCOMPARE(Form2->TotalsItem->text(), QStringLiteral("&Итоги сметы"));
        QCOMPARE(Form2->TotalsItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
        QCOMPARE(items[4], Form2->NextIncompleteItem);
        QCOMPARE(Form2->NextIncompleteItem->shortcut(), QKeySequence(Qt::Key_F3));
        QCOMPARE(totals()->NextAction->shortcut(), QKeySequence(Qt::Key_F3));
    }

    void itsFrameStandsWhollyOnTheScreen() {
        // The estimate window at its default place (frame at 58, 4), framed by a window manager
        // (borders of 4, a title bar of 23): the client area goes where the frame fits (the
        // frame's top was placed at the client's, 23 pixels too high: y -19).
        const QMargins frame(4, 23, 4, 4);
        const QRect anchorFrame(58, 4, 677, 563);
        const QSize client(560, 420);
        const struct {
            const char* what;
            QRect screen;
            QRect anchor;
        } cases[] = {
            {"1024x768", QRect(0, 0, 1024, 768), anchorFrame},
            {"1280x1024", QRect(0, 0, 1280, 1024), anchorFrame},
            {"room on the right", QRect(0, 0, 1920, 1080), anchorFrame},
            {"a panel above, the window under it", QRect(0, 30, 1280, 994), anchorFrame.translated(0, 26)},
            {"second screen", QRect(1280, 0, 1024, 768), anchorFrame.translated(1280, 0)},
        };
        for (const auto& c : cases) {
            const QRect anchor = c.anchor;
            const QRect anchorInside = anchor.marginsRemoved(frame);
            const QPoint at = clientPlaceBeside(anchor, anchorInside, client, c.screen);
            const QRect outer = QRect(at, client).marginsAdded(frame);
            QVERIFY2(c.screen.contains(outer), c.what);
            QCOMPARE(outer.top(), anchor.top());
            QVERIFY2(outer.left() > anchor.right() || outer.right() >= c.screen.right() - 1, c.what);
        }

        // Kept on the screen when it grows (by the base-index method, to 640 x 600): moved in
        // from the edge it reaches past, made smaller only beyond the screen's own size.
        const struct {
            const char* what;
            QRect frame, screen, kept;
        } grown[] = {
            {"within: unchanged", QRect(100, 100, 648, 627), QRect(0, 0, 1024, 768), QRect(100, 100, 648, 627)},
            {"640 wide, placed as if 560", QRect(716, 4, 648, 627), QRect(0, 0, 1280, 1024), QRect(632, 4, 648, 627)},
            {"past the bottom", QRect(100, 300, 648, 627), QRect(0, 0, 1024, 768), QRect(100, 141, 648, 627)},
            {"larger than the screen", QRect(50, 50, 900, 700), QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)},
            {"second screen, past its left edge", QRect(1200, 10, 648, 627), QRect(1280, 0, 1024, 768),
             QRect(1280, 10, 648, 627)},
        };
        for (const auto& g : grown) QVERIFY2(keptOnScreen(g.frame, g.screen) == g.kept, g.what);

        // Through the window: its frame's top beside the estimate window's.
        QVERIFY(!totals()->isVisible());
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QTest::keyClick(Form2, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(QTest::qWaitForWindowExposed(totals()));
        QCOMPARE(totals()->frameGeometry().top(), Form2->frameGeometry().top());
        QVERIFY(Form2->screen()->availableGeometry().contains(totals()->frameGeometry()));
        totals()->hide();
    }

    void withNoEstimateTheBlockIsEmpty() {
        QVERIFY(!smeta().active());
        QVERIFY(!totals()->isVisible());
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QTest::keyClick(Form2, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(totals()->isVisible());
        QVERIFY(!totals()->isModal());
        // Wholly on the estimate window's screen (it was half outside), the block seen whole.
        QVERIFY(Form2->screen()->availableGeometry().contains(totals()->frameGeometry()));
        QCOMPARE(totals()->BlockGrid->verticalScrollBar()->maximum(), 0);
        QVERIFY(totals()->height() < 420);
        QCOMPARE(totals()->windowTitle(), QStringLiteral("Итоги сметы"));
        const auto& rows = talvira::xls::chargeBlockRows();
        QCOMPARE(totals()->BlockGrid->rowCount(), 14);
        for (const auto& row : rows) {
            QCOMPARE(totals()->BlockGrid->item(row.offset, 0)->text(), QString::fromUtf8(row.caption));
            QCOMPARE(totals()->amountText(row.offset), QString());
        }
        QCOMPARE(totals()->sumText(TotalColumn::Labour), QString());
        QCOMPARE(count(), QStringLiteral("Позиций: 0, не заполнено: 0"));
        // the rates as typed, the unit sign of the charges
        QCOMPARE(totals()->BlockGrid->item(1, 1)->text(), Form2->NREdit->text());
        QCOMPARE(totals()->BlockGrid->item(1, 2)->text(), QStringLiteral("%"));
        QCOMPARE(totals()->BlockGrid->item(11, 1)->text(), Form2->KoefEdit->text());
    }

    void followsCreationAndAnAdd() {
        totals()->show();
        createThroughDialog(QStringLiteral("Итоги"));
        QVERIFY(smeta().active());
        QCOMPARE(totals()->amountText(13), money("0,00"));
        QCOMPARE(count(), QStringLiteral("Позиций: 0, не заполнено: 0"));

        addWorkedExample();  // an Add of three positions
        QCOMPARE(count(), QStringLiteral("Позиций: 3, не заполнено: 1"));
        QCOMPARE(totals()->amountText(0), money("520,00"));
        QCOMPARE(totals()->sumText(TotalColumn::Cost), money("520,00"));
        QCOMPARE(totals()->sumText(TotalColumn::BaseWages), money("1 000,00"));
        QCOMPARE(totals()->sumText(TotalColumn::MachineWages), money("200,00"));
        QCOMPARE(totals()->amountText(1), money("1 260,00"));
        QCOMPARE(totals()->amountText(11), money("8 644,31"));
        QCOMPARE(totals()->amountText(13), money("10 200,29"));
    }

    void followsAPositionTypedInTheGrid() {
        totals()->show();
        createThroughDialog(QStringLiteral("Сетка"));
        addPosition(std::nullopt, 100, 10, 0);
        addPosition(1, 1);
        QCOMPARE(count(), QStringLiteral("Позиций: 2, не заполнено: 1"));
        QCOMPARE(totals()->amountText(0), money("1,00"));
        smeta().first();
        auto* grid = Form2->SmetaDBGrid;
        Form2->activateWindow();
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 3));  // "Кол-во" of the first position
        QTest::keyClick(grid, '3');
        // not stored yet: the block still shows what the estimate holds
        QCOMPARE(totals()->amountText(0), money("1,00"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        // as the event loop would: the closed cell editor goes before the estimate is replaced
        QCoreApplication::processEvents();
        grid->setCurrentIndex(grid->model()->index(1, 3));  // leaving the row stores it
        QCOMPARE(smeta().state(), TableHandle::State::Browse);
        QCOMPARE(totals()->amountText(0), money("301,00"));
        QCOMPARE(count(), QStringLiteral("Позиций: 2, не заполнено: 0"));
    }

    void followsTheRateEdits() {
        totals()->show();
        createThroughDialog(QStringLiteral("Ставки"));
        addWorkedExample();
        const QString nr = Form2->NREdit->text();
        Form2->NREdit->clear();
        QCOMPARE(totals()->amountText(1), money("0,00"));
        QCOMPARE(totals()->BlockGrid->item(1, 1)->text(), QString());
        QTest::keyClicks(Form2->NREdit, "50");
        QCOMPARE(totals()->amountText(1), money("600,00"));
        QTest::keyClicks(Form2->NREdit, "x");
        QCOMPARE(totals()->BlockGrid->item(1, 1)->text(), QStringLiteral("50x"));
        for (int r = 1; r < 14; ++r) {
            const bool otherWagesCharge = r == 3 || r == 5;
            QCOMPARE(totals()->amountText(r), otherWagesCharge ? totals()->amountText(r) : QStringLiteral("#ЗНАЧ!"));
        }
        QVERIFY(totals()->amountText(3) != QStringLiteral("#ЗНАЧ!"));
        Form2->NREdit->setText(nr);
        QCOMPARE(totals()->amountText(13), money("10 200,29"));

        // a factor that is no number: the export's message in its row, nothing below
        const QString koef = Form2->KoefEdit->text();
        Form2->KoefEdit->setText(QStringLiteral("K"));
        QCOMPARE(totals()->amountText(11), QStringLiteral("'K' is not a valid floating point value"));
        QCOMPARE(totals()->amountText(12), QString());
        QCOMPARE(totals()->amountText(13), QString());
        QCOMPARE(totals()->amountText(10), money("3 965,28"));
        Form2->KoefEdit->setText(koef);
        QCOMPARE(totals()->amountText(13), money("10 200,29"));
        // the same through the other five and VAT
        Form2->NDSEdit->setText(QStringLiteral("0"));
        QCOMPARE(totals()->amountText(13), money("8 644,31"));
        Form2->NDSEdit->setText(QStringLiteral("18"));
    }

    void followsAnotherEstimateCreatedOrOpened() {
        totals()->show();
        createThroughDialog(QStringLiteral("Первая"));
        addWorkedExample();
        createThroughDialog(QStringLiteral("Вторая"));
        QCOMPARE(count(), QStringLiteral("Позиций: 0, не заполнено: 0"));
        addPosition(1, 7);
        QCOMPARE(totals()->amountText(0), money("7,00"));
        Form1->OpenDialog1CanClose(QString::fromStdString((w_.smeti() / "Первая.db").string()));
        QVERIFY(smeta().active());
        QCOMPARE(count(), QStringLiteral("Позиций: 3, не заполнено: 1"));
        QCOMPARE(totals()->amountText(13), money("10 200,29"));
    }

    void shownAgainItShowsTheEstimateOfTheMomentWhereItWasLeft() {
        totals()->show();
        createThroughDialog(QStringLiteral("Скрытая"));
        addPosition(1, 5);
        totals()->move(310, 220);
        const QPoint place = totals()->pos();
        totals()->hide();
        addPosition(1, 6);
        Form2->NREdit->setText(QStringLiteral("1"));
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QTest::keyClick(Form2, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(totals()->isVisible());
        QCOMPARE(totals()->pos(), place);  // where it was left
        QCOMPARE(totals()->amountText(0), money("11,00"));
        QCOMPARE(totals()->BlockGrid->item(1, 1)->text(), QStringLiteral("1"));
        Form2->NREdit->setText(QStringLiteral("105"));
    }

    void f3WalksTheIncompletePositionsInOrderAndGoesRound() {
        totals()->show();
        createThroughDialog(QStringLiteral("Обход"));
        addPosition(1, 1);             // 0
        addPosition(std::nullopt, 1);  // 1 incomplete
        addPosition(1, 1);             // 2
        addPosition(2, 0);             // 3 incomplete
        smeta().first();
        QCOMPARE(count(), QStringLiteral("Позиций: 4, не заполнено: 2"));
        totals()->showAndActivate();
        QVERIFY(QTest::qWaitForWindowActive(totals()));
        QTest::keyClick(totals(), Qt::Key_F3);
        QCOMPARE(smeta().recNo(), 1);
        // Current in the grid too, on the cell to fill (was "Шифр"): the empty quantity, the cost of 0.
        QCOMPARE(Form2->SmetaDBGrid->currentIndex(), Form2->SmetaDBGrid->model()->index(1, 3));
        // With the keyboard there (it stayed in this window): what is typed next goes to that cell.
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Form2->SmetaDBGrid));
        totals()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(totals()));
        QTest::mouseClick(totals()->NextButton, Qt::LeftButton);
        QCOMPARE(smeta().recNo(), 3);
        QCOMPARE(Form2->SmetaDBGrid->currentIndex(), Form2->SmetaDBGrid->model()->index(3, 4));
        // F3 in the estimate window as well; from the last one round to the first
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QTest::keyClick(Form2, Qt::Key_F3);
        QCOMPARE(smeta().recNo(), 1);
        QCOMPARE(totals()->MessageLabel->text(), QString());

        // none left: it says so and the position stays
        for (int r : {1, 3}) {
            smeta().moveTo(r);
            smeta().edit();
            smeta().setFieldValue("KOLVO", Value::real(5));
            smeta().setFieldValue("STOIM", Value::real(5));
            smeta().post();
        }
        QCOMPARE(count(), QStringLiteral("Позиций: 4, не заполнено: 0"));
        smeta().moveTo(2);
        QTest::keyClick(Form2, Qt::Key_F3);
        QCOMPARE(smeta().recNo(), 2);
        QCOMPARE(totals()->MessageLabel->text(), QStringLiteral("Незаполненных позиций нет"));
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    TotalsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TotalsWindowTest.moc"
