// Kill mode: signal the processes that a pid file lists.
#ifndef KILL_MODE_H
#define KILL_MODE_H

[[noreturn]] void run_kill_mode(int argc, char **argv);
void kill_from_pid_file(const char *path);
void signal_process(int pid, int signal_number);

#endif
