// The daemon, its virtual boards and kill mode against the limits a careless
// user, a hostile parent or a full disk sets them: a file-size limit, signals
// left blocked, a pid file that takes no line, a log message beyond one pipe
// write.
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"
#include "kill_mode_targets.h"

using harness::json;

namespace {

// The file-size limit of the limited runs: far above what the journal and
// the pid file reach, so that only a file that starts at the limit meets it.
const std::string file_size_limit = "1048576";

// Runs the program with RLIMIT_FSIZE set to file_size_limit.
const std::vector<std::string> under_file_size_limit = {"prlimit", "--fsize=" + file_size_limit, "--"};

// A file that already holds file_size_limit bytes, so every write past its end
// meets the limit (the test process itself has none).
std::string file_at_limit(const harness::RunFolder &run, const std::string &name)
{
    std::string path = run.dir.file(name);
    harness::write_file(path, "");
    EXPECT_EQ(truncate(path.c_str(), std::stoll(file_size_limit)), 0);
    return path;
}

long long file_size(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

// The pids of the virtual boards that the run's journal saw start.
std::vector<pid_t> board_pids(const harness::RunFolder &run)
{
    std::vector<pid_t> pids;
    for (const json &start : run.calls("VirtBoardStart"))
        pids.push_back(start["pid"].get<pid_t>());
    return pids;
}

// Waits until the daemon sits in its wait, its service started and every
// board running; false when it does not get there.
bool daemon_waits_with_boards(const harness::RunFolder &run, const harness::Process &daemon, size_t boards)
{
    return run.wait_for_calls("VirtBoardStatus", boards) && harness::wait_until_daemon_waits(run, daemon.pid);
}

// A board ended in order: it stopped the board, closed its library and
// exited with 0.
void expect_board_stopped_in_order(const harness::RunFolder &run, pid_t board)
{
    int status = harness::wait_child_status(board, harness::deadline_ms);
    ASSERT_NE(status, -1) << "board " << board << " still runs";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "board " << board << " ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(harness::calls_from(run.journal(), "keldvb_unload", board).size(), 1u) << "board " << board;
}

// Every line of the -v file meets the limit, the board's stop lines included:
// the lines are lost, and nothing else is.
TEST(DaemonFileSizeLimit, DaemonAndBoardRunOnAndStopInOrder)
{
    harness::RunFolder run;
    std::string verbose = file_at_limit(run, "verbose.log");
    harness::RunOptions options =
        run.options({"-f", FIRMWARE_DIR, "-c", run.config, "-p", run.pid_file, "-v", verbose});
    options.env["virtual_modules"] = "65";
    options.wrapper = under_file_size_limit;

    harness::Process daemon = harness::start(TARVOLD_BIN, options);
    ASSERT_TRUE(daemon_waits_with_boards(run, daemon, 1)) << "signal " << daemon.term_signal();
    std::vector<pid_t> boards = board_pids(run);
    ASSERT_EQ(boards.size(), 1u);

    harness::Process kill_mode = harness::run_kill_mode({run.pid_file});
    EXPECT_EQ(kill_mode.exit_code(), 0) << kill_mode.out();
    ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));
    EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();
    EXPECT_EQ(run.calls("ZolCallCtrlClose").size(), 1u);
    EXPECT_FALSE(harness::file_exists(run.pid_file));
    expect_board_stopped_in_order(run, boards[0]);
    EXPECT_EQ(file_size(verbose), std::stoll(file_size_limit)) << "a line got past the limit";
}

// Kill mode's report goes to a file at the limit: the signal is sent all the
// same, and kill mode ends as it always does.
TEST(DaemonFileSizeLimit, KillModeSignalsAndExitsNormally)
{
    harness::RunFolder run;
    std::string report = file_at_limit(run, "kill-mode.out");
    pid_t target = kill_mode_targets::start_target();
    harness::write_file(run.pid_file, std::to_string(target) + "\n");

    harness::RunOptions options;
    options.wrapper = {"bash", "-c", "exec >>\"$0\" && exec \"$@\"", report};
    options.wrapper.insert(options.wrapper.end(), under_file_size_limit.begin(), under_file_size_limit.end());
    harness::Process kill_mode = harness::run_kill_mode({run.pid_file}, options);

    EXPECT_EQ(kill_mode.exit_code(), 0) << "signal " << kill_mode.term_signal();
    EXPECT_EQ(kill_mode_targets::target_end_signal(target), SIGTERM);
}

// A parent that leaves the daemon's signals blocked: the daemon still
// restarts and stops, and its boards still stop, on each stop signal.
TEST(DaemonInheritedSignalMask, DaemonAndBoardsStillStop)
{
    const std::vector<std::string> with_signals_blocked = harness::python_parent(
        "signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])");
    for (int stop_signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(stop_signal));
        harness::RunFolder run;
        harness::RunOptions options = run.options({"-f", FIRMWARE_DIR, "-c", run.config, "-p", run.pid_file});
        options.env["virtual_modules"] = "65";
        options.wrapper = with_signals_blocked;

        harness::Process daemon = harness::start(TARVOLD_BIN, options);
        ASSERT_TRUE(daemon_waits_with_boards(run, daemon, 1)) << daemon.err();
        std::vector<pid_t> boards = board_pids(run);
        ASSERT_EQ(boards.size(), 1u);

        harness::send_signal(daemon, SIGHUP);
        ASSERT_TRUE(run.wait_for_calls("ZolCallCtrlInit", 2)) << "no restart";
        ASSERT_TRUE(harness::wait_until_daemon_waits(run, daemon.pid, 2));

        kill(boards[0], stop_signal);
        harness::send_signal(daemon, stop_signal);
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms)) << "the daemon ignores its stop signal";
        EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();
        EXPECT_EQ(run.calls("ZolCallCtrlClose").size(), 2u);
        EXPECT_FALSE(harness::file_exists(run.pid_file));
        expect_board_stopped_in_order(run, boards[0]);
    }
}

// A tmpfs of one page, filled up: a file can still be made in it, but no
// byte written to it lands. Unmounted when the object goes.
struct FullDisk {
    std::string path;
    bool mounted = false;
    explicit FullDisk(const harness::RunFolder &run) : path(run.dir.file("full"))
    {
        mkdir(path.c_str(), 0755);
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=4k") == 0;
        if (mounted) {
            FILE *filler = fopen((path + "/filler").c_str(), "w");
            while (filler && fputc('x', filler) != EOF && fflush(filler) == 0)
                ;
            if (filler)
                fclose(filler);
        }
    }
    ~FullDisk()
    {
        if (mounted)
            umount2(path.c_str(), MNT_DETACH);
    }
};

// The pid file is made, but its lines cannot reach it: each loss is logged
// with the path and the system's reason, and the daemon runs on.
TEST(DaemonPidLines, ALineThatCannotBeWrittenIsReported)
{
    struct LostLinesCase {
        const char *label;
        bool full_disk;     // the pid file on a full tmpfs; else at the file-size limit
        std::string boards; // virtual_modules; empty: no -f
        std::string reason;
        size_t lost_lines;
    };
    const LostLinesCase cases[] = {
        {"full disk, two boards and the daemon", true, "65,66", "No space left on device", 3},
        {"file-size limit, the daemon's line", false, "", "File too large", 1},
    };
    for (const LostLinesCase &c : cases) {
        SCOPED_TRACE(c.label);
        harness::RunFolder run;
        std::optional<FullDisk> disk;
        std::string pid_file = run.pid_file;
        if (c.full_disk) {
            disk.emplace(run);
            if (!disk->mounted)
                GTEST_SKIP() << "no tmpfs can be mounted here (needs root in a mount namespace of its own)";
            pid_file = disk->path + "/tarvold.pid";
        } else {
            file_at_limit(run, "tarvold.pid");
        }
        std::vector<std::string> args = {"-c", run.config, "-p", pid_file};
        if (!c.boards.empty())
            args.insert(args.end(), {"-f", FIRMWARE_DIR});
        harness::RunOptions options = run.options(args);
        if (!c.full_disk)
            options.wrapper = under_file_size_limit;
        size_t boards = 0;
        if (!c.boards.empty()) {
            options.env["virtual_modules"] = c.boards;
            boards = harness::count_of(c.boards, ",") + 1;
        }

        harness::Process daemon = harness::start(TARVOLD_BIN, options);
        ASSERT_TRUE(harness::wait_until_daemon_waits(run, daemon.pid)) << daemon.err();
        EXPECT_EQ(run.calls("VirtBoardStart").size(), boards);

        const std::string lost = "Couldn't write " + pid_file + ": " + c.reason + "\n";
        EXPECT_EQ(harness::count_of(daemon.err(), lost), c.lost_lines) << daemon.err();

        harness::send_signal(daemon, SIGTERM);
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));
        EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();
        EXPECT_EQ(run.calls("ZolCallCtrlClose").size(), 1u);
    }
}

// A file-size limit that falls inside a pid line: the line is reported and
// nothing of it stays, so the file holds whole lines only, and kill mode
// finds no cut number in it to signal. The limit meets the pid file alone.
TEST(DaemonPidLines, ALineCutByTheFileSizeLimitLeavesNothingOfIt)
{
    SKIP_UNDER_EMULATION_WITH_SANITIZERS(harness::tiny_file_size_limit);
    enum class CutLine { board, daemon };
    struct CutLineCase {
        const char *label;
        CutLine cut;
        const char *earlier; // the pid file before the run (-f makes it anew)
        long long limit;
    };
    // "Virtual Board 0x41: " is 20 bytes; the earlier line below is 25.
    const CutLineCase cases[] = {
        {"a board line cut before its pid", CutLine::board, "", 20},
        {"a board line cut inside its pid", CutLine::board, "", 21},
        {"the daemon's line cut after an earlier line", CutLine::daemon, "Virtual Board 0x42: 4242\n", 26},
    };
    for (const CutLineCase &c : cases) {
        SCOPED_TRACE(c.label);
        harness::RunFolder run;
        harness::write_file(run.pid_file, c.earlier);
        std::vector<std::string> args = {"-c", run.config, "-p", run.pid_file};
        if (c.cut == CutLine::board)
            args.insert(args.end(), {"-f", FIRMWARE_DIR});
        harness::RunOptions options = run.options(args);
        options.env["virtual_modules"] = "65";
        harness::limit_own_files(options, run, c.limit);

        harness::Process daemon = harness::start(TARVOLD_BIN, options);
        size_t boards = c.cut == CutLine::board ? 1 : 0;
        ASSERT_TRUE(daemon_waits_with_boards(run, daemon, boards)) << daemon.err();
        const std::string lost = "Couldn't write " + run.pid_file + ": File too large\n";
        ASSERT_TRUE(harness::wait_for_stderr(daemon, lost, harness::deadline_ms)) << daemon.err();
        EXPECT_EQ(harness::count_of(daemon.err(), lost), 1u) << daemon.err();

        const std::string daemon_line = std::to_string(daemon.pid) + "\n";
        const std::string whole_lines = c.cut == CutLine::board ? daemon_line : c.earlier;
        // Kill mode is run only on a file of whole lines: a cut pid could
        // name any process of the machine.
        ASSERT_EQ(harness::read_file(run.pid_file), whole_lines);

        if (c.cut == CutLine::board) {
            harness::Process kill_mode = harness::run_kill_mode({run.pid_file});
            EXPECT_EQ(kill_mode.out(), "Killing tarvold process: " + daemon_line);
            EXPECT_EQ(kill_mode.exit_code(), 0);
        } else {
            harness::send_signal(daemon, SIGTERM);
        }
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));
        EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();
        EXPECT_TRUE(run.wait_for_calls("ZolCallCtrlClose", 1)) << "the journal goes through a pipe";
        EXPECT_FALSE(harness::file_exists(run.pid_file));
    }
}

// A pid file path beyond PATH_MAX: the open fails, and the message that says
// so keeps its end, the reason, however long the path.
TEST(DaemonLongLogMessage, KeepsTheReasonAfterALongPath)
{
    harness::RunFolder run;
    std::string pid_file = run.dir.path;
    while (pid_file.size() < 6000)
        pid_file += "/" + std::string(200, 'p');

    harness::Process daemon = harness::run(TARVOLD_BIN, run.options({"-c", run.dir.file("missing.cfg"), "-p", pid_file}));

    EXPECT_EQ(daemon.exit_code(), 255);
    std::vector<std::string> lines = harness::split_lines(daemon.err());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0] == "Couldn't fopen " + pid_file + ": File name too long") << lines[0].size();
    EXPECT_EQ(harness::count_of(daemon.err(), "Unable to start Keldra Host ECC Service.\n"), 1u);
}

} // namespace
