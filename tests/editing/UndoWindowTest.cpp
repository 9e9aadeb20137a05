// Undo and redo in the estimate window on the offscreen platform, over real estimate files: the
// two items of the "&Правка" menu with their texts and state, Ctrl+Z / Ctrl+Y in the grid, in an
// open cell editor and in the window's edits, and the end of the history when another estimate
// is created.
#include "tests/support/EstimateWindowFixture.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/UndoCommands.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "dbctrls/DBGrid.h"
#include "editing/EstimateHistory.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "tools/demobase/DemoBase.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <filesystem>

namespace fs = std::filesystem;
using talvira::storage::TableHandle;
using talvira::storage::Value;

class UndoWindowTest : public QObject {
    Q_OBJECT

    using Fixture = talvira::test::EstimateWindowFixture;
    Fixture w_;
    QStringList& errors_ = w_.errors;

    static TableHandle& smeta() { return Form2->SmetaTable; }
    QAction* undoItem() { return Form2->undoCommands().undoItem(); }
    QAction* redoItem() { return Form2->undoCommands().redoItem(); }
    static void create(const QString& name) { Fixture::create(name); }
    /** One position appended as Add appends it, recorded as one step. */
    static void add(const std::string& code, double kolvo) {
        Form2->history().recordAppend([&] { Fixture::addPosition(kolvo, std::nullopt, code); });
    }
    /** The menu as the user sees it when opening "&Правка". */
    void openEditMenu() { emit Form2->N1->aboutToShow(); }
    static void focusCell(int row, int column) { Fixture::focusCell(row, column); }
    static void typeIntoGrid(const char* text) { Fixture::typeIntoGrid(text); }
    /** Return in the cell editor: the value goes into the row, which is not yet stored. */
    static void pressReturn() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QApplication::processEvents();  // the editor is committed and closed queued
    }
    double storedKolvo(int row) {
        return smeta().valueAt(row, smeta().fieldIndex("KOLVO")).asFloat();
    }

private slots:
    void initTestCase() {
        w_.start("talvira-undo-window", [](const fs::path& start) {
            talvira::demobase::writeDemoBase(talvira::normbase::baseDirectory(start.string()),
                                             talvira::demobase::DemoScale::Small);
        });
    }
    void cleanupTestCase() { w_.stop(); }
    void init() { errors_.clear(); }

    void itemsStandAboveTheEditMenusItems() {
        const QList<QAction*> items = Form2->N1->actions();
        QCOMPARE(items.size(), 6);
        QCOMPARE(items[0], undoItem());
        QCOMPARE(items[1], redoItem());
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items.mid(3), (QList<QAction*>{Form2->N2, Form2->N3, Form2->N4}));
        QCOMPARE(undoItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(redoItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y));
        QCOMPARE(Form2->N2->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
        QCOMPARE(Form2->N3->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Delete));
        QCOMPARE(Form2->N4->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    }

    void textsAndStateFollowTheSteps() {
        create(QStringLiteral("Тексты"));
        openEditMenu();
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить"));
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть"));
        QVERIFY(!undoItem()->isEnabled());
        QVERIFY(!redoItem()->isEnabled());

        add("01-01-001-01", 1);
        add("01-01-002-01", 2);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: добавление расценки 01-01-002-01"));
        QVERIFY(undoItem()->isEnabled());

        focusCell(0, 1);
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: удаление позиции"));
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: очистку сметы"));
        QVERIFY(smeta().isEmpty());

        undoItem()->trigger();
        QCOMPARE(errors_, QStringList());
        QCOMPARE(smeta().recordCount(), 1);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: удаление позиции"));
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть: очистку сметы"));
        QVERIFY(redoItem()->isEnabled());
        undoItem()->trigger();
        QCOMPARE(smeta().recordCount(), 2);
        QCOMPARE(smeta().recNo(), 0);  // the position brought back is the current one
        QCOMPARE(smeta().fieldAsString("TAB"), std::string("01-01-001-01"));
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть: удаление позиции"));
        undoItem()->trigger();
        undoItem()->trigger();
        QVERIFY(smeta().isEmpty());
        QVERIFY(!undoItem()->isEnabled());
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить"));
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть: добавление расценки 01-01-001-01"));

        // A new step drops what could be redone.
        add("02-01-001-01", 3);
        QVERIFY(!redoItem()->isEnabled());
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть"));

        // Another estimate: the history ends.
        create(QStringLiteral("Другая"));
        QVERIFY(!undoItem()->isEnabled());
        QVERIFY(!redoItem()->isEnabled());
        QCOMPARE(errors_, QStringList());
    }

    void addOfTheMainWindowIsOneStep() {
        create(QStringLiteral("Добавление"));
        // A rate with unaccounted resources: it brings more than one position along.
        auto& nb = Form1->Base;
        bool found = false;
        auto hasUnaccounted = [&] {
            for (nb.Table3.first(); !nb.Table3.eof(); nb.Table3.next())
                if (talvira::normbase::NormBase::isUnaccounted(nb.Table3.fieldValue("VIDNR"))) return true;
            return false;
        };
        // Collections, their contents entries, their rates; the handles stop on the rate found.
        for (nb.Table7.first(); !found && !nb.Table7.eof(); found || (nb.Table7.next(), true))
            for (nb.Table6.first(); !found && !nb.Table6.eof(); found || (nb.Table6.next(), true))
                for (nb.Table2.first(); !found && !nb.Table2.eof(); found || (nb.Table2.next(), true))
                    found = hasUnaccounted();
        QVERIFY(found);
        const QString code = QString::fromStdString(nb.Table2.fieldAsString("TAB"));
        QTest::mouseClick(Form1->AddButton, Qt::LeftButton);
        QCOMPARE(errors_, QStringList());
        const int added = smeta().recordCount();
        QVERIFY(added > 1);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: добавление расценки ") + code);
        undoItem()->trigger();
        QCOMPARE(smeta().recordCount(), 0);
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть: добавление расценки ") + code);
        redoItem()->trigger();
        QCOMPARE(smeta().recordCount(), added);
        QCOMPARE(errors_, QStringList());
    }

    void ctrlZInTheGridTakesBackAStoredValue() {
        create(QStringLiteral("Сетка"));
        add("01-01-001-01", 1);
        focusCell(0, 3);  // "Кол-во"
        typeIntoGrid("5");
        pressReturn();  // the editor closes, the row is not yet stored
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: изменение «Кол-во»"));
        QVERIFY(undoItem()->isEnabled());
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(errors_, QStringList());
        QCOMPARE(smeta().state(), TableHandle::State::Browse);
        QCOMPARE(storedKolvo(0), 1.0);
        QCOMPARE(redoItem()->text(), QStringLiteral("&Вернуть: изменение «Кол-во»"));
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(storedKolvo(0), 5.0);
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: изменение «Кол-во»"));
        // Two cells of one row stored together are one step.
        focusCell(0, 3);
        typeIntoGrid("7");
        pressReturn();
        focusCell(0, 4);
        typeIntoGrid("9");
        pressReturn();
        Form2->storePendingEdit();
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: изменение «Кол-во» и «Стоимость»"));
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(storedKolvo(0), 5.0);
        QVERIFY(smeta().valueAt(0, smeta().fieldIndex("STOIM")).isEmpty());
        QCOMPARE(errors_, QStringList());
    }

    void ctrlZInAnOpenEditorActsOnItsText() {
        create(QStringLiteral("Редактор"));
        add("01-01-001-01", 1);
        const size_t steps = Form2->history().undoCount();
        focusCell(0, 1);  // "Шифр"
        typeIntoGrid("abc");
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QVERIFY(Form2->SmetaDBGrid->isAncestorOf(editor));
        const QString typed = editor->text();
        QVERIFY(editor->isUndoAvailable());
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor));  // still open
        QVERIFY(editor->text() != typed);
        QCOMPARE(Form2->history().undoCount(), steps);
        QCOMPARE(smeta().valueAt(0, smeta().fieldIndex("TAB")).asString(), std::string("01-01-001-01"));
        QTest::keyClick(editor, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(editor->text(), typed);
        QCOMPARE(Form2->history().undoCount(), steps);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Escape);
        QCOMPARE(smeta().state(), TableHandle::State::Browse);

        // In the window's own edits the keys belong to the edit, never to the estimate.
        Form2->NREdit->setFocus();
        Form2->NREdit->selectAll();
        QTest::keyClicks(Form2->NREdit, "12");
        QTest::keyClick(Form2->NREdit, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(Form2->NREdit, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(Form2->NREdit, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(Form2->NREdit, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Form2->history().undoCount(), steps);
        QCOMPARE(smeta().recordCount(), 1);
        QCOMPARE(errors_, QStringList());
    }

    void aFailedUndoIsShownAndChangesNothing() {
        create(QStringLiteral("Только чтение"));
        add("01-01-001-01", 1);
        const fs::path file = w_.smeti() / "Только чтение.db";
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        focusCell(0, 1);
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Z, Qt::ControlModifier);
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        QCOMPARE(errors_.size(), 1);
        QVERIFY(smeta().active());
        QCOMPARE(smeta().recordCount(), 1);
        QVERIFY(undoItem()->isEnabled());
        QCOMPARE(undoItem()->text(), QStringLiteral("Отм&енить: добавление расценки 01-01-001-01"));
        QTest::keyClick(Form2->SmetaDBGrid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(errors_.size(), 1);
        QVERIFY(smeta().isEmpty());
    }
};

QTEST_MAIN(UndoWindowTest)
#include "UndoWindowTest.moc"
