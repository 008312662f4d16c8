// Target processes for kill mode: children of the test that only a signal
// ends, and a pid that names no process.
#ifndef KILL_MODE_TARGETS_H
#define KILL_MODE_TARGETS_H

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "harness.h"

namespace kill_mode_targets {

// A child of the test that does nothing until a signal ends it.
inline pid_t start_target()
{
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (;;)
            pause();
    }
    return pid;
}

// What a target shows when nothing signalled it (see target_end_signal).
constexpr int not_signalled = SIGPROF;

// Once a run that may have signalled the target has ended: the signal that
// ended the target, or not_signalled. The target is ended here with SIGPROF,
// which a signal sent before it always beats: the kernel delivers a pending
// lower-numbered signal first and ends a process on the first fatal one, and
// a user-mode emulator hands its pending signals on in the same order. 0 when
// the target did not end.
inline int target_end_signal(pid_t pid)
{
    kill(pid, not_signalled);
    int status = harness::wait_child_status(pid, harness::deadline_ms);
    if (status == -1)
        return 0;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

// A pid that names no process: a child that has ended and been reaped.
inline pid_t gone_pid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace kill_mode_targets

#endif
