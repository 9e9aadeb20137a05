#include "app/PositionDialog.h"

#include "app/ErrorBox.h"
#include "common/Error.h"
#include "dbctrls/FieldText.h"
#include "editing/EstimateDocument.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace ed = talvira::editing;
namespace model = talvira::model;

namespace {

const std::array<std::pair<unsigned, const char*>, 6> kTargets{
    {{model::OT, "ОТ"}, {model::EM, "ЭМ"}, {model::OTM, "ОТМ"}, {model::M, "М"}, {model::ZT, "ЗТ"}, {model::ZTM, "ЗТМ"}}};
enum CoefColumn { ValueColumn = 0, FirstTarget = 1, ReasonColumn = 7 };

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

PositionDialog::PositionDialog(ed::EstimateDocument& estimate, QWidget* parent) : QDialog(parent), estimate_(estimate) {
    setObjectName("PositionDialog");
    setWindowTitle(QStringLiteral("Данные позиции"));
    setWindowModality(Qt::WindowModal);

    TitleLabel = named(new QLabel(this), "TitleLabel");
    RowSearchEdit = named(new QLineEdit(this), "RowSearchEdit");
    RowSearchEdit->setPlaceholderText(QStringLiteral("Номер строки или слова: 011.0, полы, кровли"));
    RowSearchEdit->setClearButtonEnabled(true);
    RowList = named(new QListWidget(this), "RowList");
    ChosenLabel = named(new QLabel(this), "ChosenLabel");
    ChosenLabel->setWordWrap(true);
    WorkTypeBox = named(new QComboBox(this), "WorkTypeBox");
    CoefGrid = named(new QTableWidget(0, 8, this), "CoefGrid");
    QStringList titles{QStringLiteral("Значение")};
    for (const auto& [bit, name] : kTargets) titles << QString::fromUtf8(name);
    titles << QStringLiteral("Основание");
    CoefGrid->setHorizontalHeaderLabels(titles);
    CoefGrid->verticalHeader()->hide();
    CoefGrid->horizontalHeader()->setSectionResizeMode(ReasonColumn, QHeaderView::Stretch);
    for (int c = FirstTarget; c < ReasonColumn; ++c) CoefGrid->setColumnWidth(c, 44);
    AddCoefButton = named(new QPushButton(QStringLiteral("Добавить коэффициент"), this), "AddCoefButton");
    RemoveCoefButton = named(new QPushButton(QStringLiteral("Удалить коэффициент"), this), "RemoveCoefButton");
    PerUnitLabel = named(new QLabel(QStringLiteral("Расход на единицу расценки:"), this), "PerUnitLabel");
    PerUnitEdit = named(new QLineEdit(this), "PerUnitEdit");
    OKButton = named(new QPushButton(QStringLiteral("OK"), this), "OKButton");
    OKButton->setAutoDefault(false);
    CancelButton = named(new QPushButton(QStringLiteral("Отмена"), this), "CancelButton");
    CancelButton->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TitleLabel);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Норматив НР и СП, &найти:"), RowSearchEdit);
    form->addRow(RowList);
    form->addRow(QStringLiteral("Выбрано:"), ChosenLabel);
    form->addRow(QStringLiteral("&Вид работ:"), WorkTypeBox);
    form->addRow(PerUnitLabel, PerUnitEdit);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("Коэффициенты:"), this));
    layout->addWidget(CoefGrid);
    auto* coefButtons = new QHBoxLayout;
    coefButtons->addWidget(AddCoefButton);
    coefButtons->addWidget(RemoveCoefButton);
    coefButtons->addStretch(1);
    layout->addLayout(coefButtons);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    resize(720, 560);
    layout->activate();

    connect(RowSearchEdit, &QLineEdit::textChanged, this, [this] { listRows(); });
    connect(RowList, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item) {
            row_ = item->data(Qt::UserRole).toString().toStdString();
            showChosen();
        }
    });
    connect(AddCoefButton, &QPushButton::clicked, this, [this] {
        addCoefficient({});
        CoefGrid->setCurrentCell(CoefGrid->rowCount() - 1, ValueColumn);
        CoefGrid->editItem(CoefGrid->item(CoefGrid->rowCount() - 1, ValueColumn));
    });
    connect(RemoveCoefButton, &QPushButton::clicked, this, [this] {
        if (CoefGrid->currentRow() >= 0) CoefGrid->removeRow(CoefGrid->currentRow());
    });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void PositionDialog::addCoefficient(const ed::CoefficientForm& c) {
    const int r = CoefGrid->rowCount();
    CoefGrid->insertRow(r);
    CoefGrid->setItem(r, ValueColumn, new QTableWidgetItem(q(c.value)));
    for (size_t i = 0; i < kTargets.size(); ++i) {
        auto* box = new QTableWidgetItem;
        box->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        box->setCheckState(c.targets & kTargets[i].first ? Qt::Checked : Qt::Unchecked);
        CoefGrid->setItem(r, FirstTarget + int(i), box);
    }
    CoefGrid->setItem(r, ReasonColumn, new QTableWidgetItem(q(c.reason)));
}

void PositionDialog::showPosition(int32_t count) {
    if (!estimate_.isOpen()) throw talvira::Error("Смета не открыта.");
    kept_ = estimate_.positionData(count);
    const char sep = talvira::dbctrls::userDecimalSeparator();
    const ed::PositionForm f = ed::positionForm(kept_, sep);
    TitleLabel->setText(QStringLiteral("Позиция № %1: %2").arg(count).arg(q(kept_.code)));
    row_ = f.row;
    RowSearchEdit->blockSignals(true);
    RowSearchEdit->clear();
    RowSearchEdit->blockSignals(false);
    listRows();
    showChosen();

    WorkTypeBox->clear();
    const std::optional<model::WorkType> book = model::workTypeOfBook(kept_.code);
    WorkTypeBox->addItem(QStringLiteral("по сборнику: %1")
                             .arg(QString::fromUtf8(model::workTypeText(book.value_or(model::WorkType::Construction)).data())));
    for (int t = 0; t < model::kWorkTypes; ++t)
        WorkTypeBox->addItem(QString::fromUtf8(model::workTypeText(model::WorkType(t)).data()));
    WorkTypeBox->setCurrentIndex(f.workType + 1);

    CoefGrid->setRowCount(0);
    for (const ed::CoefficientForm& c : f.coefficients) addCoefficient(c);
    const bool material = kept_.parent != 0;
    PerUnitLabel->setVisible(material);
    PerUnitEdit->setVisible(material);
    PerUnitEdit->setText(q(f.perUnit));
    show();
    raise();
    activateWindow();
    RowSearchEdit->setFocus();
}

void PositionDialog::listRows() {
    const model::NrSpTables& tables = estimate_.tables();
    const model::Territory territory = estimate_.calc().params.territory;
    const char sep = talvira::dbctrls::userDecimalSeparator();
    RowList->blockSignals(true);
    RowList->clear();
    auto add = [&](const QString& text, const std::string& ref) {
        auto* item = new QListWidgetItem(text, RowList);
        item->setData(Qt::UserRole, q(ref));
        if (ref == row_) RowList->setCurrentItem(item);
    };
    const QString query = RowSearchEdit->text().trimmed();
    if (query.isEmpty()) {
        add(QStringLiteral("без норматива НР и СП"), "");
        // The rows the norm names come first: where it names several, the estimator chooses.
        std::vector<std::string> named;
        for (const auto* choices : {&kept_.nrChoices, &kept_.spChoices})
            for (const std::string& ref : *choices)
                if (const std::string r = model::rowOfReference(ref); std::find(named.begin(), named.end(), r) == named.end())
                    named.push_back(r);
        for (const std::string& r : named)
            if (const model::NrSpRow* row = tables.find(r))
                add(q(ed::rowChoiceText(*row, territory, sep)) + QStringLiteral("  (называет норма)"), row->ref);
    }
    for (const model::NrSpRow* row : tables.search(query.toStdString())) add(q(ed::rowChoiceText(*row, territory, sep)), row->ref);
    RowList->blockSignals(false);
}

void PositionDialog::showChosen() {
    model::PositionData e = kept_;
    const char sep = talvira::dbctrls::userDecimalSeparator();
    const std::string shown = !kept_.nrRow.empty() ? kept_.nrRow : kept_.spRow;
    if (row_ != shown) e.chooseRow(row_, estimate_.calc().params.territory, estimate_.tables());  // as the tables give it now
    const std::string nr = ed::nrText(e, estimate_.calc().params.territory, estimate_.tables(), sep);
    const std::string sp = ed::spText(e, estimate_.tables(), sep);
    ChosenLabel->setText(nr.empty() && sp.empty() ? QStringLiteral("не выбран") : q(nr) + QStringLiteral("; ") + q(sp));
}

void PositionDialog::chooseRow(const std::string& ref) {
    RowSearchEdit->clear();
    for (int i = 0; i < RowList->count(); ++i)
        if (RowList->item(i)->data(Qt::UserRole).toString().toStdString() == ref) {
            RowList->setCurrentRow(i);
            return;
        }
    row_ = ref;  // not among the rows: refused when taken
    showChosen();
}

ed::PositionForm PositionDialog::form() const {
    ed::PositionForm f;
    f.row = row_;
    f.workType = WorkTypeBox->currentIndex() - 1;
    for (int r = 0; r < CoefGrid->rowCount(); ++r) {
        ed::CoefficientForm c;
        c.value = CoefGrid->item(r, ValueColumn)->text().toStdString();
        for (size_t i = 0; i < kTargets.size(); ++i)
            if (CoefGrid->item(r, FirstTarget + int(i))->checkState() == Qt::Checked) c.targets |= kTargets[i].first;
        c.reason = CoefGrid->item(r, ReasonColumn)->text().toStdString();
        f.coefficients.push_back(c);
    }
    f.perUnit = PerUnitEdit->text().toStdString();
    return f;
}

void PositionDialog::OKButtonClick() {
    const bool taken = guarded([&] {
        estimate_.setPositionData(ed::readPositionForm(form(), kept_, estimate_.tables(), estimate_.calc().params.territory));
    });
    if (taken) accept();
}
