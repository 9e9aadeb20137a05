#pragma once
/**
 * The four windows, created once at start in this order and living until the program ends.
 * Handlers reach the other windows through these instances.
 */
#include <QString>

class TForm1;
class TForm2;
class TOKRightDlg;
class TAboutBox;

extern TForm1* Form1;        // main window (Unit1)
extern TForm2* Form2;        // estimate window (Unit2)
extern TOKRightDlg* OKRightDlg;  // estimate-name dialog (Unit4)
extern TAboutBox* AboutBox;  // about box (Unit7)

/** The start directory: the current directory read once when the main window is created. */
extern QString StartDir;


namespace talvira::model {
class NrSpTables;
}
/** The НР and СП tables the program ships: every estimate and construction of the windows is
 *  computed with them. */
const talvira::model::NrSpTables& shippedTables();

class QFont;
/** The windows' font: the nearest sans-serif to the classic 8-point dialog font, 11 pixels
 *  high (Liberation Sans, metric-compatible with Arial; else DejaVu Sans). */
QFont formFont();
