// Rewriting the process title over the argument and environment strings.
#ifndef PROCESS_TITLE_H
#define PROCESS_TITLE_H

extern char **title_argv;
extern char *title_end;

// The terminating NUL of the last environment string; with no environment,
// that of the argument string that lies last in memory. Null unless the
// strings lie back to back from the first argument up to there, as exec
// lays them out: only then is the whole stretch the title's to write.
char *find_title_end(char **argv, char **envp);

// Copies the environment out of the title area and marks the area, given the
// vectors that main received. False when no title may be written: there is
// no area (see find_title_end), or the environment could not be copied out
// of it.
bool init_process_title(char **argv, char **envp);

// Needs init_process_title (or title_argv and title_end set by hand).
void set_process_title(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
