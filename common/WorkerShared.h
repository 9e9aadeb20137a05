#pragma once
/**
 * What a job run on a worker thread shares with the window's thread: its state, its latest
 * progress, whether the user asked it to stop, and the two notices (progress not yet taken, done).
 * The jobs that write a file and import a norm base build on it; each adds what its work needs.
 *
 *   struct MyJob::Shared : WorkerShared<MyState, MyProgress> { ... void run(); };
 *   s->worker = std::thread([s] { s->run(); });    // run() calls reportProgress(), then onDone()
 *
 * Caveats: a notice of progress is not sent again until takeProgress() has read the last one;
 * the notices come on the worker thread.
 */
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace talvira {

template <class State, class Progress>
struct WorkerShared {
    std::function<void()> onProgress, onDone;
    std::atomic<bool> cancel{false};
    mutable std::mutex mutex;  // guards state, progress and what a job adds under it
    State state{};
    Progress progress{};
    bool progressNoticed = false;  // a notice went out and its progress is not taken yet
    std::thread worker;

    /** Records `p`, notices it unless a notice is still unread; false when the user asked to stop. */
    bool reportProgress(const Progress& p) {
        bool notice = false;
        {
            std::lock_guard lock(mutex);
            progress = p;
            notice = !progressNoticed;
            progressNoticed = true;
        }
        if (notice && onProgress) onProgress();
        return !cancel.load();
    }

    Progress takeProgress() {
        std::lock_guard lock(mutex);
        progressNoticed = false;
        return progress;
    }

    State currentState() const {
        std::lock_guard lock(mutex);
        return state;
    }

    void join() {
        if (worker.joinable()) worker.join();
    }
};

}  // namespace talvira
