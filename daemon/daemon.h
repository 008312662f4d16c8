// State and helpers that every part of the daemon shares.
#ifndef DAEMON_H
#define DAEMON_H

#include <signal.h>

extern int firmware_option;                  // -n, passed with each PPC image download
extern int use_syslog;                       // 1 once daemonised: log_message goes to syslog
extern volatile sig_atomic_t restart_requested;
extern volatile sig_atomic_t keep_running;

void log_message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void handle_daemon_signal(int signal_number);

#endif
