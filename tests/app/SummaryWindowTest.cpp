// The construction's window over the real windows on the offscreen platform, once along the road
// an estimator takes: the main window's item makes a new construction; an object of two linked
// estimates and a calculation added from the keyboard; a line moved and the move undone; an
// estimate deleted after the question and brought back; the data of the construction; an
// estimate changed and another lost, named and marked; an estimate opened from its line in the
// estimate window; the summary estimate written by the worker. The rules are tested below the
// window (tests/editing/SummaryEditsTest.cpp).
#include "tests/support/EstimateWindowFixture.h"
#include "tests/support/PricedEstimate.h"

#include "app/FormExport.h"
#include "app/Globals.h"
#include "app/SummaryDialogs.h"
#include "app/SummaryWindow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "dbctrls/FieldText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <QUndoStack>

namespace fs = std::filesystem;
using talvira::editing::SummaryPlace;
using talvira::model::WorkType;

namespace {
QString figure(const char* pointText) {
    QString s = QString::fromLatin1(pointText);
    s.replace(QLatin1Char('.'), QLatin1Char(talvira::dbctrls::userDecimalSeparator()));
    return s;
}
}  // namespace

class SummaryWindowTest : public QObject {
    Q_OBJECT

    talvira::test::EstimateWindowFixture w_;
    QStringList answers_;    // the files askFile answers, in order
    QStringList questions_;  // what confirm was asked

    static SummaryWindow* win() { return Form1->Summary; }
    static QTreeWidgetItem* row(SummaryPlace p) {
        win()->selectPlace(p);
        return win()->Tree->currentItem();
    }
    static QString total(int line) { return win()->TotalsGrid->topLevelItem(line)->text(5); }
    QString path(const fs::path& p) { return QString::fromStdString(p.string()); }
    static void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QVERIFY(QTest::qWaitForWindowActive(win()));
        QTest::keyClick(win()->Tree, Qt::Key(k), m);
    }

private slots:
    void initTestCase() {
        w_.start("talvira-summary-window");
        win()->askFile = [this](const SummaryWindow::FileQuestion&) { return answers_.isEmpty() ? QString() : answers_.takeFirst(); };
        win()->confirm = [this](const QString& q) {
            questions_ << q;
            return true;
        };
    }
    void cleanupTestCase() { w_.stop(); }

    void theRoadOfASummaryEstimate() {
        const fs::path dir = w_.startDir() / "Сметы";
        fs::create_directories(dir);
        const fs::path a = talvira::test::makePricedEstimate(dir, "Общестрой", {{WorkType::Construction, "1000000.00"}});
        const fs::path b = talvira::test::makePricedEstimate(dir, "Отопление", {{WorkType::Mounting, "250000.00"}});

        // A new construction through the main window's item.
        answers_ << path(w_.startDir() / "Школа");
        Form1->Summary->SummaryItem->trigger();
        QCOMPARE(w_.takeError(), QString());
        QVERIFY(win()->isVisible());
        QVERIFY(fs::exists(w_.startDir() / "Школа.ssr"));
        QCOMPARE(win()->Tree->topLevelItemCount(), 12);
        QCOMPARE(win()->TotalsGrid->topLevelItemCount(), 10);
        QCOMPARE(win()->TotalsGrid->topLevelItem(9)->text(0), QStringLiteral("ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ"));
        // every line of the totals in view, «ВСЕГО» too (a scroll bar once took its place)
        QVERIFY(win()->TotalsGrid->viewport()->rect().contains(win()->TotalsGrid->visualItemRect(win()->TotalsGrid->topLevelItem(9))));
        QVERIFY(!win()->EditItem->isEnabled() && win()->AddItem->isEnabled());

        // Chapter 2, Insert: an object with its first estimate, then Insert on it: the second.
        row({2, -1, -1});
        key(Qt::Key_Insert);
        SummaryLineDialog* d = win()->LineDialog;
        QVERIFY(d->isVisible());
        d->KindBox->setCurrentIndex(int(talvira::editing::LineFormKind::Object));
        d->NumberEdit->setText(QStringLiteral("02-01"));
        d->NameEdit->setText(QStringLiteral("Здание школы"));
        answers_ << path(a);
        QTest::mouseClick(d->OKButton, Qt::LeftButton);
        QCOMPARE(w_.takeError(), QString());
        QVERIFY(!d->isVisible());
        QCOMPARE(win()->currentPlace(), (SummaryPlace{2, 0, 0}));
        row({2, 0, -1});
        key(Qt::Key_Insert);
        QCOMPARE(d->KindBox->currentIndex(), int(talvira::editing::LineFormKind::Estimate));
        answers_ << path(b);
        QTest::mouseClick(d->OKButton, Qt::LeftButton);
        QCOMPARE(w_.takeError(), QString());
        QCOMPARE(win()->currentPlace(), (SummaryPlace{2, 0, 1}));
        QCOMPARE(row({2, 0, -1})->text(7), figure("1250.00"));
        QCOMPARE(row({2, 0, 1})->text(1), QStringLiteral("ЛСР 02-01-02"));

        // Chapter 12: a calculation typed in rubles.
        row({12, -1, -1});
        key(Qt::Key_Insert);
        d->KindBox->setCurrentIndex(int(talvira::editing::LineFormKind::Calculation));
        d->NameEdit->setText(QStringLiteral("Проектные работы"));
        d->AmountEdits[3]->setText(QStringLiteral("сто"));
        QTest::mouseClick(d->OKButton, Qt::LeftButton);
        QVERIFY(w_.takeError().startsWith(QStringLiteral("Сумма гр. 7: «сто»")));
        QVERIFY(d->isVisible());  // with what was typed
        d->AmountEdits[3]->setText(QStringLiteral("100 000,50"));
        QTest::mouseClick(d->OKButton, Qt::LeftButton);
        QCOMPARE(w_.takeError(), QString());
        QCOMPARE(win()->currentPlace(), (SummaryPlace{12, 0, -1}));
        QCOMPARE(total(5), figure("1350.00"));  // «Итого по главам 1–12»: 1 350 000,50 rubles

        // Ctrl+Up: into chapter 11; Ctrl+Z: back.
        key(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(win()->currentPlace(), (SummaryPlace{11, 0, -1}));
        QCOMPARE(win()->UndoItem->text(), QStringLiteral("Отменить: перемещение строки"));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(win()->currentPlace(), (SummaryPlace{12, 0, -1}));
        QVERIFY(win()->document().construction().chapter(11).empty());

        // Delete asks first; Ctrl+Z brings the estimate back, Ctrl+Y deletes it again, Ctrl+Z.
        row({2, 0, 1});
        key(Qt::Key_Delete);
        QCOMPARE(questions_, QStringList{QStringLiteral("Удалить смету «Отопление» из объекта 02-01 «Здание школы»?")});
        QCOMPARE(row({2, 0, -1})->childCount(), 1);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(row({2, 0, -1})->childCount(), 2);
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(row({2, 0, -1})->childCount(), 1);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(row({2, 0, -1})->childCount(), 2);

        // The construction's data: the VAT date moved into 2025 gives 20 %.
        key(Qt::Key_P, Qt::ControlModifier);
        SummaryTitleDialog* t = win()->TitleDialog;
        QVERIFY(t->isVisible());
        t->CustomerEdit->setText(QStringLiteral("ГКУ «Дирекция»"));
        t->VatDateEdit->setText(QStringLiteral("31.12.2025"));
        QTest::mouseClick(t->OKButton, Qt::LeftButton);
        QCOMPARE(w_.takeError(), QString());
        QVERIFY(win()->TitleLabel->text().contains(QStringLiteral("заказчик: ГКУ «Дирекция»")));
        QCOMPARE(win()->TotalsGrid->topLevelItem(8)->text(0), QStringLiteral("Налог на добавленную стоимость 20 % (на 31.12.2025)"));

        // One estimate changed, the other lost: named above the tree, their rows marked.
        talvira::test::repriceEstimate(a, 0, "1100000.00");
        fs::remove(b);
        key(Qt::Key_F5);
        const QString notices = win()->NoticeLabel->text();
        QVERIFY(win()->NoticeLabel->isVisible());
        QVERIFY2(notices.contains(QStringLiteral("смета «Сметы/Общестрой.db» изменилась")), qPrintable(notices));
        QVERIFY2(notices.contains(QStringLiteral("смета «Сметы/Отопление.db» не найдена")), qPrintable(notices));
        QCOMPARE(row({2, 0, 0})->text(7), figure("1100.00"));
        QVERIFY(row({2, 0, 0})->background(0).color() != QColor());
        QCOMPARE(row({2, 0, 1})->text(7), figure("250.00"));  // its last known amounts
        QVERIFY(row({2, 0, 1})->toolTip(2).contains(QStringLiteral("не найдена")));

        // The changed estimate opened from its line, in the estimate window.
        row({2, 0, 0});
        QVERIFY(win()->OpenEstimateItem->isEnabled());
        key(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w_.takeError(), QString());
        QVERIFY(Form2->isVisible());
        QCOMPARE(fs::path(Form2->SmetaTable.tablePath()).filename(), a.filename());

        // The summary estimate written by the worker.
        win()->activateWindow();
        answers_ << path(w_.startDir() / "ССР Школа.xlsx");
        win()->ExportSsrItem->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!win()->Export->running(), 60000);
        QCOMPARE(w_.takeError(), QString());
        QVERIFY(fs::file_size(w_.startDir() / "ССР Школа.xlsx") > 0);
        QCOMPARE(win()->StatusBar->currentMessage(),
                 QStringLiteral("Записан файл «%1»").arg(path(w_.startDir() / "ССР Школа.xlsx")));
        QVERIFY(answers_.isEmpty());
    }
};

QTEST_MAIN(SummaryWindowTest)
#include "SummaryWindowTest.moc"
