// Hostile input to both programs: paths and names longer than their buffers,
// board names that fill their field, pid files of garbage, a virtual-board
// list of nothing but commas, speech counts far outside the buffer. Each one
// gets a clear message or the documented behaviour, never a crash; the
// sanitizer build of these tests watches for writes out of bounds.
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using harness::json;
using harness::Process;
using harness::count_of;
using harness::RunFolder;
using harness::file_exists;

bool has_line_with(const std::string &text, const std::string &a, const std::string &b)
{
    for (const std::string &line : harness::split_lines(text))
        if (line.find(a) != std::string::npos && line.find(b) != std::string::npos)
            return true;
    return false;
}

// A real directory whose path is exactly `length` characters, made of nested
// folders under `parent` (each name well below the 255-byte limit).
std::string make_directory_of_length(const std::string &parent, size_t length)
{
    std::string path = parent;
    while (path.size() < length) {
        size_t left = length - path.size() - 1; // the slash
        size_t name = left > 200 ? 100 : left;  // never leave a remainder of 0
        path += "/" + std::string(name, 'd');
        mkdir(path.c_str(), 0755);
    }
    return path;
}

pid_t virtual_board_pid(const std::string &pid_file)
{
    std::string text = harness::read_file(pid_file);
    const std::string prefix = "Virtual Board 0x41: ";
    if (text.compare(0, prefix.size(), prefix) != 0)
        return -1;
    return static_cast<pid_t>(std::stol(text.substr(prefix.size())));
}

// ------------------------------------------------------------ firmware folder

// A real folder whose path is too long for the image paths (300 characters)
// or for the virtual-board library path too (2000), with keldvb.so in it: the
// daemon names no image and downloads nothing, and a cut library path is
// never loaded.
TEST(BadInput, FirmwareDirectoryLongerThanItsPaths)
{
    struct Case {
        size_t length;
        bool library_path_fits;
    };
    const Case cases[] = {{300, true}, {2000, false}};
    struct Running {
        RunFolder run;
        std::string firmware_dir;
        Process daemon;
    };
    std::vector<Running> running(2);
    for (size_t i = 0; i < 2; i++) {
        Running &r = running[i];
        r.firmware_dir = make_directory_of_length(r.run.dir.path, cases[i].length);
        ASSERT_EQ(r.firmware_dir.size(), cases[i].length);
        ASSERT_EQ(symlink(FIRMWARE_DIR "/keldvb.so", (r.firmware_dir + "/keldvb.so").c_str()), 0);
        harness::RunOptions options = r.run.options({"-f", r.firmware_dir, "-p", r.run.pid_file});
        options.env["virtual_modules"] = "65";
        r.daemon = harness::start(TARVOLD_BIN, options);
    }
    for (size_t i = 0; i < 2; i++) {
        const Case &c = cases[i];
        Running &r = running[i];
        SCOPED_TRACE(std::to_string(c.length) + " characters");
        ASSERT_TRUE(harness::wait_exit(r.daemon, harness::deadline_ms));
        EXPECT_EQ(r.daemon.exit_code(), 0) << r.daemon.err();
        const std::string err = r.daemon.err();
        // The default boards: modules 2, 3 and 4 need firmware, 5 runs already.
        for (const char *module : {"0x2", "0x3", "0x4"}) {
            EXPECT_NE(err.find(std::string("Unable to load firmware on module ") + module + "\n"),
                      std::string::npos)
                << err;
        }
        EXPECT_EQ(count_of(err, "too long"), c.library_path_fits ? 3u : 4u) << err;
        EXPECT_TRUE(has_line_with(err, "too long", "cp.bin")) << err;
        EXPECT_EQ(err.find("Loading PPC firmware"), std::string::npos) << err;
        EXPECT_TRUE(r.run.calls("ZolFirmwareDownload").empty());

        pid_t child = virtual_board_pid(r.run.pid_file);
        ASSERT_GT(child, 0) << harness::read_file(r.run.pid_file);
        if (c.library_path_fits) {
            EXPECT_TRUE(r.run.wait_for_calls("VirtBoardStart", 1)) << err;
        } else {
            EXPECT_TRUE(has_line_with(err, "Couldn't open firmware: ", "too long")) << err;
            int status = harness::wait_child_status(child, harness::deadline_ms);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status;
            EXPECT_TRUE(r.run.calls("VirtBoardStart").empty());
        }
    }
}

// ---------------------------------------------------------------- board names

// Board names that fill the whole 230-byte field with no NUL, through the
// whole daemon: a code name that ends at the last byte counts, one that the
// field end cuts does not, and nothing past the field is read.
TEST(BadInput, BoardNamesThatFillTheField)
{
    auto module = [](const std::string &name) {
        return json{{"board_name", name}, {"ppc", {{"status", 0}}}, {"dsp", {{"status", 0}}}};
    };
    json description = {{"modules",
                         {{"2", module(std::string(225, 'A') + "FENDO")},
                          {"3", module(std::string(230, 'A'))},
                          {"4", module(std::string(227, 'A') + "FENDO")},
                          {"5", module("ZEBK" + std::string(2000, 'z'))},
                          {"6", module(std::string(5000, '\x7f'))}}}};
    RunFolder run;
    harness::RunOptions options = run.options({"-f", FIRMWARE_DIR, "-p", run.pid_file}, description);
    options.env["virtual_modules"] = "";
    Process daemon = harness::run(TARVOLD_BIN, options);

    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
    const std::string err = daemon.err();
    EXPECT_NE(err.find("Module 0x2 [6,0]\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Module 0x5 [7,0]\n"), std::string::npos) << err;
    EXPECT_EQ(count_of(err, "unknown mod_type: -1\n"), 3u) << err;
    EXPECT_EQ(run.calls("ZolFirmwareDownload").size(), 4u);
    EXPECT_EQ(run.calls("ZolSessionDetach").size(), 5u);
}

// ------------------------------------------------------------ virtual boards

// Lists without a number anywhere start nothing, however long, and cost no
// time; a number at the end of a very long list still gets its one board.
TEST(BadInput, VirtualModuleListsOfNothingButSeparators)
{
    std::string junk;
    for (int i = 0; i < 2500; i++)
        junk += "x,,-, ";
    struct Case {
        const char *label;
        std::string list;
        std::vector<std::string> started;
    };
    const std::vector<Case> cases = {
        {"10,000 commas", std::string(10000, ','), {}},
        {"entries without digits", junk, {}},
        {"a number after 10,000 commas", std::string(10000, ',') + "66", {"0x42"}},
    };
    struct Running {
        RunFolder run;
        Process daemon;
    };
    std::vector<Running> running(cases.size());
    for (size_t i = 0; i < cases.size(); i++) {
        harness::RunOptions options = running[i].run.options({"-f", FIRMWARE_DIR, "-p", running[i].run.pid_file});
        options.env["virtual_modules"] = cases[i].list;
        running[i].daemon = harness::start(TARVOLD_BIN, options);
    }
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        Running &r = running[i];
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(harness::wait_exit(r.daemon, harness::deadline_ms));
        // Timed from the daemon's last board call, the end of its scan (the
        // journal's last write), so that how slowly a loaded machine starts
        // the daemon and scans does not count.
        timespec ended;
        clock_gettime(CLOCK_REALTIME, &ended);
        struct stat journal;
        ASSERT_EQ(stat(r.run.journal_path.c_str(), &journal), 0);
        double seconds = (ended.tv_sec - journal.st_mtim.tv_sec) + (ended.tv_nsec - journal.st_mtim.tv_nsec) / 1e9;

        EXPECT_EQ(r.daemon.exit_code(), 0) << r.daemon.err();
        EXPECT_TRUE(file_exists(r.run.pid_file));
        std::vector<std::string> pid_lines = harness::split_lines(harness::read_file(r.run.pid_file));
        ASSERT_EQ(pid_lines.size(), c.started.size());
        EXPECT_EQ(count_of(r.daemon.err(), "Starting Virtual Board module"), c.started.size());
        if (c.started.empty()) {
            EXPECT_LT(seconds, 2.5) << "a list that starts nothing waited for a board";
        } else {
            EXPECT_EQ(pid_lines[0].rfind("Virtual Board " + c.started[0] + ": ", 0), 0u) << pid_lines[0];
            EXPECT_TRUE(r.run.wait_for_calls("VirtBoardStart", 1));
        }
    }
}

// ------------------------------------------------------------ recording names

// A base name the recording file names cannot hold: refused before any board
// call, with no pid file and no recording file.
TEST(BadInput, RecordingBaseNameOfMoreThanTheBuffer)
{
    for (size_t length : {size_t(1100), size_t(100000)}) {
        SCOPED_TRACE(length);
        RunFolder run;
        const std::string base = run.dir.path + "/" + std::string(length - run.dir.path.size() - 1, 'n');
        const std::string pid_path = run.recorder_pid_file;
        Process recorder = harness::run_recorder(run, {"-p", pid_path, "-t", "1", "-i", "1", "-o", "2", base});

        EXPECT_EQ(recorder.exit_code(), 255) << recorder.out();
        EXPECT_NE(recorder.out(), "");
        EXPECT_EQ(recorder.out().find("Writing PID"), std::string::npos);
        EXPECT_FALSE(file_exists(run.journal_path)) << "a board call was made";
        EXPECT_FALSE(file_exists(pid_path));
    }
}

// ------------------------------------------------------------- speech counts

// Counts at the very ends of the signed range: the largest writes one buffer,
// the smallest finishes its direction and writes nothing.
TEST(BadInput, SpeechCountsAtTheEndsOfTheRange)
{
    auto line = [](int unit, json counts) {
        json channel = harness::finite_channel(unit, unit, 1000000);
        channel["speech"]["counts"] = std::move(counts);
        return channel;
    };
    json description = {{"channels",
                         {{"1", line(1, {INT_MAX, 1025, INT_MIN})}, {"2", line(2, {1025, INT_MIN})}}}};
    RunFolder run;
    const std::string base = run.recording;
    Process recorder = harness::run_recorder(run, harness::recording_args(run, {"-t", "1", "-i", "1", "-o", "2"}),
                                             description);

    EXPECT_EQ(recorder.exit_code(), 0) << recorder.out();
    std::vector<std::string> progress;
    for (const std::string &out_line : harness::split_lines(recorder.out()))
        if (out_line.rfind("Read ", 0) == 0)
            progress.push_back(out_line.substr(0, out_line.rfind(':')));
    EXPECT_EQ(progress, (std::vector<std::string>{"Read in: 2147483647", "Read out: 1025", "Read in: 1025",
                                                  "Read out: -2147483648", "Read in: -2147483648"}));
    EXPECT_EQ(harness::read_file(base + ".in").size(), 2048u);
    EXPECT_EQ(harness::read_file(base + ".out").size(), 1024u);
}

// ------------------------------------------------------------------ pid files

// Kill mode on a pid file of garbage, in a pid namespace of its own beside a
// bystander that a signal to a process group or to every process would end.
// Nothing in these files names a process, so nothing may be signalled.
TEST(BadInput, KillModeOnPidFilesOfGarbage)
{
    std::mt19937 random(20261210);
    auto random_bytes = [&](size_t count) {
        std::string bytes;
        for (size_t i = 0; i < count; i++)
            bytes.push_back(static_cast<char>(random() & 0xff));
        return bytes;
    };
    // No text here can start with a number: the first byte of the random
    // files is neither a digit, a sign nor white space.
    const std::string huge_number(100000, '9');
    struct Case {
        const char *label;
        std::string text;
    };
    std::vector<Case> cases = {
        {"4 KiB of random bytes", "\xff" + random_bytes(4096)},
        {"1 MiB of random bytes", "#" + random_bytes(1 << 20)},
        {"random bytes after a line's start", "Virtual Board 0x\xff" + random_bytes(4096)},
        {"random bytes after a module number", "Virtual Board 0x41: \xff" + random_bytes(4096)},
        {"a daemon pid of 100,000 digits", huge_number + "\n"},
        {"a board pid of 100,000 digits", "Virtual Board 0x41: " + huge_number + "\n"},
        {"a module number of 100,000 digits", "Virtual Board 0x" + std::string(100000, 'F') + ": " + huge_number + "\n"},
        {"100,000 lines with huge pids", [] {
             std::string lines;
             for (int i = 0; i < 100000; i++)
                 lines += "Virtual Board 0x41: 18446744073709551617\n";
             return lines;
         }()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        harness::TempDir dir;
        const std::string path = dir.file("tarvold.pid");
        harness::write_file(path, c.text);
        harness::RunOptions options;
        options.wrapper = harness::beside_a_bystander();
        Process kill_mode = harness::run_kill_mode({path}, options);

        EXPECT_EQ(kill_mode.exit_code(), 254) << kill_mode.err();
        const std::string out = kill_mode.out();
        EXPECT_EQ(out.find("Killing"), std::string::npos);
        EXPECT_NE(out.find("Error: Invalid " + path + " file"), std::string::npos) << out.substr(0, 2000);
        for (const std::string &line : harness::split_lines(out))
            EXPECT_EQ(line.rfind("Error: ", 0), 0u) << line.substr(0, 200);
        EXPECT_NE(kill_mode.err().find(harness::bystander_untouched), std::string::npos) << kill_mode.err();
    }
}

// Random pid files in the shape of real ones: lines of random module numbers
// and pids that are out of range, 0, negative, far too long or simply not in
// use, separators of any white space, a random byte now and then, and a
// daemon line or none. None of the pids is 1 to 4, the pids in use in the
// namespace (its shell, the bystander, kill mode itself), so nothing there
// may be signalled; every line printed is a "Killing" or an "Error:" line.
std::string random_pid_file(std::mt19937 &random)
{
    const std::vector<std::string> pids = {"0", "-1", "-0", "+9", "5", "77777", "2147483647", "2147483648",
                                           "4294967295", "4294967296", std::string(30, '8'), "-2147483648"};
    const std::vector<std::string> separators = {": ", ":", ":\t\t", ":\n"};
    const std::vector<std::string> endings = {"\n", "\n\n", " ", "\t\n", "\r\n"};
    const std::string hex = "0123456789abcdefABCDEF";
    auto pick = [&](const std::vector<std::string> &from) { return from[random() % from.size()]; };
    std::string text;
    for (int line = 0; line < 200; line++) {
        std::string module;
        for (size_t n = 1 + random() % 12; n > 0; n--)
            module += hex[random() % hex.size()];
        std::string entry = "Virtual Board 0x" + module + pick(separators) + pick(pids) + pick(endings);
        if (random() % 50 == 0)
            entry.insert(random() % entry.size(), 1, static_cast<char>(random() & 0xff));
        text += entry;
    }
    if (random() % 2)
        text += pick(pids) + "\n";
    return text;
}

TEST(BadInput, KillModeOnRandomPidFilesOfTheRightShape)
{
    size_t killing_lines = 0;
    for (unsigned seed = 1; seed <= 20; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        harness::TempDir dir;
        const std::string path = dir.file("tarvold.pid");
        harness::write_file(path, random_pid_file(random));
        harness::RunOptions options;
        options.wrapper = harness::beside_a_bystander();
        Process kill_mode = harness::run_kill_mode({path}, options);

        EXPECT_TRUE(kill_mode.exit_code() == 0 || kill_mode.exit_code() == 254) << kill_mode.wait_status;
        for (const std::string &line : harness::split_lines(kill_mode.out())) {
            EXPECT_TRUE(line.rfind("Killing ", 0) == 0 || line.rfind("Error: ", 0) == 0) << line.substr(0, 200);
            killing_lines += line.rfind("Killing ", 0) == 0;
        }
        EXPECT_NE(kill_mode.err().find(harness::bystander_untouched), std::string::npos) << kill_mode.err();
    }
    EXPECT_GT(killing_lines, 100u) << "the files hardly got past their first line";
}

} // namespace
