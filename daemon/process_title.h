// Rewriting the process title over the argument and environment strings.
#ifndef PROCESS_TITLE_H
#define PROCESS_TITLE_H

extern char **title_argv;
extern char *title_end;

void set_process_title(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
