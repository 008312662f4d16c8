// One daemon run and one recording under valgrind's memcheck: any invalid
// read or write, use of uninitialised memory or bad free ends the program
// with status 99 and a report on stderr.
#include <signal.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"

namespace {

using harness::json;
using harness::RunFolder;

const std::vector<std::string> memcheck = {"valgrind", "--error-exitcode=99", "--trace-children=no", "-q"};

// Empty when valgrind can run the programs of this build.
std::string reason_to_skip()
{
    if (harness::programs_built_with_sanitizers())
        return "built with the sanitizers, which valgrind cannot run";
    if (system("valgrind --version >/dev/null 2>&1") != 0)
        return "valgrind is not installed";
    if (harness::i386_emulated())
        return std::string("i386 programs run under user-mode emulation here: ") + harness::valgrind_limit;
    return "";
}

TEST(Valgrind, DaemonScanServiceRestartAndStop)
{
    if (std::string reason = reason_to_skip(); !reason.empty())
        GTEST_SKIP() << reason;

    RunFolder run;
    // The default boards: three modules get both images read from the real
    // firmware folder, one already runs.
    harness::RunOptions options =
        run.options({"-f", FIRMWARE_DIR, "-c", run.config, "-p", run.pid_file, "-v", "stdout"});
    options.env["virtual_modules"] = "";
    options.wrapper = memcheck;
    harness::Process daemon = harness::start(TARVOLD_BIN, options);

    // A SIGHUP asks for a restart of its own only once the daemon waits
    // again after the start.
    // Valgrind is slow to start a 32-bit program and slower to run it: every
    // wait has the deadline of a whole run.
    ASSERT_TRUE(harness::wait_until_daemon_waits(run, daemon.pid, 1, harness::run_deadline_ms)) << daemon.err();
    harness::send_signal(daemon, SIGHUP);
    ASSERT_TRUE(harness::wait_until_daemon_waits(run, daemon.pid, 2, harness::run_deadline_ms)) << daemon.err();
    harness::send_signal(daemon, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(daemon, harness::run_deadline_ms));

    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
    EXPECT_EQ(daemon.err().find("=="), std::string::npos) << daemon.err();
    EXPECT_EQ(run.calls("ZolFirmwareDownload").size(), 6u);
    EXPECT_EQ(run.calls("ZolCallCtrlClose").size(), 2u);
    EXPECT_FALSE(harness::file_exists(run.pid_file));
}

TEST(Valgrind, RecordingOfBothDirections)
{
    if (std::string reason = reason_to_skip(); !reason.empty())
        GTEST_SKIP() << reason;

    RunFolder run;
    json description = {{"channels",
                         {{"1", harness::finite_channel(1, 1, 50000, {1024, 300})},
                          {"2", harness::finite_channel(2, 2, 20000, {17, 1024})}}}};
    const std::string base = run.recording;
    harness::RunOptions options =
        harness::recorder_options(run, harness::recording_args(run, {"-t", "1", "-i", "1", "-o", "2"}), description);
    options.wrapper = memcheck;

    harness::Process recorder = harness::run(SULVET_BIN, options, harness::run_deadline_ms);

    EXPECT_EQ(recorder.exit_code(), 0) << recorder.err();
    EXPECT_EQ(recorder.err().find("=="), std::string::npos) << recorder.err();
    EXPECT_EQ(harness::read_file(base + ".in").size(), 50000u);
    EXPECT_EQ(harness::read_file(base + ".out").size(), 20000u);
    EXPECT_NE(recorder.out().find("Channel [02] Disconnected"), std::string::npos) << recorder.out();
}

} // namespace
