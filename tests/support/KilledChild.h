#pragma once
/** A piece of work killed at a moment of the test's choosing: for tests that a write stopped
 *  anywhere (kill -9, a power cut) leaves something whole behind. */
#include <chrono>
#include <functional>

namespace talvira::test {

/** Runs `cycle` (which never ends by itself) in a child process killed after `delay`; true
 *  when it was the kill that stopped it. Spread the delays over the work and keep killing until
 *  each outcome looked for was seen: a loaded machine stretches one part more than another. */
bool killedWhileRunning(const std::function<void()>& cycle, std::chrono::microseconds delay);

}  // namespace talvira::test
