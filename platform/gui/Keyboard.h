#pragma once

class QWidget;

namespace varnel {

// Queues one Tab key press for `target`: it is handled after the current
// event, exactly like a Tab the user typed, and moves the focus on.
void QueueTabKey(QWidget* target);

} // namespace varnel
