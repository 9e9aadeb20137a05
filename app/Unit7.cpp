#include "app/Unit7.h"

#include "app/ErrorBox.h"
#include "app/Pictures.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName("AboutBox");
    setWindowTitle(QStringLiteral("О программе Тальвира"));
    setModal(false);
    setFixedSize(408, 162);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setGeometry(8, 8, 128, 97);
    ProgramIcon->setScaledContents(true);  // the picture is stretched to the box
    ProgramIcon->setPixmap(aboutPicture());

    auto line = [this](const char* name, QFrame::Shape shape, QFrame::Shadow shadow, int l, int t, int w, int h) {
        auto* f = new QFrame(this);
        f->setObjectName(name);
        f->setFrameShape(shape);
        f->setFrameShadow(shadow);
        f->setGeometry(l, t, w, h);
        return f;
    };
    Bevel2 = line("Bevel2", QFrame::VLine, QFrame::Raised, 125, 8, 12, 97);
    Bevel3 = line("Bevel3", QFrame::HLine, QFrame::Raised, 8, 88, 129, 17);
    Bevel1 = line("Bevel1", QFrame::HLine, QFrame::Sunken, 8, 112, 393, 9);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(288, 128, 113, 25);
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { guarded([&] { OKButtonClick(); }); });
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}
