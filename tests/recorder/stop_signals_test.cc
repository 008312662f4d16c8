// The signals that ask a running sulvet to stop: a hang-up, and stop signals
// that the parent left blocked or ignored across exec. An orderly stop ends
// the recording through the record, drains both lines, breaks both switch
// connections, detaches both lines and removes the pid file.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using harness::json;
using harness::Process;
using harness::calls_on;

const char blocks_stop_signals[] =
    "signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGPIPE})";
const char ignores_hangup[] = "signal.signal(signal.SIGHUP, signal.SIG_IGN)";

const char prompt[] = "PRESS  ^C  TO STOP RECORDING!!!\n";

harness::RunOptions recording_both_lines(const harness::RunFolder &run)
{
    return harness::recorder_options(run, harness::recording_args(run, {"-t", "1", "-i", "1", "-o", "2"}));
}

// Both lines of the stand-in's default board deliver until told to stop.
void expect_stopped_in_order(const harness::RunFolder &run, const Process &sulvet)
{
    EXPECT_EQ(sulvet.term_signal(), 0) << "ended by a signal";
    EXPECT_EQ(sulvet.exit_code(), 0) << sulvet.out();
    std::vector<json> journal = run.journal();
    for (const char *line : {"channel:1", "channel:2"}) {
        SCOPED_TRACE(line);
        std::vector<json> data_calls = calls_on(journal, "ZolSpeechRecordData", line);
        ASSERT_FALSE(data_calls.empty());
        EXPECT_EQ(data_calls.back()["in"]["record_control"], 65535) << "no stop reached the line";
        EXPECT_EQ(data_calls.back()["result"], 0);
        EXPECT_FALSE(calls_on(journal, "ZolRcvProcessPkt", line).empty()) << "not drained";
        std::vector<json> connects = calls_on(journal, "ZolCallSWConnect", line);
        ASSERT_EQ(connects.size(), 2u);
        EXPECT_EQ(connects[1]["in"]["connect_flag"], 0) << "connection not broken";
        EXPECT_EQ(calls_on(journal, "ZolSessionDetach", line).size(), 1u);
    }
    EXPECT_EQ(harness::calls(journal, "ZolLineAlert").size(), 2u);
    EXPECT_FALSE(harness::file_exists(run.recorder_pid_file));
}

struct StopCase {
    const char *name;
    const char *parent_setup; // null: started as it is
    int signal_number;
};

// Each signal is sent once the recording runs: every handler is in place by
// the prompt. The cases run side by side, so that a stop that never comes
// costs one deadline, not one per case.
TEST(StopSignals, EachStopSignalEndsARunningRecordingInOrder)
{
    const StopCase cases[] = {
        {"a hang-up", nullptr, SIGHUP},
        {"SIGTERM left blocked by the parent", blocks_stop_signals, SIGTERM},
        {"SIGINT left blocked by the parent", blocks_stop_signals, SIGINT},
        {"SIGHUP left blocked by the parent", blocks_stop_signals, SIGHUP},
        {"SIGPIPE left blocked by the parent", blocks_stop_signals, SIGPIPE},
    };
    const size_t count = std::size(cases);
    std::vector<std::unique_ptr<harness::RunFolder>> runs;
    std::vector<Process> recorders;
    for (const StopCase &c : cases) {
        runs.push_back(std::make_unique<harness::RunFolder>());
        harness::RunOptions options = recording_both_lines(*runs.back());
        if (c.parent_setup != nullptr)
            options.wrapper = harness::python_parent(c.parent_setup);
        recorders.push_back(harness::start(SULVET_BIN, options));
    }
    for (size_t i = 0; i < count; i++) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_TRUE(harness::wait_for_stdout(recorders[i], prompt, harness::deadline_ms)) << recorders[i].out();
        harness::send_signal(recorders[i], cases[i].signal_number);
    }
    long long deadline = harness::now_ms() + harness::deadline_ms;
    for (size_t i = 0; i < count; i++) {
        SCOPED_TRACE(cases[i].name);
        int left_ms = static_cast<int>(std::max(0LL, deadline - harness::now_ms()));
        if (!harness::wait_exit(recorders[i], left_ms)) {
            ADD_FAILURE() << "the signal did not stop the recording";
            continue;
        }
        expect_stopped_in_order(*runs[i], recorders[i]);
    }
}

// A hang-up asks for the stop even before the stop handler for SIGTERM and
// SIGINT is installed: here it comes while sulvet waits to write its pid
// file, a FIFO, which the test then opens so that the run can go on.
TEST(StopSignals, AHangUpDuringTheSetUpStopsTheRecordingBeforeItsFirstData)
{
    harness::RunFolder run;
    ASSERT_EQ(mkfifo(run.recorder_pid_file.c_str(), 0644), 0);
    Process sulvet = harness::start(SULVET_BIN, recording_both_lines(run));
    ASSERT_TRUE(harness::wait_for_stdout(sulvet, "Writing PID to " + run.recorder_pid_file + "\n",
                                         harness::deadline_ms))
        << sulvet.out();
    ASSERT_TRUE(harness::wait_until_blocked(sulvet.pid, harness::BlockedIn::open, harness::deadline_ms));

    harness::send_signal(sulvet, SIGHUP);
    // Not blocking: a sulvet that the hang-up has killed never opens its end.
    int reader = open(run.recorder_pid_file.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0) << strerror(errno);
    ASSERT_TRUE(harness::wait_exit(sulvet, harness::deadline_ms)) << sulvet.out();
    close(reader);

    expect_stopped_in_order(run, sulvet);
    for (const json &call : run.calls("ZolSpeechRecordData"))
        EXPECT_EQ(call["in"]["record_control"], 65535) << call.dump();
}

// Under nohup the recording outlives the terminal: the hang-up stays ignored,
// and the recording goes on with its lines delivering, until a SIGTERM.
TEST(StopSignals, AHangUpIgnoredAtTheStartStaysIgnored)
{
    harness::RunFolder run;
    harness::RunOptions options = recording_both_lines(run);
    options.wrapper = harness::python_parent(ignores_hangup);
    Process sulvet = harness::start(SULVET_BIN, options);
    ASSERT_TRUE(harness::wait_for_stdout(sulvet, prompt, harness::deadline_ms)) << sulvet.out();

    harness::send_signal(sulvet, SIGHUP);
    // A stop would reach the lines at the next pass; sixteen more calls (a
    // second of paced data on each line) show that none did.
    size_t calls_at_hangup = run.calls("ZolSpeechRecordData").size();
    ASSERT_TRUE(run.wait_for_calls("ZolSpeechRecordData", calls_at_hangup + 16)) << sulvet.out();
    ASSERT_FALSE(harness::wait_exit(sulvet, 0)) << "ended by the hang-up: " << sulvet.wait_status;
    for (const json &call : run.calls("ZolSpeechRecordData"))
        EXPECT_EQ(call["in"]["record_control"], 1) << call.dump();

    harness::send_signal(sulvet, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(sulvet, harness::deadline_ms));
    expect_stopped_in_order(run, sulvet);
}

} // namespace
