#pragma once
/**
 * The estimate table handle as the workbook export walks it: display suspension,
 * remember-and-return, first / next / eof and the fields by their places (0-based) in the
 * handle's field list (the bound fields, in their order).
 *
 *   editing::SmetaPositionSource table(Form2->SmetaTable);
 *   xls::exportEstimateToFile(table, texts, templatePath, out, ',');
 */
#include "export/EstimateExport.h"
#include "storage/TableHandle.h"

namespace talvira::editing {

class SmetaPositionSource : public xls::PositionReader {
public:
    explicit SmetaPositionSource(storage::TableHandle& table) : table_(table) {}

    void disableControls() override;
    void enableControls() override;
    void rememberPosition() override;
    void returnToPosition() override;
    void first() override;
    bool eof() const override;
    void next() override;
    int fieldCount() const override;
    std::string fieldText(int place) const override;
    double fieldNumber(int place) const override;

private:
    storage::TableHandle& table_;
    storage::Bookmark mark_;
};

}  // namespace talvira::editing
