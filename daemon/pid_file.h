// Writing the daemon's pid file: the virtual-board lines and the daemon's own
// line. Kill mode reads it back (kill_mode.cc).
#ifndef PID_FILE_H
#define PID_FILE_H

#include <stdio.h>

// The daemon writes here unless -p names another file; kill mode reads it
// when no file is named.
#define DEFAULT_PID_PATH "/var/run/tarvold.pid"

// Opens the pid file with the stream mode ("w" or "a"); logs and returns null
// when it cannot be opened.
FILE *open_pid_file(const char *path, const char *mode);

// Writes one line at the end of the file and flushes it at once, so that it
// stands in the file before the next fork. A line that does not all reach
// the file is logged, and nothing of it stays, in the file or the stream.
void write_pid_line(FILE *pid_file, const char *path, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Closes the stream; a close that fails is logged.
void close_pid_file(FILE *pid_file, const char *path);

#endif
