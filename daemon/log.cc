// The daemon's log: stderr until it daemonises, syslog after. Each message is
// one line; the newline always goes to stderr, so in syslog mode every message
// leaves an empty line there.
//
// The daemon and its virtual-board children share stderr, so each line goes
// out in one write: written as text and then newline, the lines of boards that
// stop together would run into each other.
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>
#include <unistd.h>

#include "daemon.h"

// A line that fits PIPE_BUF reaches a pipe whole even beside other writers.
// A longer message is cut to fit, its newline kept.
enum { LOG_LINE_SIZE = PIPE_BUF };

int use_syslog = 0;

// Goes on after a signal or a short write, so nothing of the line is lost
// while the file takes it.
static void write_line(const char *line, size_t length)
{
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, line, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        line += written;
        length -= static_cast<size_t>(written);
    }
}

void log_message(const char *format, ...)
{
    char line[LOG_LINE_SIZE];
    size_t length = 0;

    va_list args;
    va_start(args, format);
    if (use_syslog) {
        vsyslog(LOG_INFO, format, args);
    } else {
        // The newline takes the place of the terminating NUL.
        int formatted = vsnprintf(line, sizeof line, format, args);
        if (formatted > 0)
            length = static_cast<size_t>(formatted) < sizeof line - 1 ? static_cast<size_t>(formatted)
                                                                       : sizeof line - 1;
    }
    va_end(args);

    line[length++] = '\n';
    write_line(line, length);
}
