// libFuzzer entry for the reader of a local estimate's expertise file (.gge): the input is the
// file. A file that is read is planned as an estimate, computed and compared with itself. Any
// talvira::Error is a clean refusal; anything else (crash, sanitizer report, another exception)
// is a finding.
#include "common/Error.h"
#include "editing/GgeImport.h"
#include "export/GgeRead.h"
#include "model/BaseIndex.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const talvira::exporting::GgeEstimate e =
            talvira::exporting::readGgeText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.gge");
        const talvira::editing::GgePlan plan = talvira::editing::planGgeImport(e, '.');
        const talvira::model::BaseIndexResult r = talvira::model::computeBaseIndex(
            plan.rows, plan.calc.positions, plan.calc.params, talvira::model::nrSpTables());
        (void)talvira::editing::compareWithFile(e, plan, r);
    } catch (const talvira::Error&) {
    }
    return 0;
}
