#include "editing/EstimateCommands.h"

#include "estimate/EstimateFields.h"

namespace talvira::editing {

using storage::TableHandle;
using storage::Value;

namespace {

bool isZeroOrEmpty(const Value& v) { return v.isEmpty() || v.asFloat() == 0.0; }

}  // namespace

bool isIncomplete(const Value& kolvo, const Value& stoim) {
    return isZeroOrEmpty(kolvo) || isZeroOrEmpty(stoim);
}

const char* fieldToFill(const Value& kolvo) { return isZeroOrEmpty(kolvo) ? estimate::fld::KOLVO : estimate::fld::STOIM; }

void clearEstimate(TableHandle& smeta, const storage::TableObserver* origin) {
    // Only a table that opens as an estimate is ever replaced.
    if (!smeta.active()) smeta.open();
    smeta.replaceRecords(estimate::estimateFieldDefs(), {}, origin);
    smeta.setFieldDefs(estimate::estimateFieldDefs());
}

void deletePosition(TableHandle& smeta) {
    if (smeta.state() == TableHandle::State::Browse || smeta.state() == TableHandle::State::Inactive) smeta.edit();
    smeta.remove();
}

void storePendingEdit(TableHandle& smeta) {
    switch (smeta.state()) {
    case TableHandle::State::Insert:
        if (smeta.modified()) smeta.post();
        else smeta.cancel();
        break;
    case TableHandle::State::Edit:
        if (smeta.modified()) smeta.post();
        else smeta.cancel();
        break;
    default: break;
    }
}

}  // namespace talvira::editing
