#include "app/Application.h"

#include "app/ErrorBox.h"
#include "app/Globals.h"
#include "app/NormBaseImport.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit7.h"
#include "normbase/NormBaseFields.h"

#include <QLibraryInfo>
#include <QTranslator>

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv), reporting_(std::make_unique<Reporting>()) {
    setApplicationName(QStringLiteral("Talvira"));
    // The program speaks Russian whatever the user's locale: so do Qt's own texts (the file
    // dialog, the edit menus, the buttons of message boxes).
    auto* qtTexts = new QTranslator(this);
    if (qtTexts->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        qtTexts->load(QStringLiteral("qtbase_ru"), QStringLiteral("/usr/share/qt6/translations")))
        installTranslator(qtTexts);
    else
        delete qtTexts;
}

Application::~Application() = default;

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    talvira::dbctrls::reportErrors(*reporting_, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void createMainWindow() {
    QApplication::setApplicationName(QStringLiteral("Talvira"));
    // The menus stay in the window where the estimator finds them, also on desktops that offer a
    // menu bar of their own; and the start does not wait on asking the session bus for one.
    QApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    reporting().attachToStorage();
    QApplication::setFont(formFont());
    QApplication::setQuitOnLastWindowClosed(false);
    Form1 = new TForm1;
    reporting().setMainWindow(Form1);
    // Queued to the window itself: a window deleted before the call (as tests delete theirs)
    // ends nothing, nor a later event loop.
    QObject::connect(Form1, &TForm1::closed, Form1, &endProgram, Qt::QueuedConnection);
}

void createOtherWindows() {
    Form2 = new TForm2;
    OKRightDlg = new TOKRightDlg;
    AboutBox = new TAboutBox;
    // The one estimate document, made by the estimate window over its SmetaTable, is what the
    // main window's commands and the name dialog create, open and append to.
    Form1->setEstimate(&Form2->document());
    OKRightDlg->setEstimate(&Form2->document());
    // A new estimate starts as the norm base in use asks (its price level, the method).
    Form2->document().setNormBaseDirectory(talvira::normbase::baseDirectory(StartDir.toStdString()));
}

void createWindows() {
    createMainWindow();
    createOtherWindows();
}

void startWindows(std::function<void()> afterwards) {
    createMainWindow();
    Form1->show();
    // The other three windows are made by the event loop's first turn: the main window is on the
    // screen before they are built, and they exist before any of its commands can be given.
    QMetaObject::invokeMethod(
        Form1,
        [afterwards = std::move(afterwards)] {
            createOtherWindows();
            if (afterwards) afterwards();
        },
        Qt::QueuedConnection);
}

void endProgram() {
    // Every other window goes with the main one. The event loop is left directly: asking the
    // application to quit would ask each window to close first and give up at the estimate
    // window, which only hides itself, leaving the rest on the screen and the program running.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != Form1 && w->isVisible()) w->hide();
    QCoreApplication::exit(0);
}

void destroyWindows() {
    // An import told to stop as the main window closed ends first: its worker may still warn
    // through the reporting place, and the windows are gone from the screen by now.
    if (Form1 && Form1->Import) Form1->Import->cancelAndWait();
    reporting().detachFromStorage();
    delete AboutBox;
    AboutBox = nullptr;
    delete OKRightDlg;
    OKRightDlg = nullptr;
    if (Form1) Form1->setEstimate(nullptr);
    delete Form2;
    Form2 = nullptr;
    delete Form1;
    Form1 = nullptr;
}
