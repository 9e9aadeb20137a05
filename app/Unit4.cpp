#include "app/Unit4.h"

#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "editing/EstimateDocument.h"
#include "estimate/EstimateFile.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QFontInfo>

#include <algorithm>

namespace est = talvira::estimate;
using talvira::editing::EstimateDocument;

TOKRightDlg::TOKRightDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) {
    setObjectName("OKRightDlg");
    setWindowTitle(QStringLiteral("Введите имя"));
    setModal(false);
    // The client area is 186 × 72, or wider when a usual title bar would cut the caption: the
    // window manager's title font (bold, about 15 pixels) is not known here, nor its buttons'
    // width; a title bar holds an icon or menu and three buttons of about 32 pixels beside it.
    QFont titleFont = font();
    titleFont.setPixelSize(std::max(15, QFontInfo(font()).pixelSize() * 4 / 3));
    titleFont.setBold(true);
    setFixedSize(std::max(186, QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + 4 * 32 + 16), 72);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Bevel1->setGeometry(0, 0, width(), 72);

    DBNameEdit = new QLineEdit(this);
    DBNameEdit->setObjectName("DBNameEdit");
    DBNameEdit->setGeometry(8, 8, width() - 17, 21);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(16, 40, 73, 25);
    OKBtn->setDefault(true);
    OKBtn->setEnabled(false);

    CancelBtn = new QPushButton(QStringLiteral("Отменить"), this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(96, 40, 73, 25);

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, DBNameEdit);

    confirmReplace = [this](const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Создание сметы"), question,
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };

    connect(DBNameEdit, &QLineEdit::textChanged, this, [this] { guarded([&] { DBNameEditChange(); }); });
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { guarded([&] { CancelBtnClick(); }); });
}

TOKRightDlg::~TOKRightDlg() = default;

void TOKRightDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}

void TOKRightDlg::keyPressEvent(QKeyEvent* event) {
    // Enter in the edit means OK, and nothing while OK is disabled (a button with the focus
    // takes Enter itself).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            if (OKBtn->isEnabled()) OKBtnClick();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void TOKRightDlg::DBNameEditChange() { OKBtn->setEnabled(!DBNameEdit->text().isEmpty()); }

void TOKRightDlg::CancelBtnClick() { hide(); }

void TOKRightDlg::reject() { CancelBtnClick(); }

void TOKRightDlg::accept() {
    if (OKBtn->isEnabled()) OKBtnClick();
}

void TOKRightDlg::OKBtnClick() {
    guarded([&] { createEstimate(); });
}

void TOKRightDlg::createEstimate() {
    const QString n = DBNameEdit->text();
    const std::string name = n.toStdString();
    // Checked before anything changes: a refused name, or a No to replacing an existing
    // estimate, leaves everything as it was with the dialog still open.
    const std::string dir = est::estimatesDirectory(StartDir.toStdString());
    if (EstimateDocument::wouldReplace(dir, name) && !confirmReplace(QString::fromStdString(est::replaceQuestion(name))))
        return;
    if (!estimate_) return;
    // What is typed in the estimate window is stored before that estimate is closed; the
    // windows follow the steps (labels, commands, caption, texts).
    estimate_->create(dir, name);
    hide();
}
