#include "editing/WriteJob.h"

#include "common/Error.h"
#include "common/WorkerShared.h"

#include <thread>

namespace talvira::editing {

struct WriteJob::Shared : WorkerShared<WriteState, Progress> {
    Write write;
    std::filesystem::path written;  // under mutex
    std::string error;              // under mutex

    void finish(WriteState s, std::filesystem::path path = {}, std::string message = {}) {
        std::lock_guard lock(mutex);
        state = s;
        written = std::move(path);
        error = std::move(message);
    }

    void run() {
        try {
            std::filesystem::path path = write([this](size_t done, size_t total) { return reportProgress({done, total}); });
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

void WriteJob::wait() { s_->join(); }

WriteState WriteJob::state() const { return s_->currentState(); }

WriteJob::Progress WriteJob::takeProgress() { return s_->takeProgress(); }

std::filesystem::path WriteJob::written() const {
    std::lock_guard lock(s_->mutex);
    return s_->written;
}

std::string WriteJob::error() const {
    std::lock_guard lock(s_->mutex);
    return s_->error;
}

}  // namespace talvira::editing
