#include "app/Application.h"
#include "app/ErrorBox.h"
#include "app/GgeOpen.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Unit2.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char** argv) {
    Application app(argc, argv);
    // `talvira FILE.gge` (a file opened from the file manager): a new estimate made from it
    const QStringList args = QCoreApplication::arguments();
    startWindows([args] {
        if (args.size() > 1 && args[1].endsWith(QStringLiteral(".gge"), Qt::CaseInsensitive))
            guarded([&] { talvira::app::openGge(Form1, Form2->document(), args[1]); });
    });
    const int rc = app.exec();
    destroyWindows();
    return rc;
}
