#pragma once
/**
 * One file of a table family (.DB, .MB, .Xnn...) read through a memory map and written with
 * pwrite, so that every write is in the operating system's hands when it returns. Reads are
 * bounds-checked: a range outside the file gives nullptr, never a read past the end.
 *
 *   RawFile f("/base/RESURS.DB", false);
 *   if (const uint8_t* p = f.at(0, 0x58)) parse(p);
 *
 * Caveat: pointers from at() stay valid only until the next write through the same object.
 */
#include <cstdint>
#include <span>
#include <string>

namespace talvira::storage {

class RawFile {
public:
    RawFile() = default;
    /** Opens an existing file; talvira::Error "Таблица «path» не найдена" (or the system's
     *  reason) when it cannot. `writable`: opened for writing when the file allows it. */
    RawFile(const std::string& path, bool writable, const char* missingMessage = nullptr);
    ~RawFile();
    RawFile(RawFile&& o) noexcept;
    RawFile& operator=(RawFile&& o) noexcept;
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }
    int fd() const { return fd_; }

    /** `len` bytes at `off`, or nullptr when the range is not inside the file. */
    const uint8_t* at(uint64_t off, uint64_t len) const;
    /** Copies `len` bytes at `off` into `out` without mapping them (a long read whose pages are
     *  not wanted in memory afterwards); false when the range is not inside the file. */
    bool readInto(uint64_t off, void* out, size_t len) const;
    /** Gives back the memory of the pages read (the map is made again at the next read);
     *  pointers from at() are invalid after it. */
    void releasePages() const { unmap(); }
    /** Writes all of `p` at `off` (growing the file when needed); talvira::Error on failure. */
    void write(uint64_t off, const void* p, size_t n);
    /** A piece of a gathered write. */
    struct Piece {
        const void* p;
        size_t n;
    };
    /** Writes the pieces one after another from `off`, as one write of their bytes would. */
    void write(uint64_t off, std::span<const Piece> pieces);

    /** Creates (truncating) a file for writing. */
    static RawFile create(const std::string& path);

private:
    void unmap() const;
    std::string path_;
    int fd_ = -1;
    bool writable_ = false;
    uint64_t size_ = 0;
    mutable const uint8_t* map_ = nullptr;
    mutable uint64_t mapLen_ = 0;
};

/** A lock on a table for the life of the object: shared for readers, exclusive for a writer.
 *  Tables opened several times by this program share one lock, so that two cursors over one
 *  table coexist; another program holding the table gives talvira::Error "Таблица «…» занята
 *  другой программой". */
class TableLock {
public:
    TableLock(const std::string& path, int fd, bool exclusive);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    uint64_t dev_ = 0, ino_ = 0;
};

}  // namespace talvira::storage
