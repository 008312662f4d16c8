// A reader of the programs' output that goes away: the recorder stops in
// order, the daemon and its virtual boards go on as if nothing happened.
#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"

using harness::json;

namespace {

long long sum_of_results(const std::vector<json> &data_calls)
{
    long long sum = 0;
    for (const json &call : data_calls)
        sum += call["result"].get<long long>();
    return sum;
}

// The output goes into head, which leaves after the first line; the line
// delivers until it is told to stop, so a later line meets the closed pipe.
TEST(BrokenPipe, EndsTheRecordingInOrder)
{
    harness::RunFolder run_dir;
    harness::Process run = harness::run_recorder(
        run_dir, harness::recording_args(run_dir, {"-i", "1"}), nullptr,
        {"bash", "-c", "\"$@\" | head -n 1 >/dev/null; echo \"status=${PIPESTATUS[0]}\" >&2", "bash"});

    EXPECT_EQ(run.err(), "status=0\n");
    std::vector<json> journal = run_dir.journal();
    std::vector<json> data_calls = harness::calls(journal, "ZolSpeechRecordData");
    ASSERT_FALSE(data_calls.empty());
    EXPECT_EQ(data_calls.back()["in"]["record_control"], 65535) << "no stop reached the line";
    EXPECT_EQ(data_calls.back()["result"], 0);
    EXPECT_EQ(static_cast<long long>(harness::read_file(run_dir.recording + ".in").size()),
              sum_of_results(data_calls));
    EXPECT_EQ(harness::calls(journal, "ZolLineAlert").size(), 1u);
    std::vector<json> connects = harness::calls(journal, "ZolCallSWConnect");
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[1]["in"]["connect_flag"], 0);
    EXPECT_EQ(harness::calls(journal, "ZolSessionDetach").size(), 1u);
    EXPECT_FALSE(harness::file_exists(run_dir.recorder_pid_file));
}

// Standard error is a pipe whose reader has gone before the daemon starts,
// so every log line of the daemon and of its board meets a closed pipe.
TEST(BrokenPipe, DaemonAndBoardLogIntoAClosedPipeAndRunOn)
{
    harness::RunFolder run_dir;
    harness::RunOptions options =
        run_dir.options({"-f", FIRMWARE_DIR, "-c", run_dir.config, "-p", run_dir.pid_file, "-v", "stdout"});
    options.env["virtual_modules"] = "65";
    options.wrapper = {"bash", "-c", "exec 2> >(exit 0); wait $!; exec \"$@\"", "bash"};

    harness::Process daemon = harness::start(TARVOLD_BIN, options);
    ASSERT_TRUE(harness::wait_until_daemon_waits(run_dir, daemon.pid)) << daemon.out();
    harness::Process kill_mode = harness::run_kill_mode({run_dir.pid_file});
    EXPECT_EQ(kill_mode.exit_code(), 0) << kill_mode.out();

    ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));
    EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();
    // The board logs its stop before it closes the library.
    EXPECT_TRUE(run_dir.wait_for_calls("keldvb_unload", 1));
}

} // namespace
