// talvira_wait_mapped [--timeout SECONDS] [--cpu] -- PROGRAM [ARGS...]
//
// Starts PROGRAM and prints, in milliseconds with a fraction, the time from just before the
// start to the moment the first top-level window that PROGRAM owns (by _NET_WM_PID) is mapped
// on the display named by DISPLAY. Then ends PROGRAM. Exit status 2 on a timeout.
// With --cpu it prints instead the processor time (user and system) PROGRAM had used by then:
// on a busy machine a steadier figure than the wall time, which includes waiting for a core.
//
// Waiting for MapNotify events on the root window sees the mapping as it happens, where
// polling with xdotool or xwininfo would add its own interval to every figure.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long windowPid(Display* dpy, Window w, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1) pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }  // windows may vanish while looked at

}  // namespace

int main(int argc, char** argv) {
    double timeout = 60;
    bool cpu = false;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) timeout = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--cpu") == 0) cpu = true;
        else if (std::strcmp(argv[i], "--") == 0) { ++i; break; }
        else break;
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: talvira_wait_mapped [--timeout SECONDS] [--cpu] -- PROGRAM [ARGS...]\n");
        return 1;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "talvira_wait_mapped: cannot open display %s\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(dpy);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
    XSync(dpy, False);

    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[i], argv + i);
        std::perror("talvira_wait_mapped: exec");
        _exit(127);
    }
    int rc = 2;
    double mappedMs = -1;
    const int fd = ConnectionNumber(dpy);
    for (;;) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == MapNotify && windowPid(dpy, ev.xmap.window, pidAtom) == child) {
                mappedMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                rc = 0;
                goto done;
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        if (elapsed > timeout) break;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "talvira_wait_mapped: %s ended before showing a window\n", argv[i]);
            XCloseDisplay(dpy);
            return 1;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
    }
    std::fprintf(stderr, "talvira_wait_mapped: no window within %.0f s\n", timeout);
done:
    // Stopped where it is, so that the time it would go on using (painting the window) is not
    // counted, then ended and reaped with the processor time it used.
    kill(child, SIGSTOP);
    kill(child, SIGTERM);
    kill(child, SIGCONT);
    rusage usage{};
    wait4(child, nullptr, 0, &usage);
    if (rc == 0) {
        auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
        std::printf("%.1f\n", cpu ? ms(usage.ru_utime) + ms(usage.ru_stime) : mappedMs);
    }
    XCloseDisplay(dpy);
    return rc;
}
