#pragma once
/** TAboutBox, "О программе Тальвира". */
#include <QDialog>

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;
};
