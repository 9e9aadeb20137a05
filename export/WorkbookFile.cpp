#include "export/WorkbookFile.h"

#include "common/Error.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace talvira::xls {

void writeFailed(const std::filesystem::path& p, int err, const char* what) {
    std::string why;
    switch (err) {
    case EACCES: case EPERM: why = "нет доступа"; break;
    case ENOENT: case ENOTDIR: why = "папка не существует"; break;
    case ENOSPC: case EDQUOT: why = "на диске нет места"; break;
    case EROFS: why = "диск доступен только для чтения"; break;
    case EEXIST: why = "все имена файлов заняты"; break;
    default: why = std::strerror(err);
    }
    throw Error(std::string("Не удалось записать ") + what + " «" + p.string() + "»: " + why);
}

std::filesystem::path numberedPath(const std::filesystem::path& p, int n) {
    if (n < 2) return p;
    return p.parent_path() / (p.stem().string() + " (" + std::to_string(n) + ")" + p.extension().string());
}

std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::vector<uint8_t>& bytes, bool keepExisting, const char* what) {
    return writeFileAtomically(
        target,
        [&bytes, what](const std::filesystem::path& tmp) {
            const int fd = ::open(tmp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) writeFailed(tmp, errno, what);
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    const int err = n < 0 ? errno : EIO;
                    ::close(fd);
                    writeFailed(tmp, err, what);
                }
                done += static_cast<size_t>(n);
            }
            if (::close(fd) != 0) writeFailed(tmp, errno, what);
        },
        keepExisting, what);
}

std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::function<void(const std::filesystem::path&)>& write,
                                          bool keepExisting, const char* what) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const std::filesystem::path tmp =
        dir / ("." + target.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++));
    // the name is claimed first, so that no other file is ever written over
    const int claim = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (claim < 0) writeFailed(target, errno, what);
    ::close(claim);
    try {
        write(tmp);
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    // on disk before it gets its name
    const int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        writeFailed(target, err, what);
    }
    ::close(fd);
    if (!keepExisting) {
        if (::rename(tmp.c_str(), target.c_str()) != 0) {
            const int err = errno;
            ::unlink(tmp.c_str());
            writeFailed(target, err, what);
        }
        return target;
    }
    // link() fails when the name is taken, so an existing file is never replaced
    for (int n = 1; n < 100000; ++n) {
        const std::filesystem::path p = numberedPath(target, n);
        if (::link(tmp.c_str(), p.c_str()) == 0) {
            ::unlink(tmp.c_str());
            return p;
        }
        if (errno == EEXIST) continue;
        // a file system without hard links: take a free name and rename onto it
        std::error_code ec;
        if (std::filesystem::exists(p, ec)) continue;
        if (::rename(tmp.c_str(), p.c_str()) == 0) return p;
        const int err = errno;
        ::unlink(tmp.c_str());
        writeFailed(p, err, what);
    }
    ::unlink(tmp.c_str());
    writeFailed(target, EEXIST, what);
}

}  // namespace talvira::xls
