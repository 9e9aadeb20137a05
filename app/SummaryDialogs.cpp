#include "app/SummaryDialogs.h"

#include "app/ErrorBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ed = talvira::editing;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& text) { return text.toStdString(); }

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

/** OK and Отмена at the right under the form. */
void finishLayout(QDialog* d, QFormLayout* form, QPushButton*& ok, QPushButton*& cancel) {
    ok = named(new QPushButton(QStringLiteral("OK"), d), "OKButton");
    ok->setDefault(true);
    cancel = named(new QPushButton(QStringLiteral("Отмена"), d), "CancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(d);
    layout->addLayout(form);
    layout->addLayout(buttons);
    d->resize(560, d->sizeHint().height());
    QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
}

void present(QDialog* d, QWidget* first) {
    d->show();
    d->raise();
    d->activateWindow();
    first->setFocus();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// A line
// ---------------------------------------------------------------------------------------------

SummaryLineDialog::SummaryLineDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("SummaryLineDialog");
    setWindowModality(Qt::WindowModal);
    KindBox = named(new QComboBox(this), "KindBox");
    for (const char* k : ed::kLineFormKinds) KindBox->addItem(QString::fromUtf8(k));
    NameEdit = named(new QLineEdit(this), "NameEdit");
    ReasonEdit = named(new QLineEdit(this), "ReasonEdit");
    ReasonEdit->setPlaceholderText(QStringLiteral("Расчет № 1; пусто — номер по порядку"));
    for (int i = 0; i < 4; ++i) {
        AmountEdits[size_t(i)] = new QLineEdit(this);
        AmountEdits[size_t(i)]->setObjectName(QStringLiteral("AmountEdit%1").arg(4 + i));
        AmountEdits[size_t(i)]->setPlaceholderText(QStringLiteral("0,00"));
    }
    PercentEdit = named(new QLineEdit(this), "PercentEdit");
    BaseBox = named(new QComboBox(this), "BaseBox");
    for (int k = talvira::model::kFirstSubtotal; k <= talvira::model::kChapters; ++k)
        BaseBox->addItem(QStringLiteral("Итого по главам 1–%1").arg(k), k);
    ColumnsEdit = named(new QLineEdit(this), "ColumnsEdit");
    ColumnsEdit->setPlaceholderText(QStringLiteral("4+5; 8 — от графы «всего» в графу 7"));
    NumberEdit = named(new QLineEdit(this), "NumberEdit");
    NumberEdit->setPlaceholderText(QStringLiteral("02-01"));
    ExemptBox = named(new QCheckBox(QStringLiteral("Не облагается НДС"), this), "ExemptBox");

    layout_ = new QFormLayout;
    layout_->addRow(QStringLiteral("Вид строки:"), KindBox);
    layout_->addRow(QStringLiteral("Номер объекта:"), NumberEdit);
    layout_->addRow(QStringLiteral("Наименование:"), NameEdit);
    layout_->addRow(QStringLiteral("Обоснование:"), ReasonEdit);
    static const char* const kAmounts[] = {"Строительные работы, руб.:", "Монтажные работы, руб.:",
                                           "Оборудование, руб.:", "Прочие затраты, руб.:"};
    for (int i = 0; i < 4; ++i) layout_->addRow(QString::fromUtf8(kAmounts[i]), AmountEdits[size_t(i)]);
    layout_->addRow(QStringLiteral("Процент:"), PercentEdit);
    layout_->addRow(QStringLiteral("От итога:"), BaseBox);
    layout_->addRow(QStringLiteral("Графы:"), ColumnsEdit);
    layout_->addRow(ExemptBox);
    finishLayout(this, layout_, OKButton, CancelButton);

    connect(KindBox, &QComboBox::currentIndexChanged, this, [this] { showRowsOfKind(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
}

void SummaryLineDialog::showRowsOfKind() {
    const auto kind = ed::LineFormKind(KindBox->currentIndex());
    using K = ed::LineFormKind;
    layout_->setRowVisible(NumberEdit, kind == K::Object);
    layout_->setRowVisible(NameEdit, kind != K::Estimate);
    layout_->setRowVisible(ReasonEdit, kind == K::Calculation || kind == K::Percent);
    for (QLineEdit* e : AmountEdits) layout_->setRowVisible(e, kind == K::Calculation);
    for (QWidget* w : {static_cast<QWidget*>(PercentEdit), static_cast<QWidget*>(BaseBox), static_cast<QWidget*>(ColumnsEdit)})
        layout_->setRowVisible(w, kind == K::Percent);
    // an object's estimates carry the mark each, the object none of its own
    layout_->setRowVisible(ExemptBox, kind != K::Object);
    adjustSize();
}

void SummaryLineDialog::showForm(const QString& title, const ed::LineForm& f, bool newLine, Take take) {
    take_ = std::move(take);
    setWindowTitle(title);
    KindBox->setCurrentIndex(int(f.kind));
    KindBox->setEnabled(newLine);
    NameEdit->setText(q(f.name));
    ReasonEdit->setText(q(f.reason));
    for (size_t i = 0; i < AmountEdits.size(); ++i) AmountEdits[i]->setText(q(f.amounts[i]));
    PercentEdit->setText(q(f.percent));
    BaseBox->setCurrentIndex(BaseBox->findData(f.base));
    ColumnsEdit->setText(q(f.columns));
    NumberEdit->setText(q(f.objectNumber));
    ExemptBox->setChecked(f.exempt);
    showRowsOfKind();
    present(this, newLine ? static_cast<QWidget*>(KindBox) : !NameEdit->isHidden() ? static_cast<QWidget*>(NameEdit) : ExemptBox);
}

ed::LineForm SummaryLineDialog::form() const {
    ed::LineForm f;
    f.kind = ed::LineFormKind(KindBox->currentIndex());
    f.name = s(NameEdit->text());
    f.reason = s(ReasonEdit->text());
    for (size_t i = 0; i < AmountEdits.size(); ++i) f.amounts[i] = s(AmountEdits[i]->text());
    f.percent = s(PercentEdit->text());
    f.base = BaseBox->currentData().toInt();
    f.columns = s(ColumnsEdit->text());
    f.objectNumber = s(NumberEdit->text());
    f.exempt = ExemptBox->isChecked();
    return f;
}

void SummaryLineDialog::OKButtonClick() {
    const ed::LineForm f = form();
    // hidden before it is taken: what the taking opens (a file dialog) comes over the window
    hide();
    if (!guarded([&] { take_(f); })) show();
    else accept();
}

// ---------------------------------------------------------------------------------------------
// The construction's data
// ---------------------------------------------------------------------------------------------

SummaryTitleDialog::SummaryTitleDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("SummaryTitleDialog");
    setWindowTitle(QStringLiteral("Параметры стройки"));
    setWindowModality(Qt::WindowModal);
    NameEdit = named(new QLineEdit(this), "NameEdit");
    NumberEdit = named(new QLineEdit(this), "NumberEdit");
    CustomerEdit = named(new QLineEdit(this), "CustomerEdit");
    LevelEdit = named(new QLineEdit(this), "LevelEdit");
    LevelEdit->setPlaceholderText(QStringLiteral("I кв. 2026"));
    VatDateEdit = named(new QLineEdit(this), "VatDateEdit");
    VatDateEdit->setPlaceholderText(QStringLiteral("ДД.ММ.ГГГГ; пусто — первый день уровня цен"));
    ReserveEdit = named(new QLineEdit(this), "ReserveEdit");
    ProductionBox = named(new QCheckBox(QStringLiteral("Объекты производственного назначения (резерв до 3 %, иначе до 2 %)"), this),
                          "ProductionBox");
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Наименование стройки:"), NameEdit);
    form->addRow(QStringLiteral("Номер расчета:"), NumberEdit);
    form->addRow(QStringLiteral("Заказчик:"), CustomerEdit);
    form->addRow(QStringLiteral("Уровень цен:"), LevelEdit);
    form->addRow(QStringLiteral("Дата НДС:"), VatDateEdit);
    form->addRow(QStringLiteral("Резерв на непредвиденные, %:"), ReserveEdit);
    form->addRow(ProductionBox);
    finishLayout(this, form, OKButton, CancelButton);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
}

void SummaryTitleDialog::showForm(const ed::TitleForm& f, Take take) {
    take_ = std::move(take);
    NameEdit->setText(q(f.name));
    NumberEdit->setText(q(f.number));
    CustomerEdit->setText(q(f.customer));
    LevelEdit->setText(q(f.level));
    VatDateEdit->setText(q(f.vatDate));
    ReserveEdit->setText(q(f.reserve));
    ProductionBox->setChecked(f.production);
    present(this, NameEdit);
}

ed::TitleForm SummaryTitleDialog::form() const {
    ed::TitleForm f;
    f.name = s(NameEdit->text());
    f.number = s(NumberEdit->text());
    f.customer = s(CustomerEdit->text());
    f.level = s(LevelEdit->text());
    f.vatDate = s(VatDateEdit->text());
    f.reserve = s(ReserveEdit->text());
    f.production = ProductionBox->isChecked();
    return f;
}

void SummaryTitleDialog::OKButtonClick() {
    if (guarded([&] { take_(form()); })) accept();
}
