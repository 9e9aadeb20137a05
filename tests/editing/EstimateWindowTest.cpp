// The estimate window and the estimate-name dialog on the offscreen platform, over real
// estimate files in a scratch start directory: creation, painting (export commands, italic
// rows, the status bar), the window's shortcuts, deleting, clearing, the price converter.
#include "tests/app/CaptionFit.h"
#include "tests/dbctrls/PaintedText.h"
#include "tests/support/EstimateWindowFixture.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/FormExport.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/UndoCommands.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFields.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolTip>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;
using talvira::dbctrls::DrawCellArgs;
using talvira::storage::TableHandle;
using talvira::storage::Value;

class EstimateWindowTest : public QObject {
    Q_OBJECT

    talvira::test::EstimateWindowFixture w_;
    std::map<int, bool> italicRows_;  // row -> painted in italic (last cell painted)

    fs::path smeti() const { return w_.smeti(); }
    static TableHandle& smeta() { return Form2->SmetaTable; }
    static void createThroughDialog(const QString& name) { talvira::test::EstimateWindowFixture::create(name); }
    static void typeIntoGrid(const char* text) { talvira::test::EstimateWindowFixture::typeIntoGrid(text); }
    static void addPosition(std::optional<double> kolvo, std::optional<double> stoim, const std::string& tab = "T") {
        talvira::test::EstimateWindowFixture::addPosition(kolvo, stoim, tab);
    }
    void repaintGrid() {
        italicRows_.clear();
        Form2->SmetaDBGrid->viewport()->repaint();
    }
    /** The widgets that Tab visits from `first` on, `count` of them. */
    static QList<QWidget*> tabSequence(QWidget* first, int count) {
        QList<QWidget*> seen;
        first->window()->activateWindow();
        first->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < count; ++i) {
            QWidget* w = QApplication::focusWidget();
            seen << w;
            if (!w) break;
            QTest::keyClick(w, Qt::Key_Tab);
        }
        return seen;
    }
    QString takeError() { return w_.takeError(); }

private slots:
    void initTestCase() {
        w_.start("talvira-window");
        auto paint = Form2->SmetaDBGrid->onDrawColumnCell;
        Form2->SmetaDBGrid->onDrawColumnCell = [this, paint](DrawCellArgs& a) {
            if (paint) paint(a);
            italicRows_[a.row] = a.font.italic();
        };
    }
    void cleanupTestCase() { w_.stop(); }
    void init() {
        w_.errors.clear();
        // Replacing an existing estimate is answered Yes unless a test says otherwise.
        OKRightDlg->confirmReplace = [](const QString&) { return true; };
    }

    // ---- the estimate-name dialog ---------------------------------------------------------

    void dialogLayout() {
        QCOMPARE(OKRightDlg->windowTitle(), QStringLiteral("Введите имя"));
        QCOMPARE(OKRightDlg->height(), 72);  // and wide enough for the caption in a usual title bar (was cut)
        QVERIFY(OKRightDlg->width() > 186 && OKRightDlg->width() < 300);
        QCOMPARE(OKRightDlg->OKBtn->text(), QStringLiteral("OK"));
        QCOMPARE(OKRightDlg->CancelBtn->text(), QStringLiteral("Отменить"));
        QVERIFY(OKRightDlg->OKBtn->isDefault());
        QVERIFY(!OKRightDlg->isModal());
        QCOMPARE(OKRightDlg->OKBtn->geometry(), QRect(16, 40, 73, 25));
        QCOMPARE(OKRightDlg->CancelBtn->geometry(), QRect(96, 40, 73, 25));
        QCOMPARE(OKRightDlg->DBNameEdit->geometry().topLeft(), QPoint(8, 8));
        OKRightDlg->DBNameEdit->setText(QStringLiteral("x"));
        OKRightDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(OKRightDlg));
        QCOMPARE(tabSequence(OKRightDlg->OKBtn, 3),
                 (QList<QWidget*>{OKRightDlg->OKBtn, OKRightDlg->CancelBtn, OKRightDlg->DBNameEdit}));
        OKRightDlg->hide();
        QVERIFY(!(OKRightDlg->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(OKRightDlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    }

    void dialogOkFollowsTheText() {
        OKRightDlg->DBNameEdit->clear();
        OKRightDlg->show();
        OKRightDlg->activateWindow();
        OKRightDlg->DBNameEdit->setFocus();
        QVERIFY(!OKRightDlg->OKBtn->isEnabled());
        // Enter with an empty text does nothing; Escape hides.
        QTest::keyClick(OKRightDlg->DBNameEdit, Qt::Key_Return);
        QVERIFY(OKRightDlg->isVisible());
        QVERIFY(w_.errors.isEmpty());
        QTest::keyClicks(OKRightDlg->DBNameEdit, "Saray");
        QVERIFY(OKRightDlg->OKBtn->isEnabled());
        OKRightDlg->DBNameEdit->selectAll();
        QTest::keyClick(OKRightDlg->DBNameEdit, Qt::Key_Backspace);
        QVERIFY(!OKRightDlg->OKBtn->isEnabled());
        QTest::keyClicks(OKRightDlg->DBNameEdit, "   ");
        QVERIFY(OKRightDlg->OKBtn->isEnabled());
        QTest::keyClick(OKRightDlg->DBNameEdit, Qt::Key_Escape);
        QVERIFY(!OKRightDlg->isVisible());
        // Shown again: the same text, OK enabled.
        OKRightDlg->show();
        QCOMPARE(OKRightDlg->DBNameEdit->text(), QStringLiteral("   "));
        QVERIFY(OKRightDlg->OKBtn->isEnabled());
        QTest::mouseClick(OKRightDlg->CancelBtn, Qt::LeftButton);
        QVERIFY(!OKRightDlg->isVisible());
        QVERIFY(!fs::exists(smeti() / "   .db"));
    }

    void creatingDom() {
        createThroughDialog(QStringLiteral("Дом"));
        QCOMPARE(takeError(), QString());
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Смета \"Дом\""));
        QCOMPARE(Form1->NameLabel->text(), StartDir + "/Smeti");
        QCOMPARE(Form1->PathLabel->text(), QStringLiteral("Дом"));
        QVERIFY(smeta().active());
        QVERIFY(smeta().isEmpty());
        QVERIFY(!OKRightDlg->isVisible());
        QCOMPARE(OKRightDlg->DBNameEdit->text(), QStringLiteral("Дом"));
        QVERIFY(OKRightDlg->OKBtn->isEnabled());
        QVERIFY(Form1->AddButton->isEnabled());
        QVERIFY(Form1->ViewButton->isEnabled());
        QVERIFY(fs::exists(smeti() / "Дом.db"));
        QCOMPARE(smeta().tableFields(), talvira::estimate::estimateFieldDefs());
        QCOMPARE(smeta().fieldCount(), 17);
    }

    void creatingOverAnExistingEstimateAsksFirst() {
        OKRightDlg->confirmReplace = [&](const QString&) { return true; };
        createThroughDialog(QStringLiteral("Дом"));
        addPosition(1, 1);
        QString asked;
        OKRightDlg->confirmReplace = [&](const QString& q) { asked = q; return false; };
        createThroughDialog(QStringLiteral("Дом"));
        QCOMPARE(asked, QStringLiteral("Смета «Дом» уже существует. Заменить её пустой?"));
        QVERIFY(OKRightDlg->isVisible());  // No: nothing changed, the dialog stays
        QVERIFY(smeta().active());
        QCOMPARE(smeta().recordCount(), 1);
        OKRightDlg->confirmReplace = [&](const QString&) { return true; };
        QTest::mouseClick(OKRightDlg->OKBtn, Qt::LeftButton);
        QVERIFY(!OKRightDlg->isVisible());
        QVERIFY(smeta().active());
        QCOMPARE(smeta().recordCount(), 0);
    }

    void creatingWithAPathInTheNameIsRefused() {
        createThroughDialog(QStringLiteral("../Дом"));
        QVERIFY(takeError().contains(QStringLiteral("не должно содержать")));
        QVERIFY(OKRightDlg->isVisible());
        QVERIFY(smeta().active());  // the open estimate is untouched
        QCOMPARE(Form1->PathLabel->text(), QStringLiteral("Дом"));
        OKRightDlg->hide();
    }

    void creatingWithoutTheEstimatesDirectory() {
        fs::rename(smeti(), w_.startDir() / "Smeti.away");
        createThroughDialog(QStringLiteral("Баня"));
        const QString error = takeError();
        fs::rename(w_.startDir() / "Smeti.away", smeti());
        QVERIFY(!error.isEmpty());
        QVERIFY(!smeta().active());
        QVERIFY(OKRightDlg->isVisible());
        QCOMPARE(OKRightDlg->DBNameEdit->text(), QStringLiteral("Баня"));
        QCOMPARE(Form1->PathLabel->text(), QStringLiteral("Баня"));
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Смета \"Баня\""));
        QVERIFY(Form1->AddButton->isEnabled());
        QVERIFY(!fs::exists(w_.startDir() / "Smeti" / "Баня.db"));
        // The user may press OK again once the directory is there.
        QTest::mouseClick(OKRightDlg->OKBtn, Qt::LeftButton);
        QCOMPARE(takeError(), QString());
        QVERIFY(smeta().active());
    }

    // ---- the estimate window --------------------------------------------------------------

    void windowLayout() {
        QCOMPARE(Form2->centralWidget()->size().width(), 669);
        QCOMPARE(Form2->centralWidget()->height() + Form2->StatusBar1->height(), 517);
        QCOMPARE(Form2->UTVEdit->text(), QStringLiteral("Генеральный директор "));
        QCOMPARE(Form2->SOGLEdit->text(), QStringLiteral("Генеральный директор "));
        QCOMPARE(Form2->NAMEEdit->text(), QStringLiteral("Локальная смета №1"));
        const std::pair<QLineEdit*, const char*> rates[] = {
            {Form2->NREdit, "105"}, {Form2->PNEdit, "90"}, {Form2->SUEdit, "12"}, {Form2->ZUEdit, "20"},
            {Form2->VZSEdit, "10"}, {Form2->KoefEdit, nullptr}, {Form2->NDSEdit, "18"}};
        // the factor is written with the user's decimal separator
        const QString factor = QStringLiteral("2") + QChar(talvira::dbctrls::userDecimalSeparator()) + "18";
        for (const auto& [edit, text] : rates) {
            if (!text) {
                QCOMPARE(edit->text(), factor);
                QCOMPARE(edit->x(), 584);
                continue;
            }
            QCOMPARE(edit->text(), QString::fromUtf8(text));
            QCOMPARE(edit->x(), 584);
        }
        QCOMPARE(Form2->KoefLabel->geometry().right() + 1, 577);
        QCOMPARE(Form2->SmetaDBGrid->height(), 224);
        QCOMPARE(Form2->SmetaDBGrid->width(), 669);
        const auto& cols = Form2->SmetaDBGrid->columns();
        QCOMPARE(int(cols.size()), 11);
        QCOMPARE(cols[0].field, std::string("COUNT"));
        QVERIFY(Form2->SmetaDBGrid->isColumnHidden(0));
        QVERIFY(Form2->SmetaDBGrid->isColumnHidden(10));
        QCOMPARE(Form2->SmetaDBGrid->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Кол-во"));
        QCOMPARE(Form2->SmetaDBGrid->columnWidth(1), 86);
        QCOMPARE(Form2->N2->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
        QCOMPARE(Form2->N3->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Delete));
        QCOMPARE(Form2->Excell20xx1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
        QVERIFY(!Form2->Excell971->isEnabled());
        // Resizing: the grid follows the width, takes the added height, stays at the bottom.
        Form2->resize(800, Form2->height() + 100);
        QTRY_COMPARE(Form2->SmetaDBGrid->width(), 800);
        QCOMPARE(Form2->SmetaDBGrid->height(), 324);
        QCOMPARE(Form2->SmetaDBGrid->geometry().bottom() + 1, Form2->centralWidget()->height());
        QCOMPARE(Form2->Edit1->pos(), QPoint(472, 240));
        Form2->resize(669, Form2->height() - 100);
        for (QMenu* menu : Form2->menuBar()->findChildren<QMenu*>()) {  // "Отменить", "Очистка" shared О
            QStringList letters;
            for (const QAction* a : menu->actions())
                if (a->text().contains('&')) letters << a->text().section('&', 1).left(1).toLower();
            QCOMPARE(letters.removeDuplicates(), 0);
        }
    }

    void oneFontForBothWindowsAndEveryCaptionWhole() {
        // Before, the estimate window forced a font of its own, wider than the main window's:
        // the last line of Label1 was never seen, "Материалы" showed as "Материаль".
        QCOMPARE(QFontInfo(Form2->font()).family(), QFontInfo(Form1->font()).family());
        QCOMPARE(Form2->font().pixelSize(), Form1->font().pixelSize());
        for (QWidget* w : Form2->centralWidget()->findChildren<QWidget*>())
            QCOMPARE(QFontInfo(w->font()).family(), QFontInfo(Form1->font()).family());
        const QStringList cut = talvira::test::cutCaptions(Form2);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
        // The rate labels stay clear of the title block's frames and the raised lines.
        for (QLabel* l : {Form2->NRLabel, Form2->PNLabel, Form2->SULabel, Form2->ZULabel, Form2->VZSLabel,
                          Form2->KoefLabel, Form2->NDSLabel}) {
            QCOMPARE(l->geometry().right() + 1, 577);
            for (QWidget* other : std::initializer_list<QWidget*>{Form2->GroupBox1, Form2->GroupBox2, Form2->GroupBox3,
                                                                  Form2->Bevel1, Form2->Bevel2, Form2->Bevel3})
                QVERIFY2(!l->geometry().intersects(other->geometry()), qPrintable(l->objectName() + " over " + other->objectName()));
        }
    }

    void aCutFigureInTheGridShowsItsValueAsTooltip() {
        createThroughDialog(QStringLiteral("Подсказки"));
        addPosition(2, 1234.56789012346, "A");
        addPosition(3, 10, "B");
        smeta().first();
        auto* g = Form2->SmetaDBGrid;
        int stoim = -1;
        for (int c = 0; c < static_cast<int>(g->columns().size()); ++c)
            if (g->columns()[static_cast<size_t>(c)].field == "STOIM") stoim = c;
        const QString whole = g->cellText(0, stoim);
        const QRect cell = g->visibleCellRect(0, stoim);
        QStringList painted;
        for (const auto& t : talvira::test::paintedTexts(g->viewport()))
            if (cell.contains(t.box.center().toPoint())) painted << t.text;
        QVERIFY(!painted.isEmpty());
        for (const QString& t : painted) {
            QVERIFY2(t.endsWith(QChar(talvira::dbctrls::kElisionMark)), qPrintable(t));
            QVERIFY2(whole.startsWith(t.chopped(1)), qPrintable(t));
        }
        // Through the window's own event handling, which keeps the hints off pop-up tips.
        QHelpEvent help(QEvent::ToolTip, cell.center(), g->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(g->viewport(), &help);
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), whole);
        QToolTip::hideText();
    }

    void tabOrder() {
        const QList<QWidget*> order = {Form2->SmetaDBGrid, Form2->UTVEdit, Form2->FUEdit, Form2->SOGLEdit,
                                       Form2->FSEdit, Form2->NAMEEdit, Form2->NREdit, Form2->PNEdit,
                                       Form2->SUEdit, Form2->ZUEdit, Form2->VZSEdit, Form2->KoefEdit,
                                       Form2->NDSEdit, Form2->ClearButton, Form2->DeleteButton, Form2->EButton,
                                       reinterpret_cast<QWidget*>(Form2->DBMemo1), Form2->Button1, Form2->Edit1,
                                       Form2->Edit2};
        Form2->EButton->setEnabled(true);
        QCOMPARE(tabSequence(Form2->SmetaDBGrid, int(order.size())), order);
    }

    void emptyEstimateDisablesExportAndWarns() {
        createThroughDialog(QStringLiteral("Пусто"));
        repaintGrid();
        QCOMPARE(Form2->SmetaDBGrid->model()->rowCount(), 1);  // the blank row
        QVERIFY(!Form2->EButton->isEnabled());
        QVERIFY(!Form2->Excell20xx1->isEnabled());
        QCOMPARE(Form2->statusText(),
                 QStringLiteral("Внимание!!! Количество либо стоимость данного ресурса не определено или равно 0"));
        addPosition(2, 10);
        repaintGrid();
        QVERIFY(Form2->EButton->isEnabled());
        QVERIFY(Form2->Excell20xx1->isEnabled());
        QCOMPARE(Form2->statusText(), QString());
        Form2->DeleteButtonClick();
        repaintGrid();
        QVERIFY(!Form2->EButton->isEnabled());
        QVERIFY(!Form2->Excell20xx1->isEnabled());
    }

    void italicRowsAndTheWarningFollowWhatTheEstimateHolds() {
        createThroughDialog(QStringLiteral("Курсив"));
        addPosition({}, 10, "upper");        // incomplete
        addPosition(0.001, -5, "lower");     // complete
        smeta().first();
        repaintGrid();
        QCOMPARE(italicRows_[0], true);
        QCOMPARE(italicRows_[1], false);
        QVERIFY(!Form2->statusText().isEmpty());  // while any position is incomplete

        createThroughDialog(QStringLiteral("Курсив2"));
        addPosition(1, 1, "upper");
        addPosition(0, 1, "lower");
        smeta().first();
        repaintGrid();
        QCOMPARE(italicRows_[0], false);
        QCOMPARE(italicRows_[1], true);
        QVERIFY(!Form2->statusText().isEmpty());
        // The only incomplete position out of sight, opened anew: the bar warns (was empty).
        createThroughDialog(QStringLiteral("Курсив3"));
        for (int i = 0; i < 40; ++i) addPosition(1, i < 39 ? 1 : 0);
        Form1->OpenDialog1CanClose(QString::fromStdString((smeti() / "Курсив3.db").string()));
        repaintGrid();
        QVERIFY(!Form2->statusText().isEmpty());
    }

    void ctrlDelInTheGridClearsTheEstimate() {
        createThroughDialog(QStringLiteral("Очистка"));
        addPosition(1, 1);
        addPosition(2, 2);
        Form2->activateWindow();
        Form2->SmetaDBGrid->setFocus();
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(takeError(), QString());
        QVERIFY(smeta().active());
        QVERIFY(smeta().isEmpty());
    }

    void ctrlDelWhileACellIsEditedClearsToo() {
        createThroughDialog(QStringLiteral("Очистка2"));
        addPosition(1, 1);
        Form2->SmetaDBGrid->setFocus();
        Form2->SmetaDBGrid->setCurrentIndex(Form2->SmetaDBGrid->model()->index(0, 1));
        typeIntoGrid("abc");  // opens the cell editor
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(smeta().active());
        QVERIFY(smeta().isEmpty());
    }

    void shiftDelDeletes() {
        createThroughDialog(QStringLiteral("Удаление"));
        addPosition(1, 1);
        smeta().first();
        Form2->SmetaDBGrid->setFocus();
        Form2->SmetaDBGrid->setCurrentIndex(Form2->SmetaDBGrid->model()->index(0, 5));
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(takeError(), QString());
        QVERIFY(smeta().isEmpty());
        Form2->undoCommands().undo();  // back in the column the user was in (was "Шифр")
        QCOMPARE(Form2->SmetaDBGrid->currentIndex(), Form2->SmetaDBGrid->model()->index(0, 5));
        Form2->DeleteButtonClick();
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(takeError(), QString());
        QVERIFY(smeta().isEmpty());
        QCOMPARE(smeta().state(), TableHandle::State::Browse);
    }

    void lettersInAQuantityCellAreRefused() {
        createThroughDialog(QStringLiteral("Буквы"));
        addPosition(1, 1);
        addPosition(2, 2);
        smeta().first();
        auto* grid = Form2->SmetaDBGrid;
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 3));
        typeIntoGrid("abc");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCoreApplication::processEvents();
        // The message ends with an apostrophe, which sorts before ".": no "." is added.
        QCOMPARE(takeError(), QStringLiteral("'abc' is not a valid floating point value for field 'KOLVO'"));
        // The editor keeps the refused text; Escape drops it.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        smeta().cancel();
        QCOMPARE(takeError(), QString());
    }

    void priceConversion() {
        struct Case {
            const char* price;
            const char* koef;
            const char* result;  // nullptr: refused
            const char* message;
        };
        const Case cases[] = {
            {"118", "2,18", "45,87", nullptr},
            {"", "2,18", nullptr, "'' is not a valid floating point value."},
        };
        for (const auto& c : cases) {
            Form2->Edit2->setText(QStringLiteral("было"));
            Form2->Edit1->setText(QString::fromUtf8(c.price));
            Form2->KoefEdit->setText(QString::fromUtf8(c.koef));
            QTest::mouseClick(Form2->Button1, Qt::LeftButton);
            if (c.result) {
                QCOMPARE(Form2->Edit2->text(), QString::fromUtf8(c.result));
                QCOMPARE(takeError(), QString());
            } else {
                QCOMPARE(Form2->Edit2->text(), QStringLiteral("было"));
                QCOMPARE(takeError(), QString::fromUtf8(c.message));
            }
        }
        Form2->KoefEdit->setText(QStringLiteral("2,18"));
    }

    void hintsGoToTheStatusBar() {
        createThroughDialog(QStringLiteral("Подсказки2"));
        addPosition(1, 1);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(Form2->Edit1, &enter);
        QCOMPARE(Form2->statusText(), QStringLiteral("Введите сюда цену материала (с учетом НДС и нынешнего года)"));
        QApplication::sendEvent(Form2->Button1, &enter);
        QCOMPARE(Form2->statusText(), QStringLiteral("Рассчитать цену на 2000 г"));
        QApplication::sendEvent(Form2->ClearButton, &enter);
        QCOMPARE(Form2->statusText(), QString());
        QVERIFY(Form2->Edit1->toolTip().isEmpty());
    }

    void hidingKeepsTheEstimateAndTheTexts() {
        Form2->NREdit->setText(QStringLiteral("99"));
        Form2->N4->trigger();
        QVERIFY(!Form2->isVisible());
        QVERIFY(smeta().active());
        Form2->show();
        QCOMPARE(Form2->NREdit->text(), QStringLiteral("99"));
        Form2->close();
        QVERIFY(!Form2->isVisible());
        Form2->show();
        Form2->NREdit->setText(QStringLiteral("105"));
    }

    void excelWritesTheWorkbookAndKeepsThePosition() {
        createThroughDialog(QStringLiteral("Экспорт"));
        addPosition(2, 10, "A");
        addPosition(3, 20, "B");
        addPosition(4, 30, "C");
        smeta().moveTo(1);
        std::vector<fs::path> opened;
        Form2->openWorkbook = [&](const fs::path& p) {
            opened.push_back(p);
            return true;
        };

        // Without the template: the error box, nothing opened, the table where it was.
        guarded([] { Form2->EButtonClick(); });
        QVERIFY(takeError().contains(QStringLiteral("1.xls")));
        QVERIFY(opened.empty());
        QCOMPARE(smeta().recNo(), 1);
        QVERIFY(!smeta().controlsDisabled());

        fs::create_directories(w_.startDir() / "Base");
        QVERIFY2(talvira::test::missingFixture("templates/1.xls").empty(), "tests/data/templates/1.xls is missing");
        fs::copy_file(talvira::test::fixture("templates/1.xls"), w_.startDir() / "Base" / "1.xls");
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(takeError(), QString());
        QCOMPARE(int(opened.size()), 1);
        QVERIFY(fs::exists(opened[0]));
        QCOMPARE(opened[0], smeti() / "Смета Экспорт.xls");
        QCOMPARE(smeta().recNo(), 1);
        QCOMPARE(smeta().fieldAsString("TAB"), std::string("B"));
        QVERIFY(!smeta().controlsDisabled());

        // No program takes the book: a warning naming it, beside the first one, no error box.
        QStringList warned;
        setWarningBoxHook([&](const QString& w) { warned << w; });
        Form2->openWorkbook = [](const fs::path&) { return false; };
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_E, Qt::ControlModifier);
        QCoreApplication::processEvents();
        setWarningBoxHook({});
        QCOMPARE(takeError(), QString());
        QCOMPARE(warned.size(), 1);
        const fs::path second = smeti() / "Смета Экспорт (2).xls";
        QVERIFY2(warned[0].contains(QString::fromStdString(second.string())), qPrintable(warned[0]));
        QVERIFY(fs::exists(second) && fs::exists(opened[0]));

        // The box itself has the keyboard: Enter closes it (it went to the grid behind), and
        // the next Ctrl+E gives a box of its own (its text was added to the first one).
        QStringList texts;
        for (int round = 0; round < 2; ++round) {
            talvira::test::EstimateWindowFixture::activateEstimateWindow();
            Form2->SmetaDBGrid->setFocus();
            QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_E, Qt::ControlModifier);
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box && box->isVisible());
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(box));
            texts << box->text();
            const QPointer<QMessageBox> shown = box;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QVERIFY(!shown || !shown->isVisible());
            QCoreApplication::processEvents();
        }
        QCOMPARE(texts.size(), 2);
        QVERIFY2(texts[0].contains(QStringLiteral("(3).xls")) && texts[1].contains(QStringLiteral("(4).xls")),
                 qPrintable(texts.join('|')));
        QCOMPARE(takeError(), QString());
        for (const char* suffix : {"", " (2)", " (3)", " (4)"})
            fs::remove(smeti() / (std::string("Смета Экспорт") + suffix + ".xls"));
        fs::remove_all(w_.startDir() / "Base");
    }

    void lsrItemWritesTheFormOrOffersTheTemplateWorkbook() {
        // in "&Расчет", after the items that were there before it
        const QList<QAction*> items = Form2->N5->actions();
        QVERIFY(items.indexOf(Form2->LsrItem) > items.indexOf(Form2->NextIncompleteItem));
        QCOMPARE(Form2->LsrItem->text(), QStringLiteral("Локальный сметный расчет (421/пр)..."));
        createThroughDialog(QStringLiteral("Форма"));
        addPosition(2, 10, "A");  // materials of their own: no НР/СП row needed
        addPosition(3, 20, "B");
        smeta().moveTo(1);
        std::vector<fs::path> opened;
        Form2->openWorkbook = [&](const fs::path& p) {
            opened.push_back(p);
            return true;
        };
        QStringList offered;
        Form2->offerTemplateWorkbook = [&](const QString& q) {
            offered << q;
            return false;
        };

        // An estimate by the template: the form is not made, the template workbook offered.
        Form2->LsrItem->trigger();
        QCOMPARE(takeError(), QString());
        QCOMPARE(offered.size(), 1);
        QVERIFY2(offered[0].contains(QStringLiteral("421/пр")) && offered[0].contains(QStringLiteral("шаблону")),
                 qPrintable(offered[0]));
        QVERIFY(opened.empty());
        QVERIFY(!fs::exists(smeti() / "Форма ЛСР.xlsx"));

        // By the base-index method: written beside the estimate by a worker while the window
        // goes on (asked again meanwhile, nothing more starts), then opened, the table where it was.
        talvira::model::EstimateParams params = Form2->document().calc().params;
        params.method = talvira::model::Method::BaseIndex;
        Form2->document().setParams(params);
        Form2->LsrItem->trigger();
        QVERIFY(Form2->LsrExport->running());
        Form2->LsrItem->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!Form2->LsrExport->running(), 60000);
        QVERIFY(!Form2->LsrExport->progressDialog()->isVisible());
        QCOMPARE(takeError(), QString());
        QCOMPARE(offered.size(), 1);
        QCOMPARE(int(opened.size()), 1);
        QVERIFY(!fs::exists(smeti() / "Форма ЛСР (2).xlsx"));
        QCOMPARE(opened[0], smeti() / "Форма ЛСР.xlsx");
        QVERIFY(fs::file_size(opened[0]) > 1000);
        QCOMPARE(smeta().recNo(), 1);
        QVERIFY(!smeta().controlsDisabled());
        Form2->openWorkbook = {};
        Form2->offerTemplateWorkbook = {};
    }

    void eachEstimateKeepsItsTitleBlockAndRates() {
        createThroughDialog(QStringLiteral("Кровля"));
        Form2->NDSEdit->setText(QStringLiteral("20"));
        Form2->FUEdit->setText(QStringLiteral("Иванов "));
        createThroughDialog(QStringLiteral("Баня"));  // the first is stored as it closes
        QCOMPARE(Form2->NDSEdit->text(), QStringLiteral("18"));
        QCOMPARE(Form2->FUEdit->text(), QString());
        Form2->NREdit->setText(QStringLiteral("100"));
        Form1->OpenDialog1CanClose(QString::fromStdString((smeti() / "Кровля.db").string()));
        QCOMPARE(takeError(), QString());
        QCOMPARE(Form2->NDSEdit->text(), QStringLiteral("20"));
        QCOMPARE(Form2->FUEdit->text(), QStringLiteral("Иванов "));
        QCOMPARE(Form2->NREdit->text(), QStringLiteral("105"));
        Form1->OpenDialog1CanClose(QString::fromStdString((smeti() / "Баня.db").string()));
        QCOMPARE(Form2->NREdit->text(), QStringLiteral("100"));
        createThroughDialog(QStringLiteral("Кровля"));  // replaced by an empty one: the defaults
        QCOMPARE(Form2->NDSEdit->text(), QStringLiteral("18"));
        QVERIFY(!fs::exists(smeti() / "Кровля.txt"));
    }

    void aUsersOwnTextFileIsToldOnceAndNeverTouched() {
        // A file of the user's under the name the estimate keeps its title block in.
        createThroughDialog(QStringLiteral("Заметки"));
        const fs::path notes = smeti() / "Заметки.txt";
        const std::string mine = "Позвонить заказчику до пятницы\n";
        std::ofstream(notes, std::ios::binary) << mine;
        QStringList warned;
        setWarningBoxHook([&](const QString& w) { warned << w; });
        Form1->OpenDialog1CanClose(QString::fromStdString((smeti() / "Заметки.db").string()));
        QCOMPARE(warned.size(), 1);  // told once, as it opens
        QVERIFY2(warned[0].contains(QString::fromStdString(notes.string())), qPrintable(warned[0]));
        // Three edits left, each of them a box before.
        for (QLineEdit* edit : {Form2->FUEdit, Form2->NAMEEdit, Form2->NREdit}) {
            edit->setFocus();
            QTest::keyClicks(edit, "1");
            QTest::keyClick(edit, Qt::Key_Return);
        }
        Form2->storePendingEdit();
        QCoreApplication::processEvents();
        setWarningBoxHook({});
        QCOMPARE(warned.size(), 1);
        QCOMPARE(takeError(), QString());
        std::ifstream in(notes, std::ios::binary);
        QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), mine);
        Form2->NREdit->setText(QStringLiteral("105"));
    }

    void storePendingEditPostsWhatWasTyped() {
        createThroughDialog(QStringLiteral("Правка"));
        addPosition(1, 1);
        smeta().first();
        auto* grid = Form2->SmetaDBGrid;
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 3));
        typeIntoGrid("7");
        Form2->storePendingEdit();
        QCOMPARE(smeta().state(), TableHandle::State::Browse);
        smeta().first();
        QCOMPARE(smeta().fieldValue("KOLVO").asFloat(), 7.0);
    }
};

int main(int argc, char** argv) {
    // Numbers typed by the user are read in a decimal-comma locale here.
    qputenv("LC_ALL", "ru_RU.UTF-8");
    qputenv("LANG", "ru_RU.UTF-8");
    Application app(argc, argv);
    EstimateWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "EstimateWindowTest.moc"
