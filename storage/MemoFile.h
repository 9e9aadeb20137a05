#pragma once
/**
 * The .MB file of a table: blobs of memo, formatted memo, binary, OLE and graphic fields,
 * stored in 4 KiB units: a header block, single-blob blocks (type 2, one blob over one or more
 * units), sub-allocated blocks (type 3, up to 64 small blobs in 16-byte chunks) and free
 * blocks (type 4).
 *
 *   MemoFile mb(path, false);
 *   std::string bytes = mb.read(ref, "Comments");
 *
 * Caveats: blobs are never changed in place: a new value gets a new place and the old one is
 * freed afterwards, so a crash between the two leaves the record's old or new value whole.
 */
#include "storage/RawFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talvira::storage {

/** The 10 bytes after a blob field's in-record part. */
struct BlobRef {
    uint32_t pointer = 0;  // block offset | slot (0xFF: a block of its own)
    uint32_t length = 0;
    uint16_t modNr = 0;
};

class MemoFile {
public:
    MemoFile() = default;
    MemoFile(const std::string& path, bool writable);
    /** A new .MB holding only its header block. */
    static void createEmpty(const std::string& path);
    /** The size of a new .MB into which blobs of these lengths are written in this order (the
     *  least the memo file of a table holding them takes). */
    static uint64_t newFileSize(const std::vector<uint32_t>& blobLengths);

    bool isOpen() const { return file_.isOpen(); }
    bool writable() const { return file_.writable(); }
    const std::string& path() const { return file_.path(); }

    /** The blob's bytes; `graphic`: the 8-byte picture prefix is left out. talvira::Error
     *  naming the file and `field` when the reference points at nothing valid. */
    std::string read(const BlobRef& ref, bool graphic, const std::string& field) const;
    /** RawFile::releasePages of the memo file. */
    void releasePages() const { file_.releasePages(); }

    /** Stores `data` (whole blob, graphic prefix included) and returns its reference. */
    BlobRef write(const std::string& data);
    /** Frees the place of a blob written before (nothing for blobs held in the record). */
    void free(const BlobRef& ref);

    /** From now until flush(), the header's modification count and the sub-allocated block
     *  being filled stay here and are written once, not at every blob: for many new blobs in a
     *  row (a batch of new records). Nothing may be read in between. Called again, nothing. */
    void beginBatch();
    /** Writes what beginBatch() kept back and ends the batch. */
    void flush();

private:
    [[noreturn]] void bad(const std::string& field, const std::string& why) const;
    uint16_t nextModNr();
    /** The sub-allocated block at `at` to read and change: the batch's copy, or the file's. */
    const uint8_t* block(uint64_t at);
    void writeIn(uint64_t at, const void* p, size_t n);
    RawFile file_;
    int64_t subBlock_ = -1;  // type-3 block currently filled, -1: not looked for yet, 0: none
    // The batch: the modification count (-1: not read yet) and the copy of one block.
    bool batch_ = false;
    int32_t modNr_ = -1;
    uint64_t heldAt_ = 0;
    std::vector<uint8_t> held_;
};

}  // namespace talvira::storage
