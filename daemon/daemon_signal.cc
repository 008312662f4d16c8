// The daemon's handler for SIGTERM, SIGINT and SIGHUP and the two flags it
// sets. The daemon installs it for its service loop; each virtual-board child
// installs it for SIGTERM and SIGINT in its own process.
#include <signal.h>

#include "daemon.h"

volatile sig_atomic_t restart_requested = 0;
volatile sig_atomic_t keep_running = 0;

void handle_daemon_signal(int signal_number)
{
    if (signal_number == SIGHUP)
        restart_requested = 1;
    else
        keep_running = 0;
}

// A mask blocked by the parent survives exec: a handler for a signal that
// stays blocked would never run. Once let in, a request that was pending is
// taken at once, in this process; left pending across the daemonising fork,
// it would be lost, since the child does not inherit it.
void catch_daemon_signal(int signal_number)
{
    signal(signal_number, handle_daemon_signal);
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, signal_number);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}
