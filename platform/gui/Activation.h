#pragma once

#include "platform/InstanceClaim.h"

class QWidget;

namespace varnel {

// Brings the program's window forward for a second start: un-minimised,
// raised and given the focus, or the box or chooser it holds open when there
// is one (during the opening sequence, only the box). The second start's token goes with it: on
// Wayland the compositor lets the window take the focus for it; on X11 the launcher is told that
// the start is over, since no window of its own will appear.
void BringForward(QWidget* window, const ShowRequest& request);

} // namespace varnel
