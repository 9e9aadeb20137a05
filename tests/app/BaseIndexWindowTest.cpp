// The windows of an estimate by the base-index method on the offscreen platform, one road through
// them: the parameters dialog (a bad index refused with its field named, nothing kept), the
// template's charge rates disabled saying why, the position panel (filled before the estimate
// window is first shown) with the position's amounts, a rate's prices closed to typing, the
// position dialog (a row found by words, a coefficient refused then taken), the totals window
// wholly on the screen with each position's amounts on a tab of their own, "Excel" asking which
// workbook, the price converter by the index of materials, the rate's material following a
// quantity typed into the grid, the question about kept percentages the tables no longer have on
// opening, and back to the template with the estimate window and the totals window as they
// always were. CTest runs it on screens of 1024 x 768 and 1280 x 1024 as well.
#include "tests/support/TestPaths.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/EstimateParamsDialog.h"
#include "app/FormExport.h"
#include "app/Globals.h"
#include "app/PositionDialog.h"
#include "app/TotalsWindow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "estimate/EstimateFile.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHelpEvent>
#include <QHeaderView>
#include <QScreen>
#include <QTabWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>

#include <filesystem>

namespace fs = std::filesystem;
using talvira::storage::Value;

class BaseIndexWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<talvira::test::TempDir> start_;
    QStringList errors_;

    talvira::editing::EstimateDocument& doc() { return Form2->document(); }
    QString takeError() { return errors_.isEmpty() ? QString() : errors_.takeFirst(); }
    /** "1 709,36" as the windows write it: the user's separator, thousands apart. */
    static QString money(const char* commaText) {
        QString s = QString::fromUtf8(commaText);
        s.replace(QLatin1Char(','), QLatin1Char(talvira::dbctrls::userDecimalSeparator()));
        s.replace(QLatin1Char(' '), QChar(0x00A0));
        return s;
    }
    /** The current-price column of the totals line `caption` under `heading`. */
    QString current(const QString& heading, const QString& caption) {
        QTableWidget* g = Form2->Totals->BaseIndexGrid;
        bool in = false;
        for (int r = 0; r < g->rowCount(); ++r) {
            if (g->columnSpan(r, 0) > 1) in = g->item(r, 0)->text() == heading;
            else if (in && g->item(r, 0)->text() == caption) return g->item(r, 3)->text();
        }
        return QStringLiteral("(нет строки)");
    }
    /** The totals window stands wholly on its screen, «В текущих ценах» seen whole. */
    static void verifyOnScreen(const char* when) {
        const QHeaderView* h = Form2->Totals->BaseIndexGrid->horizontalHeader();
        QVERIFY2(Form2->Totals->screen()->availableGeometry().contains(Form2->Totals->frameGeometry()), when);
        QVERIFY2(h->sectionViewportPosition(3) + h->sectionSize(3) <= h->viewport()->width(), when);
    }

private slots:
    void initTestCase() {
        setErrorBoxHook([this](const QString& m) { errors_ << m; });
        // Without a norm base a new estimate says so in a warning box, which would hold the keys.
        setWarningBoxHook([](const QString&) {});
        start_ = std::make_unique<talvira::test::TempDir>("talvira-421-window");
        fs::create_directory(start_->path() / "Smeti");
        QDir::setCurrent(QString::fromStdString(start_->path().string()));
        createWindows();
        errors_.clear();  // no norm base here
        // The estimate window stays hidden, as at start, until the estimate has a position.
    }
    void cleanupTestCase() {
        destroyWindows();
        setWarningBoxHook({});
        QDir::setCurrent(QDir::tempPath());
        start_.reset();
    }

    void theRoadOfAnEstimateByTheBaseIndexMethod() {
        // A new estimate on a base of no official origin: the template, the window as always.
        OKRightDlg->show();
        OKRightDlg->DBNameEdit->setText(QStringLiteral("Фундамент"));
        QTest::mouseClick(OKRightDlg->OKBtn, Qt::LeftButton);
        QCOMPARE(takeError(), QString());
        QVERIFY(Form2->PositionPanel->isHidden());
        QCOMPARE(Form2->SmetaDBGrid->height(), 224);
        QCOMPARE(Form2->menuBar()->actions().last()->menu(), Form2->EstimateMenu);  // after the fixed menus
        QVERIFY(!Form2->PositionItem->isEnabled());

        // The parameters: a bad index names its field and nothing is kept.
        Form2->ParamsItem->trigger();
        EstimateParamsDialog* params = Form2->ParamsDialog;
        QVERIFY(params->isVisible());
        QCOMPARE(params->BaseLevelLabel->text(), QStringLiteral("Уровень цен нормативной базы не указан"));
        QCOMPARE(params->MethodBox->currentText(), QStringLiteral("по шаблону"));
        params->MethodBox->setCurrentIndex(1);
        params->RegionEdit->setText(QStringLiteral("Московская область"));
        params->LevelEdit->setText(QStringLiteral("II кв. 2025"));
        params->IndexOtEdit->setText(QStringLiteral("52,21"));
        params->IndexEmEdit->setText(QStringLiteral("16.64"));  // a point in any locale
        params->IndexMEdit->setText(QStringLiteral("8,49"));
        params->IndexEqEdit->setText(QStringLiteral("пять"));
        QTest::mouseClick(params->OKButton, Qt::LeftButton);
        QCOMPARE(takeError(), QStringLiteral("Индекс оборудования: «пять» — не число."));
        QVERIFY(params->isVisible());
        QVERIFY(!doc().byBaseIndex());
        QVERIFY(!fs::exists(talvira::estimate::keptCalcPath(doc().table().tablePath())));
        params->IndexEqEdit->clear();
        QTest::mouseClick(params->OKButton, Qt::LeftButton);
        QCOMPARE(takeError(), QString());
        QVERIFY(!params->isVisible());
        QVERIFY(doc().byBaseIndex());

        // The template's charge rates count for nothing now, and say why; VAT stays.
        const QLineEdit* const templateRates[] = {Form2->NREdit,  Form2->PNEdit,  Form2->SUEdit,
                                                  Form2->ZUEdit,  Form2->VZSEdit, Form2->KoefEdit};
        for (const QLineEdit* edit : templateRates)
            QVERIFY2(!edit->isEnabled() && edit->toolTip().startsWith(QStringLiteral("Не применяется")),
                     qPrintable(edit->objectName()));
        QVERIFY(!Form2->NRLabel->isEnabled() && Form2->NDSEdit->isEnabled());

        // The panel takes its height from the grid and says at what levels the estimate stands.
        QVERIFY(!Form2->PositionPanel->isHidden());
        QCOMPARE(Form2->SmetaDBGrid->height() + Form2->PositionPanel->height(), 224);
        QVERIFY2(Form2->LevelLabel->toolTip().contains(QStringLiteral("II кв. 2025, Московская область")),
                 qPrintable(Form2->LevelLabel->toolTip()));

        // A rate with its data, as Add brings it: the worked position of ФЕР 08-01-001-01.
        doc().append([&] {
            talvira::storage::TableHandle& t = doc().table();
            t.append();
            const std::pair<const char*, Value> fields[] = {
                {"TAB", Value::string("ФЕР08-01-001-01")}, {"KOLVO", Value::real(1)},     {"STOIM", Value::real(258.39)},
                {"OSNZP", Value::real(32.74)},             {"EXPLMASH", Value::real(10.46)}, {"ZPMASH", Value::real(1.74)},
                {"MATER", Value::real(215.19)},           {"TRUD", Value::real(3.94)}};
            for (const auto& [f, v] : fields) t.setFieldValue(f, v);
            t.post();
            talvira::model::PositionData e;
            e.count = int32_t(t.fieldValue("COUNT").asInteger());
            e.code = "ФЕР08-01-001-01";
            e.nrChoices = {"Пр/812-008.0"};
            e.spChoices = {"Пр/774-008.0"};
            e.nrRow = e.spRow = "008.0";
            return std::vector<talvira::model::PositionData>{e};
        });
        doc().table().first();
        QVERIFY(Form2->PositionItem->isEnabled());
        QVERIFY2(Form2->PositionLabel->toolTip().startsWith(QStringLiteral("№ 1 · строительные · Пр/812-008.0-1 ")),
                 qPrintable(Form2->PositionLabel->toolTip()));

        // "Править смету" shows the window: the panel's lines were there before the cursor moved
        // (they were cut to the width of a window not yet laid out: nothing).
        Form1->ViewButtonClick();
        QVERIFY(QTest::qWaitForWindowExposed(Form2));
        QVERIFY2(Form2->PositionLabel->text().startsWith(QStringLiteral("№ 1 · строительные")),
                 qPrintable(Form2->PositionLabel->text()));
        QVERIFY(!Form2->LevelLabel->text().isEmpty());
        // The position's own amounts: ОТ in base and current prices, НР in current.
        QCOMPARE(Form2->AmountsGrid->horizontalHeaderItem(0)->text(), QStringLiteral("ОТ"));
        QCOMPARE(Form2->AmountsGrid->item(0, 0)->text() + "|" + Form2->AmountsGrid->item(1, 0)->text(),
                 money("32,74|1 709,36"));
        QCOMPARE(Form2->AmountsGrid->item(1, 6)->text(), money("1 980,23"));
        QCOMPARE(Form2->SmetaDBGrid->height() + Form2->PositionPanel->height(), 224);
        // A disabled rate shows why in its tooltip (the other controls' hints stay in the status bar).
        QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), Form2->NREdit->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(Form2->NREdit, &tip);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), Form2->NREdit->toolTip());
        QToolTip::hideText();

        // A rate's prices are the norm base's: typing into its cost opens no cell; its quantity does.
        auto* grid = Form2->SmetaDBGrid;
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 4));  // "Стоимость"
        QTest::keyClick(grid, '9');
        QCOMPARE(QApplication::focusWidget(), grid);
        QTest::keyClick(grid, Qt::Key_Return);
        Form2->storePendingEdit();
        QCOMPARE(doc().table().fieldValue("STOIM").asFloat(), 258.39);
        QVERIFY(grid->model()->flags(grid->model()->index(0, 3)) & Qt::ItemIsEditable);  // "Кол-во"

        // "-> 2000" by the index of materials, not by the disabled factor: 118 / 1,18 / 8,49.
        Form2->Edit1->setText(QStringLiteral("118"));
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        QCOMPARE(Form2->Edit2->text(), QStringLiteral("11,78"));  // a decimal comma always

        // The totals by the rules, the worked figures to the kopeck.
        Form2->TotalsItem->trigger();
        TotalsWindow* totals = Form2->Totals;
        QVERIFY(QTest::qWaitForWindowExposed(totals));
        QVERIFY(totals->BaseIndexGrid->isVisible());
        QVERIFY(!totals->BlockGrid->isVisible());
        QCOMPARE(current(QStringLiteral("Строительные работы"), QStringLiteral("Итого")), money("6 932,74"));
        verifyOnScreen("shown");
        // Each position's own lines on the second tab: № 1's heading, then its ОТ.
        totals->BaseIndexTabs->setCurrentIndex(1);
        const QAbstractItemModel* lines = totals->PositionsGrid->model();
        QVERIFY(lines->index(0, 0).data().toString().startsWith(QStringLiteral("№ 1 · ФЕР08-01-001-01")));
        QCOMPARE(lines->index(1, 0).data().toString() + "|" + lines->index(1, 3).data().toString(),
                 QStringLiteral("Оплата труда (ОТ)|") + money("1 709,36"));
        totals->BaseIndexTabs->setCurrentIndex(0);

        // "Excel" asks which workbook: nothing, the official form, the template's by its rule.
        std::vector<fs::path> opened;
        Form2->openWorkbook = [&](const fs::path& p) {
            opened.push_back(p);
            return true;
        };
        int questions = 0;
        using Choice = TForm2::WorkbookChoice;
        for (Choice choice : {Choice::Nothing, Choice::OfficialForm, Choice::TemplateWorkbook}) {
            Form2->chooseWorkbook = [&, choice](const QString&) {
                ++questions;
                return choice;
            };
            if (choice == Choice::TemplateWorkbook) {  // its template, where a norm base would stand
                QVERIFY(talvira::test::missingFixture("templates/1.xls").empty());
                fs::create_directory(start_->path() / "Base");
                fs::copy_file(talvira::test::fixture("templates/1.xls"), start_->path() / "Base" / "1.xls");
            }
            Form2->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_E, Qt::ControlModifier);
            // the form is written by a worker: done before the next question
            if (choice == Choice::OfficialForm) QTRY_VERIFY_WITH_TIMEOUT(!Form2->LsrExport->running(), 60000);
            QCOMPARE(takeError(), QString());
        }
        QCOMPARE(questions, 3);
        QCOMPARE(int(opened.size()), 2);
        QCOMPARE(opened[0], start_->path() / "Smeti" / "Фундамент ЛСР.xlsx");
        QCOMPARE(opened[1].extension(), fs::path(".xls"));

        // The position's data: another row found by words, a coefficient refused, then taken.
        QTest::mouseClick(Form2->PositionButton, Qt::LeftButton);
        PositionDialog* dlg = Form2->PositionDlg;
        QVERIFY(dlg->isVisible());
        QCOMPARE(dlg->TitleLabel->text(), QStringLiteral("Позиция № 1: ФЕР08-01-001-01"));
        QVERIFY(dlg->RowList->item(1)->text().endsWith(QStringLiteral("(называет норма)")));
        dlg->RowSearchEdit->insert(QStringLiteral("полы"));  // as typed: the list follows each change
        QList<QListWidgetItem*> found = dlg->RowList->findItems(QStringLiteral("011.0 Полы"), Qt::MatchStartsWith);
        QCOMPARE(found.size(), 1);
        dlg->RowList->setCurrentItem(found[0]);
        QVERIFY2(dlg->ChosenLabel->text().startsWith(QStringLiteral("Пр/812-011.0-1 Полы 112 %")),
                 qPrintable(dlg->ChosenLabel->text()));
        QTest::mouseClick(dlg->AddCoefButton, Qt::LeftButton);
        dlg->CoefGrid->item(0, 0)->setText(QStringLiteral("0"));
        dlg->CoefGrid->item(0, 1)->setCheckState(Qt::Checked);  // ОТ
        QTest::mouseClick(dlg->OKButton, Qt::LeftButton);
        QCOMPARE(takeError(), QStringLiteral("Коэффициент 1: «0» — нужно число больше нуля."));
        QVERIFY(dlg->isVisible());
        QVERIFY(doc().positionData(1).coefficients.empty());
        dlg->CoefGrid->item(0, 0)->setText(QStringLiteral("1,15"));
        QTest::mouseClick(dlg->OKButton, Qt::LeftButton);
        QCOMPARE(takeError(), QString());
        QVERIFY(!dlg->isVisible());
        QCOMPARE(doc().positionData(1).nrRow, std::string("011.0"));
        QVERIFY2(Form2->PositionLabel->toolTip().contains(QStringLiteral("К 1") +
                                                          QChar(talvira::dbctrls::userDecimalSeparator()) + "15 (ОТ)"),
                 qPrintable(Form2->PositionLabel->toolTip()));
        // The totals followed: ОТ 32,74 × 1,15 = 37,651 → 37,65, and the floors' 112 % and 65 %.
        QCOMPARE(totals->BaseIndexGrid->isVisible(), true);
        const QString afterData = current(QStringLiteral("Всего по смете"), QStringLiteral("Итого"));
        QVERIFY(afterData != money("6 932,74"));

        // An unaccounted material of the rate, 3 per unit, as Add brings it.
        doc().append([&] {
            talvira::storage::TableHandle& t = doc().table();
            t.append();
            t.setFieldValue("TAB", Value::string("ФССЦ-01.7.15.06-0111"));
            t.setFieldValue("KOLVO", Value::real(3));
            t.setFieldValue("STOIM", Value::real(7.5));
            t.setFieldValue("MATER", Value::real(7.5));
            t.post();
            talvira::model::PositionData e;
            e.count = int32_t(t.fieldValue("COUNT").asInteger());
            e.code = "ФССЦ-01.7.15.06-0111";
            e.parent = 1;
            e.perUnit = talvira::Dec7::fromInt(3);
            return std::vector<talvira::model::PositionData>{e};
        });
        doc().table().first();

        QVERIFY(grid->model()->flags(grid->model()->index(1, 4)) & Qt::ItemIsEditable);  // the material's price is typed

        // A quantity typed into the grid: the material and the totals follow when it is stored.
        Form2->activateWindow();
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 3));  // "Кол-во"
        QTest::keyClick(grid, '2');
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();
        Form2->storePendingEdit();
        QCOMPARE(doc().table().fieldValue("KOLVO").asFloat(), 2.0);
        QCOMPARE(doc().table().valueAt(1, doc().table().fieldIndex("KOLVO")).asFloat(), 6.0);
        QVERIFY(current(QStringLiteral("Всего по смете"), QStringLiteral("Итого")) != afterData);

        // Percentages kept that the tables no longer have: asked on opening, the tables' taken.
        talvira::model::PositionData kept = doc().positionData(1);
        kept.nrPercent = talvira::Dec7::fromInt(100);
        doc().setPositionData(kept);
        QString asked;
        Form2->askTablePercents = [&](const QString& q) {
            asked = q;
            return true;
        };
        const std::string smeti = (start_->path() / "Smeti").string();
        doc().open(smeti, "Фундамент.db");
        QVERIFY2(asked.contains(QStringLiteral("Позиция 1: НР по Пр/812-011.0-1 — в смете 100 %, в таблицах 112 %")),
                 qPrintable(asked));
        QVERIFY2(Form2->PositionLabel->toolTip().contains(QStringLiteral("112 %")), qPrintable(Form2->PositionLabel->toolTip()));
        asked.clear();
        doc().open(smeti, "Фундамент.db");
        QCOMPARE(asked, QString());
        verifyOnScreen("reopened");
        Form2->askTablePercents = nullptr;

        // Back to the template: the panel goes, the grid and the totals window are as always.
        Form2->ParamsItem->trigger();
        params->MethodBox->setCurrentIndex(0);
        QTest::mouseClick(params->OKButton, Qt::LeftButton);
        QCOMPARE(takeError(), QString());
        QVERIFY(Form2->PositionPanel->isHidden());
        QCOMPARE(Form2->SmetaDBGrid->height(), 224);
        QVERIFY(!Form2->PositionItem->isEnabled());
        for (const QLineEdit* edit : templateRates) QVERIFY(edit->isEnabled() && edit->toolTip().isEmpty());
        QVERIFY(grid->model()->flags(grid->model()->index(0, 4)) & Qt::ItemIsEditable);
        Form2->EButtonClick();
        QCOMPARE(takeError(), QString());
        QCOMPARE(questions, 3);  // the template's workbook, unasked
        QCOMPARE(int(opened.size()), 3);
        Form2->openWorkbook = nullptr;
        Form2->chooseWorkbook = nullptr;
        QVERIFY(totals->BlockGrid->isVisible());
        QVERIFY(!totals->BaseIndexGrid->isVisible());
        QVERIFY(totals->height() < 420);
        totals->hide();
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    BaseIndexWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "BaseIndexWindowTest.moc"
