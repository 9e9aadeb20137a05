#pragma once
/**
 * The table layer's warnings (a text cut to its field's length, a memo file missing, an index
 * set aside) shown to the user: a non-modal box "Talvira" with a warning icon over the window
 * at work, which does not take the focus. Each distinct text is shown once per action (until
 * the event loop runs again); the texts of one action gather in one box.
 *
 *   installWarningSink();   // createWindows() does it
 */
#include <QString>

#include <functional>

/** Routes storage::warn to the box; removeWarningSink() goes back to standard error. */
void installWarningSink();
void removeWarningSink();

/** Tests replace the box by a hook that records each text shown; empty restores the box. */
void setWarningBoxHook(std::function<void(const QString&)> hook);
