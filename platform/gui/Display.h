#pragma once

namespace varnel {

// Brackets the construction of the GUI application. Should the toolkit find no
// display to open, the program prints one line saying so and exits with
// status 1, instead of aborting with the toolkit's own messages. Warnings
// raised in between are passed on at the end. With a Wayland display the
// window connects to it natively; the environment is as it was afterwards.
void BeginDisplayGuard();
void EndDisplayGuard();

} // namespace varnel

#include <functional>

namespace varnel {

// While it exists, runs `hook` once when the connection to the display
// (X11 or Wayland) is lost, before the toolkit ends the process: on the
// application's thread, whichever thread notices the loss, and without
// waiting more than a few seconds for it. Nothing can be shown then.
class DisplayLossHook {
public:
    explicit DisplayLossHook(std::function<void()> hook);
    ~DisplayLossHook();
    DisplayLossHook(const DisplayLossHook&) = delete;
    DisplayLossHook& operator=(const DisplayLossHook&) = delete;
};

} // namespace varnel
