#pragma once

#include <optional>

namespace varnel {

// Answers --help, --version and an option it does not know, in the user's
// languages, before anything is claimed, opened or written: the status to
// leave with, or nothing when the window is to open. The toolkit's own
// options (-platform, -style, …) are left to the toolkit.
std::optional<int> AnswerCommandLine(int& argc, char** argv);

} // namespace varnel
