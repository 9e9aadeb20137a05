#pragma once
/**
 * A local estimate from another program's expertise file (.gge) opened as a new estimate: made in
 * the estimates folder (editing::importGge), opened in the estimate window, and the amounts the
 * program computes otherwise than the file shown in a list beside it.
 *
 *   talvira::app::chooseAndOpenGge(Form1, Form2->document());   // Файл → Открыть смету из файла экспертизы
 *   talvira::app::openGge(Form1, Form2->document(), "/home/u/ЛСР.gge");
 *   talvira::app::openFromCommandLine(Form1, Form2->document(), QCoreApplication::arguments());
 *
 * Caveats: a refused file is told in the error box (guarded by the caller) and nothing is made.
 */
#include "editing/EstimateDocument.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace talvira::app {

/** Asks for the file (the program's file dialog) and opens it as openGge does. */
void chooseAndOpenGge(QWidget* parent, editing::EstimateDocument& doc);
/** Makes the estimate from `file` in the estimates folder, opens it in `doc`, shows the estimate
 *  window and the list of differences (objectName "GgeDifferences"); talvira::Error as importGge. */
void openGge(QWidget* parent, editing::EstimateDocument& doc, const QString& file);
/** `talvira FILE.gge` (a file opened from the file manager): the program's arguments, a first one
 *  ending in ".gge" opened as openGge does, a refusal told in the error box. */
void openFromCommandLine(QWidget* parent, editing::EstimateDocument& doc, const QStringList& args);

}  // namespace talvira::app
