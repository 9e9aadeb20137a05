#pragma once
/** TAboutBox, "О программе Тальвира": the program's picture and an OK button; shown without
 *  blocking the main window and hidden by OK. */
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    QLabel* ProgramIcon = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QFrame* Bevel3 = nullptr;
    QPushButton* OKButton = nullptr;

    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
};
