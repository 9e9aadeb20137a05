#pragma once
/**
 * Where the table layer's warnings go: things the user should know that do not stop the work
 * (a text cut to its field's length, a memo file missing, an index set aside). One sink for the
 * whole program; the default prints each warning on standard error, the program installs one
 * that shows them in the window at work.
 *
 *   storage::setWarningSink([](const std::string& w) { statusBar->showMessage(w); });
 *   storage::warn("Таблица «…»: текст длиннее 50 символов обрезан");
 *
 * Caveats: the sink is called on the thread that hits the warning, in the middle of a table
 * operation; it must not call back into the table that warns.
 */
#include <functional>
#include <string>

namespace talvira::storage {

using WarningSink = std::function<void(const std::string&)>;

/** Installs the sink; an empty function restores the default (standard error). Returns the
 *  sink it replaces (empty for the default). */
WarningSink setWarningSink(WarningSink sink);
/** Sends one warning to the sink in use (none while the thread is quiet). */
void warn(const std::string& message);

/** While it lives, the warnings of the thread that made it are dropped: for a background
 *  reading of tables the program has opened (and warned about) already. */
class QuietWarnings {
public:
    QuietWarnings();
    ~QuietWarnings();
    QuietWarnings(const QuietWarnings&) = delete;
    QuietWarnings& operator=(const QuietWarnings&) = delete;

private:
    bool before_;
};

}  // namespace talvira::storage
