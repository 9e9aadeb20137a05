#include "storage/RawFile.h"

#include "common/Error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace talvira::storage {

namespace fs = std::filesystem;

// ---- RawFile --------------------------------------------------------------------------------

RawFile::RawFile(const std::string& path, bool writable, const char* missingMessage) : path_(path) {
    if (writable) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        writable_ = fd_ >= 0;
    }
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        int e = errno;
        if (e == ENOENT) throw Error(std::string(missingMessage ? missingMessage : "Таблица") + " «" + path + "» не найдена");
        throw Error("Не удалось открыть файл «" + path + "»: " + std::strerror(e));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw Error("Файл «" + path + "» не является обычным файлом");
    }
    size_ = static_cast<uint64_t>(st.st_size);
    // A file whose permission bits forbid writing is read-only even for a user whom the system
    // would let write anyway (as a replacement of the table would refuse it).
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) writable_ = false;
}

RawFile RawFile::create(const std::string& path) {
    RawFile f;
    f.path_ = path;
    f.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (f.fd_ < 0) throw Error("Не удалось создать файл «" + path + "»: " + std::strerror(errno));
    f.writable_ = true;
    return f;
}

RawFile::~RawFile() {
    unmap();
    if (fd_ >= 0) ::close(fd_);
}

RawFile::RawFile(RawFile&& o) noexcept { *this = std::move(o); }

RawFile& RawFile::operator=(RawFile&& o) noexcept {
    if (this != &o) {
        unmap();
        if (fd_ >= 0) ::close(fd_);
        path_ = std::move(o.path_);
        fd_ = std::exchange(o.fd_, -1);
        writable_ = o.writable_;
        size_ = o.size_;
        map_ = std::exchange(o.map_, nullptr);
        mapLen_ = std::exchange(o.mapLen_, 0);
    }
    return *this;
}

void RawFile::unmap() const {
    if (map_) ::munmap(const_cast<uint8_t*>(map_), mapLen_);
    map_ = nullptr;
    mapLen_ = 0;
}

const uint8_t* RawFile::at(uint64_t off, uint64_t len) const {
    if (off > size_ || len > size_ - off) return nullptr;
    if (off + len > mapLen_) {
        unmap();
        if (size_ == 0) return nullptr;
        // A writer's file grows: map some room beyond the end so that appends seldom remap.
        // Reads never go past size_, so the pages beyond the end are never touched.
        const uint64_t mapLen = writable_ ? size_ + std::max<uint64_t>(size_ / 4, 1 << 20) : size_;
        void* m = ::mmap(nullptr, mapLen, PROT_READ, MAP_SHARED, fd_, 0);
        if (m == MAP_FAILED) throw Error("Не удалось прочитать файл «" + path_ + "»: " + std::strerror(errno));
        map_ = static_cast<const uint8_t*>(m);
        mapLen_ = mapLen;
    }
    return map_ + off;
}

bool RawFile::readInto(uint64_t off, void* out, size_t len) const {
    if (off > size_ || len > size_ - off) return false;
    auto* o = static_cast<char*>(out);
    size_t done = 0;
    while (done < len) {
        const ssize_t r = ::pread(fd_, o + done, len - done, static_cast<off_t>(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw Error("Не удалось прочитать файл «" + path_ + "»: " + std::strerror(errno));
        if (r == 0) return false;  // cut short since it was opened
        done += static_cast<size_t>(r);
    }
    return true;
}

void RawFile::write(uint64_t off, const void* p, size_t n) {
    const Piece whole{p, n};
    write(off, std::span<const Piece>(&whole, 1));
}

void RawFile::write(uint64_t off, std::span<const Piece> pieces) {
    if (!writable_) throw Error("Файл «" + path_ + "» открыт только для чтения");
    std::vector<iovec> io;
    uint64_t total = 0;
    for (const Piece& piece : pieces) {
        if (piece.n == 0) continue;
        io.push_back({const_cast<void*>(piece.p), piece.n});
        total += piece.n;
    }
    size_t first = 0;  // the pieces before it are written
    uint64_t at = off;
    while (first < io.size()) {
        const int count = static_cast<int>(std::min<size_t>(io.size() - first, IOV_MAX));
        ssize_t w = ::pwritev(fd_, io.data() + first, count, static_cast<off_t>(at));
        if (w < 0) {
            if (errno == EINTR) continue;
            throw Error("Ошибка записи в файл «" + path_ + "»: " + std::strerror(errno));
        }
        at += static_cast<uint64_t>(w);
        // Past the pieces written whole; a piece written in part goes on from where it stopped.
        while (first < io.size() && static_cast<size_t>(w) >= io[first].iov_len) w -= static_cast<ssize_t>(io[first++].iov_len);
        if (first < io.size() && w > 0) {
            io[first].iov_base = static_cast<char*>(io[first].iov_base) + w;
            io[first].iov_len -= static_cast<size_t>(w);
        }
    }
    if (off + total > size_) size_ = off + total;
}

// ---- TableLock ------------------------------------------------------------------------------

namespace {

struct LockEntry {
    int fd = -1;
    int refs = 0;
    bool exclusive = false;
};

std::mutex& lockMutex() {
    static std::mutex m;
    return m;
}
std::map<std::pair<uint64_t, uint64_t>, LockEntry>& lockTable() {
    static std::map<std::pair<uint64_t, uint64_t>, LockEntry> t;
    return t;
}

std::string busyMessage(const std::string& path) { return "Таблица «" + path + "» занята другой программой"; }

}  // namespace

TableLock::TableLock(const std::string& path, int fd, bool exclusive) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw Error("Не удалось открыть файл «" + path + "»: " + std::strerror(errno));
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    std::lock_guard g(lockMutex());
    LockEntry& e = lockTable()[{dev_, ino_}];
    if (e.refs == 0) {
        // A lock of its own, so that closing one cursor's file keeps the others' lock.
        e.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (e.fd < 0) e.fd = ::dup(fd);
        if (::flock(e.fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            ::close(e.fd);
            lockTable().erase({dev_, ino_});
            throw Error(busyMessage(path));
        }
        e.exclusive = exclusive;
    } else if (exclusive && !e.exclusive) {
        if (::flock(e.fd, LOCK_EX | LOCK_NB) != 0) throw Error(busyMessage(path));
        e.exclusive = true;
    }
    ++e.refs;
}

TableLock::~TableLock() {
    std::lock_guard g(lockMutex());
    auto it = lockTable().find({dev_, ino_});
    if (it == lockTable().end()) return;
    if (--it->second.refs == 0) {
        ::close(it->second.fd);  // releases the flock
        lockTable().erase(it);
    }
}

}  // namespace talvira::storage
