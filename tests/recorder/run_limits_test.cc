// What sulvet refuses or reports instead of going wrong quietly: a file-size
// limit, a pid file it cannot write, a user id that is not a number, and a
// recording file that cannot be opened next to one that could.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"
#include "sulvet_run.h"

namespace {

using harness::json;
using harness::Process;
using sulvet_test::finite_channel;
using sulvet_test::stream_bytes;

// Lines 1 and 2 that deliver as fast as they are asked, until told to stop.
json endless_lines()
{
    json endless = {{"sizes", {1024}}, {"total", nullptr}, {"pace", false}};
    json description = {{"channels", {{"1", {{"unit", 1}, {"speech", endless}}},
                                      {"2", {{"unit", 2}, {"speech", endless}}}}}};
    description["channels"]["2"]["speech"]["seed"] = 2;
    return description;
}

// Lines 1 and 2 whose data end by themselves: 3000 and 2000 bytes.
json finite_lines()
{
    return {{"channels", {{"1", finite_channel(1, 1, 3000)}, {"2", finite_channel(2, 2, 2000)}}}};
}

// The limit is no multiple of the buffers, so the write that reaches it is
// cut short first; the next one fails. The journal, which the stand-in
// writes in the same process, stays well below the limit.
TEST(FileSizeLimit, AWritePastTheLimitIsReportedAndTheRunEndsInOrder)
{
    sulvet_test::SulvetRun run;
    const int limit = 100000;
    Process sulvet = run.run(endless_lines(), {"-t", "1", "-i", "1", "-o", "2"},
                             {"prlimit", "--fsize=" + std::to_string(limit)});

    ASSERT_TRUE(sulvet.reaped);
    EXPECT_EQ(sulvet.term_signal(), 0) << "ended by a signal";
    EXPECT_EQ(sulvet.exit_code(), 1) << sulvet.out();
    EXPECT_NE(sulvet.out().find("Can't write recording file " + run.base() + ".in: File too large\n"),
              std::string::npos)
        << sulvet.out();
    EXPECT_EQ(harness::read_file(run.base() + ".in"), stream_bytes(1, 0, limit));
    EXPECT_NE(sulvet.out().find("Channel [01] Disconnected\nChannel [02] Disconnected\n"), std::string::npos);
    EXPECT_FALSE(harness::file_exists(run.pid_path()));
    std::vector<json> journal = run.journal();
    EXPECT_EQ(harness::calls(journal, "ZolLineAlert").size(), 2u);
    EXPECT_EQ(harness::calls(journal, "ZolSessionDetach").size(), 2u);
}

enum class PidTarget { writable, missing_folder, full_device };

struct PidFileCase {
    const char *name;
    PidTarget target;
    const char *error_text; // null: the pid file can be written
};

// The recording runs whatever becomes of the pid file; only the message and
// the exit status tell.
TEST(PidFile, APidFileThatCannotBeWrittenIsReportedAndTheRecordingRuns)
{
    const PidFileCase cases[] = {
        {"a pid file that can be written", PidTarget::writable, nullptr},
        {"a folder that does not exist", PidTarget::missing_folder, "No such file or directory"},
        {"a full device", PidTarget::full_device, "No space left on device"},
    };
    for (const PidFileCase &c : cases) {
        SCOPED_TRACE(c.name);
        sulvet_test::SulvetRun run;
        if (c.target == PidTarget::missing_folder)
            run.recorder_pid_file = run.dir.file("missing/sulvet.pid");
        // The removal at the end takes the link, not the device.
        if (c.target == PidTarget::full_device) {
            ASSERT_EQ(symlink("/dev/full", run.recorder_pid_file.c_str()), 0);
        }

        Process sulvet = run.run(finite_lines(), {"-t", "1", "-i", "1", "-o", "2"});

        std::string writing = "Writing PID to " + run.pid_path() + "\n";
        std::string report = c.error_text ? "Can't write PID file " + run.pid_path() + ": " + c.error_text + "\n" : "";
        EXPECT_NE(sulvet.out().find(writing + report + "PRESS  ^C  TO STOP RECORDING!!!\n"), std::string::npos)
            << sulvet.out();
        EXPECT_EQ(sulvet.exit_code(), c.error_text ? 1 : 0) << sulvet.out();
        EXPECT_EQ(harness::read_file(run.base() + ".in"), stream_bytes(1, 0, 3000));
        EXPECT_EQ(harness::read_file(run.base() + ".out"), stream_bytes(2, 0, 2000));
    }
}

// A file-size limit of one byte cuts the pid file inside the pid: the loss
// is reported and nothing of the pid stays, while the recording goes on.
// NAME.in is /dev/null, which no limit reaches, so the limit meets the pid
// file alone; the file is read while the recording runs, before its removal.
TEST(PidFile, APidCutByTheFileSizeLimitLeavesTheFileEmpty)
{
    SKIP_UNDER_EMULATION_WITH_SANITIZERS(harness::tiny_file_size_limit);
    sulvet_test::SulvetRun run;
    ASSERT_EQ(symlink("/dev/null", (run.base() + ".in").c_str()), 0);
    json paced_line = {{"channels", {{"1", {{"unit", 1}, {"speech", {{"total", nullptr}, {"pace", true}}}}}}}};
    harness::RunOptions options = run.sulvet_options(paced_line, {"-t", "1", "-i", "1"});
    harness::limit_own_files(options, run, 1);

    Process sulvet = harness::start(SULVET_BIN, options);
    ASSERT_TRUE(harness::wait_for_stdout(sulvet, "Read in: ", harness::deadline_ms)) << sulvet.out();
    EXPECT_NE(sulvet.out().find("Writing PID to " + run.pid_path() + "\nCan't write PID file " + run.pid_path() +
                                ": File too large\n"),
              std::string::npos)
        << sulvet.out();
    EXPECT_TRUE(harness::file_exists(run.pid_path()));
    EXPECT_EQ(harness::read_file(run.pid_path()), "");

    harness::send_signal(sulvet, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(sulvet, harness::deadline_ms));
    EXPECT_EQ(sulvet.exit_code(), 1) << "signal " << sulvet.term_signal();
    EXPECT_FALSE(harness::file_exists(run.pid_path()));
}

const char user_id_range[] = ": not a decimal number from -2147483648 to 2147483647\n";

// Refused before anything is set up: no board call, no pid file, no recording.
TEST(UserId, AUserIdThatIsNotWhollyANumberInRangeIsRefused)
{
    for (const char *user_id : {"nobody", "1000x", "4294967296", "2147483648", "-2147483649", "", " 7", "7 ", "-"}) {
        SCOPED_TRACE(std::string("-u '") + user_id + "'");
        sulvet_test::SulvetRun run;
        Process sulvet = run.run(finite_lines(), {"-u", user_id, "-i", "1"});

        EXPECT_EQ(sulvet.out(), std::string("Invalid UID ") + user_id + user_id_range);
        EXPECT_EQ(sulvet.exit_code(), 255);
        EXPECT_TRUE(run.journal().empty()) << "a board call was made";
        EXPECT_FALSE(harness::file_exists(run.pid_path()));
        EXPECT_FALSE(harness::file_exists(run.base() + ".in"));
    }
}

// The check follows the options at once: it comes before the base name is
// looked for, and a later -u replaces an earlier one before it is checked.
TEST(UserId, TheUserIdIsCheckedOnceTheOptionsAreRead)
{
    harness::RunFolder run;
    Process no_name = harness::run(SULVET_BIN, run.options({"-u", "nobody"}));
    EXPECT_EQ(no_name.out(), std::string("Invalid UID nobody") + user_id_range);
    EXPECT_EQ(no_name.exit_code(), 255);

    Process long_name = harness::run(SULVET_BIN, run.options({"-u", "nobody", std::string(2000, 'r')}));
    EXPECT_EQ(long_name.out(), std::string("Invalid UID nobody") + user_id_range);

    Process replaced = harness::run(SULVET_BIN, run.options({"-u", "nobody", "-u", "0"}));
    EXPECT_EQ(replaced.out(), "No filename specified\n");

    Process unknown = harness::run(SULVET_BIN, run.options({"-u", "nobody", "-x", "rec"}));
    EXPECT_EQ(unknown.exit_code(), 0);
    EXPECT_EQ(unknown.out(), SULVET_BIN + std::string(": unknown\n"));
}

// 0 still means no switch, and the extremes of the range and a negative
// number are passed on as the unsigned id.
TEST(UserId, NumbersInRangeAreTakenAsBefore)
{
    struct {
        const char *user_id;
        const char *setting_line; // null: no switch
    } cases[] = {{"0", nullptr}, {"-0", nullptr}, {"-5", "Setting to UID 4294967291\n"},
                 {"2147483647", "Setting to UID 2147483647\n"}, {"-2147483648", "Setting to UID 2147483648\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("-u ") + c.user_id);
        sulvet_test::SulvetRun run;
        Process sulvet = run.run(finite_lines(), {"-u", c.user_id, "-i", "1"});

        EXPECT_EQ(sulvet.out().find("Invalid UID"), std::string::npos) << sulvet.out();
        // A switch to a user that may not write the run folder ends before the prompt.
        std::string after_pid_line =
            "Writing PID to " + run.pid_path() + "\n" + (c.setting_line ? c.setting_line : "PRESS");
        EXPECT_NE(sulvet.out().find(after_pid_line), std::string::npos) << sulvet.out();
        if (!c.setting_line) {
            EXPECT_EQ(sulvet.exit_code(), 0) << sulvet.out();
        }
    }
}

struct KeptFileCase {
    const char *name;
    const char *directory_ending; // the recording file that is a folder
    const char *kept_ending;      // the one that must keep what it held
};

// A recording file that cannot be opened ends the run before any data; the
// other file, already opened, must not have been emptied.
TEST(RecordingFiles, NoFileIsEmptiedUnlessEveryFileOpens)
{
    const KeptFileCase cases[] = {
        {"the outbound file is a folder", ".out", ".in"},
        {"the inbound file is a folder", ".in", ".out"},
    };
    for (const KeptFileCase &c : cases) {
        SCOPED_TRACE(c.name);
        sulvet_test::SulvetRun run;
        ASSERT_EQ(mkdir((run.base() + c.directory_ending).c_str(), 0755), 0);
        harness::write_file(run.base() + c.kept_ending, "an earlier recording");

        Process sulvet = run.run(finite_lines(), {"-t", "1", "-i", "1", "-o", "2"});

        EXPECT_NE(sulvet.out().find("Can't open recording file " + run.base() + c.directory_ending +
                                    ": Is a directory\n"),
                  std::string::npos)
            << sulvet.out();
        EXPECT_EQ(sulvet.exit_code(), 1);
        EXPECT_EQ(harness::read_file(run.base() + c.kept_ending), "an earlier recording");
        EXPECT_TRUE(run.calls("ZolSpeechRecordData").empty());
    }
}

// Once both are open, a regular file is emptied before the recording goes
// in, so a longer earlier recording leaves nothing behind; a device is
// written as it is.
TEST(RecordingFiles, OpenedFilesAreEmptiedBeforeTheRecording)
{
    sulvet_test::SulvetRun run;
    harness::write_file(run.base() + ".in", std::string(5000, 'x'));
    ASSERT_EQ(symlink("/dev/null", (run.base() + ".out").c_str()), 0);

    Process sulvet = run.run(finite_lines(), {"-t", "1", "-i", "1", "-o", "2"});

    EXPECT_EQ(sulvet.exit_code(), 0) << sulvet.out();
    EXPECT_EQ(harness::read_file(run.base() + ".in"), stream_bytes(1, 0, 3000));
    EXPECT_EQ(sulvet.out().find("Can't"), std::string::npos) << sulvet.out();
}

} // namespace
