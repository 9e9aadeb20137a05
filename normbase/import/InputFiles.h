#pragma once
/**
 * The documents an import reads: each given file is either one XML document or a ZIP archive
 * whose `.xml` members are read one after the other, straight from the archive (nothing is
 * unpacked to disk). Member names written in code page 866 without the archive's UTF-8 flag
 * are shown in Russian all the same.
 *
 *   InputSet in({"ГЭСН.zip", "ФСБЦ_Маш.xml"}, 1ull << 30);
 *   for (size_t i = 0; i < in.documents().size(); ++i) in.read(i, [&](const char* p, size_t n) { ... });
 *
 * Caveats: a member that unpacks to more than the limit given (a "zip bomb") stops the reading
 * with talvira::Error, whatever size the archive claims for it; so does a damaged archive or a
 * file that cannot be read. Every message names the file.
 */
#include "normbase/import/ImportTypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talvira::normimport {

/** One XML document to read. */
struct InputDocument {
    std::string shownName;          // "ГЭСНп.xml" or "архив.zip: ГЭСНп.xml"
    std::filesystem::path file;     // the file on disk
    int64_t member = -1;            // index in the archive, -1 for a plain file
    size_t archive = 0;             // which of the set's archives holds the member
    uint64_t size = 0;              // bytes of XML (as the archive states for a member)
};

class InputSet {
public:
    InputSet(const std::vector<std::filesystem::path>& files, uint64_t memberLimit);
    ~InputSet();
    InputSet(const InputSet&) = delete;
    InputSet& operator=(const InputSet&) = delete;
    const std::vector<InputDocument>& documents() const { return docs_; }
    /** Bytes of XML in all the documents. */
    uint64_t totalBytes() const { return total_; }
    /** Archives given that hold no `.xml` member at all. */
    const std::vector<std::string>& emptyArchives() const { return emptyArchives_; }
    /** Reads document `i` piece by piece (256 KiB at most each) to its end or until `piece`
     *  returns false. */
    void read(size_t i, const PieceFn& piece) const;

private:
    struct Archive;
    std::vector<std::unique_ptr<Archive>> archives_;  // open for the whole reading: one look at each directory
    std::vector<InputDocument> docs_;
    std::vector<std::string> emptyArchives_;
    uint64_t total_ = 0;
    uint64_t memberLimit_;
};

}  // namespace talvira::normimport
