#include "editing/EstimateCommands.h"

#include "estimate/EstimateFields.h"
#include "storage/TableFamily.h"

#include <filesystem>

namespace talvira::editing {

namespace fs = std::filesystem;
using storage::TableHandle;
using storage::Value;

namespace {

bool isZeroOrEmpty(const Value& v) { return v.isEmpty() || v.asFloat() == 0.0; }

}  // namespace

bool isIncomplete(const Value& kolvo, const Value& stoim) {
    return isZeroOrEmpty(kolvo) || isZeroOrEmpty(stoim);
}

const char* fieldToFill(const Value& kolvo, const Value&) { return isZeroOrEmpty(kolvo) ? "KOLVO" : "STOIM"; }

std::string boundTablePath(const TableHandle& smeta) {
    if (const storage::TableFile* f = smeta.file(); f && !f->info().path.empty()) return f->info().path;
    return smeta.tablePath();
}

void clearEstimate(TableHandle& smeta) {
    storage::ControlsSuspended suspended(smeta);
    // Only a table that opens as an estimate is ever replaced.
    if (!smeta.active()) smeta.open();
    const fs::path table = fs::path(boundTablePath(smeta));
    smeta.close();
    try {
        storage::replaceWithEmptyTable(table.parent_path(), table.filename().string(), estimate::estimateFieldDefs());
    } catch (...) {
        try {
            smeta.open();
        } catch (...) {
        }
        throw;
    }
    smeta.setFieldDefs(estimate::estimateFieldDefs());
    smeta.open();
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
