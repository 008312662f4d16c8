// Kill mode: signal the processes that a pid file lists.
#ifndef KILL_MODE_H
#define KILL_MODE_H

// The daemon writes here unless -p names another file; kill mode reads it
// when no file is named.
#define DEFAULT_PID_PATH "/var/run/tarvold.pid"

// Handles each pid file named after -k (the default one when none is named)
// and ends the process.
[[noreturn]] void run_kill_mode(int argc, char **argv);

#endif
