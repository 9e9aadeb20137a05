#include "app/Unit2.h"

#include "app/ErrorBox.h"
#include "app/EstimateParamsDialog.h"
#include "app/FormExport.h"
#include "app/GgeExportCommand.h"
#include "app/FormParts.h"
#include "app/PositionDialog.h"
#include "app/Globals.h"
#include "app/UndoCommands.h"
#include "app/TotalsWindow.h"
#include "common/Error.h"
#include "dbctrls/DBGrid.h"
#include "dbctrls/DBMemo.h"
#include "dbctrls/FieldText.h"
#include "editing/EstimateCommands.h"
#include "editing/KeptTexts.h"
#include "editing/EstimateHistory.h"
#include "editing/BaseIndexRules.h"
#include "editing/BaseIndexText.h"
#include "editing/PriceConversion.h"
#include "editing/TotalsFollower.h"
#include "editing/EstimateRows.h"
#include "editing/LsrExport.h"
#include "estimate/EstimateFields.h"
#include "normbase/BaseInfo.h"
#include "normbase/NormBaseFields.h"
#include "export/EstimateExport.h"
#include "export/LsrForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QUrl>

#include <filesystem>

using talvira::dbctrls::DBGrid;
using talvira::dbctrls::GridColumn;
namespace efld = talvira::estimate::fld;

namespace {

const char* const kHintProperty = "talviraHint";
/** Set on a control whose tooltip is shown (the others' hints go to the status bar only). */
const char* const kTipProperty = "talviraTip";

const QString kIncompleteWarning =
    QStringLiteral("Внимание!!! Количество либо стоимость данного ресурса не определено или равно 0");

QLineEdit* lineEdit(QWidget* parent, const char* name, const QRect& place, const std::string& text) {
    auto* e = new QLineEdit(QString::fromStdString(text), parent);
    e->setObjectName(name);
    e->setGeometry(place);
    return e;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* g = new QGroupBox(caption, parent);
    g->setObjectName(name);
    g->setGeometry(place);
    return g;
}

QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(place);
    return b;
}

/** `text` cut with "…" to `label`'s width, whole in its tooltip. */
void setElided(QLabel* label, const QString& text) {
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, label->width())));
    label->setToolTip(text);
}

QFrame* raisedFrame(QWidget* parent, const char* name, QFrame::Shape shape, const QRect& place) {
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Raised);
    f->setGeometry(place);
    return f;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QMainWindow(parent), SmetaTable("SmetaTable"), Totals([this] {
          return new TotalsWindow({*this, SmetaTable, document_->follower(), *SmetaDBGrid, rateEdits_,
                                   [this] { storePendingEdit(); }, [this](const QString& text) { setStatusText(text); },
                                   document_.get()});
      }) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("Смета"));
    SmetaTable.setBoundFields(talvira::estimate::estimateBoundFields());
    document_ = std::make_unique<talvira::editing::EstimateDocument>(SmetaTable, talvira::dbctrls::userDecimalSeparator(),
                                                                     shippedTables());
    document_->addView(this);
    // The window's font is the program's (formFont()), the same as the main window's.
    buildMenu();
    buildLayout();
    undo_ = std::make_unique<UndoCommands>(*this, *N1, document_->history(), *SmetaDBGrid, [this] { storePendingEdit(); });
    undo_->undoItem()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    undo_->redoItem()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
    // Outer 677 x 563 at (58, 4) with a client area of 669 x 517 below the menu.
    move(58, 4);
    resize(669, 517 + menuBar()->sizeHint().height());
    qApp->installEventFilter(this);
    // The positions are followed from the start (the commands and the warning stand on them);
    // the totals window, made when first asked for, shows them from then on.
    document_->follower().onChanged = [this] {
        if (TotalsWindow* totals = Totals.built(); totals && totals->isVisible()) totals->showBlock();
        showEstimateState();
        showPositionPanel();
    };
    showPositionPanel();
    openWorkbook = [](const std::filesystem::path& file) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    };
    askTablePercents = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Talvira"), question, QMessageBox::NoButton, this);
        QPushButton* take = box.addButton(QStringLiteral("Взять из таблиц"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("Оставить"), QMessageBox::NoRole);
        box.setDefaultButton(take);
        box.exec();
        return box.clickedButton() == take;
    };
    offerTemplateWorkbook = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Talvira"), question, QMessageBox::Yes | QMessageBox::No,
                        this);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    };
    chooseWorkbook = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Talvira"), question, QMessageBox::NoButton, this);
        QPushButton* form = box.addButton(QStringLiteral("Официальная форма"), QMessageBox::AcceptRole);
        QPushButton* book = box.addButton(QStringLiteral("Книга по шаблону"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
        box.setDefaultButton(form);
        box.exec();
        return box.clickedButton() == form   ? WorkbookChoice::OfficialForm
               : box.clickedButton() == book ? WorkbookChoice::TemplateWorkbook
                                             : WorkbookChoice::Nothing;
    };
}

TForm2::~TForm2() {
    // An edit that has the focus loses it while the widgets go, after this window's members:
    // its texts are not stored then.
    for (QLineEdit* edit : textEdits()) edit->disconnect(this);
    document_->follower().onChanged = nullptr;
    Totals.destroy();  // it reads SmetaTable and the follower
    qApp->removeEventFilter(this);
    undo_.reset();
    document_->removeView(this);
    if (SmetaDBGrid) SmetaDBGrid->setTable(nullptr);
    if (DBMemo1) DBMemo1->setField(nullptr, {});
}

// ---- layout -----------------------------------------------------------------------------

void TForm2::buildMenu() {
    using talvira::app::namedAction;
    using talvira::app::namedMenu;
    N1 = namedMenu(menuBar(), "N1", QStringLiteral("&Правка"));
    N2 = namedAction(N1, "N2", QStringLiteral("&Очистка сметы"), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    N3 = namedAction(N1, "N3", QStringLiteral("&Удалить позицию"), QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    N4 = namedAction(N1, "N4", QStringLiteral("В&ыход"), QKeySequence(Qt::ALT | Qt::Key_F4));
    N5 = namedMenu(menuBar(), "N5", QStringLiteral("&Расчет"));
    Excell20xx1 = namedAction(N5, "Excell20xx1", QStringLiteral("E&xcel 200x"), QKeySequence(Qt::CTRL | Qt::Key_E));
    Excell971 = namedAction(N5, "Excell971", QStringLiteral("Excel 97 (N/A)"));
    Excell971->setEnabled(false);
    N5->addSeparator();
    TotalsItem = namedAction(N5, "TotalsItem", QStringLiteral("&Итоги сметы"), QKeySequence(Qt::CTRL | Qt::Key_T));
    NextIncompleteItem = namedAction(N5, "NextIncompleteItem", QStringLiteral("Следующая незаполненная"),
                                     QKeySequence(Qt::Key_F3));
    LsrItem = namedAction(N5, "LsrItem", QStringLiteral("Локальный сметный расчет (421/пр)..."));
    GgeItem = namedAction(N5, "GgeItem", QStringLiteral("Файл для экспертизы (XML, .gge)..."));
    for (QAction* a : {N2, N3, N4, Excell20xx1}) a->setShortcutContext(Qt::WindowShortcut);

    talvira::app::connectGuarded(this, &QAction::triggered,
                                   {{N2, &TForm2::ClearButtonClick},
                                    {N3, &TForm2::DeleteButtonClick},
                                    {N4, &TForm2::N4Click},
                                    {Excell20xx1, &TForm2::EButtonClick},
                                    {LsrItem, &TForm2::LsrItemClick},
                                    {GgeItem, &TForm2::GgeItemClick}});
    EstimateMenu = namedMenu(menuBar(), "EstimateMenu", QStringLiteral("&Смета"));
    ParamsItem = namedAction(EstimateMenu, "ParamsItem", QStringLiteral("&Параметры сметы..."));
    PositionItem = namedAction(EstimateMenu, "PositionItem", QStringLiteral("&Данные позиции..."));
    talvira::app::connectGuarded(this, &QAction::triggered,
                                   {{ParamsItem, &TForm2::ParamsItemClick}, {PositionItem, &TForm2::PositionItemClick}});
    connect(TotalsItem, &QAction::triggered, this, [this] { Totals->showAndActivate(); });
    connect(NextIncompleteItem, &QAction::triggered, this, [this] { guarded([&] { Totals->NextButtonClick(); }); });
}

QLineEdit* TForm2::rateEdit(QLabel*& label, const char* name, const QString& caption, int top, const std::string& text) {
    label = new QLabel(caption, client_);
    label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    const int w = label->sizeHint().width();
    label->setGeometry(577 - w, top, w, label->sizeHint().height());
    QLineEdit* edit = lineEdit(client_, (std::string(name) + "Edit").c_str(), QRect(584, top, 57, 21), text);
    rateEdits_.push_back(edit);
    return edit;
}

void TForm2::buildLayout() {
    client_ = new QWidget(this);
    client_->setObjectName("ClientArea");
    client_->setAutoFillBackground(true);
    client_->setBackgroundRole(QPalette::Button);
    setCentralWidget(client_);
    const talvira::model::EstimateTexts defaults =
        talvira::model::EstimateTexts::defaults(talvira::dbctrls::userDecimalSeparator());

    // Title block: the group boxes are frames behind the edits, which belong to the window.
    GroupBox1 = groupBox(client_, "GroupBox1", QStringLiteral("\"Утверждаю\" (заказчик)"), QRect(16, 8, 425, 49));
    GroupBox2 = groupBox(client_, "GroupBox2", QStringLiteral("\"Согласовано\" (подрядчик)"), QRect(16, 64, 425, 49));
    GroupBox3 = groupBox(client_, "GroupBox3", QStringLiteral("Наименование сметы"), QRect(16, 120, 329, 49));
    UTVEdit = lineEdit(client_, "UTVEdit", QRect(24, 24, 281, 21), defaults.approverPost);
    FUEdit = lineEdit(client_, "FUEdit", QRect(312, 24, 121, 21), defaults.approverName);
    SOGLEdit = lineEdit(client_, "SOGLEdit", QRect(24, 80, 281, 21), defaults.contractorPost);
    FSEdit = lineEdit(client_, "FSEdit", QRect(312, 80, 121, 21), defaults.contractorName);
    NAMEEdit = lineEdit(client_, "NAMEEdit", QRect(24, 136, 313, 21), defaults.title);

    DBMemo1 = new talvira::dbctrls::DBMemo(reporting(), client_);
    DBMemo1->setObjectName("DBMemo1");
    DBMemo1->setGeometry(16, 176, 321, 57);
    DBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DBMemo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    DBMemo1->setEditable(true);
    DBMemo1->setTabChangesFocus(true);
    DBMemo1->setField(&SmetaTable, efld::NAME);

    // Charge rates, labels ending at x 577 on the edits' tops.
    NREdit = rateEdit(NRLabel, "NR", QStringLiteral("Накладные расходы, %"), 24, defaults.overheadsPercent);
    PNEdit = rateEdit(PNLabel, "PN", QStringLiteral("Плановые накопления, %"), 48, defaults.savingsPercent);
    SUEdit = rateEdit(SULabel, "SU", QStringLiteral("Стесненные условия, %"), 72, defaults.crampedPercent);
    ZUEdit = rateEdit(ZULabel, "ZU", QStringLiteral("Зимнее удорожание, %"), 96, defaults.winterPercent);
    VZSEdit = rateEdit(VZSLabel, "VZS", QStringLiteral("Временные здания и сооружения, %"), 120, defaults.temporaryPercent);
    KoefEdit = rateEdit(KoefLabel, "Koef", QStringLiteral("Коэффициент перехода в текущие цены"), 144, defaults.currentPriceFactor);
    NDSEdit = rateEdit(NDSLabel, "NDS", QStringLiteral("НДС, %"), 168, defaults.vatPercent);
    Bevel2 = raisedFrame(client_, "Bevel2", QFrame::HLine, QRect(448, 12, 201, 3));
    Bevel3 = raisedFrame(client_, "Bevel3", QFrame::VLine, QRect(648, 13, 3, 180));

    // Commands row.
    Bevel1 = raisedFrame(client_, "Bevel1", QFrame::Panel, QRect(344, 192, 305, 42));
    Bevel1->lower();
    ClearButton = pushButton(client_, "ClearButton", QStringLiteral("Очистить смету"), QRect(352, 200, 97, 25));
    DeleteButton = pushButton(client_, "DeleteButton", QStringLiteral("Удалить позицию"), QRect(456, 200, 105, 25));
    EButton = pushButton(client_, "EButton", QStringLiteral("Excel"), QRect(568, 200, 73, 25));
    // Warning and price converter.
    Label1 = new QLabel(QStringLiteral("Затраты и цены некоторых неучтенных материалов не указаны! Для таких расценок поля "
                                       "\"Кол-во\" и \"Стоимость\"=\"Материалы\" необходимо заполнять самостоятельно "
                                       "(по проекту)."),
                        client_);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(0, 240, 469, 26);
    Edit1 = lineEdit(client_, "Edit1", QRect(472, 240, 49, 21), "");
    Button1 = pushButton(client_, "Button1", QStringLiteral("-> 2000"), QRect(528, 240, 57, 25));
    Edit2 = lineEdit(client_, "Edit2", QRect(592, 240, 49, 21), "");

    // The grid of positions.
    SmetaDBGrid = new DBGrid(reporting(), client_);
    SmetaDBGrid->setObjectName("SmetaDBGrid");
    SmetaDBGrid->setColumns({
        {efld::COUNT, QStringLiteral("№№ п/п"), false},
        {efld::TAB, QStringLiteral("Шифр"), true, 86},
        {efld::IZM, QStringLiteral("Ед.изм."), true, 69},
        {efld::KOLVO, QStringLiteral("Кол-во"), true, 65},
        {efld::STOIM, QStringLiteral("Стоимость"), true, 73},
        {efld::OSNZP, QStringLiteral("Осн. з/п"), true, 71},
        {efld::MATER, QStringLiteral("Материалы"), true, 67},
        {efld::EXPLMASH, QStringLiteral("Экспл. маш."), true, 72},
        {efld::ZPMASH, QStringLiteral("З/п маш."), true, 60},
        {efld::TRUD, QStringLiteral("Затр. труда"), true},
        // TRUDMASH is not among the estimate's bound fields: the column stays hidden and empty.
        {efld::TRUDMASH, QStringLiteral("Затр.тр. маш."), false},
    });
    talvira::dbctrls::GridOptions opts;
    opts.titles = true;
    opts.lines = true;
    opts.rowSelect = false;
    opts.alwaysShowSelection = true;
    opts.resizableColumns = true;
    opts.movableColumns = true;
    opts.tabBetweenColumns = false;
    opts.editable = true;
    SmetaDBGrid->setOptions(opts);
    QPalette pal = SmetaDBGrid->palette();
    pal.setColor(QPalette::Base, QColor(192, 220, 192));
    SmetaDBGrid->setPalette(pal);
    SmetaDBGrid->setTable(&SmetaTable);
    // An incomplete position is written in italic, on the grid's own colours.
    SmetaDBGrid->tableModel()->rowLook = [this](int row) {
        talvira::dbctrls::RowLook look;
        look.italic = talvira::editing::isIncomplete(SmetaDBGrid->rowValue(row, efld::KOLVO),
                                                     SmetaDBGrid->rowValue(row, efld::STOIM));
        return look;
    };
    // By the base-index method a rate's prices are the norm base's, taken as they stand.
    SmetaDBGrid->tableModel()->readOnlyCell = [this](int row, int col) {
        if (!document_->byBaseIndex()) return false;
        const std::string& field = SmetaDBGrid->tableModel()->columns()[size_t(col)].field;
        auto number = [&](const char* f) { return SmetaDBGrid->rowValue(row, f).asFloat(); };
        talvira::model::PositionRow r;
        r.baseWages = number(efld::OSNZP);
        r.machines = number(efld::EXPLMASH);
        r.machineWages = number(efld::ZPMASH);
        r.labour = number(efld::TRUD);
        return talvira::editing::isRatePrice(r, field);
    };
    buildPositionPanel();
    placeGrid();

    // Hints go to the status bar when the mouse enters a control; no pop-up tips.
    for (QWidget* w : client_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) setHint(w, QString());
    setHint(client_, QString());
    setHint(Edit1, QStringLiteral("Введите сюда цену материала (с учетом НДС и нынешнего года)"));
    setHint(Button1, QStringLiteral("Рассчитать цену на 2000 г"));
    setHint(Edit2, QStringLiteral("Цена материала на 2000 г без учета НДС"));

    // Tab order.
    const QWidget* order[] = {SmetaDBGrid, UTVEdit, FUEdit, SOGLEdit, FSEdit, NAMEEdit, NREdit,
                              PNEdit, SUEdit, ZUEdit, VZSEdit, KoefEdit, NDSEdit, ClearButton,
                              DeleteButton, EButton, DBMemo1, Button1, Edit1, Edit2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    setTabOrder(Edit2, PositionButton);
    for (QWidget* w : {static_cast<QWidget*>(GroupBox1), static_cast<QWidget*>(GroupBox2),
                       static_cast<QWidget*>(GroupBox3), static_cast<QWidget*>(Label1)})
        w->setFocusPolicy(Qt::NoFocus);

    // What is typed in the title block and the rates is kept as soon as the edit is left.
    for (QLineEdit* edit : textEdits()) connect(edit, &QLineEdit::editingFinished, this, [this] { storeEstimateTexts(); });

    talvira::app::connectGuarded(this, &QAbstractButton::clicked,
                                   {{ClearButton, &TForm2::ClearButtonClick},
                                    {DeleteButton, &TForm2::DeleteButtonClick},
                                    {EButton, &TForm2::EButtonClick},
                                    {Button1, &TForm2::Button1Click}});
}

void TForm2::setHint(QWidget* w, const QString& hint) { w->setProperty(kHintProperty, hint); }

void TForm2::placeGrid() {
    // Docked to the bottom above the status bar, following the width. A taller window gives
    // its height to the grid, which starts under the price converter; a shorter one keeps
    // the grid's 224 pixels.
    if (!SmetaDBGrid || !client_) return;
    // The position panel, shown by the base-index method only, takes its height from the grid.
    const int panel = PositionPanel && !PositionPanel->isHidden() ? PositionPanel->height() : 0;
    const int height = std::max(224 - panel, client_->height() - 274 - panel);
    SmetaDBGrid->setGeometry(0, client_->height() - height, client_->width(), height);
    if (PositionPanel) {
        PositionPanel->setGeometry(0, SmetaDBGrid->y() - PositionPanel->height(), client_->width(), PositionPanel->height());
        const int w = PositionPanel->width();
        PositionButton->setGeometry(w - 124, 8, 120, 25);
        LevelLabel->setGeometry(4, 2, w - 134, 18);
        PositionLabel->setGeometry(4, 21, w - 134, 18);
        AmountsGrid->setGeometry(0, 42, w, PositionPanel->height() - 42);
        // The lines were cut to the width they had (none before the window is first shown).
        for (QLabel* label : {LevelLabel, PositionLabel}) setElided(label, label->toolTip());
    }
}

void TForm2::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeGrid();
}

// ---- status bar, hints, shortcuts -------------------------------------------------------

QString TForm2::statusText() const { return StatusBar1->currentMessage(); }

void TForm2::setStatusText(const QString& text) {
    if (text.isEmpty()) StatusBar1->clearMessage();
    else StatusBar1->showMessage(text);
}

bool TForm2::isWindowShortcut(const QKeyEvent* key) const {
    const QKeySequence pressed(key->keyCombination());
    for (const QAction* a : {N2, N3, N4, Excell20xx1})
        if (a->isEnabled() && a->shortcut() == pressed) return true;
    return false;
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (undo_ && undo_->filterKey(watched, event)) return true;
        break;
    case QEvent::ShortcutOverride: {
        if (undo_ && undo_->filterKey(watched, event)) return true;
        // A focused control (the grid's cell editor, an edit) would otherwise take Ctrl+Del or
        // Shift+Del for itself; the window's menu comes first.
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this && isWindowShortcut(static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        break;
    }
    case QEvent::Enter: {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this) {
            const QVariant hint = w->property(kHintProperty);
            if (hint.isValid()) setStatusText(hint.toString().isEmpty() ? standingWarning_ : hint.toString());
        }
        break;
    }
    case QEvent::ToolTip: {
        // Hints go to the status bar; only the grid's cut cells show their whole text as a tip.
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this && w != SmetaDBGrid->viewport() && !w->property(kTipProperty).toBool()) return true;
        break;
    }
    default: break;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- handlers ---------------------------------------------------------------------------

void TForm2::showEstimateState() {
    // A closed estimate leaves the commands as they are and has nothing to warn about.
    if (!SmetaTable.active()) {
        standingWarning_.clear();
        setStatusText(QString());
        return;
    }
    const talvira::editing::TotalsFollower& positions = document_->follower();
    const bool hasPositions = !positions.rows().empty();
    EButton->setEnabled(hasPositions);
    Excell20xx1->setEnabled(hasPositions);
    // The warning stands while any position lacks its quantity or cost (an empty estimate
    // shows one blank row, which does too), whatever row the grid painted last.
    standingWarning_ = !hasPositions || positions.incompleteCount() > 0 ? kIncompleteWarning : QString();
    setStatusText(standingWarning_);
}

void TForm2::ClearButtonClick() { history().clear(); }

void TForm2::DeleteButtonClick() { history().deleteCurrent(); }

talvira::editing::EstimateHistory& TForm2::history() { return document_->history(); }

void TForm2::N4Click() { close(); }

void TForm2::closeEvent(QCloseEvent* event) {
    // The window is only hidden: the estimate stays open and what is typed stays.
    hide();
    event->ignore();
}

void TForm2::Button1Click() {
    const char sep = talvira::dbctrls::userDecimalSeparator();
    const std::string factor =
        talvira::editing::conversionFactor(document_->calc().params, KoefEdit->text().toStdString(), sep);
    const std::string text =
        talvira::editing::convertPriceTo2000(Edit1->text().toStdString(), NDSEdit->text().toStdString(), factor, sep);
    Edit2->setText(QString::fromStdString(text));
}

std::vector<QLineEdit*> TForm2::textEdits() const {
    std::vector<QLineEdit*> edits{UTVEdit, FUEdit, SOGLEdit, FSEdit, NAMEEdit};
    edits.insert(edits.end(), rateEdits_.begin(), rateEdits_.end());
    return edits;
}

talvira::model::EstimateTexts TForm2::typedTexts() const {
    talvira::model::EstimateTexts texts;
    for (QLineEdit* edit : textEdits())
        if (std::string* text = texts.byControlName(edit->objectName().toStdString()))
            *text = edit->text().toStdString();
    return texts;
}

void TForm2::EButtonClick() {
    storePendingEdit();
    if (document_->isOpen() && document_->byBaseIndex()) {
        // The template's workbook computes by the window's rates, not as this estimate does.
        const WorkbookChoice choice =
            chooseWorkbook ? chooseWorkbook(QString::fromStdString(talvira::editing::templateWorkbookQuestion(typedTexts())))
                           : WorkbookChoice::Nothing;
        if (choice == WorkbookChoice::OfficialForm) LsrItemClick();
        if (choice != WorkbookChoice::TemplateWorkbook) return;
    }
    const std::vector<talvira::model::PositionRow> rows = talvira::editing::readPositionRows(SmetaTable);
    // Written beside the estimate, where the user finds it again.
    const talvira::xls::WorkbookPlace place =
        talvira::xls::workbookPlaceFor(SmetaTable.tablePath());
    const std::filesystem::path book =
        talvira::xls::exportEstimateToFile(rows, typedTexts(), talvira::normbase::templatePath(StartDir.toStdString()), place.path,
                                           talvira::dbctrls::userDecimalSeparator());
    openWritten(book, place.besideEstimate, "Книга записана", "её");
}

void TForm2::openWritten(const std::filesystem::path& book, bool besideEstimate, const std::string& written,
                         const std::string& it) {
    const bool opened = openWorkbook && openWorkbook(book);
    if (opened && besideEstimate) return;
    std::string text = written + " в файл «" + book.string() + "»";
    if (!besideEstimate) text += " (папка сметы закрыта для записи)";
    reporting().reportWarning(QString::fromStdString(
        text + (opened ? "." : ". Программа электронных таблиц " + it + " не открыла: откройте этот файл сами.")));
}

void TForm2::buildPositionPanel() {
    PositionPanel = new QFrame(client_);
    PositionPanel->setObjectName("PositionPanel");
    PositionPanel->setFrameShape(QFrame::NoFrame);
    PositionPanel->resize(client_->width(), 42);
    LevelLabel = new QLabel(PositionPanel);
    LevelLabel->setObjectName("LevelLabel");
    PositionLabel = new QLabel(PositionPanel);
    PositionLabel->setObjectName("PositionLabel");
    PositionButton = pushButton(PositionPanel, "PositionButton", QStringLiteral("Данные позиции..."), QRect());
    connect(PositionButton, &QPushButton::clicked, this, [this] { guarded([&] { PositionItemClick(); }); });

    AmountsGrid = new QTableWidget(2, 0, PositionPanel);
    AmountsGrid->setObjectName("AmountsGrid");
    AmountsGrid->setVerticalHeaderLabels({QStringLiteral("в базисных ценах"), QStringLiteral("в текущих ценах")});
    AmountsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AmountsGrid->setSelectionMode(QAbstractItemView::NoSelection);
    AmountsGrid->setFocusPolicy(Qt::NoFocus);
    AmountsGrid->setWordWrap(false);
    AmountsGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    AmountsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    AmountsGrid->horizontalHeader()->setStretchLastSection(true);
    const int rowHeight = AmountsGrid->fontMetrics().height() + 4;
    AmountsGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    AmountsGrid->verticalHeader()->setDefaultSectionSize(rowHeight);
    showAmounts(nullptr);  // the columns of every position
    // Large amounts scroll sideways: room for the scroll bar under the two rows.
    const int gridHeight = AmountsGrid->horizontalHeader()->sizeHint().height() + 2 * rowHeight +
                           2 * AmountsGrid->frameWidth() + AmountsGrid->horizontalScrollBar()->sizeHint().height();
    PositionPanel->resize(client_->width(), 42 + gridHeight);
    for (QWidget* w : {static_cast<QWidget*>(LevelLabel), static_cast<QWidget*>(PositionLabel), AmountsGrid->viewport()})
        w->setProperty(kTipProperty, true);
    PositionPanel->hide();
    connect(SmetaDBGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showPositionPanel(); });
}

void TForm2::showPositionPanel() {
    if (!PositionPanel || !ParamsItem) return;  // still being built
    talvira::editing::EstimateDocument& doc = *document_;
    const bool byBaseIndex = doc.isOpen() && doc.byBaseIndex();
    ParamsItem->setEnabled(doc.isOpen());
    if (PositionPanel->isHidden() == byBaseIndex) {
        PositionPanel->setVisible(byBaseIndex);
        placeGrid();
    }
    const auto& rows = document_->follower().rows();
    const int row = SmetaTable.active() ? SmetaTable.recNo() : -1;
    const bool position = byBaseIndex && row >= 0 && size_t(row) < rows.size();
    PositionItem->setEnabled(position);
    PositionButton->setEnabled(position);
    showRateControls(byBaseIndex);
    if (!byBaseIndex) return;
    const char sep = talvira::dbctrls::userDecimalSeparator();
    setElided(LevelLabel, QString::fromStdString(talvira::editing::estimateSummary(doc.calc().params, sep)));
    if (!position) {
        setElided(PositionLabel, QString());
        showAmounts(nullptr);
        return;
    }
    const talvira::model::PositionRow& r = rows[size_t(row)];
    const talvira::model::PositionResult* result = doc.positionOf(size_t(row));
    setElided(PositionLabel, QString::fromStdString(talvira::editing::positionSummary(
                                 r, doc.positionData(r.count), result, doc.calc().params, doc.tables(), sep)));
    showAmounts(result);
}

void TForm2::showAmounts(const talvira::model::PositionResult* position) {
    const char sep = talvira::dbctrls::userDecimalSeparator();
    const std::vector<talvira::editing::PositionAmount> amounts = talvira::editing::positionAmounts(position, sep);
    // A position with the machinists' extra pay has a column more.
    if (AmountsGrid->columnCount() != int(amounts.size())) {
        AmountsGrid->setColumnCount(int(amounts.size()));
        QStringList titles;
        for (const talvira::editing::PositionAmount& a : amounts) titles << QString::fromStdString(a.caption);
        AmountsGrid->setHorizontalHeaderLabels(titles);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < AmountsGrid->columnCount(); ++c) {
                if (AmountsGrid->item(r, c)) continue;
                auto* item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                item->setFlags(Qt::ItemIsEnabled);
                AmountsGrid->setItem(r, c, item);
            }
    }
    const QString byWorkType =
        QStringLiteral("В текущие цены переводится по виду работ: Расчет → Итоги сметы");
    for (int c = 0; c < int(amounts.size()); ++c) {
        const talvira::editing::PositionAmount& a = amounts[size_t(c)];
        AmountsGrid->item(0, c)->setText(QString::fromStdString(a.base));
        QTableWidgetItem* current = AmountsGrid->item(1, c);
        current->setText(QString::fromStdString(a.current));
        current->setToolTip(a.current.empty() && !a.base.empty() ? byWorkType : QString());
    }
}

void TForm2::showRateControls(bool byBaseIndex) {
    const std::pair<QLabel*, QLineEdit*> rates[] = {{NRLabel, NREdit}, {PNLabel, PNEdit}, {SULabel, SUEdit},
                                                    {ZULabel, ZUEdit}, {VZSLabel, VZSEdit}, {KoefLabel, KoefEdit}};
    for (const auto& [label, edit] : rates) {
        const QString why =
            byBaseIndex ? QString::fromStdString(talvira::editing::unusedByBaseIndex(edit->objectName().toStdString()))
                        : QString();
        if (edit->isEnabled() == why.isEmpty()) continue;
        for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(edit)}) {
            w->setEnabled(why.isEmpty());
            w->setToolTip(why);
            w->setProperty(kTipProperty, !why.isEmpty());
            setHint(w, why);
        }
    }
}

void TForm2::ParamsItemClick() {
    storePendingEdit();
    if (!ParamsDialog) ParamsDialog = new EstimateParamsDialog(*document_, this);
    ParamsDialog->showParams();
}

void TForm2::PositionItemClick() {
    storePendingEdit();
    const auto& rows = document_->follower().rows();
    const int row = SmetaTable.active() ? SmetaTable.recNo() : -1;
    if (!document_->byBaseIndex() || row < 0 || size_t(row) >= rows.size())
        throw talvira::Error("Данные позиции задаются в смете базисно-индексным методом, на сохраненной позиции.");
    if (!PositionDlg) PositionDlg = new PositionDialog(*document_, this);
    PositionDlg->showPosition(rows[size_t(row)].count);
}

void TForm2::LsrItemClick() {
    storePendingEdit();
    if (!LsrExport) LsrExport = new FormExport(*this, QStringLiteral("Локальный сметный расчет"));
    if (LsrExport->bringForward()) return;  // one is being written
    if (document().calc().params.method != talvira::model::Method::BaseIndex) {
        // the form needs the base-index method: the template workbook is what this estimate has
        if (offerTemplateWorkbook &&
            offerTemplateWorkbook(QString::fromUtf8(talvira::editing::kNeedsBaseIndexMethod) +
                                  QStringLiteral("\n\nВыгрузить смету по шаблону (Excel)?")))
            EButtonClick();
        return;
    }
    // Read and computed here, written by a worker while the estimate stays open to work on.
    const talvira::xls::WorkbookPlace place = talvira::lsr::lsrPlaceFor(SmetaTable.tablePath());
    const auto form = std::make_shared<const talvira::editing::LsrFormData>(talvira::editing::prepareLsrForm(
        document(), typedTexts(),
        talvira::editing::lsrFactsOf(talvira::normbase::readBaseInfo(talvira::normbase::baseDirectory(StartDir.toStdString())))));
    LsrExport->start(
        [form, out = place.path](const talvira::sheet::Progress& progress) {
            return talvira::editing::writeLsrForm(*form, out, true, progress);
        },
        [this, beside = place.besideEstimate](const std::filesystem::path& book) {
            openWritten(book, beside, "Локальный сметный расчет записан", "его");
        });
}

void TForm2::GgeItemClick() {
    storePendingEdit();
    if (!GgeExport)
        GgeExport = new GgeExportCommand(*this, document(), [this] { return typedTexts(); },
                                         [this](const QString& text) { setStatusText(text); });
    GgeExport->run();
}

void TForm2::storeEstimateTexts() {
    document_->setTypedTexts(typedTexts());
    document_->storeTexts();
}

void TForm2::storePendingEdit() { document_->storePending(); }

// ---- the estimate document -----------------------------------------------------------------

void TForm2::collectTyped(talvira::editing::EstimateDocument& doc) {
    if (SmetaDBGrid) SmetaDBGrid->postEdit();
    doc.setTypedTexts(typedTexts());
}

void TForm2::estimateBinding(talvira::editing::EstimateDocument&, const talvira::editing::EstimatePlace& place) {
    // A new estimate is titled at once; an existing one only once it has opened: a failed
    // open leaves no estimate open, and the window says so by its plain caption.
    setWindowTitle(place.created ? QStringLiteral("Смета \"%1\"").arg(QString::fromStdString(place.title))
                                 : QStringLiteral("Смета"));
}

void TForm2::estimateOpened(talvira::editing::EstimateDocument& doc) {
    // The title block and the charge rates the estimate keeps (the defaults when none).
    talvira::model::EstimateTexts kept = doc.texts();
    for (QLineEdit* edit : textEdits())
        if (const std::string* text = kept.byControlName(edit->objectName().toStdString()))
            edit->setText(QString::fromStdString(*text));
    setWindowTitle(QStringLiteral("Смета \"%1\"").arg(QString::fromStdString(doc.place().title)));
    showPositionPanel();
    if (TotalsWindow* totals = Totals.built(); totals && totals->isVisible()) totals->showBlock();
}

void TForm2::calcChanged(talvira::editing::EstimateDocument&) {
    showPositionPanel();
    if (TotalsWindow* totals = Totals.built(); totals && totals->isVisible()) totals->showBlock();
}

bool TForm2::takeTablePercents(talvira::editing::EstimateDocument&,
                               const std::vector<talvira::editing::PercentDifference>& differences) {
    return askTablePercents &&
           askTablePercents(QString::fromStdString(talvira::editing::tablePercentsQuestion(differences)));
}
