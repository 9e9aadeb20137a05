// libFuzzer entry for the Paradox reader: the input becomes a table family in a scratch folder
// (split into .DB, .MB and .X02 when it carries the separators), which is opened, read whole
// and looked up through every index. Any talvira::Error is a clean failure; anything else
// (crash, sanitizer report, hang) is a finding.
#include "common/Error.h"
#include "storage/TableFile.h"
#include "storage/Warnings.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace talvira::storage;

namespace {

const fs::path& scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("talvira-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void put(const fs::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setWarningSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Parts are separated by the marker "@@PART@@": table, memo file, secondary index.
    static const std::string marker = "@@PART@@";
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        size_t e = i < 2 ? in.find(marker, at) : std::string::npos;
        parts[i] = in.substr(at, e == std::string::npos ? std::string::npos : e - at);
        if (e == std::string::npos) break;
        at = e + marker.size();
    }
    const fs::path dir = scratch();
    std::error_code ec;
    fs::remove(dir / "F.MB", ec);
    fs::remove(dir / "F.X02", ec);
    put(dir / "F.DB", parts[0]);
    if (!parts[1].empty()) put(dir / "F.MB", parts[1]);
    if (!parts[2].empty()) put(dir / "F.X02", parts[2]);
    try {
        auto t = openParadoxTable((dir / "F.DB").string(), OpenMode::ReadOnly);
        uint32_t n = 0;
        for (auto l = t->first(); l && n < 100000; l = t->next(*l), ++n) {
            Record r = t->read(*l);
            (void)t->ordinalOf(*l);
            for (const Value& v : r) (void)v.asString();
        }
        for (const IndexInfo& i : t->indexes()) {
            auto all = t->scan(i.name);
            if (!all.empty()) {
                Record r = t->read(all[0]);
                std::vector<Value> key;
                for (const auto& f : i.fields) key.push_back(r[static_cast<size_t>(t->fieldIndex(f))]);
                (void)t->lookup(i.name, key);
            }
        }
    } catch (const talvira::Error&) {
    }
    return 0;
}
