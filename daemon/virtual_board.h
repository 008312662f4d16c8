// Virtual-board child processes.
#ifndef VIRTUAL_BOARD_H
#define VIRTUAL_BOARD_H

// Starts one child per module listed in virtual_modules and writes their pid
// lines; returns in the daemon, never in a child.
void start_virtual_boards(const char *firmware_dir, const char *pid_path, char **argv, char **envp);

// The body of a child. A null library_path stands for a path that did not fit
// its buffer: nothing is loaded then.
[[noreturn]] void run_virtual_board(const char *library_path, int module_number, int start_setting);

#endif
