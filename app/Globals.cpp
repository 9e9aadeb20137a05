#include "app/Globals.h"

#include "model/NrSpTables.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TOKRightDlg* OKRightDlg = nullptr;
TAboutBox* AboutBox = nullptr;
QString StartDir;

#include <QFont>
#include <QStringList>

QFont formFont() {
    // Listing the installed families would load the whole font database at start; the
    // family list lets the font matcher fall back to DejaVu Sans by itself.
    QFont f(QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

const talvira::model::NrSpTables& shippedTables() { return talvira::model::nrSpTables(); }
