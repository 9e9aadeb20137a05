#pragma once
/**
 * TForm1, the main window "Тальвира 1.0": the norm browser over the nine norm base handles,
 * the menu, toolbar and command buttons, and the two labels that tell where the bound
 * estimate lies.
 */
#include <QMainWindow>

class QLabel;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Read and written by the estimate commands (creation and opening).
    QLabel* PathLabel = nullptr;
    QLabel* NameLabel = nullptr;

    /** Enables the six estimate commands in their order (N6, N7, ToolButton3, ToolButton4,
     *  ViewButton, AddButton). */
    void enableEstimateCommands();
};
