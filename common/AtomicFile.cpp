#include "common/AtomicFile.h"

#include "common/Error.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvira {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPart = ".part-";

/** The temporaries this process is writing now: its own others are left over (from an earlier
 *  process that had the same number). */
class Writing {
public:
    void add(const std::string& name) {
        std::lock_guard lock(mutex_);
        names_.insert(name);
    }
    void remove(const std::string& name) {
        std::lock_guard lock(mutex_);
        names_.erase(name);
    }
    bool has(const std::string& name) {
        std::lock_guard lock(mutex_);
        return names_.count(name) > 0;
    }

private:
    std::mutex mutex_;
    std::set<std::string> names_;
};

Writing& writing() {
    static Writing w;
    return w;
}

/** The process that wrote `name` when it is a temporary of the target `targetName`
 *  (".NAME.part-PID-N"); 0 otherwise. */
long writerOf(std::string_view name, std::string_view targetName) {
    const size_t head = 1 + targetName.size() + kPart.size();
    if (name.size() <= head || name[0] != '.' || name.substr(1, targetName.size()) != targetName ||
        name.substr(1 + targetName.size(), kPart.size()) != kPart)
        return 0;
    long pid = 0;
    size_t i = head;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < (1L << 40); ++i) pid = pid * 10 + (name[i] - '0');
    if (i == head || i + 1 >= name.size() || name[i] != '-') return 0;
    for (++i; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return 0;
    return pid;
}

bool isGone(long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

/**
 * Removes the temporaries of `target` that no running writer owns: those of a process that is
 * gone, and this process's own that it is not writing (a process before it had its number).
 * Only plain files are removed; whatever cannot be read or removed is left as it is.
 */
void removeLeftovers(const fs::path& dir, const std::string& targetName) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const long self = ::getpid();
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        const long pid = writerOf(name, targetName);
        if (pid == 0) continue;
        const fs::path p = dir / std::string(name);
        const bool stale = pid == self ? !writing().has(p.string()) : isGone(pid);
        struct stat st {};
        if (stale && ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(p.c_str());
    }
    ::closedir(d);
}

/** Flushes the folder, so that a name given in it lasts. Best effort: some file systems cannot,
 *  and the file already has its name. */
void syncFolder(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

/** The temporary, claimed under a fresh name: no file of another writer is ever written over. */
struct Temporary {
    Temporary(const fs::path& dir, const std::string& targetName, const fs::path& target, const char* what) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0;; ++attempt) {
            path = dir / ("." + targetName + std::string(kPart) + std::to_string(::getpid()) + "-" +
                          std::to_string(counter++));
            writing().add(path.string());
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            const int err = errno;
            writing().remove(path.string());
            if (err != EEXIST || attempt == 100) writeFailed(target, err, what);
        }
    }
    ~Temporary() {
        if (!placed) ::unlink(path.c_str());
        writing().remove(path.string());
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    fs::path path;
    bool placed = false;  // renamed onto the target: nothing to remove
};

}  // namespace

void writeFailed(const fs::path& p, int err, const char* what) {
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

fs::path numberedPath(const fs::path& p, int n) {
    if (n < 2) return p;
    return p.parent_path() / (p.stem().string() + " (" + std::to_string(n) + ")" + p.extension().string());
}

fs::path writeFileAtomically(const fs::path& target, std::string_view bytes, bool keepExisting, const char* what) {
    return writeFileAtomically(
        target,
        [bytes, what](const fs::path& tmp) {
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

fs::path writeFileAtomically(const fs::path& target, const std::function<void(const fs::path&)>& write,
                             bool keepExisting, const char* what) {
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const std::string targetName = target.filename().string();
    removeLeftovers(dir, targetName);
    Temporary tmp(dir, targetName, target, what);
    write(tmp.path);
    // On disk before it gets its name.
    const int fd = ::open(tmp.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        writeFailed(target, err, what);
    }
    ::close(fd);
    if (!keepExisting) {
        if (::rename(tmp.path.c_str(), target.c_str()) != 0) writeFailed(target, errno, what);
        tmp.placed = true;
        syncFolder(dir);
        return target;
    }
    // link() fails when the name is taken, so an existing file is never replaced.
    for (int n = 1; n < 100000; ++n) {
        const fs::path p = numberedPath(target, n);
        if (::link(tmp.path.c_str(), p.c_str()) == 0) {
            syncFolder(dir);
            return p;  // the temporary's name goes with `tmp`
        }
        if (errno == EEXIST) continue;
        // A file system without hard links: take a free name and rename onto it.
        std::error_code ec;
        if (fs::exists(p, ec)) continue;
        if (::rename(tmp.path.c_str(), p.c_str()) != 0) writeFailed(p, errno, what);
        tmp.placed = true;
        syncFolder(dir);
        return p;
    }
    writeFailed(target, EEXIST, what);
}

}  // namespace talvira
