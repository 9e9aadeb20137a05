#include "app/Globals.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TOKRightDlg* OKRightDlg = nullptr;
TAboutBox* AboutBox = nullptr;
QString StartDir;
