// The tool's run as a function, so that it can be driven in-process.
#pragma once

namespace tessvane {

// Exit status of a refused or failed run: -1 as the process sees it.
inline constexpr int EXIT_REFUSED = -1;

// The whole run for a command line: prints its report on standard output and
// returns the exit status (0 after a completed run).
int run(int argc, char **argv);

}  // namespace tessvane
