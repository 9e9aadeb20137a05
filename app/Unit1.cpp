#include "app/Unit1.h"

#include "app/ErrorBox.h"
#include "app/FormParts.h"
#include "app/GgeOpen.h"
#include "app/Globals.h"
#include "app/NormBaseImport.h"
#include "app/Pictures.h"
#include "app/RateSearchBox.h"
#include "app/SummaryWindow.h"
#include "app/Unit2.h"
#include "editing/EstimateHistory.h"
#include "app/Unit4.h"
#include "app/Unit7.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBMemo.h"
#include "dbctrls/DBText.h"
#include "dbctrls/FieldText.h"
#include "estimate/AddPositions.h"
#include "estimate/EstimateFile.h"
#include "normbase/NormBaseFields.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCompleter>
#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolBar>
#include <QToolButton>
#include <QTimer>

using talvira::dbctrls::DBGrid;
using talvira::dbctrls::DBMemo;
using talvira::dbctrls::DBText;
using talvira::dbctrls::GridColumn;
using talvira::dbctrls::GridOptions;
namespace nfld = talvira::normbase::fld;

namespace {

/** The text colour of a rate with resources without a price. */
const QColor kUnpricedText(160, 0, 0);

const QColor clSkyBlue(166, 202, 240);
const QColor clCream(255, 251, 240);
const QColor clInfoBk(255, 255, 225);

template <class W>
W* place(W* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
    return w;
}

void setBase(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, color);
    w->setPalette(p);
}

/** The mark of a price missing: a small triangle in the cell's top left corner. */
void paintMissingPrice(talvira::dbctrls::DrawCellArgs& a, const QColor& colour) {
    const QRect& r = a.rect;
    const int side = std::min(7, r.height() - 2);
    const QPoint corner[] = {r.topLeft(), r.topLeft() + QPoint(side, 0), r.topLeft() + QPoint(0, side)};
    a.painter->save();
    a.painter->setPen(Qt::NoPen);
    a.painter->setBrush(colour);
    a.painter->drawPolygon(corner, 3);
    a.painter->restore();
}

/** Whether the cell is "Материалы" of a machine's record, where its price means nothing. */
bool machinesMaterials(const DBGrid* grid, int row, int column) {
    return grid->columns().at(size_t(column)).field == nfld::BB &&
           !talvira::normbase::ResourcePrices::isMaterialsPrice(grid->rowValue(row, nfld::RABMAT));
}

/** A check box whose caption wraps onto several lines within its width. */
class WrappingCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const QString caption = opt.text;
        opt.text.clear();
        const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
        p.drawControl(QStyle::CE_CheckBox, opt);
        const QRect textRect = rect().adjusted(indicator.right() + 5, 0, 0, 0);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, caption);
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The open-file dialog
// ---------------------------------------------------------------------------------------------

TOpenDialog::TOpenDialog(QWidget* parent) : RussianFileDialog(parent, QStringLiteral("Открытие сметы")) {
    setObjectName("OpenDialog1");
    // Lists .db files whatever the case of the extension.
    setNameFilter(QStringLiteral("Файлы баз данных (*.db)"));
    setDefaultSuffix(QStringLiteral("db"));
    setFileMode(QFileDialog::AnyFile);  // the file itself need not exist
    setAcceptMode(QFileDialog::AcceptOpen);
}

void TOpenDialog::accept() {
    hideCompletions();
    const QStringList files = selectedFiles();
    if (files.isEmpty()) return;
    const QFileInfo info(files.first());
    if (info.isDir()) {  // a typed directory: the dialog goes there
        RussianFileDialog::accept();
        return;
    }
    if (!info.absoluteDir().exists()) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Путь «%1» не существует.\nПроверьте правильность пути.")
                                 .arg(QDir::toNativeSeparators(info.absolutePath())));
        return;
    }
    if (onCanClose) onCanClose(info.absoluteFilePath());
    RussianFileDialog::accept();
}

// ---------------------------------------------------------------------------------------------
// TForm1: construction
// ---------------------------------------------------------------------------------------------

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent), Summary([this] { return new SummaryWindow(*this, *summaryItem_); }) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Тальвира 1.0"));
    client_ = new QWidget(this);
    setCentralWidget(client_);
    buildMenu();
    buildToolBar();
    buildBrowser();
    buildCommands();
    StatusBar1 = place(new QStatusBar(client_), 0, 496, 706, 19);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    SearchBox = new RateSearchBox(*this, *ToolBar1, *N5, Base, *DBGrid2);
    SearchBox->FindAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    Import = new NormBaseImport(*this, *N1, *N8,
                                {[this] {
                                     // The search forgets what it read from the old base (and stops reading it).
                                     SearchBox->reset();
                                     Prices.reset();
                                     Base.closeAll();
                                 },
                                 [this] {
                                     Base.setDirectory(talvira::normbase::baseDirectory(StartDir.toStdString()));
                                     Base.openAll();
                                     SearchBox->search().startPreparing();
                                 }});
    // After the menu's own items, before "В&ыход", which ends it.
    QAction* exitItem = N1->actions().isEmpty() ? nullptr : N1->actions().last();
    summaryItem_ = new QAction(QStringLiteral("Сводный сметный расчет..."), N1);
    summaryItem_->setObjectName("SummaryItem");
    N1->insertAction(exitItem, summaryItem_);
    N1->insertSeparator(exitItem);
    connect(summaryItem_, &QAction::triggered, this, [this] { guarded([&] { Summary->SummaryItemClick(); }); });
    rememberLayout();

    // The order in which Tab passes the focus.
    QWidget* order[] = {DBGrid2, DBMemo1, DBGrid3, DBGrid4, DBMemo2, DBGrid6, DBGrid5,
                        CheckBox1, ViewButton, AddButton, OpenButton, NewButton};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    resize(706, 515 + menuBar()->sizeHint().height());
    move(45, 9);
    bindBrowser();
    FormCreate();
}

TForm1::~TForm1() {
    setEstimate(nullptr);
    delete Import;  // stops an import before the menu items it uses go
    delete SearchBox;  // before the widgets it watches go
    unbindBrowser();
}

void TForm1::buildMenu() {
    using talvira::app::namedAction;
    using talvira::app::namedMenu;
    N1 = namedMenu(menuBar(), "N1", QStringLiteral("&Файл"));
    N2 = namedAction(N1, "N2", QStringLiteral("Созд&ать..."), QKeySequence(Qt::CTRL | Qt::Key_N));
    N3 = namedAction(N1, "N3", QStringLiteral("&Открыть..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    // after the estimate's fixed items ("Выход" ends the menu): another program's expertise file
    QAction* ggeOpen = namedAction(N1, "NGge", QStringLiteral("Открыть смету из файла экспертизы (.gge)..."), {});
    connect(ggeOpen, &QAction::triggered, this,
            [this] { guarded([&] { talvira::app::chooseAndOpenGge(this, *estimate_); }); });
    N4 = namedAction(N1, "N4", QStringLiteral("В&ыход"), QKeySequence(Qt::ALT | Qt::Key_F4));

    N5 = namedMenu(menuBar(), "N5", QStringLiteral("&Правка"));
    N6 = namedAction(N5, "N6", QStringLiteral("П&равить смету"), QKeySequence(Qt::CTRL | Qt::Key_Insert));
    N6->setEnabled(false);
    N7 = namedAction(N5, "N7", QStringLiteral("&Добавить пункт в смету"), QKeySequence(Qt::Key_Insert));
    N7->setEnabled(false);

    N8 = namedMenu(menuBar(), "N8", QStringLiteral("&Справка"));
    N9 = namedAction(N8, "N9", QStringLiteral("&О программе"), QKeySequence(Qt::ALT | Qt::Key_F1));

    talvira::app::connectGuarded(this, &QAction::triggered,
                                   {{N2, &TForm1::NewButtonClick},
                                    {N3, &TForm1::OpenButtonClick},
                                    {N4, &TForm1::N4Click},
                                    {N6, &TForm1::ViewButtonClick},
                                    {N7, &TForm1::AddButtonClick},
                                    {N9, &TForm1::N9Click}});
}

void TForm1::buildToolBar() {
    ToolBar1 = place(new QToolBar(client_), 0, 0, 706, 29);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    auto tool = [this](const char* name, const QPixmap& picture, const QString& hint, bool enabled) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setIcon(QIcon(picture));
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setEnabled(enabled);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton1 = tool("ToolButton1", blankSheetPicture(), QStringLiteral("Создать"), true);
    ToolButton2 = tool("ToolButton2", openFolderPicture(), QStringLiteral("Открыть"), true);
    ToolButton3 = tool("ToolButton3", penPicture(), QStringLiteral("Добавить"), false);
    ToolButton4 = tool("ToolButton4", textPagePicture(), QStringLiteral("Править"), false);
    talvira::app::connectGuarded(this, &QAbstractButton::clicked,
                                   {{ToolButton1, &TForm1::NewButtonClick},
                                    {ToolButton2, &TForm1::OpenButtonClick},
                                    {ToolButton3, &TForm1::AddButtonClick},
                                    {ToolButton4, &TForm1::ViewButtonClick}});
}

void TForm1::buildBrowser() {
    // Frames first, so that the controls they surround lie over them.
    Bevel2 = place(new QFrame(client_), 8, 371, 534, 118);
    Bevel2->setObjectName("Bevel2");
    Bevel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel3 = place(new QFrame(client_), 352, 453, 185, 32);
    Bevel3->setObjectName("Bevel3");
    Bevel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Bevel1 = place(new QFrame(client_), 544, 371, 153, 118);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    // The location labels lie under the controls made after them: a long path runs on
    // beneath the resource's unit and the check box without taking their clicks.
    PathLabel = place(new QLabel(client_), 16, 456, 526, 14);
    PathLabel->setObjectName("PathLabel");
    NameLabel = place(new QLabel(client_), 16, 472, 526, 14);
    NameLabel->setObjectName("NameLabel");
    for (QLabel* l : {PathLabel, NameLabel}) {
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    GridOptions listOpts;  // collections and contents entries
    listOpts.lines = false;
    listOpts.rowSelect = true;
    listOpts.alwaysShowSelection = true;
    listOpts.resizableColumns = false;
    listOpts.tabBetweenColumns = false;

    DBGrid6 = place(new DBGrid(reporting(), client_), 8, 32, 349, 184);
    DBGrid6->setObjectName("DBGrid6");
    DBGrid6->setOptions(listOpts);
    DBGrid6->setColumns({{nfld::NAME, QStringLiteral("Наименования сборников"), true, -1, true, true, true}});
    DBGrid6->horizontalHeader()->setStretchLastSection(true);
    setBase(DBGrid6, clSkyBlue);

    DBGrid5 = place(new DBGrid(reporting(), client_), 360, 32, 337, 184);
    DBGrid5->setObjectName("DBGrid5");
    DBGrid5->setOptions(listOpts);
    DBGrid5->setColumns({{nfld::NAME, QStringLiteral("Наименования разделов и таблиц"), true, -1, true, true, true}});
    DBGrid5->horizontalHeader()->setStretchLastSection(true);
    setBase(DBGrid5, clSkyBlue);

    GridOptions rateOpts;
    rateOpts.rowSelect = true;
    rateOpts.alwaysShowSelection = true;
    DBGrid2 = place(new DBGrid(reporting(), client_), 8, 219, 534, 150);
    DBGrid2->setObjectName("DBGrid2");
    DBGrid2->setOptions(rateOpts);
    auto boldTitle = [](const char* field, const char* title, bool visible = true, int width = -1) {
        return GridColumn{field, QString::fromUtf8(title), visible, width, true, false, false};
    };
    // The code, the estimator's key, is shown whole: its column widens beyond its 70 (80)
    // pixels for the prefixed codes of an imported base ("ГЭСНмр01-01-002-05").
    auto codeColumn = [&](int width) {
        GridColumn c = boldTitle(nfld::TAB, "Шифр", true, width);
        c.fitContents = true;
        return c;
    };
    DBGrid2->setColumns({codeColumn(70), boldTitle(nfld::BA, "Всего"), boldTitle(nfld::BB, "Материалы"),
                         boldTitle(nfld::BC, "Экспл. маш"), boldTitle(nfld::BD, "В тч з/п маш"), boldTitle(nfld::BE, "Основн з/п"),
                         boldTitle(nfld::BF, "???", false), boldTitle(nfld::BG, "Затр. труда")});
    // A rate some of whose resources have no price (its price leaves them out) is written in
    // dark red, and its "Материалы" carries a red corner: the grid's columns have no room for more.
    DBGrid2->tableModel()->rowLook = [this](int row) {
        talvira::dbctrls::RowLook look;
        if (unpricedOfRow(row) > 0) look.text = kUnpricedText;
        return look;
    };
    DBGrid2->onDrawColumnCell = [this](talvira::dbctrls::DrawCellArgs& a) {
        if (!a.columnDef || a.columnDef->field != nfld::BB || unpricedOfRow(a.row) == 0) return;
        paintMissingPrice(a, QColor(255, 0, 0));
    };
    // The machines of a price book list their price under "Всего", not under "Материалы".
    DBGrid2->tableModel()->hiddenCell = [this](int row, int column) { return machinesMaterials(DBGrid2, row, column); };
    setBase(DBGrid2, clCream);

    DBMemo1 = place(new DBMemo(reporting(), client_), 544, 219, 153, 121);
    DBMemo1->setObjectName("DBMemo1");
    setBase(DBMemo1, clCream);

    DBText1 = place(new DBText(client_), 547, 344, 150, 25);
    DBText1->setObjectName("DBText1");

    DBMemo2 = place(new DBMemo(reporting(), client_), 16, 383, 205, 66);
    DBMemo2->setObjectName("DBMemo2");
    setBase(DBMemo2, clInfoBk);

    GridOptions lineOpts;
    lineOpts.lines = false;
    lineOpts.rowSelect = true;
    lineOpts.alwaysShowSelection = true;
    // 85 pixels hold the 80-pixel quantity column whole only beside a slim scroll bar and
    // without a frame of their own (the lowered frame around the resource area frames them).
    lineOpts.slimScrollBar = true;
    DBGrid3 = place(new DBGrid(reporting(), client_), 224, 383, 85, 66);
    DBGrid3->setObjectName("DBGrid3");
    DBGrid3->setFrameShape(QFrame::NoFrame);
    DBGrid3->setOptions(lineOpts);
    DBGrid3->setColumns({{nfld::KOLL, QStringLiteral("Кол-во"), true, 80, true, false, true},
                         {nfld::VIDNR, QStringLiteral("Неучтенка"), false}});
    setBase(DBGrid3, clInfoBk);
    // Unaccounted lines are white on red (in the selection's colours while current).
    DBGrid3->tableModel()->rowLook = [this](int row) {
        talvira::dbctrls::RowLook look;
        if (talvira::normbase::NormBase::isUnaccounted(DBGrid3->rowValue(row, nfld::VIDNR))) {
            look.text = QColor(255, 255, 255);
            look.background = QColor(255, 0, 0);
        }
        return look;
    };
    // The line whose resource has no price carries the rate's mark too (white on the red of an
    // unaccounted line): which of the rate's resources the estimator is to price.
    DBGrid3->onDrawColumnCell = [this](talvira::dbctrls::DrawCellArgs& a) {
        if (!unpricedLine(a.row)) return;
        const bool onRed = !a.selected && talvira::normbase::NormBase::isUnaccounted(DBGrid3->rowValue(a.row, nfld::VIDNR));
        paintMissingPrice(a, onRed ? QColor(255, 255, 255) : QColor(255, 0, 0));
    };

    GridOptions ownRateOpts;
    ownRateOpts.lines = false;
    ownRateOpts.tabBetweenColumns = false;
    DBGrid4 = place(new DBGrid(reporting(), client_), 312, 384, 225, 65);
    DBGrid4->setObjectName("DBGrid4");
    DBGrid4->setOptions(ownRateOpts);
    DBGrid4->setColumns({codeColumn(80), boldTitle(nfld::ALTTAB, "Поз. в сборнике", false),
                         boldTitle(nfld::BA, "Всего"), boldTitle(nfld::BB, "Материалы")});
    // A machine's price stands under "Всего" with "маш." beside it, never under "Материалы"
    // (where a base may hold it too, for the Add).
    DBGrid4->tableModel()->hiddenCell = [this](int row, int column) { return machinesMaterials(DBGrid4, row, column); };
    DBGrid4->onDrawColumnCell = [this](talvira::dbctrls::DrawCellArgs& a) {
        if (!a.columnDef || (a.columnDef->field != nfld::BA && a.columnDef->field != nfld::BB)) return;
        if (DBGrid4->cellText(a.row, a.column).isEmpty()) return;
        const QString mark = QString::fromUtf8(talvira::normbase::ResourcePrices::priceMark(DBGrid4->rowValue(a.row, nfld::RABMAT)));
        if (mark.isEmpty()) return;
        const QFontMetrics fm(a.font);
        const QRect text = a.rect.adjusted(2, 0, -2, 0);
        const int value = fm.horizontalAdvance(DBGrid4->fittedCellText(a.row, a.column, text.width(), a.font));
        if (fm.horizontalAdvance(mark) + 4 + value > text.width()) return;  // the figure keeps the room
        a.painter->save();
        a.painter->setFont(a.font);
        a.painter->setPen(QColor(96, 96, 96));
        a.painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, mark);
        a.painter->restore();
    };
    setBase(DBGrid4, clInfoBk);

    DBText2 = place(new DBText(client_), 221, 450, 121, 36);
    DBText2->setObjectName("DBText2");
    DBText2->setWordWrap(false);

    CheckBox1 = place(new WrappingCheckBox(QStringLiteral("Скрывать учтенные материалы и ресурсы"), client_), 360,
                      455, 169, 26);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setToolTip(QStringLiteral("Показывать только неучтенные"));
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { guarded([&] { CheckBox1Click(); }); });

}

void TForm1::buildCommands() {
    auto button = [this](const char* name, const char* caption, int top, bool enabled) {
        auto* b = place(new QPushButton(QString::fromUtf8(caption), client_), 552, top, 137, 25);
        b->setObjectName(name);
        b->setEnabled(enabled);
        return b;
    };
    NewButton = button("NewButton", "Создать", 375, true);
    OpenButton = button("OpenButton", "Открыть", 403, true);
    AddButton = button("AddButton", "Добавить в смету", 431, false);
    ViewButton = button("ViewButton", "Править смету", 459, false);
    talvira::app::connectGuarded(this, &QAbstractButton::clicked,
                                   {{NewButton, &TForm1::NewButtonClick},
                                    {OpenButton, &TForm1::OpenButtonClick},
                                    {AddButton, &TForm1::AddButtonClick},
                                    {ViewButton, &TForm1::ViewButtonClick}});
}

void TForm1::bindBrowser() {
    DBGrid6->setTable(&Base.Table7);
    DBGrid5->setTable(&Base.Table6);
    DBGrid2->setTable(&Base.Table2);
    DBMemo1->setField(&Base.Table1, nfld::NAME);
    DBText1->setField(&Base.Table8, nfld::NAME);
    DBGrid3->setTable(&Base.Table3);
    DBGrid4->setTable(&Base.Table4);
    DBMemo2->setField(&Base.Table5, nfld::NAME);
    DBText2->setField(&Base.Table9, nfld::NAME);
}

void TForm1::unbindBrowser() {
    DBGrid6->setTable(nullptr);
    DBGrid5->setTable(nullptr);
    DBGrid2->setTable(nullptr);
    DBMemo1->setField(nullptr, {});
    DBText1->setField(nullptr, {});
    DBGrid3->setTable(nullptr);
    DBGrid4->setTable(nullptr);
    DBMemo2->setField(nullptr, {});
    DBText2->setField(nullptr, {});
}

// ---------------------------------------------------------------------------------------------
// TForm1: window events
// ---------------------------------------------------------------------------------------------

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        DBGrid2->setFocus(Qt::OtherFocusReason);
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The toolbar keeps to the top edge and the status bar to the bottom edge.
    const int w = client_->width();
    ToolBar1->setGeometry(0, 0, w, 29);
    StatusBar1->setGeometry(0, client_->height() - 19, w, 19);
    // Beyond the designed 706 × 515, the width goes to the rates grid and the resource line
    // grid; the height half to the rates grid, half to the resource area. The controls right
    // of them and below them move along; nothing changes at the designed size or below it.
    const int dw = std::max(0, w - 706), dh = std::max(0, client_->height() - 515);
    const int rates = dh / 2, lines = dh - rates;
    for (const Stretch& s : stretches_) {
        QRect r = s.base;
        r.translate(s.moveRight * dw, (s.moveDown >= 1 ? rates : 0) + (s.moveDown == 2 ? lines : 0));
        r.setWidth(r.width() + s.widen * dw);
        r.setHeight(r.height() + (s.heighten & 1 ? rates : 0) + (s.heighten & 2 ? lines : 0));
        s.widget->setGeometry(r);
    }
    if (SearchBox && SearchBox->ResultsPanel->isVisible()) SearchBox->placePanel();
}

void TForm1::rememberLayout() {
    // moveDown: 1 below the rates grid, 2 below the resource area too; heighten: 1 with the
    // rates grid, 2 with the resource area, 3 with both.
    const struct {
        QWidget* widget;
        int moveRight, moveDown, widen, heighten;
    } rules[] = {
        {DBGrid2, 0, 0, 1, 1},   {DBMemo1, 1, 0, 0, 3},   {DBText1, 1, 2, 0, 0},   {Bevel2, 0, 1, 1, 2},
        {DBMemo2, 0, 1, 0, 2},   {DBGrid3, 0, 1, 0, 2},   {DBGrid4, 0, 1, 1, 2},   {DBText2, 0, 2, 0, 0},
        {Bevel3, 1, 2, 0, 0},    {CheckBox1, 1, 2, 0, 0}, {PathLabel, 0, 2, 1, 0}, {NameLabel, 0, 2, 1, 0},
        {Bevel1, 1, 2, 0, 0},    {NewButton, 1, 2, 0, 0}, {OpenButton, 1, 2, 0, 0}, {AddButton, 1, 2, 0, 0},
        {ViewButton, 1, 2, 0, 0},
    };
    for (const auto& r : rules) stretches_.push_back({r.widget, r.widget->geometry(), r.moveRight, r.moveDown, r.widen, r.heighten});
}

void TForm1::closeEvent(QCloseEvent* event) {
    // What is typed in the estimate window is stored before the program ends. When it cannot
    // be (a number cell holding letters, a table that refuses the record), the user is told
    // and the program stays, so that the typing can be corrected or cancelled.
    if (estimate_) {
        if (!guarded([&] { estimate_->storePending(); })) {
            event->ignore();
            return;
        }
    }
    // A running import is told to stop, not waited for: the windows go at once, and the
    // program waits for the import's worker once they are gone (the new base is never put in
    // place, Base/ stays as it was).
    Import->cancel();
    // The estimate's files are released with the norm base's, whatever else is still shown.
    if (estimate_) guarded([&] { estimate_->close(); });
    guarded([&] { Base.closeAll(); });
    event->accept();
    emit closed();
}

// ---------------------------------------------------------------------------------------------
// TForm1: handlers
// ---------------------------------------------------------------------------------------------

void TForm1::FormCreate() {
    // The current directory is read whole, however long it is.
    StartDir = QDir::currentPath();
    guarded([&] {
        Base.setDirectory(talvira::normbase::baseDirectory(StartDir.toStdString()));
        Base.openAll();
    });
}

void TForm1::enableEstimateCommands() {
    N6->setEnabled(true);
    N7->setEnabled(true);
    ToolButton3->setEnabled(true);
    ToolButton4->setEnabled(true);
    ViewButton->setEnabled(true);
    AddButton->setEnabled(true);
}

void TForm1::NewButtonClick() { talvira::app::bringToFront(OKRightDlg); }

TOpenDialog* TForm1::openDialog() {
    if (!OpenDialog1) {
        OpenDialog1 = new TOpenDialog(this);
        OpenDialog1->onCanClose = [this](const QString& path) { guarded([&] { OpenDialog1CanClose(path); }); };
    }
    return OpenDialog1;
}

void TForm1::OpenButtonClick() { openDialog()->exec(); }

void TForm1::OpenDialog1CanClose(const QString& path) {
    // An edit still in progress in the estimate window is stored before its estimate closes;
    // the labels tell the estimate's folder and file name (estimateBinding).
    const QFileInfo info(path);
    estimate_->open(QDir::toNativeSeparators(info.absolutePath()).toStdString(), info.fileName().toStdString());
}

void TForm1::AddButtonClick() {
    talvira::editing::EstimateDocument& doc = *estimate_;
    doc.addRate(Base);
    // Added as it stands; the estimator is told which prices are to be typed.
    const auto id = Base.Table2.active() && Base.Table2.recordCount() > 0 ? Base.Table2.fieldValue(nfld::ID) : talvira::storage::Value();
    if (id.isEmpty()) return;
    try {
        if (const auto& missing = Prices.unpriced(id.asInteger()); !missing.empty())
            reporting().reportWarning(QString::fromStdString(
                talvira::normbase::ResourcePrices::warningText(Base.Table2.fieldAsString(nfld::TAB), missing)));
    } catch (const std::exception& e) {  // the positions stand: only the check could not be made
        reporting().reportWarning(QStringLiteral("Расценка добавлена в смету, но цены её ресурсов проверить не удалось: ") +
                                  QString::fromUtf8(e.what()));
    }
}

void TForm1::setEstimate(talvira::editing::EstimateDocument* estimate) {
    if (estimate_) estimate_->removeView(this);
    estimate_ = estimate;
    if (estimate_) estimate_->addView(this);
}

void TForm1::estimateBinding(talvira::editing::EstimateDocument&, const talvira::editing::EstimatePlace& place) {
    // A new estimate: its folder below its name as typed; an opened one: its folder above its
    // file name.
    if (place.created) enableEstimateCommands();
    NameLabel->setText(QString::fromStdString(place.created ? place.directory : place.fileName));
    PathLabel->setText(QString::fromStdString(place.created ? place.fileName : place.directory));
    if (!place.created) enableEstimateCommands();
}

size_t TForm1::unpricedOfRow(int row) {
    try {
        const auto id = DBGrid2->rowValue(row, nfld::ID);
        return id.isEmpty() ? 0 : Prices.unpriced(id.asInteger()).size();
    } catch (const std::exception&) {
        return 0;  // a line or resource that cannot be read marks nothing; the Add reports it
    }
}

bool TForm1::unpricedLine(int row) {
    try {
        const auto rate = DBGrid3->rowValue(row, nfld::IDRAB), resource = DBGrid3->rowValue(row, nfld::IDRES_RABMAT);
        if (rate.isEmpty() || resource.isEmpty()) return false;
        const auto& missing = Prices.unpriced(rate.asInteger());
        return std::any_of(missing.begin(), missing.end(), [&](const auto& r) { return r.id == resource.asInteger(); });
    } catch (const std::exception&) {
        return false;  // as unpricedOfRow
    }
}

void TForm1::ViewButtonClick() {
    talvira::app::bringToFront(Form2);
    Form2->setFocus(Qt::OtherFocusReason);
}

void TForm1::N4Click() { close(); }

void TForm1::N9Click() { talvira::app::bringToFront(AboutBox); }

void TForm1::CheckBox1Click() { Base.setResourceFilter(CheckBox1->isChecked()); }
