// Helpers shared by the daemon spine tests: stand-in target processes for
// kill mode, and the daemon started against the stand-in with a service
// configuration in a temporary folder.
#ifndef SPINE_SUPPORT_H
#define SPINE_SUPPORT_H

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "harness.h"

namespace spine {

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

// The signal that ended the target, 0 when it is still running after the wait.
inline int target_end_signal(pid_t pid, int timeout_ms)
{
    for (int waited = 0;; waited += 10) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        if (waited >= timeout_ms)
            return 0;
        usleep(10 * 1000);
    }
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

// Runs kill mode with the given arguments after "-k".
inline harness::Process run_kill_mode(const std::vector<std::string> &files,
                                      harness::RunOptions options = {})
{
    options.args = {"-k"};
    options.args.insert(options.args.end(), files.begin(), files.end());
    return harness::run(TARVOLD_BIN, options, 10000);
}

// A temporary folder with a configuration file the stand-in accepts, a pid
// file path and the stand-in's journal.
struct ServiceDir {
    harness::TempDir dir;
    std::string config = dir.file("tarvol.cfg");
    std::string pid_file = dir.file("tarvold.pid");
    std::string journal = dir.file("journal.jsonl");

    ServiceDir() { harness::write_file(config, "configuration\n"); }

    harness::RunOptions options(const std::vector<std::string> &args,
                                const harness::json &description = nullptr) const
    {
        harness::RunOptions run_options = harness::sim_options(dir, description);
        run_options.args = args;
        return run_options;
    }

    std::vector<harness::json> calls(const std::string &function) const
    {
        return harness::calls(harness::read_journal(journal), function);
    }

    bool wait_for_calls(const std::string &function, size_t count, int timeout_ms) const
    {
        return harness::wait_for_calls(journal, function, count, timeout_ms);
    }
};

} // namespace spine

#endif
