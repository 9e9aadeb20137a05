// A new user's road through the real windows, in a fresh start directory holding the demo norm
// base and the workbook template: walking the browser with the mouse and the keys, creating an
// estimate with a Russian name, adding three rates (one bringing unaccounted materials),
// typing quantities and a missing price into the estimate grid, converting a price, exporting
// the workbook (read back by LibreOffice: positions, formulas, recalculated totals), quitting,
// starting again and opening the estimate through the open dialog with every typed value kept.
#include "tests/e2e/Workbook.h"
#include "tests/support/TestPaths.h"

#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit7.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/FieldText.h"
#include "tools/demobase/DemoBase.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using talvira::dbctrls::DBGrid;

namespace {

const QString kEstimateName = QStringLiteral("Ремонт кровли");

/** One position as the estimate table holds it. */
struct Position {
    std::string tab, name, izm;
    double kolvo = 0, stoim = 0, osnzp = 0, mater = 0, explmash = 0, zpmash = 0, trud = 0;
    bool kolvoEmpty = true, stoimEmpty = true;
    bool operator==(const Position&) const = default;
};

std::vector<Position> readPositions(talvira::storage::TableHandle& t) {
    std::vector<Position> out;
    t.first();
    while (!t.eof()) {
        Position p;
        p.tab = t.fieldAsString("TAB");
        p.name = t.fieldAsString("NAME");
        p.izm = t.fieldAsString("IZM");
        p.kolvo = t.fieldAsFloat("KOLVO");
        p.stoim = t.fieldAsFloat("STOIM");
        p.osnzp = t.fieldAsFloat("OSNZP");
        p.mater = t.fieldAsFloat("MATER");
        p.explmash = t.fieldAsFloat("EXPLMASH");
        p.zpmash = t.fieldAsFloat("ZPMASH");
        p.trud = t.fieldAsFloat("TRUD");
        p.kolvoEmpty = t.fieldValue("KOLVO").isEmpty();
        p.stoimEmpty = t.fieldValue("STOIM").isEmpty();
        out.push_back(p);
        t.next();
    }
    return out;
}

int firstVisibleColumn(const DBGrid* g) {
    int col = 0;
    while (g->isColumnHidden(col)) ++col;
    return col;
}

/** Clicks the cell (row, column) of a grid, as the user does. */
void clickCell(DBGrid* g, int row, int column) {
    const QModelIndex ix = g->model()->index(row, column);
    g->scrollTo(ix);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(ix).center());
}
void clickRow(DBGrid* g, int row) { clickCell(g, row, firstVisibleColumn(g)); }

/** Types text key by key into the focused control, Russian letters included. */
void typeText(QWidget* w, const QString& text) {
    for (const QChar ch : text) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
        if (ch.unicode() < 0x80) {
            QTest::keyClick(target, char(ch.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Press, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
    }
}

/** Types into a grid cell: the first key opens the cell's editor, Enter stores the text. */
void typeIntoCell(DBGrid* g, int row, int column, const QString& text) {
    clickCell(g, row, column);
    g->setFocus();
    QTest::keyClick(g, char(text.at(0).unicode()));
    typeText(g, text.mid(1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();  // the grid stores the cell once the key is handled
}

/** A number as the user types it: `commaText` with the decimal separator of the user's locale. */
QString userNumber(const char* commaText) {
    QString s = QString::fromUtf8(commaText);
    s.replace(QLatin1Char(','), QChar(talvira::dbctrls::userDecimalSeparator()));
    return s;
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b)); }

}  // namespace

class UserRoadTest : public QObject {
    Q_OBJECT

    std::unique_ptr<talvira::test::TempDir> start_;
    QStringList errors_;
    QStringList opened_;  // workbooks handed to the spreadsheet application
    std::vector<Position> typed_;  // the estimate as the user left it
    int ratesWithUnaccounted_ = 0;

    void startProgram() {
        QDir::setCurrent(QString::fromStdString(start_->path().string()));
        createWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    }
    void quitProgram() {
        Form1->N4->trigger();  // "Файл" / "Выход"
        QVERIFY(!Form1->isVisible());
        destroyWindows();
    }

public slots:
    void openInSpreadsheet(const QUrl& url) { opened_ << url.toLocalFile(); }

private slots:
    void initTestCase() {
        setErrorBoxHook([this](const QString& m) { errors_ << m; });
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openInSpreadsheet");
        start_ = std::make_unique<talvira::test::TempDir>("talvira-e2e");
        const fs::path base = start_->path() / "Base";
        talvira::demobase::writeDemoBase(base.string(), talvira::demobase::DemoScale::Small);
        fs::copy_file(fs::path(TALVIRA_SOURCE_DIR) / "data" / "template" / "1.xls", base / "1.xls");
        fs::create_directory(start_->path() / "Smeti");
        startProgram();
    }
    void cleanupTestCase() {
        if (Form1) destroyWindows();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        for (const QString& f : opened_) QFile::remove(f);
        QDir::setCurrent(QDir::tempPath());
        start_.reset();
        setErrorBoxHook({});
    }
    void init() { errors_.clear(); }
    void cleanup() { QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n'))); }

    void estimateCommandsWaitForAnEstimate() {
        for (QWidget* w : std::initializer_list<QWidget*>{Form1->AddButton, Form1->ViewButton})
            QVERIFY(!w->isEnabled());
        QVERIFY(Form1->NewButton->isEnabled());
        QVERIFY(Form1->DBGrid6->model()->rowCount() > 0);
    }

    void createTheEstimateWithARussianName() {
        QTest::mouseClick(Form1->NewButton, Qt::LeftButton);
        QVERIFY(OKRightDlg->isVisible());
        QVERIFY(!OKRightDlg->OKBtn->isEnabled());
        OKRightDlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(OKRightDlg));
        OKRightDlg->DBNameEdit->setFocus();
        typeText(OKRightDlg->DBNameEdit, kEstimateName);
        QCOMPARE(OKRightDlg->DBNameEdit->text(), kEstimateName);
        QVERIFY(OKRightDlg->OKBtn->isEnabled());
        QTest::mouseClick(OKRightDlg->OKBtn, Qt::LeftButton);
        QVERIFY(!OKRightDlg->isVisible());
        QVERIFY(fs::exists(start_->path() / "Smeti" / (kEstimateName.toStdString() + ".db")));
        QCOMPARE(Form1->PathLabel->text(), kEstimateName);
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Смета \"%1\"").arg(kEstimateName));
        QVERIFY(Form1->AddButton->isEnabled() && Form1->ViewButton->isEnabled());
        QVERIFY(Form2->SmetaTable.active() && Form2->SmetaTable.isEmpty());
    }

    void addThreeRatesOneWithUnaccountedMaterials() {
        DBGrid* collections = Form1->DBGrid6;
        DBGrid* contents = Form1->DBGrid5;
        DBGrid* rates = Form1->DBGrid2;
        DBGrid* lines = Form1->DBGrid3;
        auto unaccounted = [&] {
            int n = 0;
            for (int r = 0; r < lines->model()->rowCount(); ++r)
                if (lines->rowValue(r, "VIDNR").asInteger() == 1 && !lines->rowValue(r, "VIDNR").isEmpty()) ++n;
            return n;
        };
        // An unaccounted material of the current rate whose own price is missing.
        auto unpricedMaterial = [&] {
            for (int r = 0; r < lines->model()->rowCount(); ++r) {
                if (lines->rowValue(r, "VIDNR").isEmpty() || lines->rowValue(r, "VIDNR").asInteger() != 1) continue;
                lines->setCurrentIndex(lines->model()->index(r, firstVisibleColumn(lines)));
                if (Form1->Base.Table4.fieldValue("BB").isEmpty() || Form1->Base.Table4.fieldAsFloat("BB") == 0)
                    return true;
            }
            return false;
        };
        // Look for a table of the base whose first three rates bring an unaccounted material,
        // the way a user scrolls until one shows red in the resources grid; best one whose
        // price the base lacks.
        int foundCollection = -1, foundEntry = -1;
        bool foundUnpriced = false;
        for (int c = 0; c < collections->model()->rowCount() && !foundUnpriced; ++c) {
            collections->setCurrentIndex(collections->model()->index(c, 0));
            for (int e = 0; e < contents->model()->rowCount() && !foundUnpriced; ++e) {
                contents->setCurrentIndex(contents->model()->index(e, 0));
                if (rates->model()->rowCount() < 3) continue;
                bool withUnaccounted = false, unpriced = false;
                for (int r = 0; r < 3; ++r) {
                    rates->setCurrentIndex(rates->model()->index(r, firstVisibleColumn(rates)));
                    if (unaccounted() > 0) withUnaccounted = true;
                    if (unaccounted() > 0 && unpricedMaterial()) unpriced = true;
                }
                if (withUnaccounted && (foundEntry < 0 || unpriced)) {
                    foundCollection = c;
                    foundEntry = e;
                    foundUnpriced = unpriced;
                }
            }
        }
        QVERIFY2(foundEntry >= 0, "no table of the demo base has a rate with unaccounted materials");
        qInfo("walking to collection %d, table %d (a material without a price: %s)", foundCollection, foundEntry,
              foundUnpriced ? "yes" : "no");

        // The walk itself: collection, table, then the rates by mouse and by the arrow key.
        clickRow(collections, foundCollection);
        QCOMPARE(Form1->Base.Table7.recNo(), foundCollection);
        clickRow(contents, foundEntry);
        QCOMPARE(Form1->Base.Table6.recNo(), foundEntry);
        clickRow(rates, 0);
        QCOMPARE(Form1->Base.Table2.recNo(), 0);

        int expected = 0;
        std::vector<std::pair<int, std::string>> rateTabs;  // place in the estimate, code
        std::vector<Position> materials;  // the unaccounted materials, in their order
        for (int r = 0; r < 3; ++r) {
            if (r > 0) {
                rates->setFocus();
                QTest::keyClick(rates, Qt::Key_Down);
                QCOMPARE(Form1->Base.Table2.recNo(), r);
            }
            const int n = unaccounted();
            if (n > 0) ++ratesWithUnaccounted_;
            rateTabs.emplace_back(expected, Form1->Base.Table2.fieldAsString("TAB"));
            // What the resources grid shows of each unaccounted line: the material's code, the
            // quantity per unit of the rate, the material's price.
            for (int l = 0; l < lines->model()->rowCount(); ++l) {
                if (lines->rowValue(l, "VIDNR").isEmpty() || lines->rowValue(l, "VIDNR").asInteger() != 1) continue;
                clickRow(lines, l);
                Position m;
                m.tab = Form1->Base.Table4.fieldAsString("TAB");
                m.kolvo = Form1->Base.Table3.fieldAsFloat("KOLL");
                m.stoim = Form1->Base.Table4.fieldAsFloat("BB");
                materials.push_back(m);
            }
            rates->setFocus();
            QTest::mouseClick(Form1->AddButton, Qt::LeftButton);
            expected += 1 + n;
            QCOMPARE(Form2->SmetaTable.recordCount(), expected);
        }
        QVERIFY(ratesWithUnaccounted_ > 0);
        const auto positions = readPositions(Form2->SmetaTable);
        size_t m = 0;
        for (size_t i = 0; i < positions.size(); ++i) {
            const auto rate = std::find_if(rateTabs.begin(), rateTabs.end(), [&](const auto& t) { return t.first == int(i); });
            if (rate != rateTabs.end()) {
                QCOMPARE(positions[i].tab, rate->second);
                QVERIFY(positions[i].kolvoEmpty);  // the quantity is the user's to type
                continue;
            }
            QVERIFY(m < materials.size());
            QCOMPARE(positions[i].tab, materials[m].tab);
            QCOMPARE(positions[i].kolvo, materials[m].kolvo);
            QCOMPARE(positions[i].stoim, materials[m].stoim);
            QCOMPARE(positions[i].mater, materials[m].stoim);
            ++m;
        }
        QCOMPARE(m, materials.size());
        QCOMPARE(Form1->StatusBar1->currentMessage(), QString());
    }

    void typeQuantitiesAndAMissingPrice() {
        QTest::mouseClick(Form1->ViewButton, Qt::LeftButton);
        QVERIFY(Form2->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        DBGrid* grid = Form2->SmetaDBGrid;
        const int kolvoCol = 3, stoimCol = 4;
        QCOMPARE(grid->model()->headerData(kolvoCol, Qt::Horizontal).toString(), QStringLiteral("Кол-во"));
        QCOMPARE(grid->model()->headerData(stoimCol, Qt::Horizontal).toString(), QStringLiteral("Стоимость"));

        // Positions still without a quantity or a price are written in italic.
        std::map<int, bool> italic;
        auto paint = grid->onDrawColumnCell;
        grid->onDrawColumnCell = [&italic, paint](talvira::dbctrls::DrawCellArgs& a) {
            if (paint) paint(a);
            italic[a.row] = a.font.italic();
        };
        auto italicRows = [&] {
            italic.clear();
            grid->viewport()->repaint();
            QList<int> rows;
            for (const auto& [row, it] : italic)
                if (it) rows << row;
            return rows;
        };
        auto positions = readPositions(Form2->SmetaTable);
        QList<int> incomplete;
        for (int row = 0; row < int(positions.size()); ++row)
            if (positions[row].kolvo == 0 || positions[row].stoim == 0) incomplete << row;
        QCOMPARE(italicRows(), incomplete);
        const QStringList quantities{userNumber("12,5"), "3", userNumber("0,75"), "7", userNumber("1,25"), "2"};
        int q = 0;
        int priced = -1;
        for (int row = 0; row < int(positions.size()); ++row) {
            if (positions[row].kolvoEmpty || positions[row].kolvo == 0)
                typeIntoCell(grid, row, kolvoCol, quantities[q++ % quantities.size()]);
            if (priced < 0 && (positions[row].stoimEmpty || positions[row].stoim == 0)) {
                typeIntoCell(grid, row, stoimCol, userNumber("1250,4"));
                priced = row;
            }
        }
        if (priced < 0) {  // every material has a price in this table: the user corrects one
            priced = int(positions.size()) - 1;
            typeIntoCell(grid, priced, stoimCol, userNumber("1250,4"));
        }
        QVERIFY(q >= 3);
        // What is typed shows in the grid with the decimal comma.
        QCOMPARE(grid->cellText(0, kolvoCol), userNumber("12,5"));
        QCOMPARE(grid->cellText(priced, stoimCol), userNumber("1250,4"));
        Form2->storePendingEdit();
        QCOMPARE(italicRows(), QList<int>());
        grid->onDrawColumnCell = paint;
        typed_ = readPositions(Form2->SmetaTable);
        QCOMPARE(typed_[0].kolvo, 12.5);
        QCOMPARE(typed_[priced].stoim, 1250.4);
        for (const auto& p : typed_) QVERIFY(!p.kolvoEmpty && p.kolvo != 0);
    }

    void convertAPriceTo2000() {
        Form2->Edit1->setFocus();
        Form2->Edit1->clear();
        typeText(Form2->Edit1, QStringLiteral("118"));
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        QCOMPARE(Form2->Edit2->text(), QStringLiteral("45,87"));
    }

    void exportTheWorkbook() {
        QVERIFY(Form2->EButton->isEnabled());
        QTest::mouseClick(Form2->EButton, Qt::LeftButton);
        QCOMPARE(opened_.size(), 1);
        QVERIFY(QFileInfo(opened_[0]).fileName().startsWith(QStringLiteral("Смета %1").arg(kEstimateName)));
        QVERIFY(QFileInfo(opened_[0]).size() > 0);
        // The template is not touched.
        QCOMPARE(fs::file_size(start_->path() / "Base" / "1.xls"),
                 fs::file_size(fs::path(TALVIRA_SOURCE_DIR) / "data" / "template" / "1.xls"));
    }

    void libreOfficeReadsTheWorkbook() {
        if (e2e::findSoffice().isEmpty()) QSKIP("LibreOffice (soffice) is not installed");
        QVERIFY(!opened_.isEmpty() && !typed_.empty());
        QString error;
        const auto sheets = e2e::readWithLibreOffice(
            opened_[0], QString::fromStdString((start_->path() / "lo").string()), &error);
        QVERIFY2(sheets, qPrintable(error));
        QVERIFY(!sheets->empty());
        const e2e::Sheet& s = sheets->front();
        auto text = [&](const QString& ref) { const auto* c = s.at(ref); return c ? c->text : QString(); };
        auto formula = [&](const QString& ref) { const auto* c = s.at(ref); return c ? c->formula : QString(); };
        auto value = [&](const QString& ref) { const auto* c = s.at(ref); return c ? c->value : std::nan(""); };
        auto at = [](const char* col, int row) { return QString::fromLatin1(col) + QString::number(row); };

        QCOMPARE(text("A2"), QStringLiteral("Генеральный директор "));
        QCOMPARE(text("E3"), QStringLiteral("Локальная смета №1"));

        const int n = int(typed_.size());
        const int T = 12 + n;
        double sumK = 0, sumL = 0, sumM = 0, sumN = 0, sumO = 0, sumQ = 0;
        for (int i = 0; i < n; ++i) {
            const int r = 12 + i;
            const Position& p = typed_[i];
            QCOMPARE(value(at("A", r)), double(i + 1));
            QCOMPARE(text(at("B", r)), QString::fromStdString(p.tab));
            QCOMPARE(text(at("C", r)), QString::fromStdString(p.name));
            QCOMPARE(text(at("D", r)), QString::fromStdString(p.izm));
            QVERIFY(near(value(at("E", r)), p.kolvo));
            QVERIFY(near(value(at("F", r)), p.stoim));
            const std::pair<const char*, const char*> products[] = {{"K", "F"}, {"L", "G"}, {"M", "H"},
                                                                    {"N", "I"}, {"O", "J"}, {"Q", "P"}};
            for (const auto& [total, unit] : products)
                QCOMPARE(formula(at(total, r)), QStringLiteral("E%1*%2%1").arg(QString::number(r), QLatin1String(unit)));
            QVERIFY(near(value(at("K", r)), p.kolvo * p.stoim));
            QVERIFY(near(value(at("L", r)), p.kolvo * p.osnzp));
            QVERIFY(near(value(at("Q", r)), p.kolvo * p.trud));
            sumK += p.kolvo * p.stoim;
            sumL += p.kolvo * p.osnzp;
            sumM += p.kolvo * p.mater;
            sumN += p.kolvo * p.explmash;
            sumO += p.kolvo * p.zpmash;
            sumQ += p.kolvo * p.trud;
        }
        // The totals row and the charges, recalculated by LibreOffice.
        const std::pair<const char*, double> sums[] = {{"K", sumK}, {"L", sumL}, {"M", sumM},
                                                       {"N", sumN}, {"O", sumO}, {"Q", sumQ}};
        for (const auto& [col, sum] : sums) {
            QCOMPARE(formula(at(col, T)), QStringLiteral("SUM(%1%2:%1%3)").arg(QLatin1String(col)).arg(12).arg(T - 1));
            QVERIFY2(near(value(at(col, T)), sum), col);
        }
        QCOMPARE(text(at("C", T)), QStringLiteral("Итого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) "));
        QCOMPARE(formula(at("K", T + 1)), QStringLiteral("D%1/100*(L%2+O%2)").arg(T + 1).arg(T));
        const double overheads = 105.0 / 100 * (sumL + sumO);
        const double savings = 90.0 / 100 * (sumL + sumO);
        const double cramped = 12.0 / 100 * (sumL + sumO);
        double total = sumK + overheads;
        QVERIFY(near(value(at("K", T + 1)), overheads));
        QVERIFY(near(value(at("K", T + 2)), total));
        total += savings;
        QVERIFY(near(value(at("K", T + 4)), total));
        total += cramped;
        QVERIFY(near(value(at("K", T + 6)), total));
        total *= 1.20;  // winter increase 20 %
        QVERIFY(near(value(at("K", T + 8)), total));
        total *= 1.10;  // temporary buildings 10 %
        QVERIFY(near(value(at("K", T + 10)), total));
        QCOMPARE(value(at("E", T + 11)), 2.18);
        total *= 2.18;
        QVERIFY(near(value(at("K", T + 11)), total));
        QCOMPARE(formula(at("K", T + 12)), QStringLiteral("K%1/100*D%2").arg(T + 11).arg(T + 12));
        total *= 1.18;
        QCOMPARE(text(at("C", T + 13)), QStringLiteral("Итого с НДС"));
        QVERIFY(near(value(at("K", T + 13)), total));
        QCOMPARE(text(at("B", T + 16)), QStringLiteral("Заказчик"));
        QCOMPARE(text(at("O", T + 16)), QStringLiteral("Подрядчик"));
    }

    void gnumericRecalculatesTheSameTotals() {
        QVERIFY(!opened_.isEmpty());
        QString error;
        const auto rows = e2e::recalcWithGnumeric(opened_[0], QString::fromStdString((start_->path() / "gn").string()), &error);
        if (!rows && error.contains(QStringLiteral("not installed"))) QSKIP("Gnumeric (ssconvert) is not installed");
        QVERIFY2(rows, qPrintable(error));
        auto value = [&](int row, int col) {
            return row - 1 < int(rows->size()) && col - 1 < (*rows)[row - 1].size() ? (*rows)[row - 1][col - 1] : QString();
        };
        const int n = int(typed_.size());
        const int T = 12 + n;
        QVERIFY(n > 0);
        // The same chain as above, from the recalculated grand total back to the positions.
        double sumK = 0, sumL = 0, sumO = 0;
        for (const auto& p : typed_) {
            sumK += p.kolvo * p.stoim;
            sumL += p.kolvo * p.osnzp;
            sumO += p.kolvo * p.zpmash;
        }
        const double beforeWinter = sumK + (105.0 + 90.0 + 12.0) / 100 * (sumL + sumO);
        const double expected = beforeWinter * 1.20 * 1.10 * 2.18 * 1.18;
        QCOMPARE(value(T + 13, 3), QStringLiteral("Итого с НДС"));
        QVERIFY2(near(value(T, 11).toDouble(), sumK), qPrintable(value(T, 11)));
        QVERIFY2(near(value(T + 6, 11).toDouble(), beforeWinter), qPrintable(value(T + 6, 11)));
        QVERIFY2(near(value(T + 13, 11).toDouble(), expected), qPrintable(value(T + 13, 11)));
        QCOMPARE(value(12, 1), QStringLiteral("1"));
        QCOMPARE(value(T - 1, 1), QString::number(n));
    }

    void quitStartAgainAndOpenTheEstimate() {
        // A last change left in the grid's editor is stored when the program ends.
        QVERIFY(typed_.size() > 1);
        DBGrid* grid = Form2->SmetaDBGrid;
        clickCell(grid, 1, 3);
        grid->setFocus();
        QTest::keyClick(grid, '4');
        typeText(grid, userNumber(",5"));
        typed_[1].kolvo = 4.5;
        typed_[1].kolvoEmpty = false;
        Form2->NAMEEdit->clear();
        QTest::keyClicks(Form2->NAMEEdit, QStringLiteral("No 7, 2026"));
        quitProgram();

        startProgram();
        QVERIFY(!Form2->SmetaTable.active());
        TOpenDialog* dlg = Form1->openDialog();
        dlg->setDirectory(QString::fromStdString((start_->path() / "Smeti").string()));
        QTimer::singleShot(0, dlg, [dlg] {
            // The name without its extension, as users type it.
            if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->setText(kEstimateName);
            dlg->accept();
            if (dlg->isVisible()) dlg->reject();  // never left hanging on the screen
        });
        QTest::mouseClick(Form1->OpenButton, Qt::LeftButton);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
        QVERIFY(Form2->SmetaTable.active());
        QCOMPARE(Form1->NameLabel->text(), kEstimateName + QStringLiteral(".db"));
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Смета \"%1\"").arg(kEstimateName));
        const auto reopened = readPositions(Form2->SmetaTable);
        QCOMPARE(reopened.size(), typed_.size());
        for (size_t i = 0; i < typed_.size(); ++i) QVERIFY2(reopened[i] == typed_[i], qPrintable(QString::number(i)));
        // The title block comes back as it was typed; the rates were left at their defaults.
        QCOMPARE(Form2->NAMEEdit->text(), QStringLiteral("No 7, 2026"));
        QCOMPARE(Form2->NREdit->text(), QStringLiteral("105"));
        QCOMPARE(Form2->Edit1->text(), QString());
    }
};

int main(int argc, char** argv) {
    // The road is walked in the locale the test is started in: ctest runs it once under
    // C.UTF-8 (a decimal point) and once under ru_RU.UTF-8 (a decimal comma).
    qInfo("decimal separator: '%c'", talvira::dbctrls::userDecimalSeparator());
    Application app(argc, argv);
    UserRoadTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "UserRoadTest.moc"
