// The daemon's handler for SIGTERM, SIGINT and SIGHUP and the two flags it
// sets. The daemon installs it for its service loop; each virtual-board child
// installs it for SIGTERM and SIGINT in its own process.
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
