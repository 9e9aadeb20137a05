// libFuzzer target for the template reader: the compound file and the BIFF8 records of the
// workbook stream, then the edits the export makes and the save. Damaged input must end in
// talvira::Error, never in a crash, a hang or another exception.
//
// Input starting with the compound file signature goes through the container; anything else
// is taken as a bare workbook stream, so that the record layer is reached directly.
#include "common/Error.h"
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
        wb.setText({1, 0}, "Генеральный директор ");
        wb.setText({2, 4}, "Локальная смета №1");
        wb.setNumber({11, 0}, 1);
        wb.setNumber({11, 4}, 2.5);
        wb.setFormula({11, 10}, "=E12*F12");
        wb.setFormula({12, 10}, "=СУММ(K12:K12)");
        wb.addBorders({9, 0}, {12, 16});
        if (container) (void)wb.save();
        else (void)wb.workbookStream();
    } catch (const talvira::Error&) {
    }
    return 0;
}
