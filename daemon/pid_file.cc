// The daemon's pid file lines. A line that cannot be written (a full disk, a
// file-size limit) leaves kill mode unable to end the process it names, so
// every failure is logged with the path; the daemon carries on all the same.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <unistd.h>

#include "daemon.h"
#include "pid_file.h"

FILE *open_pid_file(const char *path, const char *mode)
{
    FILE *pid_file = fopen(path, mode);
    if (!pid_file)
        log_message("Couldn't fopen %s: %m", path);
    return pid_file;
}

// Kill mode takes any number it finds for a pid, and the first digits of
// one name some other process: a line goes in whole or not at all. One that
// stops part-way is cut off again, and the rest of it is dropped from the
// buffer, where the next flush or the close would write it, or a child
// inherit it unwritten.
void write_pid_line(FILE *pid_file, const char *path, const char *format, ...)
{
    // At the end: a line cut off leaves the stream's position past it.
    fseeko(pid_file, 0, SEEK_END);
    off_t line_start = ftello(pid_file);

    va_list args;
    va_start(args, format);
    int written = vfprintf(pid_file, format, args);
    va_end(args);
    if (written >= 0 && fflush(pid_file) == 0)
        return;

    int write_error = errno;
    __fpurge(pid_file);
    clearerr(pid_file);
    if (line_start >= 0) {
        int cut = ftruncate(fileno(pid_file), line_start);
        (void)cut; // where even the cut fails, the write's failure is the one to report
    }
    errno = write_error;
    log_message("Couldn't write %s: %m", path);
}

void close_pid_file(FILE *pid_file, const char *path)
{
    if (fclose(pid_file) != 0)
        log_message("Couldn't close %s: %m", path);
}
