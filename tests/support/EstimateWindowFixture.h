#pragma once
// Where the estimate window's suites start: the four windows made in a scratch start directory
// with its estimates folder (and whatever the suite puts there first, such as a norm base),
// error boxes recorded instead of shown, and the gestures each of these suites makes: an
// estimate created through the name dialog, a position appended as Add appends one, a grid cell
// made current and text typed into it. For suites that link the program's windows.
#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "dbctrls/DBGrid.h"
#include "estimate/EstimateFile.h"
#include "tests/support/TestPaths.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace talvira::test {

class EstimateWindowFixture {
public:
    /** The error boxes shown, oldest first. */
    QStringList errors;

    /** From initTestCase: a fresh start directory named after `prefix` with its "Smeti", filled
     *  by `prepare` (a norm base, say) before the windows are made there; an existing estimate
     *  replaced without asking; the estimate window shown. Without a norm base the start-up
     *  error is not what these suites look at: the errors start empty. */
    void start(const std::string& prefix, const std::function<void(const std::filesystem::path&)>& prepare = {}) {
        setErrorBoxHook([this](const QString& m) { errors << m; });
        dir_ = std::make_unique<TempDir>(prefix);
        std::filesystem::create_directory(smeti());
        if (prepare) prepare(dir_->path());
        QDir::setCurrent(QString::fromStdString(dir_->path().string()));
        createWindows();
        OKRightDlg->confirmReplace = [](const QString&) { return true; };
        Form2->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form2));
        errors.clear();
    }
    /** From cleanupTestCase: the windows gone, the start directory removed. */
    void stop() {
        destroyWindows();
        setErrorBoxHook({});
        QDir::setCurrent(QDir::tempPath());
        dir_.reset();
    }

    std::filesystem::path startDir() const { return dir_->path(); }
    std::filesystem::path smeti() const { return estimate::estimatesDirectory(startDir().string()); }
    static storage::TableHandle& smeta() { return Form2->SmetaTable; }
    /** The oldest error box not yet taken, or an empty text. */
    QString takeError() { return errors.isEmpty() ? QString() : errors.takeFirst(); }

    /** The estimate `name` created through the name dialog's OK; the estimate window active. */
    static void create(const QString& name) {
        OKRightDlg->show();
        OKRightDlg->DBNameEdit->setText(name);
        QTest::mouseClick(OKRightDlg->OKBtn, Qt::LeftButton);
        activateEstimateWindow();
    }
    static void activateEstimateWindow() {
        Form2->show();
        Form2->raise();
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
    }
    /** A position appended at the end, as Add appends one: its code, its quantity and cost (left
     *  empty when not given) and any other fields by name. */
    static void addPosition(std::optional<double> kolvo, std::optional<double> stoim, const std::string& tab = "T",
                            std::initializer_list<std::pair<const char*, double>> more = {}) {
        storage::TableHandle& t = smeta();
        t.last();
        t.append();
        t.setFieldValue("TAB", storage::Value::string(tab));
        if (kolvo) t.setFieldValue("KOLVO", storage::Value::real(*kolvo));
        if (stoim) t.setFieldValue("STOIM", storage::Value::real(*stoim));
        for (const auto& [field, value] : more) t.setFieldValue(field, storage::Value::real(value));
        t.post();
    }
    /** The grid cell at `row`, `column` current, the grid holding the focus. */
    static void focusCell(int row, int column) {
        Form2->activateWindow();
        Form2->SmetaDBGrid->setFocus();
        Form2->SmetaDBGrid->setCurrentIndex(Form2->SmetaDBGrid->model()->index(row, column));
    }
    /** `text` typed into the current cell of the grid: the first key opens the editor. */
    static void typeIntoGrid(const char* text) {
        QTest::keyClick(Form2->SmetaDBGrid, text[0]);
        for (const char* c = text + 1; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
    }

private:
    std::unique_ptr<TempDir> dir_;
};

}  // namespace talvira::test
