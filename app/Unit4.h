#pragma once
/** TOKRightDlg, the estimate-name dialog "Введите имя". */
#include <QDialog>

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
};
