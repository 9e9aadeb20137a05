#include "normbase/import/ImportJob.h"

#include "common/Error.h"
#include "common/Decimal.h"
#include "common/WorkerShared.h"

#include <system_error>
#include <thread>

namespace talvira::normimport {

namespace fs = std::filesystem;
using normimport::ImportProgress;
using normimport::ImportReport;

// ---------------------------------------------------------------------------------------------
// The shared state of the worker and the interface thread
// ---------------------------------------------------------------------------------------------

struct ImportJob::Shared : WorkerShared<JobState, ImportProgress> {
    fs::path baseDir;
    std::vector<fs::path> files;
    normimport::ImportOptions options;
    fs::path staging;      // under mutex
    ImportReport report;   // under mutex
    std::string error;     // under mutex

    void setState(JobState s, std::string message = {}) {
        std::lock_guard lock(mutex);
        state = s;
        error = std::move(message);
    }

    /** The half-built or unused new base goes; a failure to remove it must not hide the
     *  outcome the user is told about, and the next import makes a fresh one anyway. */
    void removeStaging() {
        std::error_code ec;
        if (!staging.empty()) fs::remove_all(staging, ec);
    }

    void run() {
        try {
            {
                std::lock_guard lock(mutex);
                staging = normimport::stagingDirFor(baseDir);
            }
            ImportReport built = normimport::buildBase(staging, files, options,
                                                       [this](const ImportProgress& p) { return reportProgress(p); });
            // A cancel that came after the last progress step still counts: the user asked
            // for the working base to stay.
            if (cancel.load()) throw normimport::ImportCancelled();
            {
                std::lock_guard lock(mutex);
                report = std::move(built);
            }
            setState(JobState::Built);
        } catch (const normimport::ImportCancelled&) {
            removeStaging();
            setState(JobState::Cancelled);
        } catch (const std::exception& e) {
            removeStaging();
            setState(JobState::Failed, e.what());
        } catch (...) {
            removeStaging();
            setState(JobState::Failed, "Неизвестная ошибка при импорте нормативной базы");
        }
        if (onDone) onDone();
    }
};

// ---------------------------------------------------------------------------------------------
// ImportJob
// ---------------------------------------------------------------------------------------------

ImportJob::ImportJob() : s_(std::make_unique<Shared>()) {}

ImportJob::~ImportJob() {
    cancel();
    wait();
    if (state() == JobState::Built) s_->removeStaging();
}

void ImportJob::start(const fs::path& baseDir, std::vector<fs::path> files, normimport::ImportOptions options,
                      Notice onProgress, Notice onDone) {
    if (state() != JobState::Idle) throw Error("Импорт нормативной базы уже выполняется.");
    s_->baseDir = baseDir;
    s_->files = std::move(files);
    s_->options = options;
    s_->onProgress = std::move(onProgress);
    s_->onDone = std::move(onDone);
    s_->setState(JobState::Running);
    s_->worker = std::thread([s = s_.get()] { s->run(); });
}

void ImportJob::cancel() { s_->cancel.store(true); }

bool ImportJob::cancelRequested() const { return s_->cancel.load(); }

void ImportJob::wait() { s_->join(); }

JobState ImportJob::state() const { return s_->currentState(); }

ImportProgress ImportJob::takeProgress() { return s_->takeProgress(); }

const ImportReport& ImportJob::report() const { return s_->report; }

const std::string& ImportJob::error() const { return s_->error; }

void ImportJob::install(const std::function<void()>& closeHandles, const std::function<void()>& reopenHandles) {
    wait();
    if (state() != JobState::Built) return;
    if (cancelRequested()) {
        s_->removeStaging();
        s_->setState(JobState::Cancelled);
        return;
    }
    std::exception_ptr handleError;
    try {
        closeHandles();
    } catch (...) {
        handleError = std::current_exception();
    }
    if (handleError) {
        s_->removeStaging();  // a handle that may still be open keeps its base
        s_->setState(JobState::Failed, "Нормативная база не заменена: её таблицы не удалось закрыть");
    } else {
        try {
            InstalledBase installed = normimport::installBase(s_->staging, s_->baseDir);
            {
                std::lock_guard lock(s_->mutex);
                s_->report.keptBases = std::move(installed.kept);
                s_->report.removedBase = std::move(installed.removed);
            }
            s_->setState(JobState::Installed);
        } catch (const std::exception& e) {
            s_->removeStaging();
            s_->setState(JobState::Failed, e.what());
        }
    }
    try {
        reopenHandles();
    } catch (...) {
        if (!handleError) handleError = std::current_exception();
    }
    if (handleError) std::rethrow_exception(handleError);
    if (state() == JobState::Failed) throw Error(error());
}

// ---------------------------------------------------------------------------------------------
// The hourly wage
// ---------------------------------------------------------------------------------------------

std::optional<Money> parseWage(std::string_view text, char decimalSeparator) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    const std::string_view t = text.substr(b, e - b);
    if (t.empty()) return std::nullopt;
    const std::string example = std::string("350") + decimalSeparator + "5";
    // Read from the text itself, so that the kopecks are the ones typed: no double between.
    const std::optional<DecimalText> d = DecimalText::parse(t, DecimalSyntax::Lenient);
    if (!d)
        throw Error("«" + std::string(t) + "» — не число. Напишите часовую ставку цифрами, например " + example +
                    ", или оставьте поле пустым");
    if (d->negative())
        throw Error("Часовая ставка не может быть меньше нуля. Напишите её цифрами, например " + example +
                    ", или оставьте поле пустым");
    const std::optional<Money> wage = d->money();
    if (!wage)
        throw Error("Часовая ставка «" + std::string(t) + "» слишком велика. Напишите её цифрами, например " + example +
                    ", или оставьте поле пустым");
    return wage;
}

}  // namespace talvira::normimport
