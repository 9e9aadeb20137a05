// libFuzzer entry for the reader of the official norm base XML: the input is one document, fed
// to the streaming reader in two pieces as a file would arrive; the base it assembles stays in
// memory. Any talvira::Error is a clean refusal; anything else (crash, sanitizer report, hang)
// is a finding.
#include "common/Error.h"
#include "normbase/import/BaseAssembler.h"
#include "normbase/import/ExpatParser.h"
#include "normbase/import/OfficialXml.h"

#include <cstdint>
#include <cstddef>

using namespace talvira::normimport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        BaseAssembler base(ImportOptions{});
        SourceInfo source;
        ExpatParser* parserRef = nullptr;
        OfficialXmlReader reader(base, source, parserRef);
        ExpatParser parser("fuzz.xml", reader);
        parserRef = &parser;
        const char* p = reinterpret_cast<const char*>(data);
        const size_t half = size / 2;
        if (parser.feed(p, half, false)) parser.feed(p + half, size - half, true);
    } catch (const talvira::Error&) {
    }
    return 0;
}
