#include "app/RateSearchBox.h"

#include "app/ErrorBox.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>

using talvira::normbase::RateSearchRow;

namespace {

constexpr size_t kCachedRows = 96;  // a few screens of rows
constexpr int kLateStartMs = 300;    // the preparation's start when the window tells nothing
const QString kExcerptJoint = QStringLiteral(" | ");  // between a name and the excerpt of its hit

/** Paints the name column so that the excerpt of a hit stays whole (RateSearchModel::fitNameCell). */
class NameCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int margin = option->widget ? option->widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1 : 3;
        option->text = RateSearchModel::fitNameCell(option->text, option->fontMetrics, option->rect.width() - 2 * margin);
    }
};

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

bool hasWords(const QString& text) { return !talvira::normbase::searchWords(text.toStdString()).empty(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// RateSearchModel
// ---------------------------------------------------------------------------------------------

RateSearchModel::RateSearchModel(talvira::normbase::RateSearch& search, QObject* parent)
    : QAbstractTableModel(parent), search_(search) {}

void RateSearchModel::setResults(std::vector<uint32_t> results, std::string query) {
    QToolTip::hideText();  // a tip over the list told of a row that is gone
    beginResetModel();
    results_ = std::move(results);
    query_ = std::move(query);
    cache_.clear();
    endResetModel();
}

int RateSearchModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(std::min<size_t>(results_.size(), size_t(INT32_MAX)));
}

int RateSearchModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

const RateSearchRow& RateSearchModel::rowAt(int row) const {
    for (const auto& [r, texts] : cache_)
        if (r == row) return texts;
    if (cache_.size() >= kCachedRows) cache_.erase(cache_.begin());
    ++rowsRead_;
    cache_.emplace_back(row, search_.row(results_[size_t(row)], query_));
    return cache_.back().second;
}

QString RateSearchModel::nameCellText(const QString& name, const QString& excerpt) {
    return excerpt.isEmpty() ? name : name + kExcerptJoint + excerpt;
}

QString RateSearchModel::fitNameCell(const QString& text, const QFontMetrics& metrics, int width) {
    const qsizetype joint = text.indexOf(kExcerptJoint);
    if (joint < 0 || metrics.horizontalAdvance(text) <= width) return metrics.elidedText(text, Qt::ElideRight, width);
    // The name gives way to the excerpt, down to a third of the cell: the hit stays in sight.
    const QString name = text.left(joint), rest = text.mid(joint);
    const int restWidth = metrics.horizontalAdvance(rest);
    const int nameWidth = std::max(width / 3, width - restWidth);
    const QString shownName = metrics.elidedText(name, Qt::ElideRight, nameWidth);
    return shownName + metrics.elidedText(rest, Qt::ElideRight, width - metrics.horizontalAdvance(shownName));
}

QVariant RateSearchModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    try {
        const RateSearchRow& r = rowAt(index.row());
        switch (index.column()) {
        case 0: return fromUtf8(r.code);
        case 1: return nameCellText(fromUtf8(r.name), fromUtf8(r.excerpt));
        case 2: return fromUtf8(r.unit);
        case 3: return fromUtf8(r.collection);
        case 4: return fromUtf8(r.entry);
        }
    } catch (const std::exception&) {
        // A record that cannot be read shows empty; the walk to it reports the error.
    }
    return {};
}

QVariant RateSearchModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case 0: return QStringLiteral("Шифр");
    case 1: return QStringLiteral("Наименование");
    case 2: return QStringLiteral("Ед. изм.");
    case 3: return QStringLiteral("Сборник");
    case 4: return QStringLiteral("Раздел, таблица");
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// RateSearchBox
// ---------------------------------------------------------------------------------------------

RateSearchBox::RateSearchBox(QMainWindow& window, QToolBar& toolBar, QMenu& editMenu, talvira::normbase::NormBase& base,
                             QWidget& ratesGrid)
    : QObject(&window), window_(window), ratesGrid_(ratesGrid), search_(base) {
    setObjectName("RateSearchBox");

    // The field at the right end of the toolbar, after the four buttons.
    auto* spacer = new QWidget(&toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    spacer->setFocusPolicy(Qt::NoFocus);
    toolBar.addWidget(spacer);
    SearchEdit = new QLineEdit(&toolBar);
    SearchEdit->setObjectName("SearchEdit");
    SearchEdit->setPlaceholderText(QStringLiteral("Шифр или слова из названия"));
    SearchEdit->setFocusPolicy(Qt::ClickFocus);  // Ctrl+F or a click, never Tab
    SearchEdit->setFixedWidth(230);
    SearchEdit->setMaxLength(32767);
    toolBar.addWidget(SearchEdit);
    SearchEdit->installEventFilter(this);

    FindAction = new QAction(QStringLiteral("&Найти расценку..."), &window);
    FindAction->setObjectName("N10");
    editMenu.addAction(FindAction);

    ResultsPanel = new QFrame(window.centralWidget());
    ResultsPanel->setObjectName("ResultsPanel");
    ResultsPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ResultsPanel->setAutoFillBackground(true);
    ResultsPanel->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(ResultsPanel);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(2);
    FoundLabel = new QLabel(ResultsPanel);
    FoundLabel->setObjectName("FoundLabel");
    FoundLabel->setWordWrap(true);
    layout->addWidget(FoundLabel);
    Model = new RateSearchModel(search_, this);
    ResultsView = new QTableView(ResultsPanel);
    ResultsView->setObjectName("ResultsView");
    ResultsView->setModel(Model);
    ResultsView->setFocusPolicy(Qt::NoFocus);  // the typing stays in the field
    ResultsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ResultsView->setSelectionMode(QAbstractItemView::SingleSelection);
    ResultsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ResultsView->setWordWrap(false);
    ResultsView->setShowGrid(false);
    ResultsView->verticalHeader()->hide();
    // Fixed row heights and column widths: the view never measures rows it does not show.
    ResultsView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ResultsView->verticalHeader()->setDefaultSectionSize(ResultsView->fontMetrics().height() + 4);
    // The name takes what the other columns leave: a wider window widens it alone.
    ResultsView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ResultsView->horizontalHeader()->setStretchLastSection(false);
    ResultsView->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    // The code whole, the longest book prefix with a norm's number ("ГЭСНмр01-01-002-05"; it
    // showed "ГЭСНмр0…"), measured rather than read from rows the list does not show.
    const int codeRoom = ResultsView->fontMetrics().horizontalAdvance(QStringLiteral("ГЭСНмр00-00-000-00")) +
                         2 * (ResultsView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ResultsView) + 1) + 2;
    const int widths[] = {std::max(90, codeRoom), -1, 60, 110, 130};
    for (int c = 0; c < 5; ++c)
        if (widths[c] > 0) ResultsView->setColumnWidth(c, widths[c]);
    ResultsView->setItemDelegateForColumn(1, new NameCellDelegate(ResultsView));
    layout->addWidget(ResultsView);
    ResultsPanel->hide();

    connect(FindAction, &QAction::triggered, this, [this] { guarded([&] { FindActionClick(); }); });
    connect(SearchEdit, &QLineEdit::textChanged, this, [this] { guarded([&] { SearchEditChange(); }); });
    connect(ResultsView, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { guarded([&] { ResultChoose(i.row()); }); });
    connect(qApp, &QApplication::focusChanged, this, &RateSearchBox::focusChanged);
    window.installEventFilter(this);  // its first showing starts the preparation
}

RateSearchBox::~RateSearchBox() = default;

namespace {

QString grouped(size_t count) {
    QString digits = QString::number(qulonglong(count));
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(' '));
    return digits;
}

}  // namespace

QString RateSearchBox::foundText(size_t exact, size_t forms) {
    QString text = QStringLiteral("Найдено: ") + grouped(exact);
    if (forms > 0) text += QStringLiteral(" + ") + grouped(forms) + QStringLiteral(" по формам слов");
    return text;
}

QString RateSearchBox::nothingFoundText(const QString& query) {
    const auto words = talvira::normbase::searchWords(query.toStdString());
    QString longest;
    for (const auto& w : words)
        if (QString::fromStdString(w).size() > longest.size()) longest = QString::fromStdString(w);
    QStringList tries;
    if (longest.size() > 4)
        tries << QStringLiteral("начало слова («%1» вместо «%2»)").arg(longest.left(std::max<qsizetype>(4, longest.size() - 3)), longest);
    else
        tries << QStringLiteral("другое слово");
    if (words.size() > 1) tries << QStringLiteral("меньше слов");
    tries << QStringLiteral("часть шифра (например, «01-01»)");
    return QStringLiteral("Ничего не найдено. Попробуйте ") + tries.join(QStringLiteral(", ")) + QLatin1Char('.');
}

void RateSearchBox::FindActionClick() {
    SearchEdit->setFocus(Qt::ShortcutFocusReason);
    SearchEdit->selectAll();
    if (hasWords(SearchEdit->text())) showPanel();
}

void RateSearchBox::SearchEditChange() {
    const std::string text = SearchEdit->text().toStdString();
    if (talvira::normbase::searchWords(text).empty()) {
        Model->setResults({});
        hidePanel();
        return;
    }
    size_t forms = 0;
    {
        // A query typed while the base is read waits for the rest: a moment the user should see.
        struct WaitCursor {
            explicit WaitCursor(bool on) : on_(on) { if (on_) QApplication::setOverrideCursor(Qt::WaitCursor); }
            ~WaitCursor() { if (on_) QApplication::restoreOverrideCursor(); }
            bool on_;
        } wait(!search_.prepared());
        auto found = search_.find(text);
        forms = found.rates.size() - found.exact;
        Model->setResults(std::move(found.rates), text);
    }
    const size_t count = Model->results().size();
    FoundLabel->setText(count == 0 ? nothingFoundText(SearchEdit->text()) : foundText(count - forms, forms));
    if (Model->rowCount() > 0) ResultsView->setCurrentIndex(Model->index(0, 0));
    ResultsView->scrollToTop();
    showPanel();
}

void RateSearchBox::ResultChoose(int row) {
    if (row < 0 || row >= Model->rowCount()) return;
    const uint32_t n = Model->results()[size_t(row)];
    hidePanel();
    returnFocus_ = nullptr;
    search_.goTo(n);
    ratesGrid_.setFocus(Qt::OtherFocusReason);
}

void RateSearchBox::ResultsClose() {
    hidePanel();
    QWidget* back = returnFocus_ ? returnFocus_.data() : &ratesGrid_;
    returnFocus_ = nullptr;
    back->setFocus(Qt::OtherFocusReason);
}

void RateSearchBox::placePanel() {
    const QWidget* client = window_.centralWidget();
    const int width = std::min(660 + std::max(0, client->width() - 706), client->width() - 16);
    const int top = 29;
    const int height = std::max(80, std::min(320 + std::max(0, client->height() - 515), client->height() - top - 24));
    ResultsPanel->setGeometry(client->width() - width - 4, top, width, height);
}

void RateSearchBox::hidePanel() {
    QToolTip::hideText();
    ResultsPanel->hide();
}

void RateSearchBox::showPanel() {
    placePanel();
    ResultsPanel->show();
    ResultsPanel->raise();
}

void RateSearchBox::focusChanged(QWidget* old, QWidget* now) {
    if (now == SearchEdit) {
        if (old && old != SearchEdit && old->window() == &window_) returnFocus_ = old;
        if (hasWords(SearchEdit->text())) showPanel();
    } else if (old == SearchEdit && ResultsPanel->isVisible()) {
        hidePanel();
    }
}

void RateSearchBox::reset() {
    Model->setResults({});
    hidePanel();
    search_.reset();
}

bool RateSearchBox::eventFilter(QObject* watched, QEvent* event) {
    // The preparation starts once the window is on the screen (its first exposure), not
    // before: the start-up never waits for it. Should no exposure come, a moment later.
    auto start = [this] { guarded([&] { search_.startPreparing(); }); };
    if (watched == &window_ && event->type() == QEvent::Show) {
        window_.removeEventFilter(this);
        if (QWindow* w = window_.windowHandle()) w->installEventFilter(this);
        QTimer::singleShot(kLateStartMs, this, start);
        return false;
    }
    if (watched == window_.windowHandle() && event->type() == QEvent::Expose && window_.windowHandle()->isExposed()) {
        watched->removeEventFilter(this);
        QTimer::singleShot(0, this, start);
        return false;
    }
    if (watched != SearchEdit || event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Escape:
        guarded([&] { ResultsClose(); });
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (ResultsPanel->isVisible() && Model->rowCount() > 0) {
            const QModelIndex current = ResultsView->currentIndex();
            guarded([&] { ResultChoose(current.isValid() ? current.row() : 0); });
        }
        return true;
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_PageDown:
    case Qt::Key_PageUp: {
        if (!ResultsPanel->isVisible() || Model->rowCount() == 0) return true;
        const int page = std::max(1, ResultsView->viewport()->height() / ResultsView->verticalHeader()->defaultSectionSize() - 1);
        const int step = key->key() == Qt::Key_Down ? 1 : key->key() == Qt::Key_Up ? -1
                         : key->key() == Qt::Key_PageDown ? page : -page;
        const QModelIndex current = ResultsView->currentIndex();
        const int row = std::clamp((current.isValid() ? current.row() : 0) + step, 0, Model->rowCount() - 1);
        ResultsView->setCurrentIndex(Model->index(row, 0));
        ResultsView->scrollTo(Model->index(row, 0));
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
