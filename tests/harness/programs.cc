#include "programs.h"

#include <gtest/gtest.h>

namespace harness {

bool wait_until_daemon_waits(const RunFolder &run, pid_t daemon, size_t starts, int timeout_ms)
{
    return run.wait_for_calls("ZolCallCtrlInit", starts, timeout_ms) &&
           wait_until_blocked(daemon, BlockedIn::signal_wait, timeout_ms);
}

Process run_kill_mode(const std::vector<std::string> &pid_files, RunOptions options)
{
    options.args = {"-k"};
    options.args.insert(options.args.end(), pid_files.begin(), pid_files.end());
    return run(TARVOLD_BIN, options);
}

std::vector<std::string> recording_args(const RunFolder &run, const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"-p", run.recorder_pid_file};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(run.recording);
    return all;
}

RunOptions recorder_options(const RunFolder &run, const std::vector<std::string> &args, const json &description)
{
    RunOptions options = run.options(args, description);
    options.cwd = run.dir.path;
    run.clear_journal();
    return options;
}

Process run_recorder(const RunFolder &run, const std::vector<std::string> &args, const json &description,
                     const std::vector<std::string> &wrapper)
{
    RunOptions options = recorder_options(run, args, description);
    options.wrapper = wrapper;
    Process process = harness::run(SULVET_BIN, options);
    EXPECT_TRUE(process.reaped) << "sulvet did not end";
    return process;
}

} // namespace harness
