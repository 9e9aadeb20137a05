#include "editing/WriteJob.h"

#include "common/Error.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace talvira::editing {

struct WriteJob::Shared {
    Write write;
    Notice onProgress, onDone;

    std::atomic<bool> cancel{false};
    mutable std::mutex mutex;  // guards what follows
    WriteState state = WriteState::Idle;
    Progress progress;
    bool progressNoticed = false;  // a notice went out and its progress is not taken yet
    std::filesystem::path written;
    std::string error;
    std::thread worker;

    void finish(WriteState s, std::filesystem::path path = {}, std::string message = {}) {
        std::lock_guard lock(mutex);
        state = s;
        written = std::move(path);
        error = std::move(message);
    }

    bool reportProgress(size_t done, size_t total) {
        bool notice = false;
        {
            std::lock_guard lock(mutex);
            progress = {done, total};
            notice = !progressNoticed;
            progressNoticed = true;
        }
        if (notice && onProgress) onProgress();
        return !cancel.load();
    }

    void run() {
        try {
            std::filesystem::path path = write([this](size_t done, size_t total) { return reportProgress(done, total); });
            finish(WriteState::Written, std::move(path));
        } catch (const sheet::WriteStopped&) {
            finish(WriteState::Stopped);
        } catch (const std::exception& e) {
            finish(WriteState::Failed, {}, e.what());
        } catch (...) {
            finish(WriteState::Failed, {}, "Неизвестная ошибка при записи файла");
        }
        if (onDone) onDone();
    }
};

WriteJob::WriteJob() : s_(std::make_unique<Shared>()) {}

WriteJob::~WriteJob() {
    cancel();
    wait();
}

void WriteJob::start(Write write, Notice onProgress, Notice onDone) {
    {
        std::lock_guard lock(s_->mutex);
        if (s_->state != WriteState::Idle) throw Error("Файл уже записывается.");
        s_->state = WriteState::Running;
    }
    s_->write = std::move(write);
    s_->onProgress = std::move(onProgress);
    s_->onDone = std::move(onDone);
    try {
        s_->worker = std::thread([s = s_.get()] { s->run(); });
    } catch (...) {
        s_->finish(WriteState::Idle);  // no worker: the job can be started again
        throw;
    }
}

void WriteJob::cancel() { s_->cancel.store(true); }

bool WriteJob::cancelRequested() const { return s_->cancel.load(); }

void WriteJob::wait() {
    if (s_->worker.joinable()) s_->worker.join();
}

WriteState WriteJob::state() const {
    std::lock_guard lock(s_->mutex);
    return s_->state;
}

WriteJob::Progress WriteJob::takeProgress() {
    std::lock_guard lock(s_->mutex);
    s_->progressNoticed = false;
    return s_->progress;
}

std::filesystem::path WriteJob::written() const {
    std::lock_guard lock(s_->mutex);
    return s_->written;
}

std::string WriteJob::error() const {
    std::lock_guard lock(s_->mutex);
    return s_->error;
}

}  // namespace talvira::editing
