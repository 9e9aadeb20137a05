// A file written on a worker thread: the outcomes the window tells apart (written, failed,
// stopped by the user), the progress it shows, and one write at a time.
#include "editing/WriteJob.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using editing::WriteJob;
using editing::WriteState;

/** Set once on any thread, waited for on another. */
class Latch {
public:
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

TEST(WriteJob, TheOutcomesTheWindowTellsApart) {
    const struct {
        const char* what;
        WriteJob::Write write;
        bool cancelAtFirstStep;
        WriteState state;
        fs::path written;
        std::string error;
    } cases[] = {
        {"written",
         [](const sheet::Progress& p) {
             p(1, 2), p(2, 2);
             return fs::path("/tmp/Дом ЛСР.xlsx");
         },
         false, WriteState::Written, "/tmp/Дом ЛСР.xlsx", ""},
        {"failed",
         [](const sheet::Progress& p) -> fs::path {
             p(1, 2);
             throw Error("Не удалось записать книгу «Дом ЛСР.xlsx»: на диске нет места");
         },
         false, WriteState::Failed, "", "Не удалось записать книгу «Дом ЛСР.xlsx»: на диске нет места"},
        {"stopped by the user at its next step",
         [](const sheet::Progress& p) -> fs::path {
             while (p(1, 2)) {
             }
             throw sheet::WriteStopped();
         },
         true, WriteState::Stopped, "", ""},
    };
    for (const auto& c : cases) {
        WriteJob job;
        Latch firstStep, done;
        int notices = 0;
        job.start(c.write, [&] { firstStep.open(); }, [&] { ++notices, done.open(); });
        if (c.cancelAtFirstStep) {
            firstStep.wait();
            job.cancel();
        }
        done.wait();
        job.wait();
        EXPECT_EQ(job.state(), c.state) << c.what;
        EXPECT_EQ(job.written(), c.written) << c.what;
        EXPECT_EQ(job.error(), c.error) << c.what;
        EXPECT_EQ(notices, 1) << c.what;
        const WriteJob::Progress p = job.takeProgress();
        EXPECT_EQ(p.total, 2u) << c.what;
    }
}

TEST(WriteJob, OneWriteAtATime) {
    WriteJob job;
    Latch release;
    job.start(
        [&](const sheet::Progress&) {
            release.wait();
            return fs::path("a");
        },
        {}, {});
    EXPECT_THROW(job.start([](const sheet::Progress&) { return fs::path("b"); }, {}, {}), Error);
    release.open();
    job.wait();
    EXPECT_EQ(job.written(), fs::path("a"));
}

}  // namespace
}  // namespace talvira::test
