#pragma once
/**
 * The default error box: caption "Talvira", an error icon, one OK button; the message gets a
 * "." appended when its last character sorts after "." (a letter or a digit). Every handler
 * runs its body through guarded(), so an exception ends the handler, shows the box and the
 * program goes on.
 *
 *   connect(AddButton, &QPushButton::clicked, this, [this] { guarded([&] { AddButtonClick(); }); });
 */
#include <QString>

#include <exception>
#include <functional>

/** The message as the box shows it (the "." rule applied). */
QString errorBoxText(const QString& message);

/** Shows the default error box (modal) with `message`, or hands it to the hook if one is set. */
void showErrorBox(const QString& message);

/** Tests replace the modal box by a hook that records the text (already with the "." rule);
 *  an empty function restores the box. */
void setErrorBoxHook(std::function<void(const QString&)> hook);

/** Runs `body`; any exception it lets through is shown in the default error box. */
template <class F>
void guarded(F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("Неизвестная ошибка"));
    }
}
