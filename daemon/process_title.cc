// The process title of a virtual-board child. The kernel shows a process's
// arguments from the memory where its argument strings were placed at exec,
// followed directly by its environment strings; writing the title there,
// over both, is the only way to change what process listings show. The
// environment must have been copied elsewhere before this is called.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "process_title.h"

char **title_argv = nullptr;
char *title_end = nullptr;

static char title_buffer[8192];

char *find_title_end(char **argv, char **envp)
{
    if (envp[0]) {
        char **last = envp;
        while (last[1])
            last++;
        return *last + strlen(*last);
    }
    // getopt may have reordered the vector, so go by the strings' addresses.
    char *end = nullptr;
    for (char **arg = argv; *arg; arg++) {
        char *arg_end = *arg + strlen(*arg);
        if (arg_end > end)
            end = arg_end;
    }
    return end;
}

void set_process_title(const char *format, ...)
{
    char *area = title_argv[0];
    long room = static_cast<long>(title_end - area) - 2;

    memset(title_buffer, 0, sizeof title_buffer);
    va_list args;
    va_start(args, format);
    vsnprintf(title_buffer, sizeof title_buffer, format, args);
    va_end(args);

    // A cut title leaves the rest of the area cleared as well, so no stale
    // argument text follows it in a listing. The byte at title_end is the
    // NUL that ends the area already.
    if (room > 0) {
        snprintf(area, static_cast<size_t>(room), "%s", title_buffer);
        size_t written = strlen(area);
        memset(area + written, 0, static_cast<size_t>(title_end - area) - written);
    }
    title_argv[1] = nullptr;
}
