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
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include "daemon.h"

// A line that fits PIPE_BUF reaches a pipe whole even beside other writers.
// A longer message gets a buffer of its own, so that nothing of it is cut:
// the end of a message is often the part that says what went wrong.
enum { LOG_LINE_SIZE = PIPE_BUF };

int use_syslog = 0;

// Goes on after a signal or a short write, so nothing of the line is lost
// while the file takes it. Any other failure (a closed pipe, a full disk, the
// file-size limit) loses the line, and the daemon carries on.
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

// Formats the message into the usual line, or into a buffer of its own size
// when it does not fit there, and writes it with its newline. The newline
// takes the place of the terminating NUL.
static void write_message(const char *format, va_list args)
{
    char usual_line[LOG_LINE_SIZE];
    char *line = usual_line;
    int error = errno; // for a %m in the second formatting
    va_list again;
    va_copy(again, args);
    int formatted = vsnprintf(usual_line, sizeof usual_line, format, args);
    size_t length = formatted > 0 ? static_cast<size_t>(formatted) : 0;
    char *long_line = nullptr;
    if (length >= sizeof usual_line) {
        long_line = static_cast<char *>(malloc(length + 1));
        errno = error;
        if (long_line) {
            vsnprintf(long_line, length + 1, format, again);
            line = long_line;
        } else {
            // Without memory for the whole message it goes out in pieces
            // rather than cut.
            vdprintf(STDERR_FILENO, format, again);
            length = 0;
        }
    }
    va_end(again);
    line[length++] = '\n';
    write_line(line, length);
    free(long_line);
}

void log_message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (use_syslog) {
        vsyslog(LOG_INFO, format, args);
        write_line("\n", 1);
    } else {
        write_message(format, args);
    }
    va_end(args);
}
