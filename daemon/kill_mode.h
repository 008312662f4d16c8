// Kill mode: signal the processes that a pid file lists.
#ifndef KILL_MODE_H
#define KILL_MODE_H

// Handles each pid file named after -k (DEFAULT_PID_PATH when none is named)
// and ends the process.
[[noreturn]] void run_kill_mode(int argc, char **argv);

#endif
