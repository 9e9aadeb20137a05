#include "app/EstimateParamsDialog.h"

#include "app/ErrorBox.h"
#include "common/Error.h"
#include "dbctrls/FieldText.h"
#include "editing/EstimateDocument.h"
#include "editing/EstimateForms.h"
#include "normbase/BaseInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace ed = talvira::editing;

namespace {

QString q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string s(const QString& text) { return text.toStdString(); }

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

}  // namespace

EstimateParamsDialog::EstimateParamsDialog(ed::EstimateDocument& estimate, QWidget* parent)
    : QDialog(parent), estimate_(estimate) {
    setObjectName("ParamsDialog");
    setWindowTitle(QStringLiteral("Параметры сметы"));
    setWindowModality(Qt::WindowModal);

    MethodBox = named(new QComboBox(this), "MethodBox");
    for (std::string_view m : ed::kMethodNames) MethodBox->addItem(q(m));
    TerritoryBox = named(new QComboBox(this), "TerritoryBox");
    for (std::string_view t : ed::kTerritoryNames) TerritoryBox->addItem(q(t));
    RepairBox = named(new QCheckBox(q(ed::kRepairCaption), this), "RepairBox");
    RepairNote = named(new QLabel(q(ed::kRepairNote), this), "RepairNote");
    RepairNote->setWordWrap(true);
    RegionEdit = named(new QLineEdit(this), "RegionEdit");
    LevelEdit = named(new QLineEdit(this), "LevelEdit");
    LevelEdit->setPlaceholderText(QStringLiteral("II кв. 2025"));
    LetterEdit = named(new QLineEdit(this), "LetterEdit");
    IndexOtEdit = named(new QLineEdit(this), "IndexOtEdit");
    IndexEmEdit = named(new QLineEdit(this), "IndexEmEdit");
    IndexMEdit = named(new QLineEdit(this), "IndexMEdit");
    IndexEqEdit = named(new QLineEdit(this), "IndexEqEdit");
    BaseLevelLabel = named(new QLabel(this), "BaseLevelLabel");
    OKButton = named(new QPushButton(QStringLiteral("OK"), this), "OKButton");
    OKButton->setDefault(true);
    CancelButton = named(new QPushButton(QStringLiteral("Отмена"), this), "CancelButton");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Метод расчета:"), MethodBox);
    form->addRow(QStringLiteral("&Территория:"), TerritoryBox);
    form->addRow(RepairBox);
    form->addRow(RepairNote);
    form->addRow(QStringLiteral("&Регион:"), RegionEdit);
    form->addRow(QStringLiteral("&Уровень текущих цен:"), LevelEdit);
    form->addRow(QStringLiteral("&Письмо об индексах:"), LetterEdit);
    form->addRow(QStringLiteral("Индекс к &оплате труда (ОТ, ОТМ):"), IndexOtEdit);
    form->addRow(QStringLiteral("Индекс к &эксплуатации машин (ЭМ):"), IndexEmEdit);
    form->addRow(QStringLiteral("Индекс к м&атериалам (М):"), IndexMEdit);
    form->addRow(QStringLiteral("Индекс к о&борудованию:"), IndexEqEdit);
    form->addRow(BaseLevelLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    Pages = named(new QTabWidget(this), "Pages");
    auto* calcPage = new QWidget(Pages);
    calcPage->setLayout(form);
    Pages->addTab(calcPage, QStringLiteral("Расчет"));
    auto* expertisePage = new QWidget(Pages);
    auto* expertise = new QFormLayout(expertisePage);
    for (const talvira::model::ExpertiseKey& k : talvira::model::kExpertiseKeys) {
        auto* edit = new QLineEdit(expertisePage);
        edit->setObjectName(QStringLiteral("Expertise_") + QString::fromLatin1(k.key));
        if (std::string_view(k.key).ends_with("date")) edit->setPlaceholderText(QStringLiteral("ДД.ММ.ГГГГ"));
        expertise->addRow(q(k.caption) + QStringLiteral(":"), edit);
        ExpertiseEdits.push_back(edit);
    }
    Pages->addTab(expertisePage, QStringLiteral("Экспертиза"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Pages);
    layout->addLayout(buttons);
    resize(std::max(640, sizeHint().width()), sizeHint().height());  // the pages whole
    layout->activate();  // every control at its size before the first showing
    // The tab widget lays its pages out only when shown: give them their width now.
    for (int i = 0; i < Pages->count(); ++i) {
        QWidget* page = Pages->widget(i);
        page->resize(Pages->width() - 2 * Pages->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 8,
                     page->sizeHint().height());
        page->layout()->setGeometry(page->rect());
    }

    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void EstimateParamsDialog::showParams() {
    if (!estimate_.isOpen()) throw talvira::Error("Смета не открыта: параметры задаются открытой смете.");
    const talvira::model::EstimateParams& p = estimate_.calc().params;
    const ed::ParamsForm f = ed::paramsForm(p, talvira::dbctrls::userDecimalSeparator());
    MethodBox->setCurrentIndex(f.method);
    TerritoryBox->setCurrentIndex(f.territory);
    RepairBox->setChecked(f.capitalRepair);
    RegionEdit->setText(QString::fromStdString(f.region));
    LevelEdit->setText(QString::fromStdString(f.level));
    LetterEdit->setText(QString::fromStdString(f.letter));
    IndexOtEdit->setText(QString::fromStdString(f.indexOt));
    IndexEmEdit->setText(QString::fromStdString(f.indexEm));
    IndexMEdit->setText(QString::fromStdString(f.indexM));
    IndexEqEdit->setText(QString::fromStdString(f.indexEq));
    BaseLevelLabel->setText(QString::fromStdString(ed::baseLevelText(p)));
    for (size_t i = 0; i < ExpertiseEdits.size(); ++i) ExpertiseEdits[i]->setText(QString::fromStdString(f.expertise[i]));
    // the base's provenance, where the estimator gave none, as the file will take it
    const std::filesystem::path baseDir =
        estimate_.normBaseDirectory().empty() ? std::filesystem::path(estimate_.calc().base) : estimate_.normBaseDirectory();
    const talvira::normbase::BaseInfo base = baseDir.empty() ? talvira::normbase::BaseInfo{} : talvira::normbase::readBaseInfo(baseDir);
    ExpertiseEdits[0]->setPlaceholderText(q(base.edition));
    std::string orders;
    for (const std::string& o : base.orders) orders += (orders.empty() ? "" : "; ") + o;
    ExpertiseEdits[1]->setPlaceholderText(q(orders));
    show();
    raise();
    activateWindow();
    MethodBox->setFocus();
}

ed::ParamsForm EstimateParamsDialog::form() const {
    ed::ParamsForm f;
    f.method = MethodBox->currentIndex();
    f.territory = TerritoryBox->currentIndex();
    f.capitalRepair = RepairBox->isChecked();
    f.region = s(RegionEdit->text());
    f.level = s(LevelEdit->text());
    f.letter = s(LetterEdit->text());
    f.indexOt = s(IndexOtEdit->text());
    f.indexEm = s(IndexEmEdit->text());
    f.indexM = s(IndexMEdit->text());
    f.indexEq = s(IndexEqEdit->text());
    for (size_t i = 0; i < ExpertiseEdits.size() && i < f.expertise.size(); ++i) f.expertise[i] = s(ExpertiseEdits[i]->text());
    return f;
}

void EstimateParamsDialog::OKButtonClick() {
    const bool taken = guarded([&] { estimate_.setParams(ed::readParamsForm(form(), estimate_.calc().params)); });
    if (taken) accept();
}
