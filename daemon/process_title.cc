// The process title of a virtual-board child. The kernel shows a process's
// arguments from the memory where its argument strings were placed at exec,
// followed directly by its environment strings; writing the title there,
// over both, is the only way to change what process listings show, so the
// environment is copied elsewhere first.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "process_title.h"

char **title_argv = nullptr;
char *title_end = nullptr;

static char title_buffer[8192];

extern char **environ;

// From here on the process and the libraries it loads read the copies, which
// the title leaves alone. A string that cannot be copied ends the copied
// environment there. False when the vector cannot be allocated: the process
// then still reads the strings the title would overwrite.
static bool copy_environment(char **envp)
{
    size_t count = 0;
    while (envp[count])
        count++;
    char **copy = static_cast<char **>(malloc((count + 1) * sizeof *copy));
    if (!copy)
        return false;
    for (size_t i = 0; i < count; i++)
        copy[i] = strdup(envp[i]);
    copy[count] = nullptr;
    environ = copy;
    return true;
}

// The title may only go where the argument and environment strings lie back
// to back from the first argument on, as the kernel places them at exec: if
// each string lies within the area and together they fill it, they tile it
// and nothing else shares it. A program that moved a string elsewhere would
// otherwise have us write over memory that is not theirs.
static bool strings_fill_area(char **argv, char **envp, const char *end)
{
    size_t total = 0;
    char **const vectors[] = {argv, envp};
    for (char **vector : vectors) {
        for (char **string = vector; *string; string++) {
            size_t length = strlen(*string);
            if (*string < argv[0] || *string + length > end)
                return false;
            total += length + 1;
        }
    }
    return total == static_cast<size_t>(end - argv[0]) + 1;
}

static char *last_string_end(char **argv, char **envp)
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

char *find_title_end(char **argv, char **envp)
{
    char *end = last_string_end(argv, envp);
    if (!argv[0] || !end || !strings_fill_area(argv, envp, end))
        return nullptr;
    return end;
}

bool init_process_title(char **argv, char **envp)
{
    // Without a copy the title stays unset, and the listing keeps the
    // original arguments.
    if (!copy_environment(envp))
        return false;
    title_argv = argv;
    title_end = find_title_end(argv, envp);
    return title_argv[0] && title_end;
}

void set_process_title(const char *format, ...)
{
    char *area = title_argv[0];
    // Kept on purpose: the room is the area's length less 2, so a title
    // stops three characters short of the NUL at title_end, where the
    // daemon's titles have always been cut.
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
