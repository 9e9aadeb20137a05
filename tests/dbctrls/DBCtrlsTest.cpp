// Data-aware controls over in-memory tables: display, following the handle both ways, typing
// into cells, adding and dropping blank rows, refused numbers, memo and text labels.
#include "common/Error.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBMemo.h"
#include "dbctrls/DBText.h"
#include "dbctrls/ErrorReport.h"
#include "dbctrls/FieldText.h"
#include "tests/dbctrls/PaintedText.h"
#include "tests/support/MemoryTableFile.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
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

/** True when `shown` is `whole` or an admissible cut of it: a prefix (a number's keeps its
 *  decimal separator and one decimal) followed by the elision mark, or a number's "###". */
bool admissibleCut(const QString& shown, const QString& whole, bool number) {
    if (shown == whole) return true;
    if (number && !shown.isEmpty() && shown == QString(shown.size(), QChar('#'))) return true;
    if (!shown.endsWith(QChar(kElisionMark))) return false;
    const QString prefix = shown.chopped(1);
    if (!whole.startsWith(prefix)) return false;
    if (!number) return true;
    const qsizetype point = prefix.indexOf(QChar(userDecimalSeparator()));
    return point >= 0 && prefix.size() >= point + 2;
}

}  // namespace

class DBCtrlsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::MemoryTables> mem;
    std::unique_ptr<TableHandle> table;
    QStringList errors;
    /** The controls' errors, recorded (and handed on to `onError`, when a case sets one). */
    struct Recorder : ErrorReporter {
        QStringList& errors;
        std::function<void(const QString&)> onError;
        explicit Recorder(QStringList& e) : errors(e) {}
        void reportError(const QString& m) override {
            errors << m;
            if (onError) onError(m);
        }
    } reporter{errors};

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
        auto g = std::make_unique<DBGrid>(reporter);
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
        reporter.onError = {};
    }
    void cleanup() {
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
        DBGrid g(reporter);
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
        DBGrid g(reporter);
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
        DBGrid g(reporter);
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
        DBGrid g(reporter);
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

    // ---- texts too wide for their cells ------------------------------------------------------

    void fitCellText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");  // empty: only the rule is checked
        QTest::newRow("fits") << "6,55" << true << 200 << "6,55";
        QTest::newRow("decimals cut") << "1234,56789012346" << true << 60 << "";
        QTest::newRow("integer too wide") << "123456789012345" << true << 40 << "###";
        QTest::newRow("negative integer too wide") << "-98765432,5" << true << 30 << "###";
        QTest::newRow("exponent never cut") << "1,23456789012346E20" << true << 60 << "###";
        QTest::newRow("text cut at the right") << "Наименование очень длинного сборника" << false << 80 << "";
        QTest::newRow("nothing fits") << "7,5" << true << 1 << "#";
    }
    void fitCellText() {
        QFETCH(QString, text);
        QFETCH(bool, number);
        QFETCH(int, width);
        QFETCH(QString, expected);
        QFont f;
        f.setPixelSize(11);
        const QFontMetrics fm(f);
        const QString shown = dbctrls::fitCellText(text, number, ',', fm, width);
        if (!expected.isEmpty()) QCOMPARE(shown, expected);
        QVERIFY2(shown.size() <= 1 || fm.horizontalAdvance(shown) <= width, qPrintable(shown));
        if (number && text.contains(',') && !text.contains('E') && shown != "###" && shown != "#") {
            QVERIFY2(shown.endsWith(QChar(kElisionMark)) || shown == text, qPrintable(shown));
            QVERIFY(text.startsWith(shown.chopped(shown == text ? 0 : 1)));
            QVERIFY(shown.indexOf(',') >= 0);
        }
        if (!number && shown != text) QVERIFY(shown.endsWith(QChar(kElisionMark)));
    }

    void paintedCellsShowTheWholeValueOrAMarkAndCutOnesATooltip() {
        // Before, a number wider than its column lost its left digits without a mark
        // (1234,56789012346 showed as "56789012346") and a long text ran off its cell.
        openTable({row(1, "Короткий", "a", 6.55), row(2, "Очень длинный шифр расценки", "b", 1234.56789012346),
                   row(3, "X", "c", 390.3), row(4, "Y", "d", -98765432109.5), row(5, "Z", "e", 0.002)});
        DBGrid g(reporter);
        g.setColumns({{"COUNT", "№", false}, {"TAB", "Шифр", true, 60}, {"KOLVO", "Кол-во", true, 50}});
        g.setTable(table.get());
        g.resize(160, 140);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        const auto painted = test::paintedTexts(g.viewport());
        int cut = 0, whole = 0;
        std::vector<std::pair<QRect, QString>> cutCells, wholeCells;
        for (int r = 0; r < g.model()->rowCount(); ++r) {
            for (int c : {1, 2}) {
                const QRect cell = g.visualRect(g.model()->index(r, c));
                const QString value = g.cellText(r, c);
                bool seen = false;
                for (const auto& t : painted) {
                    if (!cell.contains(t.box.center().toPoint())) continue;
                    seen = true;
                    QVERIFY2(admissibleCut(t.text, value, c == 2), qPrintable(t.text + " for " + value));
                    QVERIFY2(t.box.left() >= cell.left() - 1 && t.box.right() <= cell.right() + 1,
                             qPrintable(QString("'%1' runs out of its cell").arg(t.text)));
                    (t.text == value ? whole : cut)++;
                    (t.text == value ? wholeCells : cutCells).emplace_back(cell, value);
                }
                QVERIFY2(seen, qPrintable(QString("nothing painted for %1").arg(value)));
            }
        }
        // The tooltip tells the whole value of a cut cell, and nothing for a whole one.
        auto ask = [&](const QRect& cell) {
            QHelpEvent help(QEvent::ToolTip, cell.center(), g.viewport()->mapToGlobal(cell.center()));
            QCoreApplication::sendEvent(g.viewport(), &help);
        };
        for (const auto& [cell, value] : wholeCells) {
            ask(cell);
            QVERIFY2(!QToolTip::isVisible(), qPrintable(value));
        }
        for (const auto& [cell, value] : cutCells) {
            ask(cell);
            QVERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), value);
        }
        QVERIFY(cut >= 3);
        QVERIFY(whole >= 3);
        QToolTip::hideText();
    }

    void aColumnThatFitsItsContentsShowsEveryCodeWhole() {
        // Before, the codes of an imported base were cut in their 70 pixels: "ФЕР11-01-01…".
        openTable({row(1, "01-01", "a", 1), row(2, "ГЭСНмр01-01-002-05", "b", 2), row(3, "ФЕР11-01-011-01", "c", 3)});
        DBGrid g(reporter);
        std::vector<GridColumn> cols = {{"COUNT", "№", false}, {"TAB", "Шифр", true, 40}, {"KOLVO", "Кол-во", true, 50}};
        cols[1].fitContents = true;
        g.setColumns(cols);
        g.setTable(table.get());
        g.resize(400, 140);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        auto allWhole = [&] {
            const auto painted = test::paintedTexts(g.viewport());
            for (int r = 0; r < g.model()->rowCount(); ++r) {
                const QRect cell = g.visualRect(g.model()->index(r, 1));
                bool whole = false;
                for (const auto& t : painted) whole = whole || (cell.contains(t.box.center().toPoint()) && t.text == g.cellText(r, 1));
                if (!whole) return false;
            }
            return true;
        };
        QVERIFY(g.columnWidth(1) > 40);
        QVERIFY(allWhole());
        // A longer code stored later widens it again; the user's wider column stays wider.
        table->last();
        table->append();
        table->setFieldValue("TAB", Value::string("ГЭСНмр01-01-002-05 доп. 1"));
        table->post();
        g.viewport()->repaint();
        QVERIFY(allWhole());
        g.horizontalHeader()->resizeSection(1, 300);
        table->first();
        QCOMPARE(g.columnWidth(1), 300);
        // A cell hidden by its row shows nothing, whatever it holds.
        g.tableModel()->hiddenCell = [](int r, int c) { return r == 0 && c == 2; };
        QCOMPARE(g.cellText(0, 2), QString());
        QCOMPARE(g.cellText(1, 2), num("2"));
    }

    void scrolledRowsAreWhole() {
        // Before, Ctrl+End cut the top row to show the last one at the bottom edge, and the text
        // of a row partly seen was drawn in that part: "3,74" lost its comma's tail, read "3.74".
        openTable(std::vector<Record>(50, row(1, "T", "n", 3.74)));
        DBGrid g(reporter);
        g.setColumns(estimateColumns());
        g.setTable(table.get());
        g.resize(300, 213);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.setFocus();
        QTest::keyClick(&g, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(table->recNo(), 49);
        QCOMPARE(g.visualRect(g.model()->index(g.rowAt(0), 2)).top(), 0);
        for (const auto& t : test::paintedTexts(g.viewport())) {
            const QModelIndex cell = g.indexAt(t.box.center().toPoint());
            if (cell.column() == 2) QCOMPARE(t.text, num("3.74"));
            QVERIFY2(std::abs(t.box.center().y() - g.visualRect(cell).center().y()) <= 2, qPrintable(t.text));
        }
    }

    void aSlimScrollBarLeavesANarrowGridsColumnWhole() {
        // Before, the 80-pixel quantity column of the 85-pixel resource grid slid under the
        // scroll bar: 6,55 showed as "6,5", 390,3 as "390".
        std::vector<Record> records;
        for (int i = 0; i < 8; ++i) records.push_back(row(i + 1, "T", "N", 390.3 + i));
        openTable(std::move(records));
        DBGrid g(reporter);
        GridOptions o;
        o.lines = false;
        o.rowSelect = true;
        o.slimScrollBar = true;
        g.setOptions(o);
        g.setFrameShape(QFrame::NoFrame);
        g.setColumns({{"KOLVO", "Кол-во", true, 80}});
        g.setTable(table.get());
        g.resize(85, 66);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QVERIFY(g.verticalScrollBar()->isVisible());
        QCOMPARE(g.columnWidth(0), 80);
        QVERIFY2(g.columnViewportPosition(0) + g.columnWidth(0) <= g.viewport()->width(),
                 qPrintable(QString("viewport %1 wide").arg(g.viewport()->width())));
        for (const auto& t : test::paintedTexts(g.viewport())) {
            QVERIFY2(t.box.right() <= g.viewport()->width(), qPrintable(t.text));
            QVERIFY2(!t.text.endsWith(QChar(kElisionMark)), qPrintable(t.text));
        }
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

    void aRefusedNumberShowsOneBoxAndTheEditorStaysOnItsRow() {
        // Before, the box taking the focus made the open editor store the text once more: a
        // second identical box, then the current row moved on while the editor stayed behind.
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2), row(3, "C", "c", 3)});
        auto g = editableGrid();
        // The box is answered once it has taken the focus, as the user answers it; by then a
        // second store of the editor's text has had its chance.
        reporter.onError = [&g](const QString& m) {
            QMessageBox box(QMessageBox::Critical, "Talvira", m, QMessageBox::Ok, g.get());
            QTimer::singleShot(0, &box, [&box] {
                if (QTest::qWaitForWindowActive(&box)) QCoreApplication::processEvents();
                box.accept();
            });
            box.exec();
        };
        moveToCell(*g, 0, 2);
        typeText(g.get(), "abc");
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_Return}) {
            key(g.get(), k);  // the box comes and goes inside
            QCoreApplication::processEvents();
            QCOMPARE(errors, QStringList{"'abc' is not a valid floating point value for field 'KOLVO'"});
            errors.clear();
            QCOMPARE(table->recNo(), 0);
            QCOMPARE(g->currentIndex().row(), 0);
            // Its row is the highlighted one too (the highlight moved on).
            QVERIFY(g->selectionModel()->isSelected(g->model()->index(0, 2)));
            QVERIFY(!g->selectionModel()->isSelected(g->model()->index(1, 2)));
            // The window comes back (as the window manager gives it back after the box).
            g->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(g.get()));
            QTRY_VERIFY2(qobject_cast<QLineEdit*>(QApplication::focusWidget()),
                         QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
            auto* ed = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            QCOMPARE(ed->text(), QString("abc"));
            QVERIFY(g->visualRect(g->model()->index(0, 2)).contains(ed->geometry().center()));
        }
        // What is typed next goes into that editor, and Escape drops the typing.
        key(g.get(), Qt::Key_End);
        QTest::keyClick(QApplication::focusWidget(), 'x');
        QCOMPARE(qobject_cast<QLineEdit*>(QApplication::focusWidget())->text(), QString("abcx"));
        key(g.get(), Qt::Key_Escape);
        key(g.get(), Qt::Key_Escape);
        QCOMPARE(table->state(), TableHandle::State::Browse);
        QVERIFY(errors.isEmpty());
        reopen();
        QCOMPARE(table->valueAt(0, table->fieldIndex("KOLVO")), Value::real(1));
    }

    void tabLeavesAGridAfterItsLastCellAndShiftTabBeforeItsFirst() {
        // Before, Tab wrapped from the last cell to the first: the keyboard never left the grid.
        openTable({row(1, "A", "a", 1), row(2, "B", "b", 2)});
        QWidget w;
        auto* before = new QLineEdit(&w);
        auto* g = new DBGrid(reporter, &w);
        auto* after = new QLineEdit(&w);
        GridOptions o;
        o.rowSelect = true;
        o.alwaysShowSelection = true;
        g->setOptions(o);  // Tab moves between columns
        g->setColumns(estimateColumns());
        g->setTable(table.get());
        before->setGeometry(0, 0, 100, 20);
        g->setGeometry(0, 30, 300, 100);
        after->setGeometry(0, 140, 100, 20);
        QWidget::setTabOrder(before, g);
        QWidget::setTabOrder(g, after);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, 1));
        QList<QPair<int, int>> walked;
        for (int i = 0; i < 6 && QApplication::focusWidget() == g; ++i) {
            walked << qMakePair(g->currentIndex().row(), g->currentIndex().column());
            QTest::keyClick(g, Qt::Key_Tab);
        }
        const QList<QPair<int, int>> cells{{0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {1, 3}};
        QCOMPARE(walked, cells);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(after));
        QCOMPARE(table->recNo(), 1);
        // Backwards from the first cell.
        g->setFocus();
        g->setCurrentIndex(g->model()->index(0, 2));
        QTest::keyClick(g, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(g));
        QCOMPARE(g->currentIndex().column(), 1);
        QTest::keyClick(g, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(before));
        g->setTable(nullptr);
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
        auto* g = new DBGrid(reporter, &w);
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
        auto* g = new DBGrid(reporter, &w);
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
        DBMemo memo(reporter);
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
        DBMemo memo(reporter);
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
