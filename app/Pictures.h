#pragma once
/**
 * The program's own pictures, drawn at run time: the four 16 × 16 toolbar pictures and the
 * about box picture.
 */
#include <QPixmap>

QPixmap blankSheetPicture();  // "Создать"
QPixmap openFolderPicture();  // "Открыть"
QPixmap penPicture();         // "Добавить"
QPixmap textPagePicture();    // "Править"
/** 128 × 97: a house under a crane over an estimate sheet. */
QPixmap aboutPicture();
