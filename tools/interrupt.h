// Ctrl-C during a session: the running transfer finishes, the steps stop,
// the channel closes and the simulator's blocks are saved; the program then
// exits as interrupted. A second Ctrl-C ends the program at once.
#pragma once

namespace morvane::tool {

class InterruptStopsSteps {
  public:
    InterruptStopsSteps();
    ~InterruptStopsSteps();
    InterruptStopsSteps(const InterruptStopsSteps&) = delete;
    InterruptStopsSteps& operator=(const InterruptStopsSteps&) = delete;
};

bool Interrupted();

// Waits ms, or less when interrupted; false once interrupted.
bool WaitUnlessInterrupted(long ms);

}  // namespace morvane::tool
