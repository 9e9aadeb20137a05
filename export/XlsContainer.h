#pragma once
/**
 * The OLE2 compound file around a workbook: its streams and storages, read whole and written
 * back (libgsf underneath). Streams other than the workbook stream are carried over unchanged.
 *
 *   xls::CompoundFile f = xls::readCompoundFile(bytes, "1.xls");
 *   f.find("Workbook")->data = newStream; writeCompoundFile(f, "out.xls");
 *
 * Caveats: a file that is not a compound file, or a damaged one, gives talvira::Error naming
 * the file. Entries keep their order, names, CLSIDs and contents.
 */
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talvira::xls {

struct CompoundEntry {
    std::string name;  // as stored, control characters included ("\x05SummaryInformation")
    bool storage = false;
    std::array<uint8_t, 16> clsid{};           // storages only
    std::vector<uint8_t> data;                 // streams only
    std::vector<CompoundEntry> children;       // storages only
};

struct CompoundFile {
    CompoundEntry root;  // the root storage
    /** The top-level stream `name`, or nullptr. */
    CompoundEntry* find(const std::string& name);
    const CompoundEntry* find(const std::string& name) const;
};

/** Reads the bytes of a whole file; a missing or unreadable file gives talvira::Error. */
std::vector<uint8_t> readWholeFile(const std::filesystem::path& path, const std::string& what);

/** Parses a compound file held in memory; `displayName` names it in error messages. */
CompoundFile readCompoundFile(const std::vector<uint8_t>& bytes, const std::string& displayName);

/** Serializes a compound file (deterministic: same entries, same bytes). */
std::vector<uint8_t> writeCompoundFile(const CompoundFile& file);
/** The same bytes straight into the file `path` (created or replaced), without holding a
 *  second copy of the whole file in memory. */
void writeCompoundFile(const CompoundFile& file, const std::filesystem::path& path);

}  // namespace talvira::xls
