// Takes the README's pictures of the windows: run in a start directory that holds the demo norm
// base (Base/ with 1.xls) and an empty Smeti/, it walks the browser to a rate with unaccounted
// materials, creates the estimate "Ремонт кровли" with three rates and typed quantities, and
// saves the main window and the estimate window as PNG. The workbook is exported too; its path
// is printed on the last line, for scripts/screenshots.sh to render it through LibreOffice.
//
//   talvira_screenshots OUT_DIR        (current directory: the start directory)
#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "dbctrls/DBGrid.h"

#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QUrl>

#include <cstdio>

using talvira::dbctrls::DBGrid;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void selectRow(DBGrid* g, int row) {
    int col = 0;
    while (g->isColumnHidden(col)) ++col;
    g->setCurrentIndex(g->model()->index(row, col));
    g->scrollTo(g->currentIndex());
    settle();
}

int unaccountedLines(DBGrid* lines) {
    int n = 0;
    for (int r = 0; r < lines->model()->rowCount(); ++r)
        if (!lines->rowValue(r, "VIDNR").isEmpty() && lines->rowValue(r, "VIDNR").asInteger() == 1) ++n;
    return n;
}

/** Moves the browser to the first table whose first three rates include one with unaccounted
 *  materials, and to that rate; false when the base has none. */
bool walkToUnaccounted(int* firstRate, int* redRate) {
    for (int c = 0; c < Form1->DBGrid6->model()->rowCount(); ++c) {
        selectRow(Form1->DBGrid6, c);
        for (int e = 0; e < Form1->DBGrid5->model()->rowCount(); ++e) {
            selectRow(Form1->DBGrid5, e);
            if (Form1->DBGrid2->model()->rowCount() < 3) continue;
            for (int r = 0; r < 3; ++r) {
                selectRow(Form1->DBGrid2, r);
                if (unaccountedLines(Form1->DBGrid3) > 0) {
                    *firstRate = 0;
                    *redRate = r;
                    return true;
                }
            }
        }
    }
    return false;
}

class Opener : public QObject {
    Q_OBJECT
public:
    QString path;
public slots:
    void open(const QUrl& url) { path = url.toLocalFile(); }
};

bool save(QWidget* w, const QString& file) {
    w->show();
    w->raise();
    settle();
    const bool ok = w->grab().save(file);
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(file));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("LC_ALL", "ru_RU.UTF-8");
    qputenv("LANG", "ru_RU.UTF-8");
    Application app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: talvira_screenshots OUT_DIR (run in the start directory)\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QStringList errors;
    setErrorBoxHook([&](const QString& m) { errors << m; });
    Opener opener;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");

    createWindows();
    Form1->show();
    settle();
    int firstRate = 0, redRate = 0;
    if (!walkToUnaccounted(&firstRate, &redRate)) {
        std::fprintf(stderr, "no rate with unaccounted materials in this base\n");
        return 1;
    }

    // The estimate: three rates of the table.
    OKRightDlg->DBNameEdit->setText(QStringLiteral("Ремонт кровли"));
    OKRightDlg->OKBtnClick();
    for (int r = 0; r < 3; ++r) {
        selectRow(Form1->DBGrid2, r);
        Form1->AddButtonClick();
    }
    auto& smeta = Form2->SmetaTable;
    const double quantities[] = {12.5, 3, 0.75, 7, 1.25, 2};
    int q = 0;
    smeta.first();
    while (!smeta.eof()) {
        if (smeta.fieldAsFloat("KOLVO") == 0 || smeta.fieldAsFloat("STOIM") == 0) {
            smeta.edit();
            if (smeta.fieldAsFloat("KOLVO") == 0)
                smeta.setFieldValue("KOLVO", talvira::storage::Value::real(quantities[q++ % 6]));
            if (smeta.fieldAsFloat("STOIM") == 0) {
                smeta.setFieldValue("STOIM", talvira::storage::Value::real(1250.4));
                smeta.setFieldValue("MATER", talvira::storage::Value::real(1250.4));
            }
            smeta.post();
        }
        smeta.next();
    }
    smeta.first();

    // The rate with its unaccounted material painted red in the resources grid, the line
    // above it current (its resource shown below).
    selectRow(Form1->DBGrid2, redRate);
    DBGrid* lines = Form1->DBGrid3;
    for (int r = 0; r < lines->model()->rowCount(); ++r) {
        if (!lines->rowValue(r, "VIDNR").isEmpty() && lines->rowValue(r, "VIDNR").asInteger() == 1) {
            selectRow(lines, r > 0 ? r - 1 : r + 1 < lines->model()->rowCount() ? r + 1 : r);
            lines->scrollTo(lines->model()->index(r, 0));
            break;
        }
    }
    Form1->activateWindow();
    bool ok = save(Form1, out + QStringLiteral("/main-window.png"));

    Form2->Edit1->setText(QStringLiteral("118"));
    Form2->Button1Click();
    Form2->move(Form1->pos());
    ok = save(Form2, out + QStringLiteral("/estimate-window.png")) && ok;

    Form2->EButtonClick();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    Form1->close();
    destroyWindows();
    for (const QString& e : errors) std::fprintf(stderr, "error box: %s\n", qPrintable(e));
    if (!ok || !errors.isEmpty() || opener.path.isEmpty()) return 1;
    std::printf("%s\n", qPrintable(opener.path));
    return 0;
}

#include "Screenshots.moc"
