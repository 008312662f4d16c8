// The daemon's log: stderr until it daemonises, syslog after. Each message is
// one line; the newline always goes to stderr, so in syslog mode every message
// leaves an empty line there.
#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

#include "daemon.h"

int firmware_option = 0;
int use_syslog = 0;
volatile sig_atomic_t restart_requested = 0;
volatile sig_atomic_t keep_running = 0;

void log_message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (use_syslog)
        vsyslog(LOG_INFO, format, args);
    else
        vfprintf(stderr, format, args);
    va_end(args);
    fputs("\n", stderr);
}

void handle_daemon_signal(int signal_number)
{
    if (signal_number == SIGHUP)
        restart_requested = 1;
    else
        keep_running = 0;
}
