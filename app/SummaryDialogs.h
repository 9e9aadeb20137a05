#pragma once
/**
 * The two dialogs of the construction's window: a line of the summary estimate (a calculation,
 * a percentage line, an object, a local estimate's mark) and the construction's own data (name,
 * customer, price level, the date VAT is taken at, reserve, purpose). Each shows a form of
 * editing/SummaryEdits.h and hands what is typed to its `take`; a refused field is told in the
 * error box and the dialog stays open with what was typed.
 *
 *   LineDialog->showForm(QStringLiteral("Новая строка главы 9"), form, true,
 *                        [this](const ed::LineForm& f) { addLine(f); });
 *
 * Caveats: both hold the construction's window (window-modal) while open.
 */
#include "editing/SummaryEdits.h"

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

class SummaryLineDialog : public QDialog {
    Q_OBJECT
public:
    using Take = std::function<void(const talvira::editing::LineForm&)>;
    explicit SummaryLineDialog(QWidget* parent);

    QComboBox* KindBox = nullptr;
    QLineEdit* NameEdit = nullptr;
    QLineEdit* ReasonEdit = nullptr;
    std::array<QLineEdit*, 4> AmountEdits{};  // гр. 4–7
    QLineEdit* PercentEdit = nullptr;
    QComboBox* BaseBox = nullptr;             // «Итого по главам 1–7» … «1–12»
    QLineEdit* ColumnsEdit = nullptr;
    QLineEdit* NumberEdit = nullptr;          // an object's number
    QCheckBox* ExemptBox = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    /** Shows `form` titled `title`; the kind may be chosen only when `newLine`. */
    void showForm(const QString& title, const talvira::editing::LineForm& form, bool newLine, Take take);
    talvira::editing::LineForm form() const;
    void OKButtonClick();

private:
    /** The rows the kind has, the others hidden. */
    void showRowsOfKind();

    QFormLayout* layout_ = nullptr;
    Take take_;
};

class SummaryTitleDialog : public QDialog {
    Q_OBJECT
public:
    using Take = std::function<void(const talvira::editing::TitleForm&)>;
    explicit SummaryTitleDialog(QWidget* parent);

    QLineEdit* NameEdit = nullptr;
    QLineEdit* NumberEdit = nullptr;
    QLineEdit* CustomerEdit = nullptr;
    QLineEdit* LevelEdit = nullptr;
    QLineEdit* VatDateEdit = nullptr;
    QLineEdit* ReserveEdit = nullptr;
    QCheckBox* ProductionBox = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    void showForm(const talvira::editing::TitleForm& form, Take take);
    talvira::editing::TitleForm form() const;
    void OKButtonClick();

private:
    Take take_;
};
