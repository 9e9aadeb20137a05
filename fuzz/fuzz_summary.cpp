// libFuzzer entry for the reader of a construction's file: the input is the file's text. A text
// that is read is computed and written back, and what is written must read back the same. Any
// talvira::Error is a clean refusal; anything else (crash, sanitizer report, another exception, a
// text that does not come back) is a finding.
#include "common/Error.h"
#include "editing/SummaryFile.h"
#include "model/Summary.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    talvira::model::Construction c;
    try {
        c = talvira::editing::summaryFromText(text, "fuzz.ssr");
    } catch (const talvira::Error&) {
        return 0;
    }
    try {
        talvira::model::computeSummary(c);
    } catch (const talvira::Error&) {
    }
    const std::string written = talvira::editing::summaryText(c);
    try {
        if (!(talvira::editing::summaryFromText(written, "fuzz.ssr") == c)) std::abort();
    } catch (const talvira::Error&) {
        std::abort();  // what is written is always readable
    }
    return 0;
}
