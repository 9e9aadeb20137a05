#include "app/Application.h"
#include "app/Globals.h"
#include "app/Unit1.h"

int main(int argc, char** argv) {
    Application app(argc, argv);
    createWindows();
    Form1->show();
    const int rc = app.exec();
    destroyWindows();
    return rc;
}
