// libFuzzer target for the template reader: the compound file and the BIFF8 records of the
// workbook stream, then the estimate laid over it as the export does, and the save. Damaged input must end in
// talvira::Error, never in a crash, a hang or another exception.
//
// Input starting with the compound file signature goes through the container; anything else
// is taken as a bare workbook stream, so that the record layer is reached directly.
#include "common/Error.h"
#include "export/EstimateExport.h"
#include "export/XlsWorkbook.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// libgsf keeps a directory entry it has refused in some damaged files; that memory belongs to
// the library (allocated through GLib), not to the reader here.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgsf-1.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t magic[4] = {0xD0, 0xCF, 0x11, 0xE0};
    const std::vector<uint8_t> bytes(data, data + size);
    try {
        const bool container = size >= 4 && std::equal(magic, magic + 4, data);
        talvira::xls::XlsWorkbook wb = container
                                           ? talvira::xls::XlsWorkbook(bytes, "fuzz.xls", ',')
                                           : talvira::xls::XlsWorkbook::fromStream(bytes, "fuzz.xls", ',');
        static const std::vector<talvira::model::PositionRow> rows = {
            {"ТЕР01-01-001-01", "Разработка грунта", "1000 м3", 2.5, 100, 250, 20, 10, 50, 1.5}};
        talvira::xls::writeEstimate(wb, rows, talvira::model::EstimateTexts::defaults(','), ',');
        if (container) (void)wb.save();
        else (void)wb.workbookStream();
    } catch (const talvira::Error&) {
    }
    return 0;
}
