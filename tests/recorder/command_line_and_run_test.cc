// sulvet from the command line to the teardown, against the stand-in: the
// version words, the options, the module report, the channel attach and
// reset, the pid file, the user switch and the exit status.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using harness::file_exists;
using harness::json;
using harness::Process;
using harness::RunOptions;

const std::string program = SULVET_BIN;

// A line that delivers a little data at once and then ends by itself, so a
// run with this line needs no stop signal.
json finite_line(int unit, const json &extra = json::object())
{
    json line = harness::finite_channel(unit, unit, 1024, {512});
    line["attach"] = true;
    line["packets"] = 1;
    line.update(extra);
    return line;
}

// Not every journal entry names a handle; a const json must not be indexed by a missing key.
json handle_of(const json &call)
{
    return call.contains("handle") ? call["handle"] : json(nullptr);
}

std::vector<int> attached_channels(const std::vector<json> &journal)
{
    std::vector<int> channels;
    for (const json &call : harness::calls(journal, "ZolLineAttach"))
        channels.push_back(call["in"]["channel_number"].get<int>());
    return channels;
}

std::vector<std::string> handles_of(const std::vector<json> &journal, const std::string &function)
{
    std::vector<std::string> handles;
    for (const json &call : harness::calls(journal, function))
        handles.push_back(handle_of(call).is_null() ? "null" : handle_of(call).get<std::string>());
    return handles;
}

class RecorderSpine : public ::testing::Test {
protected:
    void TearDown() override { harness::end_all_processes(); }

    const std::string &pid_path() const { return folder.recorder_pid_file; }

    // The recorder runs in the folder, so its relative NAME lands there.
    RunOptions options_for(const std::vector<std::string> &args, const json &description)
    {
        RunOptions options = folder.options(args, description);
        options.cwd = dir.path;
        folder.clear_journal();   // each run of a table reads its own calls only
        return options;
    }

    // Runs sulvet to its end and reads what it left in the journal.
    Process run_sulvet(const std::vector<std::string> &args, const json &description = nullptr,
                       const std::vector<std::string> &wrapper = {})
    {
        RunOptions options = options_for(args, description);
        options.wrapper = wrapper;
        Process process = harness::run(program, options, harness::deadline_ms);
        read_journal();
        return process;
    }

    void read_journal() { journal = folder.journal(); }

    harness::RunFolder folder;
    const harness::TempDir &dir = folder.dir;
    std::vector<json> journal;
};

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

// ---------------------------------------------------------------- module report

TEST_F(RecorderSpine, ModuleReport)
{
    struct Case {
        std::vector<std::string> args;
        json modules;
        std::string first_line;
        bool error_message_call;
        int exit_code;
    };
    const Case cases[] = {
        {{}, json::object(), "Module -1(-1): doesn't support any channel", false, 0},
        {{"-m", "5"}, {{"5", {{"channel_count", 24}}}}, "Module 05: 24 CHANNELS (starting at 2)", false, 0},
        {{"-m", "123"}, {{"123", {{"channel_count", 8}}}}, "Module 123: 8 CHANNELS (starting at 2)", false, 0},
        // the count is read back from the record, the parentheses too
        {{"-m", "12"}, {{"12", {{"channel_count", 0}, {"info_module_number", 42}}}},
         "Module 12(42): doesn't support any channel", false, 0},
        // a failed query: the error text, then the report on the same line
        {{"-m", "7"},
         {{"7", {{"channel_count", 30}, {"info_status", 3}, {"error_text", "module gone"}}}},
         "ZolModuleInfo:ERROR module goneModule 07: 30 CHANNELS (starting at 2)", true, 1},
        {{"-m", "8"},
         {{"8", {{"channel_count", 0}, {"info_status", -4}, {"info_module_number", 9},
                 {"error_text", "no such module"}}}},
         "ZolModuleInfo:ERROR no such moduleModule 08(9): doesn't support any channel", true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-p", pid_path(), "rec"});
        Process process = run_sulvet(args, {{"modules", c.modules}});
        EXPECT_EQ(process.exit_code(), c.exit_code);
        auto lines = harness::split_lines(process.out());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.first_line);
        EXPECT_EQ(lines.size() > 1 ? lines[1] : "", "Writing PID to " + pid_path());

        auto info = harness::calls(journal, "ZolModuleInfo");
        ASSERT_EQ(info.size(), 1u);
        EXPECT_TRUE(info[0]["handle"].is_null());
        EXPECT_EQ(info[0]["zero"], true);
        auto errors = harness::calls(journal, "ZolErrorMessage");
        ASSERT_EQ(errors.size(), c.error_message_call ? 1u : 0u);
        if (c.error_message_call) {
            EXPECT_TRUE(errors[0]["handle"].is_null());
            EXPECT_EQ(errors[0]["same_record"], true);
        }
    }
}

// ---------------------------------------------------------------- attach and reset

// What the recorder did with a line right after its reset: how many state
// accesses came before the next call on it, and that next call.
struct AfterReset {
    int state_accesses = 0;
    json next_call;
};

AfterReset after_reset(const std::vector<json> &journal, const std::string &handle)
{
    AfterReset seen;
    bool reset_seen = false;
    for (const json &call : journal) {
        if (handle_of(call) != handle)
            continue;
        if (call["fn"] == "ZolLineReset") {
            reset_seen = true;
        } else if (reset_seen && call["fn"] == "ZolLineStateAccess") {
            ++seen.state_accesses;
        } else if (reset_seen) {
            seen.next_call = call;
            break;
        }
    }
    return seen;
}

TEST_F(RecorderSpine, ResetOutcomes)
{
    struct Case {
        int reset_result;
        const char *reset_text;      // -f, or none
        std::string message;         // what follows the module report line
        bool success;
    };
    const Case cases[] = {
        {0, "line-reset.txt", "Channel [03] initialized\n", true},
        {-2, nullptr, "Channel [03] initialized\n", true},
        {-1, nullptr, "$$$$$ This could be an expensive failure. Reset Status(17)", false},
        {1, "x", "$$$$$ Reset channel Error. Reset Status(17)", false},
        {40, nullptr, "$$$$$ Reset channel Error. Reset Status(17)", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reset_result);
        std::vector<std::string> args = {"-i", "3", "-t", "1", "-p", pid_path()};
        if (c.reset_text != nullptr)
            args.insert(args.end(), {"-f", c.reset_text});
        args.push_back("rec");
        // unit 7: the message names the channel asked for, not the line's unit
        json line = finite_line(7, {{"reset_result", c.reset_result}, {"reset_status", 17}});
        Process process = run_sulvet(args, {{"channels", {{"3", line}}}});
        EXPECT_EQ(process.exit_code(), c.success ? 0 : 1) << process.out();

        std::string out = process.out();
        size_t report_end = out.find('\n');
        ASSERT_NE(report_end, std::string::npos);
        ASSERT_EQ(out.compare(report_end + 1, c.message.size(), c.message), 0) << out;
        if (!c.success) {
            // The failure line has no newline of its own: the next output goes on after it.
            size_t after = report_end + 1 + c.message.size();
            ASSERT_LT(after, out.size());
            EXPECT_NE(out[after], '\n');
            EXPECT_EQ(out.find("initialized"), std::string::npos);
        }

        auto attaches = harness::calls(journal, "ZolLineAttach");
        ASSERT_EQ(attaches.size(), 1u);
        EXPECT_EQ(attaches[0]["in"], json({{"channel_number", 3}}));
        EXPECT_EQ(attaches[0]["zero"], true);

        auto resets = harness::calls(journal, "ZolLineReset");
        ASSERT_EQ(resets.size(), 1u);
        EXPECT_EQ(resets[0]["handle"], "channel:3");
        EXPECT_EQ(resets[0]["in"]["reset_text"], c.reset_text ? json(c.reset_text) : json(nullptr));
        EXPECT_EQ(resets[0]["in"]["reset_setting_a"], 0);
        EXPECT_EQ(resets[0]["in"]["reset_setting_b"], 0);
        EXPECT_EQ(resets[0]["zero"], true);

        // Only a reset that worked clears the state word; the line goes on either way.
        AfterReset seen = after_reset(journal, "channel:3");
        EXPECT_EQ(seen.state_accesses, c.success ? 1 : 0);
        ASSERT_FALSE(seen.next_call.is_null());
        EXPECT_EQ(seen.next_call["line_state"], c.success ? 0 : 99) << seen.next_call.dump();
        EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:3"});
    }
}

TEST_F(RecorderSpine, ChannelWhoseAttachFailsIsLeftOut)
{
    json channels = {{"3", finite_line(3)}, {"4", finite_line(4, {{"attach", false}})}};
    Process process = run_sulvet({"-i", "4", "-o", "3", "-t", "1", "-p", pid_path(), "rec"},
                                 {{"channels", channels}});
    EXPECT_EQ(process.exit_code(), 1) << process.out();

    // Only its own line for the failed channel, then the outbound channel's set-up.
    auto lines = harness::split_lines(process.out());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Can't do session attach to channel");
    EXPECT_EQ(lines[2], "Channel [03] initialized");

    EXPECT_EQ(attached_channels(journal), (std::vector<int>{4, 3}));
    EXPECT_EQ(handles_of(journal, "ZolLineReset"), std::vector<std::string>{"channel:3"});
    EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:3"});
    for (const json &call : journal)
        EXPECT_NE(handle_of(call), "channel:4") << call.dump();
    EXPECT_FALSE(file_exists(dir.file("rec.in")));
    EXPECT_TRUE(file_exists(dir.file("rec.out")));
}

TEST_F(RecorderSpine, BothAttachesFailing)
{
    Process process = run_sulvet({"-i", "4", "-o", "6", "-p", pid_path(), "rec"},
                                 {{"channels", {{"3", finite_line(3)}}}});
    EXPECT_EQ(process.exit_code(), 1);
    auto lines = harness::split_lines(process.out());
    ASSERT_GE(lines.size(), 4u) << process.out();
    EXPECT_EQ(lines[1], "Can't do session attach to channel");
    EXPECT_EQ(lines[2], "Can't do session attach to channel");
    EXPECT_EQ(lines[3], "Writing PID to " + pid_path());
    EXPECT_TRUE(harness::calls(journal, "ZolLineReset").empty());
    EXPECT_TRUE(harness::calls(journal, "ZolSessionDetach").empty());
    EXPECT_FALSE(file_exists(pid_path()));
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
            setup.push_back(fn + " " + handle_of(call).get<std::string>());
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
        RunOptions options = options_for({"-i", "1", "-p", pid_path(), "rec"},
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
