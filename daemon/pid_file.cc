// The daemon's pid file lines. A line that cannot be written (a full disk, a
// file-size limit) leaves kill mode unable to end the process it names, so
// every failure is logged with the path; the daemon carries on all the same.
#include <stdarg.h>
#include <stdio.h>

#include "daemon.h"
#include "pid_file.h"

FILE *open_pid_file(const char *path, const char *mode)
{
    FILE *pid_file = fopen(path, mode);
    if (!pid_file)
        log_message("Couldn't fopen %s: %m", path);
    return pid_file;
}

void write_pid_line(FILE *pid_file, const char *path, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int written = vfprintf(pid_file, format, args);
    va_end(args);
    if (written < 0 || fflush(pid_file) != 0)
        log_message("Couldn't write %s: %m", path);
}

void close_pid_file(FILE *pid_file, const char *path)
{
    if (fclose(pid_file) != 0)
        log_message("Couldn't close %s: %m", path);
}
