// Both programs started with standard descriptors closed. A file that either
// program opens must never take the place of a closed one: every line meant
// for the terminal would then be written into the pid file or the recording.
#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"

using harness::json;

namespace {

// How the program is started: the shell closes these descriptors and execs it.
const char *const closings[] = {">&-", "2>&-", "<&- >&- 2>&-"};

void close_descriptors(harness::RunOptions &options, const char *closing)
{
    options.wrapper = {"sh", "-c", std::string("exec \"$@\" ") + closing, "sh"};
}

// The recording holds exactly what the line delivered, nothing of the
// recorder's own output.
TEST(ClosedStandardDescriptors, RecordingHoldsTheLineDataAlone)
{
    json description = {{"channels", {{"1", harness::finite_channel(1, 1, 5000)}}}};
    for (const char *closing : closings) {
        SCOPED_TRACE(closing);
        harness::RunFolder run_dir;
        harness::RunOptions options =
            harness::recorder_options(run_dir, harness::recording_args(run_dir, {"-i", "1"}), description);
        close_descriptors(options, closing);

        harness::Process sulvet = harness::run(SULVET_BIN, options);

        EXPECT_EQ(sulvet.exit_code(), 0) << sulvet.err();
        std::string recording = harness::read_file(run_dir.recording + ".in");
        EXPECT_EQ(recording.size(), 5000u);
        EXPECT_TRUE(recording == harness::stream_bytes(1, 0, 5000)) << "the recording holds other bytes than the line's";
        EXPECT_FALSE(harness::file_exists(run_dir.recorder_pid_file));
    }
}

// The pid file holds the board's line alone, so kill mode can still end the
// board from it.
TEST(ClosedStandardDescriptors, PidFileHoldsTheBoardLineAlone)
{
    for (const char *closing : closings) {
        SCOPED_TRACE(closing);
        harness::RunFolder run_dir;
        harness::RunOptions options = run_dir.options({"-f", FIRMWARE_DIR, "-p", run_dir.pid_file});
        options.env["virtual_modules"] = "65";
        close_descriptors(options, closing);

        harness::Process daemon = harness::run(TARVOLD_BIN, options);
        EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
        ASSERT_TRUE(run_dir.wait_for_calls("VirtBoardStart", 1));
        pid_t board = run_dir.calls("VirtBoardStart")[0]["pid"].get<pid_t>();
        std::string board_line = "Virtual Board 0x41: " + std::to_string(board) + "\n";
        EXPECT_EQ(harness::read_file(run_dir.pid_file), board_line);

        harness::Process kill_mode = harness::run_kill_mode({run_dir.pid_file});
        EXPECT_EQ(kill_mode.exit_code(), 254);
        EXPECT_EQ(kill_mode.out(), "Killing " + board_line + "Error: Invalid " + run_dir.pid_file + " file");
        if (kill_mode.exit_code() != 254)
            kill(board, SIGTERM); // the board would run on after the test
        EXPECT_TRUE(run_dir.wait_for_calls("VirtBoardStop", 1));
    }
}

} // namespace
