#pragma once
/** TOKRightDlg, the estimate-name dialog "Введите имя": OK creates the empty estimate named by
 *  the typed text in the estimates directory, binds and opens it; the dialog keeps its text. */
#include <QDialog>

#include <functional>

class QFrame;
namespace talvira::editing {
class EstimateDocument;
}
class QLineEdit;
class QPushButton;

class TOKRightDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKRightDlg(QWidget* parent = nullptr);
    ~TOKRightDlg() override;

    QLineEdit* DBNameEdit = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QFrame* Bevel1 = nullptr;

    /** Asked before an existing estimate is replaced by an empty one; answers whether to
     *  replace. The default is a Yes/No message box with No as the default button; tests
     *  replace it. */
    std::function<bool(const QString& question)> confirmReplace;

    /** The estimate document OK creates the estimate in (nullptr: none). */
    void setEstimate(talvira::editing::EstimateDocument* estimate) { estimate_ = estimate; }

    void DBNameEditChange();
    void CancelBtnClick();
    /** Creates the estimate named by the dialog's text (failures go to the error box). */
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void reject() override;  // Escape: as Cancel
    void accept() override;  // Enter on the default button: as OK

private:
    void createEstimate();

    talvira::editing::EstimateDocument* estimate_ = nullptr;
};
