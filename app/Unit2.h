#pragma once
/**
 * TForm2, the estimate window: the grid of positions of SmetaTable, the title block, the
 * charge rates, clearing, deleting, the price converter and the workbook export.
 */
#include "storage/TableHandle.h"

#include <QMainWindow>

class TForm2 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    /** The one estimate handle; bound by the main window's New and Open, appended to by Add. */
    talvira::storage::TableHandle SmetaTable;

    /** Stores an edit still in progress in the grid (before the estimate is closed or the
     *  program ends), so that nothing typed is lost. */
    void storePendingEdit();
};
