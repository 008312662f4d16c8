// The daemon's log: stderr until it daemonises, syslog after. Each message is
// one line; the newline always goes to stderr, so in syslog mode every message
// leaves an empty line there.
#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

#include "daemon.h"

int use_syslog = 0;

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
