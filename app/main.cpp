#include "app/Application.h"
#include "app/GgeOpen.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char** argv) {
    Application app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    startWindows([args] { talvira::app::openFromCommandLine(Form1, Form2->document(), args); });
    const int rc = app.exec();
    destroyWindows();
    return rc;
}
