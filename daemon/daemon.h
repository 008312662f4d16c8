// State and helpers that every part of the daemon shares.
#ifndef DAEMON_H
#define DAEMON_H

#include <signal.h>

// The log (log.cc).
extern int use_syslog;                       // 1 once daemonised: log_message goes to syslog
// Messages carry no newline of their own: log_message ends each one. In
// syslog mode that newline alone still goes to stderr, an empty line per
// message, as the daemon has always written it.
void log_message(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The stop and restart handler and its flags (daemon_signal.cc).
extern volatile sig_atomic_t restart_requested;
extern volatile sig_atomic_t keep_running;
void handle_daemon_signal(int signal_number);
// Installs handle_daemon_signal for the signal and unblocks it.
void catch_daemon_signal(int signal_number);

#endif
