#pragma once
/**
 * The dialog "Данные позиции" of the estimate window ("&Смета" → "&Данные позиции...", or the
 * button of the position panel): what the current position of an estimate by the base-index
 * method keeps beside the table. Its row of НР (812/пр) and СП (774/пр): those its norm names
 * first, then any of the 136 rows, found by number or words as they are typed; its type of work;
 * its coefficients, each with a value, what it acts on (ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ) and its reason;
 * for a material of a rate, its consumption per unit of the rate. OK takes them into the
 * estimate; anything refused is named in the error box and nothing is taken.
 *
 *   PositionDlg = new PositionDialog(document(), this);   // in TForm2
 *   PositionDlg->showPosition(count);                     // COUNT of the current position
 */
#include "editing/EstimateForms.h"
#include "model/BaseIndex.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
namespace talvira::editing {
class EstimateDocument;
}

class PositionDialog : public QDialog {
    Q_OBJECT
public:
    PositionDialog(talvira::editing::EstimateDocument& estimate, QWidget* parent);

    QLabel* TitleLabel = nullptr;      // "Позиция № 7: ФЕР08-01-001-01"
    QLineEdit* RowSearchEdit = nullptr;
    QListWidget* RowList = nullptr;    // "без норматива", the norm's own rows, the rows found
    QLabel* ChosenLabel = nullptr;     // the chosen rows as the estimate writes them
    QComboBox* WorkTypeBox = nullptr;  // by the book, then the five types
    QTableWidget* CoefGrid = nullptr;  // value, ОТ ЭМ ОТМ М ЗТ ЗТМ, reason
    QPushButton* AddCoefButton = nullptr;
    QPushButton* RemoveCoefButton = nullptr;
    QLabel* PerUnitLabel = nullptr;
    QLineEdit* PerUnitEdit = nullptr;  // a material of a rate only
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    /** Shows the data of the position numbered `count`. */
    void showPosition(int32_t count);
    /** Takes what the dialog says into the estimate and closes; anything refused: the error
     *  box, the dialog stays. */
    void OKButtonClick();
    /** Chooses the row `ref` ("011.0"; "" for none), as a click in the list does. */
    void chooseRow(const std::string& ref);

    /** What the dialog says now. */
    talvira::editing::PositionForm form() const;

private:
    void listRows();
    void showChosen();
    void addCoefficient(const talvira::editing::CoefficientForm& c);

    talvira::editing::EstimateDocument& estimate_;
    talvira::model::PositionData kept_;
    std::string row_;
};
