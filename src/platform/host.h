#pragma once

#include <functional>

namespace velkantor::platform {

// What the engine asks of whoever drives it (desktop event loop, headless poll loop, the
// tests' virtual host). The engine never loops on its own: every pause goes through here,
// so windows and the one-second timer keep running while it waits.
class Host {
public:
    virtual ~Host() = default;
    // Yield point: let windows and the timer run once (`DoEvents`).
    virtual void do_events() = 0;
    // Pause for the given seconds of PC time, keeping windows and timer alive (`WaitSeconds`).
    virtual void wait(double seconds) = 0;
    // Pause until the serial port has data or `seconds` have passed, keeping windows alive.
    virtual void wait_for_input(double seconds) = 0;
    // Keep yielding while `condition` holds (the error list's BREAK). A host where nothing
    // can change the condition returns at once.
    virtual void hold_while(const std::function<bool()>& condition) = 0;
};

}  // namespace velkantor::platform
