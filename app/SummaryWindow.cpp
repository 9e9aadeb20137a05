#include "app/SummaryWindow.h"

#include "app/ErrorBox.h"
#include "app/FileDialogs.h"
#include "app/FormExport.h"
#include "app/FormParts.h"
#include "app/Globals.h"
#include "app/SummaryDialogs.h"
#include "app/Unit1.h"
#include "common/Error.h"
#include "dbctrls/FieldText.h"
#include "editing/SummaryEdits.h"
#include "editing/SummaryExport.h"
#include "editing/SummaryFile.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUndoStack>
#include <QVBoxLayout>

#include <utility>

namespace ed = talvira::editing;
namespace fs = std::filesystem;
using talvira::editing::SummaryPlace;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

constexpr int kPlaceRole = Qt::UserRole;
const QColor kProblemText(160, 0, 0);
const QColor kChangedBack(255, 244, 200);

/** One undoable step: the construction before and after it. The step is taken before it is
 *  pushed (a refused one is never kept), so its first redo does nothing. */
class SummaryStep : public QUndoCommand {
public:
    SummaryStep(SummaryWindow& w, ed::SummaryEdit e, talvira::model::Construction before, SummaryPlace placeBefore)
        : QUndoCommand(q(e.text)), w_(w), after_(std::move(e.after)), before_(std::move(before)),
          placeAfter_(e.place), placeBefore_(placeBefore) {}
    void undo() override { w_.applyConstruction(before_, placeBefore_); }
    void redo() override {
        if (std::exchange(first_, false)) return;
        w_.applyConstruction(after_, placeAfter_);
    }

private:
    SummaryWindow& w_;
    talvira::model::Construction after_, before_;
    SummaryPlace placeAfter_, placeBefore_;
    bool first_ = true;
};

QString placeText(SummaryPlace p) { return QStringLiteral("%1:%2:%3").arg(p.chapter).arg(p.line).arg(p.estimate); }

SummaryPlace placeOf(const QTreeWidgetItem* item) {
    if (!item) return {};
    const QStringList parts = item->data(0, kPlaceRole).toString().split(QLatin1Char(':'));
    if (parts.size() != 3) return {};
    return {parts[0].toInt(), parts[1].toInt(), parts[2].toInt()};
}

}  // namespace

SummaryWindow::SummaryWindow(QWidget& mainWindow, QAction& item)
    : QMainWindow(&mainWindow, Qt::Window), SummaryItem(&item), doc_(shippedTables()) {
    setObjectName("SummaryWindow");
    setWindowTitle(QStringLiteral("Сводный сметный расчет"));
    undo_ = new QUndoStack(this);
    buildMenu();
    buildLayout();
    LineDialog = new SummaryLineDialog(this);
    TitleDialog = new SummaryTitleDialog(this);
    Export = new FormExport(*this, QStringLiteral("Сводный сметный расчет"));

    askFile = [this](const FileQuestion& question) {
        RussianFileDialog d(this, question.title);
        d.setNameFilter(question.filter);
        d.setAcceptMode(question.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        d.setFileMode(QFileDialog::AnyFile);
        if (!question.suggested.isEmpty()) d.selectFile(question.suggested);
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return QString();
        return d.selectedFiles().first();
    };
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
    };
    connect(undo_, &QUndoStack::indexChanged, this, [this] { showActions(); });
    resize(1000, 640);
    showActions();
}

SummaryWindow::~SummaryWindow() {
    // The undo stack, a child, is cleared after this window is gone: it must not call it then.
    disconnect(undo_, nullptr, this, nullptr);
}

void SummaryWindow::buildMenu() {
    using talvira::app::namedAction;
    using talvira::app::namedMenu;
    FileMenu = namedMenu(menuBar(), "FileMenu", QStringLiteral("Файл"));
    TitleItem = namedAction(FileMenu, "TitleItem", QStringLiteral("Параметры стройки..."), QKeySequence(Qt::CTRL | Qt::Key_P));
    RefreshItem = namedAction(FileMenu, "RefreshItem", QStringLiteral("Обновить итоги смет"), QKeySequence(Qt::Key_F5));
    FileMenu->addSeparator();
    ExportSsrItem = namedAction(FileMenu, "ExportSsrItem", QStringLiteral("Выгрузить сводный сметный расчет..."),
                                QKeySequence(Qt::CTRL | Qt::Key_E));
    ExportOsrItem = namedAction(FileMenu, "ExportOsrItem", QStringLiteral("Выгрузить объектный сметный расчет..."),
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    FileMenu->addSeparator();
    CloseItem = namedAction(FileMenu, "CloseItem", QStringLiteral("Закрыть"), QKeySequence(Qt::ALT | Qt::Key_F4));

    EditMenu = namedMenu(menuBar(), "EditMenu", QStringLiteral("Правка"));
    UndoItem = namedAction(EditMenu, "UndoItem", QStringLiteral("Отменить"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    RedoItem = namedAction(EditMenu, "RedoItem", QStringLiteral("Вернуть"), QKeySequence(Qt::CTRL | Qt::Key_Y));
    EditMenu->addSeparator();
    AddItem = namedAction(EditMenu, "AddItem", QStringLiteral("Добавить строку..."), QKeySequence(Qt::Key_Insert));
    EditItem = namedAction(EditMenu, "EditItem", QStringLiteral("Изменить строку..."), QKeySequence(Qt::Key_Return));
    EditItem->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    DeleteItem = namedAction(EditMenu, "DeleteItem", QStringLiteral("Удалить строку"), QKeySequence(Qt::Key_Delete));
    UpItem = namedAction(EditMenu, "UpItem", QStringLiteral("Переместить вверх"), QKeySequence(Qt::CTRL | Qt::Key_Up));
    DownItem = namedAction(EditMenu, "DownItem", QStringLiteral("Переместить вниз"), QKeySequence(Qt::CTRL | Qt::Key_Down));
    EditMenu->addSeparator();
    OpenEstimateItem = namedAction(EditMenu, "OpenEstimateItem", QStringLiteral("Открыть смету строки"),
                                   QKeySequence(Qt::CTRL | Qt::Key_O));
    for (QAction* a : FileMenu->actions() + EditMenu->actions()) a->setShortcutContext(Qt::WindowShortcut);

    talvira::app::connectGuarded(this, &QAction::triggered,
                                 {{TitleItem, &SummaryWindow::TitleItemClick},
                                  {RefreshItem, &SummaryWindow::RefreshItemClick},
                                  {ExportSsrItem, &SummaryWindow::ExportSsrItemClick},
                                  {ExportOsrItem, &SummaryWindow::ExportOsrItemClick},
                                  {AddItem, &SummaryWindow::AddItemClick},
                                  {EditItem, &SummaryWindow::EditItemClick},
                                  {DeleteItem, &SummaryWindow::DeleteItemClick},
                                  {UpItem, &SummaryWindow::UpItemClick},
                                  {DownItem, &SummaryWindow::DownItemClick},
                                  {OpenEstimateItem, &SummaryWindow::OpenEstimateItemClick}});
    connect(CloseItem, &QAction::triggered, this, &QWidget::close);
    connect(UndoItem, &QAction::triggered, this, [this] { guarded([&] { undo_->undo(); }); });
    connect(RedoItem, &QAction::triggered, this, [this] { guarded([&] { undo_->redo(); }); });
}

void SummaryWindow::buildLayout() {
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    setCentralWidget(client);
    TitleLabel = new QLabel(client);
    TitleLabel->setObjectName("TitleLabel");
    TitleLabel->setTextFormat(Qt::PlainText);
    NoticeLabel = new QLabel(client);
    NoticeLabel->setObjectName("NoticeLabel");
    NoticeLabel->setTextFormat(Qt::PlainText);
    NoticeLabel->setWordWrap(true);
    NoticeLabel->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0);"));
    NoticeLabel->hide();

    Tree = new QTreeWidget(client);
    Tree->setObjectName("Tree");
    QStringList heads;
    for (const char* c : ed::kSummaryCaptions) heads << QString::fromUtf8(c);
    Tree->setHeaderLabels(heads);
    Tree->setColumnCount(ed::kSummaryColumns);
    Tree->setUniformRowHeights(true);
    Tree->setAllColumnsShowFocus(true);
    Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const int widths[] = {60, 100, 280, 100, 100, 100, 100, 100};
    for (int i = 0; i < ed::kSummaryColumns; ++i) Tree->setColumnWidth(i, widths[i]);
    connect(Tree, &QTreeWidget::currentItemChanged, this, [this] { showActions(); });
    connect(Tree, &QTreeWidget::itemDoubleClicked, this, [this] { guarded([&] { EditItemClick(); }); });

    // The totals: captions under гр. 1–3, amounts under гр. 4–8, every line in view.
    TotalsGrid = new QTreeWidget(client);
    TotalsGrid->setObjectName("TotalsGrid");
    TotalsGrid->setRootIsDecorated(false);
    TotalsGrid->setColumnCount(6);
    TotalsGrid->setHeaderHidden(true);
    TotalsGrid->setFocusPolicy(Qt::NoFocus);
    TotalsGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // no scroll bar of its own to take a line: it follows the tree's
    TotalsGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(Tree->horizontalScrollBar(), &QScrollBar::valueChanged, TotalsGrid->horizontalScrollBar(), &QScrollBar::setValue);
    auto alignTotals = [this] {
        TotalsGrid->setColumnWidth(0, Tree->columnWidth(0) + Tree->columnWidth(1) + Tree->columnWidth(2));
        for (int i = 1; i < 6; ++i) TotalsGrid->setColumnWidth(i, Tree->columnWidth(i + 2));
    };
    alignTotals();
    connect(Tree->header(), &QHeaderView::sectionResized, this, alignTotals);

    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(TitleLabel);
    layout->addWidget(NoticeLabel);
    layout->addWidget(Tree, 1);
    layout->addWidget(TotalsGrid);
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    setStatusBar(StatusBar);
}

// ---------------------------------------------------------------------------------------------
// Showing the document
// ---------------------------------------------------------------------------------------------

void SummaryWindow::openConstruction(const fs::path& file) {
    ed::SummaryDocument doc(shippedTables());
    doc.open(file);
    doc_ = std::move(doc);
    open_ = true;
    notices_ = doc_.notices();
    undo_->clear();
    showDocument({1, -1, -1});
}

void SummaryWindow::applyConstruction(const talvira::model::Construction& c, SummaryPlace p) {
    talvira::model::Construction next = c;
    ed::carryLinks(next, doc_.construction());
    doc_.replace(std::move(next));
    showDocument(p);
}

void SummaryWindow::showDocument(SummaryPlace current) {
    const talvira::model::Construction& c = doc_.construction();
    setWindowTitle(QStringLiteral("Сводный сметный расчет — ") + q(c.name));
    QString title = QStringLiteral("Стройка: ") + q(c.name);
    if (!c.customer.empty()) title += QStringLiteral("; заказчик: ") + q(c.customer);
    if (!c.level.empty()) title += QStringLiteral("; уровень цен: ") + q(c.level);
    title += QStringLiteral("; тыс. руб.; файл: ") + q(doc_.file().string());
    TitleLabel->setText(title);
    showNotices();
    showTree(current);
    showTotals();
    showActions();
}

void SummaryWindow::showNotices() {
    QStringList lines;
    for (const ed::LinkNotice& n : notices_) lines << q(n.text);
    NoticeLabel->setText(lines.join(QLatin1Char('\n')));
    NoticeLabel->setVisible(!lines.isEmpty());
}

QTreeWidgetItem* SummaryWindow::itemOf(const ed::SummaryRow& row) {
    auto* item = new QTreeWidgetItem;
    item->setData(0, kPlaceRole, placeText(row.place));
    QString hint;
    if (!row.problem.empty()) hint = q(row.problem);
    if (!row.changed.empty()) hint += (hint.isEmpty() ? QString() : QStringLiteral("\n")) + q(row.changed);
    for (int i = 0; i < ed::kSummaryColumns; ++i) {
        item->setText(i, q(row.cells[size_t(i)]));
        if (i >= 3) item->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
        if (!row.problem.empty()) item->setForeground(i, kProblemText);
        if (!row.changed.empty()) item->setBackground(i, kChangedBack);
        if (!hint.isEmpty()) item->setToolTip(i, hint);
    }
    if (row.place.line < 0) {
        QFont bold = item->font(0);
        bold.setBold(true);
        for (int i = 0; i < ed::kSummaryColumns; ++i) item->setFont(i, bold);
    }
    for (const ed::SummaryRow& child : row.children) item->addChild(itemOf(child));
    return item;
}

void SummaryWindow::showTree(SummaryPlace current) {
    const QSignalBlocker quiet(Tree);
    Tree->clear();
    const std::vector<ed::SummaryRow> rows =
        ed::summaryTree(doc_.construction(), doc_.result(), notices_, talvira::dbctrls::userDecimalSeparator());
    for (const ed::SummaryRow& row : rows) Tree->addTopLevelItem(itemOf(row));
    Tree->expandAll();
    selectPlace(current);
}

void SummaryWindow::showTotals() {
    TotalsGrid->clear();
    const std::vector<ed::SummaryTotal> totals = ed::summaryTotals(doc_.result(), talvira::dbctrls::userDecimalSeparator());
    for (const ed::SummaryTotal& t : totals) {
        auto* item = new QTreeWidgetItem(TotalsGrid);
        item->setText(0, q(t.caption));
        for (int i = 0; i < 5; ++i) {
            item->setText(i + 1, q(t.cells[size_t(i)]));
            item->setTextAlignment(i + 1, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    const int rowHeight = TotalsGrid->sizeHintForRow(0);
    TotalsGrid->setFixedHeight(rowHeight * int(totals.size()) + 2 * TotalsGrid->frameWidth() + 2);
}

void SummaryWindow::showActions() {
    const ed::SummaryActions can = open_ ? ed::actionsAt(doc_.construction(), currentPlace()) : ed::SummaryActions{};
    AddItem->setEnabled(can.add);
    EditItem->setEnabled(can.edit);
    DeleteItem->setEnabled(can.remove);
    UpItem->setEnabled(can.moveUp);
    DownItem->setEnabled(can.moveDown);
    OpenEstimateItem->setEnabled(can.openEstimate);
    ExportOsrItem->setEnabled(can.exportObject);
    for (QAction* a : {TitleItem, RefreshItem, ExportSsrItem}) a->setEnabled(open_);
    UndoItem->setEnabled(undo_->canUndo());
    RedoItem->setEnabled(undo_->canRedo());
    UndoItem->setText(undo_->canUndo() ? QStringLiteral("Отменить: ") + undo_->undoText() : QStringLiteral("Отменить"));
    RedoItem->setText(undo_->canRedo() ? QStringLiteral("Вернуть: ") + undo_->redoText() : QStringLiteral("Вернуть"));
}

SummaryPlace SummaryWindow::currentPlace() const { return placeOf(Tree->currentItem()); }

void SummaryWindow::selectPlace(SummaryPlace p) {
    QTreeWidgetItem* item = nullptr;
    if (p.chapter >= 1 && p.chapter <= Tree->topLevelItemCount()) {
        item = Tree->topLevelItem(p.chapter - 1);
        if (p.line >= 0 && p.line < item->childCount()) {
            item = item->child(p.line);
            if (p.estimate >= 0 && p.estimate < item->childCount()) item = item->child(p.estimate);
        }
    }
    Tree->setCurrentItem(item);
    if (item) Tree->scrollToItem(item);
    showActions();
}

bool SummaryWindow::event(QEvent* e) {
    // Back to the window: an estimate saved meanwhile shows at once.
    if (e->type() == QEvent::WindowActivate && open_) guarded([&] { RefreshItemClick(); });
    return QMainWindow::event(e);
}

// ---------------------------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------------------------

void SummaryWindow::SummaryItemClick() {
    const QString chosen = askFile({QStringLiteral("Сводный сметный расчет (открыть или создать)"),
                                    QStringLiteral("Сводные сметные расчеты (*.ssr)"), QString(), false});
    if (chosen.isEmpty()) return;
    fs::path file = chosen.toStdString();
    if (file.extension() != ".ssr") file += ".ssr";
    std::error_code ec;
    if (!fs::exists(file, ec)) file = ed::SummaryDocument::create(file.parent_path(), file.stem().string(), ed::today());
    openConstruction(file);
    talvira::app::bringToFront(this);
    Tree->setFocus();
}

void SummaryWindow::RefreshItemClick() {
    const talvira::model::Construction was = doc_.construction();
    doc_.refresh();
    notices_ = ed::mergeNotices(notices_, doc_.notices());
    if (doc_.construction() != was || !doc_.notices().empty()) showDocument(currentPlace());
}

void SummaryWindow::TitleItemClick() {
    TitleDialog->showForm(ed::titleForm(doc_.construction(), talvira::dbctrls::userDecimalSeparator()),
                          [this](const ed::TitleForm& f) {
                              doEdit(ed::wholeEdit("изменение параметров стройки",
                                                   ed::SummaryDocument::withValues(doc_.construction(), ed::readTitleForm(f)),
                                                   currentPlace()));
                          });
}

void SummaryWindow::doEdit(ed::SummaryEdit e) {
    const talvira::model::Construction before = doc_.construction();
    const SummaryPlace placeBefore = currentPlace();
    doc_.replace(e.after);
    const SummaryPlace after = e.place;
    undo_->push(new SummaryStep(*this, std::move(e), before, placeBefore));
    showDocument(after);
}

void SummaryWindow::AddItemClick() {
    const SummaryPlace p = currentPlace();
    const talvira::model::SummaryLine* line = ed::lineAt(doc_.construction(), p);
    ed::LineForm f;
    if (line && line->kind == talvira::model::LineKind::Object) f.kind = ed::LineFormKind::Estimate;  // into the object
    const QString title = line && line->kind == talvira::model::LineKind::Object
                              ? QStringLiteral("Новая смета объекта %1").arg(q(line->objectNumber))
                              : QStringLiteral("Новая строка главы %1").arg(p.chapter);
    LineDialog->showForm(title, f, true, [this, p](const ed::LineForm& form) { takeLineForm(form, p, true); });
}

void SummaryWindow::EditItemClick() {
    const SummaryPlace p = currentPlace();
    const talvira::model::SummaryLine* line = ed::lineAt(doc_.construction(), p);
    if (!line) return;
    ed::LineForm f = ed::lineForm(*line, talvira::dbctrls::userDecimalSeparator());
    if (const talvira::model::LinkedEstimate* e = ed::estimateAt(doc_.construction(), p); e && p.estimate >= 0) {
        f = ed::LineForm{};
        f.kind = ed::LineFormKind::Estimate;
        f.exempt = e->exempt;
    }
    LineDialog->showForm(QStringLiteral("Строка главы %1").arg(p.chapter), f, false,
                         [this, p](const ed::LineForm& form) { takeLineForm(form, p, false); });
}

void SummaryWindow::takeLineForm(const ed::LineForm& f, SummaryPlace p, bool newLine) {
    const talvira::model::Construction& c = doc_.construction();
    const talvira::model::SummaryLine* at = ed::lineAt(c, p);
    const bool intoObject = newLine && at && at->kind == talvira::model::LineKind::Object;
    if (!newLine) {
        if (!at) throw talvira::Error("Строка сводного сметного расчета не выбрана");
        doEdit(ed::changedLine(c, p, ed::readLineForm(f, *at, p.chapter)));
        return;
    }
    if (f.kind == ed::LineFormKind::Calculation || f.kind == ed::LineFormKind::Percent) {
        if (intoObject) throw talvira::Error("В объект добавляются только локальные сметы.");
        doEdit(ed::addedLine(c, p.chapter, ed::readLineForm(f, {}, p.chapter)));
        return;
    }
    // a local estimate or an object: its (first) estimate's file
    std::string number, name;
    if (f.kind == ed::LineFormKind::Object) {
        const talvira::model::SummaryLine object = ed::readLineForm(f, talvira::model::SummaryLine::object({}, {}), p.chapter);
        number = object.objectNumber;
        name = object.name;
    } else if (intoObject) {
        number = at->objectNumber;
    }
    const QString table = askFile({QStringLiteral("Локальная смета"), QStringLiteral("Файлы баз данных (*.db)"), QString(), false});
    if (table.isEmpty()) return;
    talvira::model::Construction next = doc_.withEstimate(p.chapter, table.toStdString(), number, name, f.exempt);
    // the row of the estimate just linked: the last line of the chapter, or the object's last
    SummaryPlace added{p.chapter, int(next.chapter(p.chapter).size()) - 1, -1};
    for (size_t i = 0; i < next.chapter(p.chapter).size() && !number.empty(); ++i)
        if (next.chapter(p.chapter)[i].objectNumber == number)
            added = {p.chapter, int(i), int(next.chapter(p.chapter)[i].estimates.size()) - 1};
    doEdit(ed::wholeEdit("добавление сметы", std::move(next), added));
}

void SummaryWindow::DeleteItemClick() {
    const SummaryPlace p = currentPlace();
    if (!ed::actionsAt(doc_.construction(), p).remove) return;
    if (!confirm(q(ed::removeQuestion(doc_.construction(), p)))) return;
    doEdit(ed::removedLine(doc_.construction(), p));
}

void SummaryWindow::UpItemClick() {
    if (auto e = ed::movedLine(doc_.construction(), currentPlace(), -1)) doEdit(std::move(*e));
}

void SummaryWindow::DownItemClick() {
    if (auto e = ed::movedLine(doc_.construction(), currentPlace(), +1)) doEdit(std::move(*e));
}

void SummaryWindow::OpenEstimateItemClick() {
    const talvira::model::LinkedEstimate* e = ed::estimateAt(doc_.construction(), currentPlace());
    if (!e) return;
    const fs::path table = fs::absolute(ed::linkedFile(e->file, doc_.file())).lexically_normal();
    std::error_code ec;
    if (!fs::is_regular_file(table, ec)) throw talvira::Error("Смета «" + table.string() + "» не найдена");
    // as the main window opens an estimate, then its window
    Form1->OpenDialog1CanClose(q(table.string()));
    Form1->ViewButtonClick();
}

void SummaryWindow::ExportSsrItemClick() { exportForm(false); }
void SummaryWindow::ExportOsrItemClick() { exportForm(true); }

void SummaryWindow::exportForm(bool object) {
    if (Export->bringForward()) return;
    std::string number;
    QString suggested = q(doc_.file().stem().string());
    if (object) {
        const talvira::model::SummaryLine* line = ed::lineAt(doc_.construction(), currentPlace());
        if (!line || line->kind != talvira::model::LineKind::Object)
            throw talvira::Error("Выберите строку объекта: объектный сметный расчет выгружается для объекта.");
        number = line->objectNumber;
        suggested = QStringLiteral("ОС-") + q(number) + QLatin1Char(' ') + q(line->name);
    }
    const QString out = askFile({object ? QStringLiteral("Объектный сметный расчет") : QStringLiteral("Сводный сметный расчет"),
                                 QStringLiteral("Книга Excel (*.xlsx);;XML для экспертизы (*.gge)"),
                                 q((doc_.file().parent_path() / suggested.toStdString()).string()) + QStringLiteral(".xlsx"), true});
    if (out.isEmpty()) return;
    // the worker writes its own copy: the window goes on changing the construction
    Export->start(
        [doc = doc_, object, number, file = fs::path(out.toStdString())](const talvira::sheet::Progress&) {
            return ed::exportSummary(doc, object ? ed::SummaryForm::Object : ed::SummaryForm::Summary, number, file);
        },
        [this](const fs::path& written) { StatusBar->showMessage(QStringLiteral("Записан файл «%1»").arg(q(written.string()))); });
}
