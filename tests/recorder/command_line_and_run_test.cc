// sulvet's command line and its run from the set-up to the teardown,
// against the stand-in: the version words, the options, the run's order, its
// stop, the pid file, the user switch and the exit status. (The module
// report and the channel set-up are in channel_test.cc.)
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sulvet_run.h"

namespace {

using namespace sulvet_test;
using harness::RunOptions;

const std::string program = SULVET_BIN;

// ---------------------------------------------------------------- version words

TEST_F(RecorderSpine, VersionWordsAreSetBeforeTheFirstBoardCall)
{
    struct Case {
        std::vector<std::string> args;
        std::string first_call;
    };
    const Case cases[] = {
        {{"-p", "PID", "rec"}, "ZolModuleInfo"},
        {{"-v", "-p", "PID", "rec"}, "ZolDebugModeSet"},   // -v calls the library while the options are read
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string &arg : args)
            if (arg == "PID")
                arg = pid_path();
        Process process = run_sulvet(args);
        ASSERT_EQ(process.exit_code(), 0) << process.out();
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.front()["fn"], c.first_call);
        EXPECT_EQ(journal.front()["versions"], json({2706100, 506100, 90}));
    }
}

// ---------------------------------------------------------------- options

TEST_F(RecorderSpine, RejectedOptionPrintsUnknownAndEndsWithZero)
{
    struct Case {
        std::vector<std::string> args;
        int debug_calls;        // ZolDebugModeSet calls made before the rejected option
        bool getopt_message;    // getopt's own diagnostic on stderr
    };
    const Case cases[] = {
        {{"-x", "rec"}, 0, true},                         // a letter the option string lacks
        {{"-?", "rec"}, 0, false},                        // in the option string: no diagnostic
        {{"-i"}, 0, true},                                // missing argument
        {{"-v", "-x", "rec"}, 1, true},                   // -v already took effect
        {{"-v", "-v", "-?", "-v", "rec"}, 2, false},      // nothing after the rejected one is read
        {{"-m", "5", "-i", "1", "-x", "-o", "2", "rec"}, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Process process = run_sulvet(c.args);
        EXPECT_EQ(process.exit_code(), 0);
        EXPECT_EQ(process.out(), program + ": unknown\n");
        EXPECT_EQ(process.err().empty(), !c.getopt_message) << process.err();
        // Nothing is set up: the only board calls are those of -v.
        EXPECT_EQ(journal.size(), static_cast<size_t>(c.debug_calls));
        auto debug = harness::calls(journal, "ZolDebugModeSet");
        EXPECT_EQ(debug.size(), static_cast<size_t>(c.debug_calls));
        for (const json &call : debug)
            EXPECT_EQ(call["in"]["mode"], -1);
        EXPECT_FALSE(file_exists(pid_path()));
    }
}

TEST_F(RecorderSpine, MissingBaseNameEndsWith255BeforeAnyBoardCall)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-m", "5", "-i", "1", "-p", pid_path()},
    };
    for (const std::vector<std::string> &args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Process process = run_sulvet(args);
        EXPECT_EQ(process.exit_code(), 255);
        EXPECT_EQ(process.out(), "No filename specified\n");
        EXPECT_TRUE(journal.empty());
        EXPECT_FALSE(file_exists(pid_path()));
    }
}

TEST_F(RecorderSpine, NumbersAreReadWithoutChecks)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<int> attached;   // channel numbers handed to ZolLineAttach, in order
        int module_number;           // asked of ZolModuleInfo
    };
    const Case cases[] = {
        {{}, {}, -1},
        {{"-i", "-1", "-o", "-1"}, {}, -1},             // -1 is no channel
        {{"-i", "0"}, {0}, -1},
        {{"-o", "-3"}, {-3}, -1},                       // any other negative value is a channel
        {{"-i", "abc", "-m", "zz"}, {0}, 0},            // no digits: 0
        {{"-i", "12xyz", "-m", " +7"}, {12}, 7},        // white space and sign taken, trailing text ignored
        {{"-i", "1", "-i", "2", "-m", "3", "-m", "4"}, {2}, 4},   // the last one counts
        {{"-o", "2", "-i", "1"}, {1, 2}, -1},           // inbound first, whatever the order given
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-p", pid_path(), "rec"});
        Process process = run_sulvet(args, {{"channels", {{"1", finite_line(1)}, {"2", finite_line(2)}}}});
        ASSERT_TRUE(process.reaped);
        EXPECT_EQ(attached_channels(journal), c.attached);
        auto info = harness::calls(journal, "ZolModuleInfo");
        ASSERT_EQ(info.size(), 1u);
        EXPECT_EQ(info[0]["in"]["module_number"], c.module_number);
    }
}

TEST_F(RecorderSpine, RepeatedTextOptionsKeepTheLastCopy)
{
    Process process = run_sulvet({"-f", "first", "-p", dir.file("ignored.pid"), "-f", "second",
                                  "-p", pid_path(), "-u", "0", "-i", "1", "rec"},
                                 {{"channels", {{"1", finite_line(1)}}}});
    EXPECT_EQ(process.exit_code(), 0) << process.out();
    auto resets = harness::calls(journal, "ZolLineReset");
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0]["in"]["reset_text"], "second");
    EXPECT_NE(process.out().find("Writing PID to " + pid_path() + "\n"), std::string::npos);
    EXPECT_FALSE(file_exists(dir.file("ignored.pid")));
}

TEST_F(RecorderSpine, SecondBaseNameIsIgnored)
{
    Process process = run_sulvet({"-p", pid_path(), "-i", "1", "-o", "2", "-t", "1", "first", "second"},
                                 {{"channels", {{"1", finite_line(1)}, {"2", finite_line(2)}}}});
    EXPECT_EQ(process.exit_code(), 0) << process.out();
    EXPECT_TRUE(file_exists(dir.file("first.in")));
    EXPECT_TRUE(file_exists(dir.file("first.out")));
    EXPECT_FALSE(file_exists(dir.file("second.in")));
    EXPECT_FALSE(file_exists(dir.file("second.out")));
}

// A name the recording buffer would cut is refused: the cut ".in" and ".out"
// names could even be the same file.
TEST_F(RecorderSpine, BaseNameTooLongForTheRecordingFilesIsRefused)
{
    const std::string longest(1019, 'n');   // longest + ".out" is 1023 characters
    {
        Process process = run_sulvet({"-p", pid_path(), "-i", "1", longest + "x"},
                                     {{"channels", {{"1", finite_line(1)}}}});
        EXPECT_EQ(process.exit_code(), 255);
        EXPECT_NE(process.out(), "");
        EXPECT_EQ(process.out().find("Writing PID"), std::string::npos);
        EXPECT_TRUE(journal.empty());
        EXPECT_FALSE(file_exists(pid_path()));
    }
    {
        Process process = run_sulvet({"-p", pid_path(), longest});
        EXPECT_EQ(process.exit_code(), 0) << process.out();
        EXPECT_EQ(harness::calls(journal, "ZolModuleInfo").size(), 1u);
        EXPECT_NE(process.out().find("Writing PID to"), std::string::npos);
    }
}

// ---------------------------------------------------------------- run sequence

TEST_F(RecorderSpine, FullRunOrderAndTeardown)
{
    json channels = {{"1", finite_line(1)}, {"2", finite_line(2)}};
    Process process = run_sulvet({"-m", "5", "-i", "1", "-o", "2", "-t", "1", "-p", pid_path(), "rec"},
                                 {{"channels", channels}});
    EXPECT_EQ(process.exit_code(), 0) << process.out();
    const std::string out = process.out();

    // main's lines among those of the operations it calls, in the run's order
    const std::vector<std::string> in_order = {
        "Module 05: 24 CHANNELS (starting at 2)\n", "Channel [01] initialized\n",
        "Channel [02] initialized\n", "Writing PID to " + pid_path() + "\n",
        "PRESS  ^C  TO STOP RECORDING!!!\n", "Channel [01] Disconnected\n", "Channel [02] Disconnected\n"};
    size_t at = 0;
    for (const std::string &text : in_order) {
        size_t found = out.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << text << "\n" << out;
        at = found + text.size();
    }
    EXPECT_EQ(out.find("Setting to UID"), std::string::npos);

    // The inbound channel is attached, reset and connected before the outbound one is attached.
    std::vector<std::string> setup;
    for (const json &call : journal) {
        std::string fn = call["fn"];
        if (fn == "ZolLineAttach")
            setup.push_back("attach " + std::to_string(call["in"]["channel_number"].get<int>()));
        else if (fn == "ZolLineReset" || fn == "ZolCallSWConnect")
            setup.push_back(fn + " " + handle_of(call));
        if (fn == "ZolSpeechRecordData")
            break;
    }
    EXPECT_EQ(setup, (std::vector<std::string>{"attach 1", "ZolLineReset channel:1", "ZolCallSWConnect channel:1",
                                               "attach 2", "ZolLineReset channel:2", "ZolCallSWConnect channel:2"}));
    EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), (std::vector<std::string>{"channel:1", "channel:2"}));
    EXPECT_FALSE(file_exists(pid_path()));
}

// A stop before the handler is installed ends the process at once; after it, the
// recording ends orderly. Both signals get the handler.
TEST_F(RecorderSpine, StopSignalEndsTheRecordingOrderly)
{
    for (int signal_number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        json paced_line = {{"attach", true}, {"unit", 1}, {"packets", 1},
                           {"speech", {{"sizes", {256}}, {"pace", true}}}};
        RunOptions options = harness::recorder_options(folder, {"-i", "1", "-p", pid_path(), "rec"},
                                                       {{"channels", {{"1", paced_line}}}});
        Process process = harness::start(program, options);
        // The handler is in before the first pass.
        ASSERT_TRUE(harness::wait_for_stdout(process, "Read in:", harness::deadline_ms)) << process.out();

        // The pid file holds the recorder's pid while it records.
        EXPECT_EQ(harness::read_file(pid_path()), std::to_string(process.pid) + "\n");
        harness::send_signal(process, signal_number);
        ASSERT_TRUE(harness::wait_exit(process, harness::deadline_ms));
        EXPECT_EQ(process.exit_code(), 0) << process.out();
        EXPECT_NE(process.out().find("Channel [01] Disconnected\n"), std::string::npos);
        EXPECT_FALSE(file_exists(pid_path()));
        read_journal();
        EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:1"});
    }
}

// ---------------------------------------------------------------- pid file

TEST_F(RecorderSpine, PidFileThatCannotBeCreatedLeavesTheRunGoing)
{
    const std::string unreachable = dir.file("no-such-folder/sulvet.pid");
    Process process = run_sulvet({"-i", "1", "-p", unreachable, "rec"}, {{"channels", {{"1", finite_line(1)}}}});
    EXPECT_EQ(process.exit_code(), 1) << process.out();
    EXPECT_NE(process.out().find("Writing PID to " + unreachable + "\n"), std::string::npos);
    EXPECT_FALSE(file_exists(unreachable));
    EXPECT_TRUE(file_exists(dir.file("rec.in")));
    EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:1"});
}

// ---------------------------------------------------------------- user switch

// Layout for a run that switches to an unprivileged user: the recording folder
// is open to everyone, the pid file's folder only to the superuser.
class RecorderUserSwitch : public RecorderSpine {
protected:
    void SetUp() override
    {
        ASSERT_EQ(getuid(), 0u) << "the user switch needs the superuser";
        ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
        recordings = dir.file("recordings");
        ASSERT_EQ(mkdir(recordings.c_str(), 0777), 0);
        ASSERT_EQ(chmod(recordings.c_str(), 0777), 0);
        // An old pid file that is longer than the new one: it must be truncated.
        harness::write_file(pid_path(), "123456789012345678901234567890\n");
    }

    std::string recordings;
};

TEST_F(RecorderUserSwitch, SwitchHappensAfterThePidFileAndBeforeTheRecording)
{
    Process process = run_sulvet({"-u", "65534", "-i", "1", "-p", pid_path(), recordings + "/rec"},
                                 {{"channels", {{"1", finite_line(1)}}}});
    EXPECT_EQ(process.exit_code(), 0) << process.out();
    const std::string out = process.out();
    size_t pid_line = out.find("Writing PID to " + pid_path() + "\nSetting to UID 65534\n");
    ASSERT_NE(pid_line, std::string::npos) << out;
    EXPECT_LT(pid_line, out.find("PRESS  ^C  TO STOP RECORDING!!!"));

    // The recording file was created by the new user, and the pid file, which
    // only the superuser may remove, was left behind as it was written.
    struct stat status;
    ASSERT_EQ(stat((recordings + "/rec.in").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    ASSERT_EQ(stat(pid_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(harness::read_file(pid_path()), std::to_string(process.pid) + "\n");
    EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:1"});
}

TEST_F(RecorderUserSwitch, UserIdZeroMeansNoSwitch)
{
    ASSERT_EQ(unlink(pid_path().c_str()), 0);
    Process process = run_sulvet({"-u", "0", "-i", "1", "-p", pid_path(), recordings + "/rec"},
                                 {{"channels", {{"1", finite_line(1)}}}});
    EXPECT_EQ(process.exit_code(), 0) << process.out();
    EXPECT_EQ(process.out().find("Setting to UID"), std::string::npos);
    struct stat status;
    ASSERT_EQ(stat((recordings + "/rec.in").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_FALSE(file_exists(pid_path()));
}

// A failed privilege drop must not leave the recording running as the superuser.
TEST_F(RecorderUserSwitch, FailedSwitchStopsBeforeTheRecording)
{
    struct Case {
        std::string user_id;
        std::vector<std::string> wrapper;
        std::string message;
    };
    const Case cases[] = {
        {"65534", {"setpriv", "--inh-caps=-setuid", "--bounding-set=-setuid", "--"},
         "Setting to UID 65534\nCan't set UID 65534: Operation not permitted\n"},
        {"-1", {}, "Setting to UID 4294967295\nCan't set UID 4294967295: Invalid argument\n"},
    };
    json channels = {{"1", finite_line(1)}, {"2", finite_line(2)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.user_id);
        Process process = run_sulvet({"-u", c.user_id, "-i", "1", "-o", "2", "-t", "1", "-p", pid_path(),
                                      recordings + "/rec"},
                                     {{"channels", channels}}, c.wrapper);
        EXPECT_EQ(process.exit_code(), 1) << process.out();
        const std::string out = process.out();
        EXPECT_NE(out.find("Writing PID to " + pid_path() + "\n" + c.message), std::string::npos) << out;
        EXPECT_EQ(out.find("PRESS"), std::string::npos);
        EXPECT_TRUE(harness::calls(journal, "ZolSpeechRecordData").empty());
        EXPECT_FALSE(file_exists(recordings + "/rec.in"));
        EXPECT_FALSE(file_exists(recordings + "/rec.out"));
        // Torn down as after a recording.
        EXPECT_FALSE(file_exists(pid_path()));
        EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), (std::vector<std::string>{"channel:1", "channel:2"}));
        EXPECT_NE(out.find("Channel [01] Disconnected\nChannel [02] Disconnected\n"), std::string::npos);
    }
}

} // namespace
