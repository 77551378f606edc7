// The set of the stop signals, for a POSIX program that waits on them itself.
#pragma once

#include <signal.h>

namespace remoteccm {

// SIGINT (Ctrl-C), SIGTERM (a service manager's stop) and SIGHUP (the terminal went away).
sigset_t StopSignals();

}  // namespace remoteccm
