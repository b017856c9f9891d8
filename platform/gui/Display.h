#pragma once

namespace varnel {

// Brackets the construction of the GUI application. Should the toolkit find no
// display to open, the program prints one line saying so and exits with
// status 1, instead of aborting with the toolkit's own messages. Warnings
// raised in between are passed on at the end.
void BeginDisplayGuard();
void EndDisplayGuard();

} // namespace varnel
