// Data-aware controls over in-memory tables: display, following the handle both ways, typing
// into cells, adding and dropping blank rows, refused numbers, memo and text labels.
#include "common/Error.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBMemo.h"
#include "dbctrls/DBText.h"
#include "dbctrls/ErrorReport.h"
#include "dbctrls/FieldText.h"
#include "tests/support/MemoryTableFile.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QtTest>

using namespace talvira;
using namespace talvira::dbctrls;
using storage::FieldDef;
using storage::FieldType;
using storage::Record;
using storage::TableHandle;
using storage::Value;

namespace {

std::vector<FieldDef> estimateLikeFields() {
    return {{"COUNT", FieldType::AutoInc, 0},
            {"TAB", FieldType::Alpha, 50},
            {"NAME", FieldType::Memo, 10},
            {"KOLVO", FieldType::Number, 0},
            {"NUM", FieldType::Long, 0}};
}

Record row(int64_t count, const char* tab, const char* name, std::optional<double> kolvo) {
    return {Value::integer(count), Value::string(tab), Value::string(name),
            kolvo ? Value::real(*kolvo) : Value::empty(), Value::empty()};
}

std::vector<GridColumn> estimateColumns() {
    return {{"COUNT", "№", false}, {"TAB", "Шифр"}, {"KOLVO", "Кол-во"}, {"NUM", "Число"}};
}

QString num(const char* pointText) {
    QString s = QString::fromLatin1(pointText);
    s.replace('.', QChar(userDecimalSeparator()));
    return s;
}

/** Types text the way a user does: the first key opens the cell editor, the rest go to it. */
void typeText(QWidget* grid, const QString& text) {
    for (QChar c : text) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : grid;
        QTest::keyClick(target, c.toLatin1() ? c.toLatin1() : 'x');
    }
}

void key(QWidget* grid, Qt::Key k) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : grid;
    QTest::keyClick(target, k);
    QCoreApplication::processEvents();  // Enter commits the cell through a queued call
}

}  // namespace

class DBCtrlsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::MemoryTables> mem;
    std::unique_ptr<TableHandle> table;
    QStringList errors;

    void openTable(std::vector<Record> records) {
        table.reset();
        mem.reset();
        mem = std::make_unique<test::MemoryTables>();
        auto& data = mem->add("/mem/EST.DB", estimateLikeFields(), {}, std::move(records));
        data.lastAutoInc = static_cast<int64_t>(data.records.size());
        table = std::make_unique<TableHandle>("Smeta");
        table->setDatabaseName("/mem");
        table->setTableName("EST.DB");
        table->open();
    }

    /** Closes and reopens the table: what it holds then is what was stored. */
    void reopen() {
        table->close();
        table->open();
    }

    std::unique_ptr<DBGrid> editableGrid() {
        auto g = std::make_unique<DBGrid>();
        GridOptions o;
        o.editable = true;
        o.tabBetweenColumns = false;
        g->setOptions(o);
        g->setColumns(estimateColumns());
        g->setTable(table.get());
        g->resize(400, 200);
        g->show();
        g->activateWindow();
        g->setFocus();
        [&] { QVERIFY(QTest::qWaitForWindowActive(g.get())); }();
        return g;
    }

    void moveToCell(DBGrid& g, int row, int col) {
        g.setCurrentIndex(g.model()->index(row, col));
        QCOMPARE(table->recNo(), row);
    }

private slots:
    void initTestCase() { qInfo() << "decimal separator" << userDecimalSeparator(); }
    void init() {
        errors.clear();
        setErrorReporter([this](const QString& m) { errors << m; });
    }
    void cleanup() {
        setErrorReporter({});
        table.reset();
        mem.reset();
    }

    // ---- text of values and values of typed text -------------------------------------------

    void displayText_data() {
        QTest::addColumn<int>("kind");  // 0 empty, 1 integer, 2 float, 3 string
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("text");
        QTest::addColumn<char>("sep");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty shows nothing") << 0 << 0.0 << "" << ',' << "";
        QTest::newRow("integer") << 1 << 42.0 << "" << ',' << "42";
        QTest::newRow("comma") << 2 << 1.5 << "" << ',' << "1,5";
        QTest::newRow("point") << 2 << 1.5 << "" << '.' << "1.5";
        QTest::newRow("15 significant digits") << 2 << 0.1 + 0.2 << "" << ',' << "0,3";
        QTest::newRow("zero is not empty") << 2 << 0.0 << "" << ',' << "0";
        QTest::newRow("negative") << 2 << -2385.34 << "" << ',' << "-2385,34";
        QTest::newRow("text as it is") << 3 << 0.0 << "01-01-001-01" << ',' << "01-01-001-01";
    }
    void displayText() {
        QFETCH(int, kind);
        QFETCH(double, number);
        QFETCH(QString, text);
        QFETCH(char, sep);
        QFETCH(QString, expected);
        Value v = kind == 1 ? Value::integer(static_cast<int64_t>(number))
                  : kind == 2 ? Value::real(number)
                  : kind == 3 ? Value::string(text.toStdString())
                              : Value::empty();
        QCOMPARE(dbctrls::displayText(v, sep), expected);
    }

    void valueFromText_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<char>("sep");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("error");
        const int num = int(FieldType::Number), lng = int(FieldType::Long), alpha = int(FieldType::Alpha);
        QTest::newRow("comma number") << num << "12,5" << ',' << false << 12.5 << "";
        QTest::newRow("point number") << num << "12.5" << '.' << false << 12.5 << "";
        QTest::newRow("blanks and exponent") << num << " 2,5E3 " << ',' << false << 2500.0 << "";
        QTest::newRow("blank is empty") << num << "   " << ',' << true << 0.0 << "";
        QTest::newRow("empty is empty") << num << "" << ',' << true << 0.0 << "";
        QTest::newRow("point under comma locale") << num << "2.18" << ',' << false << 0.0
                                                  << "'2.18' is not a valid floating point value for field 'KOLVO'";
        QTest::newRow("letters") << num << "abc" << ',' << false << 0.0
                                 << "'abc' is not a valid floating point value for field 'KOLVO'";
        QTest::newRow("integer") << lng << "-12" << ',' << false << -12.0 << "";
        QTest::newRow("integer with decimals") << lng << "1,5" << ',' << false << 0.0
                                               << "'1,5' is not a valid integer value for field 'KOLVO'";
        QTest::newRow("integer out of range") << lng << "9999999999" << ',' << false << 0.0
                                              << "'9999999999' is not a valid integer value for field 'KOLVO'";
        // The lowest short marks an empty field on disk: refused here, once, not later by the handle.
        QTest::newRow("short below its range") << int(FieldType::Short) << "-32768" << ',' << false << 0.0
                                               << "'-32768' is not a valid integer value for field 'KOLVO'";
        QTest::newRow("short at its bottom") << int(FieldType::Short) << "-32767" << ',' << false << -32767.0 << "";
        QTest::newRow("text") << alpha << "шт" << ',' << false << 0.0 << "";
        QTest::newRow("empty text is empty") << alpha << "" << ',' << true << 0.0 << "";
    }
    void valueFromText() {
        QFETCH(int, type);
        QFETCH(QString, typed);
        QFETCH(char, sep);
        QFETCH(bool, empty);
        QFETCH(double, number);
        QFETCH(QString, error);
        try {
            const Value v = dbctrls::valueFromText(typed, FieldType(type), "KOLVO", sep);
            QVERIFY2(error.isEmpty(), "a refused text was taken");
            QCOMPARE(v.isEmpty(), empty);
            if (!empty && FieldType(type) == FieldType::Alpha) QCOMPARE(QString::fromStdString(v.asString()), typed);
            else if (!empty) QCOMPARE(v.asFloat(), number);
        } catch (const Error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), error);
        }
    }

    // ---- reading --------------------------------------------------------------------------

    void gridReadsOnlyWhatItShows() {
        std::vector<Record> records;
        for (int i = 0; i < 100000; ++i) records.push_back(row(i + 1, "T", "N", i * 0.5));
        openTable(std::move(records));
        auto* data = mem->find("/mem/EST.DB");
        DBGrid g;
        g.setColumns(estimateColumns());
        g.setTable(table.get());
        g.resize(300, 200);
        data->reads = 0;
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.grab();
        QCOMPARE(g.model()->rowCount(), 100000);
        QVERIFY2(data->reads < 2000, qPrintable(QString("records read: %1").arg(data->reads)));
    }

    void numbersRightTextLeftEmptyBlank() {
        openTable({row(1, "01-01", "a", 2.5), row(2, "02-02", "b", std::nullopt)});
        DBGrid g;
        g.setColumns(estimateColumns());
        g.setTable(table.get());
        auto* m = g.model();
        QCOMPARE(m->index(0, 2).data().toString(), num("2.5"));
        QCOMPARE(m->index(1, 2).data().toString(), QString());
        QCOMPARE(m->index(0, 1).data().toString(), QString("01-01"));
        QVERIFY(m->index(0, 2).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
        QVERIFY(m->index(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignLeft);
        QVERIFY(g.isColumnHidden(0));
        QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), QString("Кол-во"));
    }

    void selectionAndCursorFollowEachOther() {
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2), row(3, "C", "c", 3)});
        DBGrid g;
        GridOptions o;
        o.rowSelect = true;
        g.setOptions(o);
        g.setColumns(estimateColumns());
        g.setTable(table.get());
        QCOMPARE(g.currentIndex().row(), 0);
        g.setCurrentIndex(g.model()->index(2, 1));
        QCOMPARE(table->recNo(), 2);
        table->first();
        QCOMPARE(g.currentIndex().row(), 0);
        table->next();
        QCOMPARE(g.currentIndex().row(), 1);
        table->close();
        QCOMPARE(g.model()->rowCount(), 0);
        table->open();
        QCOMPARE(g.model()->rowCount(), 3);
        QCOMPARE(g.currentIndex().row(), 0);
    }

    void paintingHandlerRunsAfterEachCell() {
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2)});
        DBGrid g;
        GridOptions o;
        o.rowSelect = true;
        o.alwaysShowSelection = true;
        g.setOptions(o);
        g.setColumns(estimateColumns());
        g.setTable(table.get());
        g.resize(300, 120);
        std::vector<std::pair<int, bool>> painted;
        g.onDrawColumnCell = [&](DrawCellArgs& a) {
            painted.emplace_back(a.row, a.selected);
            if (a.row == 1 && a.column == 1) a.painter->fillRect(a.rect, QColor(0, 0, 255));
        };
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        const QImage img = g.viewport()->grab().toImage();
        QVERIFY(!painted.empty());
        for (auto [r, sel] : painted) QCOMPARE(sel, r == 0);
        const QRect cell = g.visualRect(g.model()->index(1, 1));
        QCOMPARE(img.pixelColor(cell.center()), QColor(0, 0, 255));
    }

    // ---- editing --------------------------------------------------------------------------

    void typedValuesAreStoredExactly() {
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2)});
        auto g = editableGrid();
        moveToCell(*g, 0, 2);
        typeText(g.get(), num("12.75"));
        key(g.get(), Qt::Key_Down);
        QCOMPARE(table->recNo(), 1);
        moveToCell(*g, 1, 1);
        typeText(g.get(), "XY");
        key(g.get(), Qt::Key_Up);
        QVERIFY(errors.isEmpty());
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(12.75));
        QCOMPARE(table->valueAt(1, table->fieldIndex("TAB")), Value::string("XY"));
        QCOMPARE(table->recordCount(), 2);
    }

    void clearingANumberCellEmptiesTheField() {
        openTable({row(1, "A", "a", 5)});
        auto g = editableGrid();
        moveToCell(*g, 0, 2);
        key(g.get(), Qt::Key_F2);
        auto* ed = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(ed);
        ed->clear();
        g->postEdit();
        reopen();
        QVERIFY(table->valueAt(0, table->fieldIndex("KOLVO")).isEmpty());
    }

    void lettersInANumberCellAreRefused() {
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2)});
        auto g = editableGrid();
        moveToCell(*g, 0, 2);
        typeText(g.get(), "abc");
        key(g.get(), Qt::Key_Down);
        QCOMPARE(errors, QStringList{"'abc' is not a valid floating point value for field 'KOLVO'"});
        // The cursor stays on the row with the typed text, to be corrected.
        QCOMPARE(table->recNo(), 0);
        QCOMPARE(g->currentIndex().row(), 0);
        auto* ed = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(ed);
        QCOMPARE(ed->text(), QString("abc"));
        ed->setText(num("3.5"));
        key(g.get(), Qt::Key_Down);
        QCOMPARE(table->recNo(), 1);
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(3.5));
    }

    void postEditReportsARefusedText() {
        openTable({row(1, "A", "a", 1)});
        auto g = editableGrid();
        moveToCell(*g, 0, 2);
        typeText(g.get(), "1x");
        QVERIFY_THROWS_EXCEPTION(Error, g->postEdit());
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(1));
    }

    void insertKeyAddsABlankRowDroppedWhenLeftUnchanged() {
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2)});
        auto g = editableGrid();
        moveToCell(*g, 0, 1);
        key(g.get(), Qt::Key_Insert);
        QCOMPARE(table->state(), TableHandle::State::Insert);
        QCOMPARE(g->model()->rowCount(), 3);
        QCOMPARE(g->currentIndex().row(), 2);
        key(g.get(), Qt::Key_Up);
        QCOMPARE(table->state(), TableHandle::State::Browse);
        QCOMPARE(g->model()->rowCount(), 2);
        reopen();
        QCOMPARE(table->recordCount(), 2);
    }

    void downPastTheLastRowAddsARowPostedWhenChanged() {
        openTable({row(1, "A", "a", 1)});
        auto g = editableGrid();
        moveToCell(*g, 0, 1);
        key(g.get(), Qt::Key_Down);
        QCOMPARE(g->model()->rowCount(), 2);
        key(g.get(), Qt::Key_Down);  // on the blank new row: nothing more is added
        QCOMPARE(g->model()->rowCount(), 2);
        typeText(g.get(), "NEW");
        key(g.get(), Qt::Key_Up);
        QVERIFY(errors.isEmpty());
        reopen();
        QCOMPARE(table->recordCount(), 2);
        QCOMPARE(table->valueAt(1, table->fieldIndex("TAB")), Value::string("NEW"));
    }

    void emptyTableShowsOneRowWhereTypingStartsTheFirstRecord() {
        openTable({});
        auto g = editableGrid();
        QCOMPARE(g->model()->rowCount(), 1);
        g->setCurrentIndex(g->model()->index(0, 2));
        typeText(g.get(), "7");
        g->postEdit();
        reopen();
        QCOMPARE(table->recordCount(), 1);
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(7));
    }

    void leavingTheGridForAnotherControlPosts() {
        openTable({row(1, "A", "a", 1)});
        QWidget w;
        auto* g = new DBGrid(&w);
        GridOptions o;
        o.editable = true;
        g->setOptions(o);
        g->setColumns(estimateColumns());
        g->setTable(table.get());
        g->setGeometry(0, 0, 300, 100);
        auto* other = new QLineEdit(&w);
        other->setGeometry(0, 110, 100, 20);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, 2));
        typeText(g, "9");
        other->setFocus();
        QCOMPARE(table->state(), TableHandle::State::Browse);
        g->setTable(nullptr);
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(9));
    }

    void tabLeavesAnEditableGridAndStoresTheCell() {
        openTable({row(1, "A", "a", 1)});
        QWidget w;
        auto* g = new DBGrid(&w);
        GridOptions o;
        o.editable = true;
        o.tabBetweenColumns = false;
        g->setOptions(o);
        g->setColumns(estimateColumns());
        g->setTable(table.get());
        g->setGeometry(0, 0, 300, 100);
        auto* next = new QLineEdit(&w);
        next->setGeometry(0, 110, 100, 20);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, 1));
        typeText(g, "TT");
        key(g, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(next));
        QCOMPARE(table->state(), TableHandle::State::Browse);
        g->setTable(nullptr);
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("TAB")), Value::string("TT"));
    }

    void escapeCancelsTheEdit() {
        openTable({row(1, "A", "a", 1)});
        auto g = editableGrid();
        moveToCell(*g, 0, 1);
        typeText(g.get(), "Z");
        QCOMPARE(table->state(), TableHandle::State::Edit);  // typing starts the edit
        key(g.get(), Qt::Key_Return);  // stored in the record buffer, not yet posted
        QCOMPARE(table->state(), TableHandle::State::Edit);
        key(g.get(), Qt::Key_Escape);
        QCOMPARE(table->state(), TableHandle::State::Browse);
        QCOMPARE(g->model()->index(0, 1).data().toString(), QString("A"));
    }

    // ---- memo and text ----------------------------------------------------------------------

    void memoAndTextFollowTheCurrentRecord() {
        openTable({row(1, "A", "первое имя", 1), row(2, "B", "второе", 2)});
        DBMemo memo;
        DBText text;
        memo.setField(table.get(), "NAME");
        text.setField(table.get(), "KOLVO");
        QCOMPARE(memo.toPlainText(), QString("первое имя"));
        QCOMPARE(text.text(), QString("1"));
        table->next();
        QCOMPARE(memo.toPlainText(), QString("второе"));
        QCOMPARE(text.text(), QString("2"));
        table->close();
        QCOMPARE(memo.toPlainText(), QString());
        QCOMPARE(text.text(), QString());
        memo.setField(nullptr, {});
        text.setField(nullptr, {});
    }

    void editableMemoWritesTheRecord() {
        openTable({row(1, "A", "old", 1)});
        DBMemo memo;
        memo.setEditable(true);
        memo.setField(table.get(), "NAME");
        const QString longName = QString("Длинное имя ").repeated(40);
        memo.setPlainText(longName);
        QCOMPARE(table->state(), TableHandle::State::Edit);
        table->post();
        reopen();
        QCOMPARE(QString::fromStdString(table->fieldAsString("NAME")), longName);
        table->close();
        QVERIFY(memo.isReadOnly());  // no record to type into
        table->open();
        QVERIFY(!memo.isReadOnly());
        memo.setField(nullptr, {});
    }
};

QTEST_MAIN(DBCtrlsTest)
#include "DBCtrlsTest.moc"
