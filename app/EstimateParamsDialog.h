#pragma once
/**
 * The dialog "Параметры сметы" of the estimate window ("&Смета" → "&Параметры сметы..."): the
 * method of computation, the territory, capital repair with new-construction norms (with the
 * cases it does not apply to beside the box), the region, the current price level, the index
 * letter, the indices to ОТ, ЭМ, М and оборудование, and the price level of the base the
 * estimate's prices are at; on the page "Экспертиза" what the expertise file (.gge) needs besides
 * (the acts, the region's code, construction and object, the estimate's number, name and date,
 * the signatures), the base's edition and orders shown where none is given. OK takes them into the estimate, which keeps them beside its table;
 * a bad number is refused with its field named and nothing is taken, the dialog staying open.
 *
 *   ParamsDialog = new EstimateParamsDialog(document(), this);    // in TForm2
 *   ParamsDialog->showParams();                                   // the menu item
 *
 * Caveats: numbers are read with a point or a comma in any locale and shown with the user's
 * separator; the dialog holds the estimate window (window-modal) while it is open.
 */
#include <QDialog>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
namespace talvira::editing {
class EstimateDocument;
struct ParamsForm;
}  // namespace talvira::editing

class EstimateParamsDialog : public QDialog {
    Q_OBJECT
public:
    EstimateParamsDialog(talvira::editing::EstimateDocument& estimate, QWidget* parent);

    QComboBox* MethodBox = nullptr;
    QComboBox* TerritoryBox = nullptr;
    QCheckBox* RepairBox = nullptr;
    QLabel* RepairNote = nullptr;
    QLineEdit* RegionEdit = nullptr;
    QLineEdit* LevelEdit = nullptr;
    QLineEdit* LetterEdit = nullptr;
    QLineEdit* IndexOtEdit = nullptr;
    QLineEdit* IndexEmEdit = nullptr;
    QLineEdit* IndexMEdit = nullptr;
    QLineEdit* IndexEqEdit = nullptr;
    QLabel* BaseLevelLabel = nullptr;
    QTabWidget* Pages = nullptr;
    /** The page "Экспертиза": one edit per model::kExpertiseKeys, in that order (object names
     *  "Expertise_" + the key). */
    std::vector<QLineEdit*> ExpertiseEdits;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    /** Shows the open estimate's parameters (an error when none is open). */
    void showParams();
    /** Takes what the dialog says into the estimate and closes; a refused field: the error box,
     *  the dialog stays with what was typed. */
    void OKButtonClick();

    /** What the dialog says now. */
    talvira::editing::ParamsForm form() const;

private:
    talvira::editing::EstimateDocument& estimate_;
};
