#pragma once
/**
 * A window made when it is first used rather than with the window that owns it, so that the
 * program's start does not build it: used as a pointer to the window, which it makes then.
 *
 *   OnDemand<TotalsWindow> Totals{[this] { return new TotalsWindow(...); }};
 *   Totals->showAndActivate();          // made here the first time
 *   if (TotalsWindow* t = Totals.built()) ...   // only when it already exists
 *
 * Caveats: the owner deletes the window (destroy()) while what it stands on still lives.
 */
#include <functional>
#include <utility>

template <class W>
class OnDemand {
public:
    explicit OnDemand(std::function<W*()> make) : make_(std::move(make)) {}
    OnDemand(const OnDemand&) = delete;
    OnDemand& operator=(const OnDemand&) = delete;

    W* get() {
        if (!window_) window_ = make_();
        return window_;
    }
    W* operator->() { return get(); }
    operator W*() { return get(); }

    /** The window when it has been made, else nullptr (and it is not made). */
    W* built() const { return window_; }

    /** Deletes the window made (W complete here). */
    void destroy() {
        delete window_;
        window_ = nullptr;
    }

private:
    std::function<W*()> make_;
    W* window_ = nullptr;
};
