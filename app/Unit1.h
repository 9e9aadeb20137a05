#pragma once
/**
 * TForm1, the main window "Тальвира 1.0": the norm browser over the nine norm base handles,
 * the menu, toolbar and command buttons, and the two labels that tell where the bound
 * estimate lies. Creating it reads the start directory and opens the norm base; closing it
 * stores a pending estimate edit, closes the norm base and ends the program.
 */
#include "editing/EstimateDocument.h"
#include "normbase/NormBase.h"
#include "normbase/ResourcePrices.h"

#include "app/FileDialogs.h"
#include "app/OnDemand.h"

#include <QMainWindow>

#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QToolBar;
class QToolButton;
class NormBaseImport;
class RateSearchBox;
class SummaryWindow;

namespace talvira::dbctrls {
class DBGrid;
class DBMemo;
class DBText;
}  // namespace talvira::dbctrls

/** The open-file dialog with a close-query step: the handler runs when the user confirms a
 *  file whose directory exists, while the dialog is still on the screen; then it closes. */
class TOpenDialog : public RussianFileDialog {
    Q_OBJECT
public:
    explicit TOpenDialog(QWidget* parent = nullptr);
    std::function<void(const QString& path)> onCanClose;

public slots:
    void accept() override;
};

class TForm1 : public QMainWindow, public talvira::editing::EstimateView {
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

    /** The estimate document the commands open and append to (the window then shows where the
     *  estimate lies); nullptr: none, from before the windows go. */
    void setEstimate(talvira::editing::EstimateDocument* estimate);
    /** The labels and the estimate commands, as the estimate is being bound. */
    void estimateBinding(talvira::editing::EstimateDocument& doc, const talvira::editing::EstimatePlace& place) override;

    /** How many resources of the rate in row `row` of the rates grid have no price. */
    size_t unpricedOfRow(int row);
    /** Whether the resource of line `row` of the resource lines grid is one of them. */
    bool unpricedLine(int row);

    /** The nine norm base handles Table1 .. Table9. */
    talvira::normbase::NormBase Base;
    /** The resources without a price, for the rates grid's mark and the Add command's warning. */
    talvira::normbase::ResourcePrices Prices{Base};

    // ---- controls (named as the window's design names them) ------------------------------
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    talvira::dbctrls::DBGrid* DBGrid6 = nullptr;
    talvira::dbctrls::DBGrid* DBGrid5 = nullptr;
    talvira::dbctrls::DBGrid* DBGrid2 = nullptr;
    talvira::dbctrls::DBMemo* DBMemo1 = nullptr;
    talvira::dbctrls::DBText* DBText1 = nullptr;
    QFrame* Bevel2 = nullptr;
    talvira::dbctrls::DBMemo* DBMemo2 = nullptr;
    talvira::dbctrls::DBGrid* DBGrid3 = nullptr;
    talvira::dbctrls::DBGrid* DBGrid4 = nullptr;
    talvira::dbctrls::DBText* DBText2 = nullptr;
    QFrame* Bevel3 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* NewButton = nullptr;
    QPushButton* OpenButton = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* ViewButton = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    QMenu* N1 = nullptr;    // "&Файл"
    QAction* N2 = nullptr;  // "Созд&ать..."
    QAction* N3 = nullptr;  // "&Открыть..."
    QAction* N4 = nullptr;  // "В&ыход"
    QMenu* N5 = nullptr;    // "&Правка"
    QAction* N6 = nullptr;  // "П&равить смету"
    QAction* N7 = nullptr;  // "&Добавить пункт в смету"
    QMenu* N8 = nullptr;    // "&Справка"
    QAction* N9 = nullptr;  // "&О программе"

    /** The rate search: its field in the toolbar, "&Найти расценку..." in "&Правка", the list. */
    RateSearchBox* SearchBox = nullptr;
    /** The import of an official norm base: "&Импорт нормативной базы...", "О &нормативной базе...". */
    NormBaseImport* Import = nullptr;
    /** The construction's summary estimate: "Сводный сметный расчет..." in "&Файл", before "В&ыход";
     *  the window is made at the item's first use. */
    OnDemand<SummaryWindow> Summary;

    /** The open-file dialog, made at its first use (building a file dialog costs start-up
     *  time) and kept from then on. */
    TOpenDialog* openDialog();

    // ---- handlers -------------------------------------------------------------------------
    void FormCreate();
    void NewButtonClick();
    void OpenButtonClick();
    void OpenDialog1CanClose(const QString& path);
    void AddButtonClick();
    void ViewButtonClick();
    void N4Click();
    void N9Click();
    void CheckBox1Click();

signals:
    /** The window has closed: the program ends. */
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenu();
    void buildToolBar();
    void buildBrowser();
    void buildCommands();
    void bindBrowser();
    void unbindBrowser();

    /** How a control follows the window's size beyond the designed one (resizeEvent). */
    struct Stretch {
        QWidget* widget;
        QRect base;  // at the designed size
        int moveRight, moveDown, widen, heighten;
    };
    void rememberLayout();

    QWidget* client_ = nullptr;
    QAction* summaryItem_ = nullptr;  // "Сводный сметный расчет..."
    std::vector<Stretch> stretches_;
    TOpenDialog* OpenDialog1 = nullptr;
    bool shownOnce_ = false;
    talvira::editing::EstimateDocument* estimate_ = nullptr;
};
