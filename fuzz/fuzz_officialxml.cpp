// libFuzzer entry for the reader of the official norm base XML: the input is one document, read
// as a file would arrive (in two pieces) into a base assembled in memory, which is then priced
// and written as the import does. Any talvira::Error is a clean refusal; anything else (crash,
// sanitizer report, another exception, hang) is a finding. The same document is first looked
// at as the import dialog does before it asks for the wage (needsWage), which never fails.
#include "common/Error.h"
#include "normbase/import/BaseAssembler.h"
#include "normbase/import/OfficialImport.h"
#include "normbase/import/OfficialXml.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace talvira::normimport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("talvira-fuzz-xml-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    {
        const fs::path file = dir / "look.xml";
        std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
        needsWage({file}, {});
    }
    try {
        ImportOptions options;
        options.wagePerHour = talvira::Money::fromKopecks(41250);
        BaseAssembler base(options, dir.string());
        SourceInfo source;
        const char* p = reinterpret_cast<const char*>(data);
        const XmlInput input{"fuzz.xml", [&](const PieceFn& piece) {
            const size_t half = size / 2;
            if (piece(p, half)) piece(p + half, size - half);
        }};
        readDocument(input, base, source);
        ImportReport report;
        base.write(report, {});
    } catch (const talvira::Error&) {
    }
    return 0;
}
