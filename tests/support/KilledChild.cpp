#include "tests/support/KilledChild.h"

#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace talvira::test {

bool killedWhileRunning(const std::function<void()>& cycle, std::chrono::microseconds delay) {
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        try {
            cycle();
        } catch (...) {
        }
        ::_exit(3);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status);
}

}  // namespace talvira::test
