// Kill mode: signal the processes that a pid file lists.
#ifndef KILL_MODE_H
#define KILL_MODE_H

// The daemon writes here unless -p names another file; kill mode reads it
// when no file is named.
#define DEFAULT_PID_PATH "/var/run/tarvold.pid"

[[noreturn]] void run_kill_mode(int argc, char **argv);
void kill_from_pid_file(const char *path);
void signal_process(int pid, int signal_number);

#endif
