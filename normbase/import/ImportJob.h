#pragma once
/**
 * One import of an official norm base as the main window runs it: the new base is built on a
 * worker thread beside the working base while the program goes on reading the old one; only
 * when it is complete are the handles closed, the new base put in place and the handles
 * reopened, on the interface thread.
 *
 *   normimport::ImportJob job;
 *   job.start(startDir / "Base", files, options, [&] { postProgress(); }, [&] { postDone(); });
 *   ...                                  // on the interface thread, after postDone() arrived:
 *   if (job.state() == normimport::JobState::Built)
 *       job.install([&] { base.closeAll(); }, [&] { base.openAll(); });
 *
 * Caveats: the two notifications come on the worker thread; the caller passes them on to its
 * own thread (a queued call) and reads the job there. A notice of progress is not sent again
 * until takeProgress() has read the last one, so a slow interface thread gets no flood. The
 * destructor cancels a running build and waits for the worker; a build that was not installed
 * leaves nothing behind.
 */
#include "normbase/import/OfficialImport.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::normimport {

enum class JobState {
    Idle,       // not started
    Running,    // the worker builds the new base
    Built,      // the new base is complete beside the working one, waiting for install()
    Cancelled,  // the user stopped it; the working base is as it was
    Failed,     // the build or the install failed (error()); the working base is as it was
    Installed,  // the new base is the working base
};

class ImportJob {
public:
    using Notice = std::function<void()>;

    ImportJob();
    ~ImportJob();
    ImportJob(const ImportJob&) = delete;
    ImportJob& operator=(const ImportJob&) = delete;

    /** Starts building `files` into a fresh directory beside `baseDir` on a worker thread.
     *  `onProgress` is called (on the worker) when there is progress not yet taken, `onDone`
     *  once when the worker has ended, whatever the outcome. Only from Idle. */
    void start(const std::filesystem::path& baseDir, std::vector<std::filesystem::path> files,
               normimport::ImportOptions options, Notice onProgress, Notice onDone);

    /** Asks the worker to stop at its next progress step; returns at once. */
    void cancel();
    /** Waits until the worker has ended (nothing when it never ran). */
    void wait();

    JobState state() const;
    bool cancelRequested() const;
    /** The latest progress, and from now on the next change is notified again. */
    normimport::ImportProgress takeProgress();
    /** The report of a build that ended (Built or Installed). */
    const normimport::ImportReport& report() const;
    /** The message of a failure (Failed). */
    const std::string& error() const;

    /** On the interface thread, after the worker ended with Built: `closeHandles`, the new
     *  base put in place, `reopenHandles`. The handles are reopened even when the base cannot
     *  be put in place (then on the old base, and the job is Failed); an error of
     *  `closeHandles` or `reopenHandles` propagates after the base is settled. */
    void install(const std::function<void()>& closeHandles, const std::function<void()>& reopenHandles);

private:
    struct Shared;
    std::unique_ptr<Shared> s_;
};

/** The hourly wage as the user typed it, exactly, rounded half up to kopecks: blanks around are
 *  ignored, an empty text is no wage, point and comma are both taken (`decimalSeparator` is the
 *  one the messages show). Anything else, a negative or a too large value, throws
 *  talvira::Error with a Russian message that says how to write it. */
std::optional<Money> parseWage(std::string_view text, char decimalSeparator);

}  // namespace talvira::normimport
