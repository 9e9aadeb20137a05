#pragma once
/**
 * One file written on a worker thread while the window stays usable (a printed form of ten
 * thousand positions takes the better part of a second): the write reports its progress and
 * may be stopped; the window only shows the one and offers the other.
 *
 *   editing::WriteJob job;
 *   job.start([form, out](const sheet::Progress& p) { return editing::writeLsrForm(*form, out, true, p); },
 *             [&] { postProgress(); }, [&] { postDone(); });
 *   ...                                   // on the window's thread, after postDone() arrived:
 *   if (job.state() == editing::WriteState::Written) open(job.written());
 *
 * Caveats: the write must own what it writes (the estimate goes on changing meanwhile). The two
 * notifications come on the worker thread; the caller passes them on to its own thread and reads
 * the job there. A notice of progress is not sent again until takeProgress() has read the last
 * one. The destructor stops a running write and waits for it; a stopped write leaves nothing.
 */
#include "export/XlsxRenderer.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace talvira::editing {

enum class WriteState {
    Idle,     // not started
    Running,  // the worker writes
    Written,  // the file is in place (written())
    Stopped,  // the user stopped it; nothing was left
    Failed,   // the write failed (error()); nothing was left
};

class WriteJob {
public:
    using Write = std::function<std::filesystem::path(const sheet::Progress&)>;
    using Notice = std::function<void()>;

    /** The share of the write done. */
    struct Progress {
        size_t done = 0, total = 0;
    };

    WriteJob();
    ~WriteJob();
    WriteJob(const WriteJob&) = delete;
    WriteJob& operator=(const WriteJob&) = delete;

    /** Runs `write` on a worker thread. `onProgress` is called (on the worker) when there is
     *  progress not yet taken, `onDone` once when the worker has ended, whatever the outcome.
     *  Only from Idle. */
    void start(Write write, Notice onProgress, Notice onDone);
    /** Asks the write to stop at its next progress step; returns at once. */
    void cancel();
    /** Waits until the worker has ended (nothing when it never ran). */
    void wait();

    WriteState state() const;
    bool cancelRequested() const;
    /** The latest progress; from now on the next change is notified again. */
    Progress takeProgress();
    /** The path written (Written). */
    std::filesystem::path written() const;
    /** The message of a failure (Failed). */
    std::string error() const;

private:
    struct Shared;
    std::unique_ptr<Shared> s_;
};

}  // namespace talvira::editing
