// "Файл для экспертизы (XML, .gge)..." through the estimate window on the offscreen platform, one
// road: the item after the menu's fixed ones; the checks listed with no way to write while one
// blocks; the expertise facts typed on the parameters dialog's own page; then only warnings,
// "Записать всё равно", the place asked, and the file written by the worker, valid against the
// shipped schema.
#include "tests/support/EstimateWindowFixture.h"
#include "tests/support/PricedEstimate.h"

#include "app/EstimateParamsDialog.h"
#include "app/GgeExportCommand.h"
#include "export/GgeSchema.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

class GgeWindowTest : public QObject {
    Q_OBJECT
    talvira::test::EstimateWindowFixture fixture_;

    static QStringList lines(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }

private slots:
    void initTestCase() {
        fixture_.start("talvira-gge-window", [](const fs::path& dir) {
            talvira::test::makePricedEstimate(dir / "Smeti", "Сети", {{talvira::model::WorkType::Construction, "1234.56"}});
        });
    }
    void cleanupTestCase() { fixture_.stop(); }

    void theExpertiseFileRoad() {
        Form2->document().open((fixture_.smeti()).string(), "Сети.db");
        QCOMPARE(fixture_.errors, QStringList());
        const QList<QAction*> items = Form2->N5->actions();
        QCOMPARE(items.last(), Form2->GgeItem);
        QCOMPARE(items.at(items.size() - 2), Form2->LsrItem);
        QCOMPARE(Form2->GgeItem->text(), QStringLiteral("Файл для экспертизы (XML, .gge)..."));

        // Blocking checks: listed, no "Записать всё равно".
        Form2->GgeItem->trigger();
        QVERIFY(Form2->GgeExport);
        GgeChecksDialog* checks = Form2->GgeExport->Checks;
        QTRY_VERIFY(checks->isVisible());
        QVERIFY(checks->WriteAnywayButton->isHidden());
        QVERIFY2(lines(checks->ChecksList).join('\n').contains(QStringLiteral("блокирует: Не указано письмо")),
                 qPrintable(lines(checks->ChecksList).join('\n')));
        QTest::mouseClick(checks->CloseButton, Qt::LeftButton);
        QTRY_VERIFY(!checks->isVisible());

        // The facts on their own page of "Параметры сметы...".
        Form2->ParamsItem->trigger();
        EstimateParamsDialog* params = Form2->ParamsDialog;
        QTRY_VERIFY(params->isVisible());
        params->Pages->setCurrentIndex(1);
        QCOMPARE(params->Pages->tabText(1), QStringLiteral("Экспертиза"));
        params->LetterEdit->setText(QStringLiteral("Письмо Минстроя России от 11.06.2025 № 33852-ИФ/09"));
        params->RegionEdit->setText(QStringLiteral("Московская область"));
        const std::pair<const char*, const char*> facts[] = {
            {"gge.norms", "Приказ Минстроя России от 26.12.2019 № 876/пр"}, {"gge.norms.date", "21.12.2021"},
            {"gge.norms.num", "395"}, {"gge.wage_act", "ПП РФ № 1452"}, {"region.code", "50"},
            {"construction", "Школа"}, {"object", "Корпус 1"}, {"estimate.num", "02-01-01"}};
        for (const auto& [key, text] : facts) {
            auto* edit = params->findChild<QLineEdit*>(QStringLiteral("Expertise_") + QLatin1String(key));
            QVERIFY2(edit, key);
            edit->setText(QString::fromUtf8(text));
        }
        QTest::mouseClick(params->OKButton, Qt::LeftButton);
        QCOMPARE(fixture_.errors, QStringList());
        QTRY_VERIFY(!params->isVisible());
        QCOMPARE(Form2->document().calc().params.gge.regionCode, std::string("50"));

        // Warnings only (no signatures, no base level): written all the same, where asked.
        const fs::path out = fixture_.smeti() / "Сети для экспертизы.gge";
        QString suggested;
        Form2->GgeExport->askPath = [&](const QString& s) {
            suggested = s;
            return QString::fromStdString(out.string());
        };
        QSignalSpy written(Form2->GgeExport, &GgeExportCommand::written);
        Form2->GgeItem->trigger();
        QTRY_VERIFY(checks->isVisible());
        QVERIFY(!checks->WriteAnywayButton->isHidden());
        QVERIFY2(lines(checks->ChecksList).join('\n').contains(QStringLiteral("предупреждение: Не указано, кто составил")),
                 qPrintable(lines(checks->ChecksList).join('\n')));
        QTest::mouseClick(checks->WriteAnywayButton, Qt::LeftButton);
        QTRY_COMPARE(written.count(), 1);
        QVERIFY(suggested.endsWith(QStringLiteral("Сети.gge")));
        QCOMPARE(written.at(0).at(0).toString(), QString::fromStdString(out.string()));
        std::ifstream in(out, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        QCOMPARE(talvira::exporting::schemaViolation(talvira::exporting::kBaseIndexSchema, bytes.str()), std::string());
        QCOMPARE(fixture_.errors, QStringList());
    }
};

QTEST_MAIN(GgeWindowTest)
#include "GgeWindowTest.moc"
