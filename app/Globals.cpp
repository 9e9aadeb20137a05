#include "app/Globals.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TOKRightDlg* OKRightDlg = nullptr;
TAboutBox* AboutBox = nullptr;
QString StartDir;

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

QString startSubdirectory(const QString& name) {
    if (StartDir.endsWith('/')) return StartDir + name;
    return StartDir + '/' + name;
}

QFont formFont() {
    const QStringList families = QFontDatabase::families();
    QFont f(families.contains(QStringLiteral("Liberation Sans")) ? QStringLiteral("Liberation Sans")
                                                                  : QStringLiteral("DejaVu Sans"));
    f.setPixelSize(11);
    return f;
}
