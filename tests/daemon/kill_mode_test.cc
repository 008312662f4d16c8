// Kill mode against real target processes: what it prints, whom it signals,
// in which order, and how it ends.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "kill_mode_targets.h"

using harness::TempDir;
using harness::write_file;
using harness::run_kill_mode;
using kill_mode_targets::start_target;
using kill_mode_targets::not_signalled;
using kill_mode_targets::target_end_signal;

namespace {

std::string num(pid_t pid) { return std::to_string(pid); }

TEST(KillMode, SignalsBoardsThenDaemonInFileOrder)
{
    TempDir dir;
    pid_t board_a = start_target(), board_b = start_target(), daemon = start_target();
    std::string path = dir.file("tarvold.pid");
    write_file(path, "Virtual Board 0x41: " + num(board_a) + "\nVirtual Board 0x42: " +
                         num(board_b) + "\n" + num(daemon) + "\n");

    harness::Process kill_mode = run_kill_mode({path});

    EXPECT_EQ(kill_mode.exit_code(), 0);
    EXPECT_EQ(kill_mode.out(), "Killing Virtual Board 0x41: " + num(board_a) +
                                   "\nKilling Virtual Board 0x42: " + num(board_b) +
                                   "\nKilling tarvold process: " + num(daemon) + "\n");
    EXPECT_EQ(kill_mode.err(), "");
    for (pid_t target : {board_a, board_b, daemon})
        EXPECT_EQ(target_end_signal(target), SIGTERM) << "pid " << target;
}

// The module number is only a label: an odd one is read as %x reads it and
// the board is still signalled.
TEST(KillMode, OddModuleNumbersStillSignalTheBoard)
{
    const struct {
        const char *module;
        const char *shown;
    } cases[] = {{"-1", "FFFFFFFF"}, {"-41", "FFFFFFBF"}, {"100000041", "FFFFFFFF"}, {"+7f", "7F"},
                 // %x takes an optional 0x or 0X after the sign; "0x" alone reads 0.
                 {"0x41", "41"}, {"0X41", "41"}, {"-0x41", "FFFFFFBF"}, {"+0x7f", "7F"}, {"0x", "0"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.module);
        TempDir dir;
        pid_t board = start_target(), daemon = start_target();
        std::string path = dir.file("tarvold.pid");
        write_file(path, std::string("Virtual Board 0x") + c.module + ": " + num(board) + "\n" + num(daemon) + "\n");

        harness::Process kill_mode = run_kill_mode({path});

        EXPECT_EQ(kill_mode.exit_code(), 0);
        EXPECT_EQ(kill_mode.out(), std::string("Killing Virtual Board 0x") + c.shown + ": " + num(board) +
                                       "\nKilling tarvold process: " + num(daemon) + "\n");
        EXPECT_EQ(target_end_signal(board), SIGTERM);
        EXPECT_EQ(target_end_signal(daemon), SIGTERM);
    }
}

TEST(KillMode, ReadsEachFileInTurnAndNotTheDefault)
{
    TempDir dir;
    pid_t first = start_target(), second = start_target();
    write_file(dir.file("one.pid"), num(first) + "\n");
    write_file(dir.file("two.pid"), "Virtual Board 0x4a: " + num(second) + "\n" + num(second) + "\n");

    harness::Process kill_mode = run_kill_mode({dir.file("one.pid"), dir.file("two.pid")});

    EXPECT_EQ(kill_mode.exit_code(), 0);
    // A lower-case module number comes out in upper case.
    EXPECT_EQ(kill_mode.out(), "Killing tarvold process: " + num(first) +
                                   "\nKilling Virtual Board 0x4A: " + num(second) +
                                   "\nKilling tarvold process: " + num(second) + "\n");
    EXPECT_EQ(target_end_signal(first), SIGTERM);
    EXPECT_EQ(target_end_signal(second), SIGTERM);
}

TEST(KillMode, BareNumberFirstSignalsOnlyTheDaemonAndReadsNothingAfterIt)
{
    TempDir dir;
    pid_t daemon = start_target(), later = start_target();
    std::string path = dir.file("tarvold.pid");
    write_file(path, num(daemon) + "\nVirtual Board 0x41: " + num(later) + "\n" + num(later) + "\n");

    harness::Process kill_mode = run_kill_mode({path});

    EXPECT_EQ(kill_mode.exit_code(), 0);
    EXPECT_EQ(kill_mode.out(), "Killing tarvold process: " + num(daemon) + "\n");
    EXPECT_EQ(target_end_signal(daemon), SIGTERM);
    EXPECT_EQ(target_end_signal(later), not_signalled);
}

// Files that name no daemon: the boards listed before are signalled, then the
// message (naming the file opened, without a line feed) and status 254.
TEST(KillMode, FileWithoutDaemonEndsWith254AfterItsBoards)
{
    struct Case {
        const char *name;
        std::string daemon_part;
        bool with_board;
    };
    const Case cases[] = {
        {"no daemon line", "", true},
        {"daemon line 0", "0\n", true},
        {"text after the boards", "tarvold\n", true},
        {"board line cut short", "Virtual Board 0x43: x\n", true},
        {"empty file", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        pid_t board = start_target();
        std::string path = dir.file("boards.pid");
        std::string board_line = "Virtual Board 0x41: " + num(board) + "\n";
        write_file(path, (c.with_board ? board_line : "") + c.daemon_part);

        harness::Process kill_mode = run_kill_mode({path});

        EXPECT_EQ(kill_mode.exit_code(), 254);
        std::string killing = c.with_board ? "Killing Virtual Board 0x41: " + num(board) + "\n" : "";
        EXPECT_EQ(kill_mode.out(), killing + "Error: Invalid " + path + " file");
        EXPECT_EQ(target_end_signal(board), c.with_board ? SIGTERM : not_signalled);
    }
}

TEST(KillMode, FileThatCannotBeOpenedEndsWith255AndNamesIt)
{
    TempDir dir;
    pid_t first = start_target(), after = start_target();
    write_file(dir.file("one.pid"), num(first) + "\n");
    write_file(dir.file("three.pid"), num(after) + "\n");
    std::string missing = dir.file("missing.pid");

    harness::Process kill_mode =
        run_kill_mode({dir.file("one.pid"), missing, dir.file("three.pid")});

    EXPECT_EQ(kill_mode.exit_code(), 255);
    EXPECT_EQ(kill_mode.out(),
              "Killing tarvold process: " + num(first) + "\nNo " + missing + " file\n");
    EXPECT_EQ(target_end_signal(first), SIGTERM);
    EXPECT_EQ(target_end_signal(after), not_signalled) << "a file after the missing one was read";
}

TEST(KillMode, OptionAfterDashKIsAFileName)
{
    TempDir dir;
    pid_t daemon = start_target();
    std::string path = dir.file("tarvold.pid");
    write_file(path, num(daemon) + "\n");

    harness::RunOptions options;
    options.cwd = dir.path; // no file named "-p" there
    harness::Process kill_mode = run_kill_mode({"-p", path}, options);

    EXPECT_EQ(kill_mode.exit_code(), 255);
    EXPECT_EQ(kill_mode.out(), "No -p file\n");
    EXPECT_EQ(target_end_signal(daemon), not_signalled);
}

TEST(KillMode, ProcessGoneIsReportedAndTheWalkGoesOn)
{
    TempDir dir;
    pid_t gone = kill_mode_targets::gone_pid(), daemon = start_target();
    std::string path = dir.file("tarvold.pid");
    write_file(path, "Virtual Board 0x41: " + num(gone) + "\n" + num(daemon) + "\n");

    harness::Process kill_mode = run_kill_mode({path});

    EXPECT_EQ(kill_mode.exit_code(), 0);
    EXPECT_EQ(kill_mode.out(), "Killing Virtual Board 0x41: " + num(gone) + "\nError: Process " +
                                   num(gone) + " does not exist\nKilling tarvold process: " +
                                   num(daemon) + "\n");
    EXPECT_EQ(target_end_signal(daemon), SIGTERM);
}

// Root may signal anything, so kill mode runs as nobody against the test's
// own (root) processes.
TEST(KillMode, ProcessOfAnotherUserIsReportedAndTheWalkGoesOn)
{
    TempDir dir;
    pid_t root_board = start_target(), root_daemon = start_target();
    std::string path = dir.file("tarvold.pid");
    write_file(path, "Virtual Board 0x41: " + num(root_board) + "\n" + num(root_daemon) + "\n");

    harness::OtherUser nobody(65534);
    harness::RunOptions options;
    options.args = {"-k", path};
    harness::Process kill_mode = nobody.run(TARVOLD_BIN, options);

    EXPECT_EQ(kill_mode.exit_code(), 0) << kill_mode.err();
    EXPECT_EQ(kill_mode.out(),
              "Killing Virtual Board 0x41: " + num(root_board) + "\nError: Permision denied for process " +
                  num(root_board) + "\nKilling tarvold process: " + num(root_daemon) +
                  "\nError: Permision denied for process " + num(root_daemon) + "\n");
    EXPECT_EQ(target_end_signal(root_board), not_signalled);
}

// With no file named, the default pid file is read; a private mount namespace
// with an empty /run keeps the real one out of reach.
TEST(KillMode, DefaultPidFile)
{
    TempDir dir;
    pid_t daemon = start_target();
    write_file(dir.file("source.pid"), num(daemon) + "\n");
    const std::string private_run =
        "mount -t tmpfs tmpfs /run && mkdir -p /var/run && "
        "if [ -n \"$PID_SOURCE\" ]; then cp \"$PID_SOURCE\" /var/run/tarvold.pid; fi && exec \"$@\"";

    harness::RunOptions options;
    options.wrapper = {"unshare", "--mount", "--propagation", "private", "sh", "-c", private_run, "sh"};
    options.env["PID_SOURCE"] = dir.file("source.pid");
    harness::Process kill_mode = run_kill_mode({}, options);
    EXPECT_EQ(kill_mode.exit_code(), 0) << kill_mode.err();
    EXPECT_EQ(kill_mode.out(), "Killing tarvold process: " + num(daemon) + "\n");
    EXPECT_EQ(target_end_signal(daemon), SIGTERM);

    options.env["PID_SOURCE"] = "";
    harness::Process without_file = run_kill_mode({}, options);
    EXPECT_EQ(without_file.exit_code(), 255) << without_file.err();
    EXPECT_EQ(without_file.out(), "No /var/run/tarvold.pid file\n");
}

// Numbers that kill would take as a process group or as every process. Each
// case runs in a pid namespace of its own, in a session of its own, beside a
// bystander that any such signal would reach; a valid line after the bad one
// must still be signalled. TARGET in the file stands for that line's pid.
TEST(KillMode, NumbersThatNameNoSingleProcessAreNeverSignalled)
{
    struct Case {
        const char *file_text;
        int status;
        const char *error_line;
    };
    const Case cases[] = {
        {"Virtual Board 0x41: 0\nTARGET\n", 0, "Error: Virtual Board 0x41: 0 is not a single process"},
        {"Virtual Board 0x41: -1\nTARGET\n", 0, "Error: Virtual Board 0x41: -1 is not a single process"},
        {"Virtual Board 0x41: 4294967295\nTARGET\n", 0,
         "Error: Virtual Board 0x41: 4294967295 is not a single process"},
        {"Virtual Board 0x41: 4294967296\nTARGET\n", 0,
         "Error: Virtual Board 0x41: 4294967296 is not a single process"},
        {"Virtual Board 0x41: -4294967295\nTARGET\n", 0,
         "Error: Virtual Board 0x41: -4294967295 is not a single process"},
        {"Virtual Board 0x41: 2147483648\nTARGET\n", 0,
         "Error: Virtual Board 0x41: 2147483648 is not a single process"},
        {"Virtual Board 0x41: 99999999999999999999999\nTARGET\n", 0, "is not a single process"},
        {"Virtual Board 0x41: TARGET\n-1\n", 254, "Error: tarvold process -1 is not a single process"},
        {"Virtual Board 0x41: TARGET\n4294967295\n", 254,
         "Error: tarvold process 4294967295 is not a single process"},
        {"Virtual Board 0x41: TARGET\n4294967296\n", 254,
         "Error: tarvold process 4294967296 is not a single process"},
    };
    // Inside the namespace: the target and the pid file, then kill mode; then
    // the target is ended as the bystander is, and its wait status tells
    // whether kill mode's SIGTERM came first (143).
    const std::vector<std::string> wrapper = harness::beside_a_bystander(
        "sleep 60 & target=$!; sed \"s/TARGET/$target/g\" \"$PID_TEMPLATE\" > \"$PID_FILE\";",
        "kill -PROF $target; wait $target; echo \"target=$?\" >&2;");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file_text);
        TempDir dir;
        write_file(dir.file("template"), c.file_text);
        std::string path = dir.file("tarvold.pid");
        harness::RunOptions options;
        options.wrapper = wrapper;
        options.env["PID_TEMPLATE"] = dir.file("template");
        options.env["PID_FILE"] = path;

        harness::Process kill_mode = run_kill_mode({path}, options);

        EXPECT_EQ(kill_mode.exit_code(), c.status);
        EXPECT_NE(kill_mode.out().find(c.error_line), std::string::npos) << kill_mode.out();
        bool daemon_signalled = kill_mode.out().find("Killing tarvold process: ") != std::string::npos;
        EXPECT_EQ(daemon_signalled, c.status == 0) << kill_mode.out();
        EXPECT_NE(kill_mode.err().find("target=143"), std::string::npos) << kill_mode.err();
        EXPECT_NE(kill_mode.err().find(harness::bystander_untouched), std::string::npos) << kill_mode.err();
        if (c.status == 254) {
            EXPECT_NE(kill_mode.out().find("\nError: Invalid " + path + " file"), std::string::npos);
        }
    }
}

} // namespace
