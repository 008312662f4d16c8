// tarvold's virtual boards, run for real against the stand-in keldvb.so:
// which children start, their pid lines and log lines, the waits, their
// process titles, their stop, and the libraries they refuse.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"

using namespace harness;
using std::string_literals::operator""s;

namespace {

const std::string title_of_board_41 = "tarvold: KQ260 Virtual Board 0x41";

struct BoardLine {
    unsigned module;
    pid_t pid;
};

// Every line of the file must be a board line, exactly as printed; a line
// that is not fails the test.
std::vector<BoardLine> board_lines(const std::string &text)
{
    std::vector<BoardLine> out;
    for (const std::string &line : split_lines(text)) {
        unsigned module = 0, pid = 0;
        char again[64];
        bool parsed = sscanf(line.c_str(), "Virtual Board 0x%X: %u", &module, &pid) == 2;
        if (parsed)
            snprintf(again, sizeof again, "Virtual Board 0x%X: %u", module, pid);
        if (!parsed || line != again) {
            ADD_FAILURE() << "not a board line: " << line;
            continue;
        }
        out.push_back({module, static_cast<pid_t>(pid)});
    }
    return out;
}

std::vector<std::string> lines_starting(const std::string &text, const std::string &prefix)
{
    std::vector<std::string> out;
    for (const std::string &line : split_lines(text))
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

// Waits until the run's journal holds a call of the function from that process.
bool wait_for_call(const RunFolder &run, const std::string &function, pid_t pid)
{
    return poll_until(deadline_ms, [&] { return !calls_from(run.journal(), function, pid).empty(); });
}

// A run of `tarvold -f DIR -p PID` in a run folder of its own.
struct DaemonRun : RunFolder {
    RunOptions daemon_options;

    explicit DaemonRun(const json &description = nullptr,
                       const std::string &firmware_dir = FIRMWARE_DIR)
        : daemon_options(options({"-f", firmware_dir, "-p", pid_file}, description))
    {
    }
    void set_modules(const std::optional<std::string> &value)
    {
        if (value)
            daemon_options.env["virtual_modules"] = *value;
        else
            daemon_options.unset_env.push_back("virtual_modules");
    }
};

// Runs the daemon to its end (no -c); its children then belong to the test process.
Process run_daemon(const DaemonRun &run)
{
    Process daemon = start(TARVOLD_BIN, run.daemon_options);
    EXPECT_TRUE(wait_exit(daemon, run_deadline_ms)) << "daemon did not end";
    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
    return daemon;
}

pid_t only_board_pid(const std::string &pid_path)
{
    std::vector<BoardLine> lines = board_lines(read_file(pid_path));
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? -1 : lines[0].pid;
}

int exit_status_of_child(pid_t pid)
{
    int status = wait_child_status(pid, deadline_ms);
    EXPECT_NE(status, -1) << "board " << pid << " did not end";
    EXPECT_TRUE(status != -1 && WIFEXITED(status)) << "board " << pid << " ended by a signal";
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- which boards start ------------------------------------------------------

struct ModuleListCase {
    const char *name;
    std::optional<std::string> value;       // nullopt: virtual_modules not set
    std::vector<unsigned> modules;
};

void PrintTo(const ModuleListCase &c, std::ostream *os) { *os << c.name; }

const ModuleListCase module_list_cases[] = {
    {"unset_starts_65", std::nullopt, {65}},
    {"empty_starts_nothing", "", {}},
    {"two_in_order", "65,66", {65, 66}},
    {"empty_entries_start_nothing", ",65,,66,", {65, 66}},
    {"entries_without_digits_start_nothing", "abc, ,x,", {}},
    {"hex_text_reads_as_0", "0x41", {0}},
    {"leading_blanks_skipped_rest_ignored", " 66 67", {66}},
};

class ModuleList : public testing::TestWithParam<ModuleListCase> {};

TEST_P(ModuleList, StartsOneChildPerNumberWithItsLinesAndWaits)
{
    const ModuleListCase &c = GetParam();
    DaemonRun run;
    run.set_modules(c.value);

    // Watch the pid file while the daemon runs: each line must stand there
    // before the next start, 3 seconds apart.
    long long started = now_ms();
    Process daemon = start(TARVOLD_BIN, run.daemon_options);
    std::vector<long long> line_times;
    bool seen_asleep = false; // the 3-second wait cannot pass between two polls unseen
    poll_until(run_deadline_ms, [&] {
        size_t lines = split_lines(read_file(run.pid_file)).size();
        while (line_times.size() < lines)
            line_times.push_back(now_ms());
        seen_asleep = seen_asleep || wait_until_blocked(daemon.pid, BlockedIn::sleep, 0);
        return wait_exit(daemon, 0);
    });
    long long ended = now_ms();
    ASSERT_TRUE(wait_exit(daemon, 0));
    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();

    struct stat pid_stat;
    ASSERT_EQ(stat(run.pid_file.c_str(), &pid_stat), 0) << "no pid file";
    std::vector<BoardLine> lines = board_lines(read_file(run.pid_file));
    std::vector<std::string> expected_logs;
    ASSERT_EQ(lines.size(), c.modules.size()) << read_file(run.pid_file);
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_EQ(lines[i].module, c.modules[i]);
        char log[64];
        snprintf(log, sizeof log, "Starting Virtual Board module 0x%X", c.modules[i]);
        expected_logs.push_back(log);
        // The pid is that of the child that runs this board.
        EXPECT_TRUE(wait_for_call(run, "VirtBoardStart", lines[i].pid));
        std::vector<json> starts = calls_from(run.journal(), "VirtBoardStart", lines[i].pid);
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0]["in"]["module_number"], static_cast<int>(c.modules[i]));
    }
    EXPECT_EQ(lines_starting(daemon.err(), "Starting Virtual Board"), expected_logs);
    EXPECT_EQ(run.calls("VirtBoardStart").size(), c.modules.size());

    if (c.modules.empty()) {
        EXPECT_EQ(pid_stat.st_size, 0);
        EXPECT_FALSE(seen_asleep) << "no board, yet a wait";
    }
    // Loose lower bounds: a wait after every start, the last one included.
    ASSERT_EQ(line_times.size(), c.modules.size());
    for (size_t i = 1; i < line_times.size(); i++) {
        EXPECT_GE(line_times[i] - line_times[i - 1], 2800) << "start " << i;
    }
    if (!line_times.empty()) {
        EXPECT_GE(ended - line_times.back(), 2800);
    }
    EXPECT_GE(ended - started, 3000LL * static_cast<long long>(c.modules.size()) - 200);
}

INSTANTIATE_TEST_SUITE_P(Values, ModuleList, testing::ValuesIn(module_list_cases),
                         [](const testing::TestParamInfo<ModuleListCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

// ---- the child's title and environment ---------------------------------------

std::string without_trailing_nuls(std::string text)
{
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

TEST(BoardChild, CmdlineIsTheTitleAndTheEnvironmentStillReads)
{
    DaemonRun run;
    run.set_modules(std::nullopt);
    run.daemon_options.env["HOST_SIM_PROBE"] = "probe value, read after the title";
    run_daemon(run);
    pid_t board = only_board_pid(run.pid_file);

    ASSERT_TRUE(wait_for_call(run, "VirtBoardStart", board));
    json start_call = calls_from(run.journal(), "VirtBoardStart", board)[0];
    // The library reads the environment after the title was written over it.
    EXPECT_EQ(start_call["probe"], "probe value, read after the title");
    EXPECT_EQ(start_call["in"]["start_setting"], 1000);
    EXPECT_EQ(start_call["zero"], true);

    SKIP_UNDER_EMULATION(harness::title_limit);
    std::string journal_cmdline = start_call["cmdline"];
    EXPECT_EQ(without_trailing_nuls(journal_cmdline), title_of_board_41);

    std::string cmdline = read_file("/proc/" + std::to_string(board) + "/cmdline");
    EXPECT_EQ(without_trailing_nuls(cmdline), title_of_board_41);
}

TEST(BoardChild, TitleLongerThanTheAreaIsCutWithoutEnvironment)
{
    SKIP_UNDER_EMULATION(harness::title_limit);
    // Arguments "t -f fw -p p" and no environment: the area is the 13 bytes of
    // the argument strings, so 12 to the last NUL, and 9 title characters fit.
    TempDir dir;
    ASSERT_EQ(symlink(FIRMWARE_DIR, dir.file("fw").c_str()), 0);
    RunOptions options;
    options.empty_env = true;
    options.cwd = dir.path;
    options.argv0 = "t";
    options.args = {"-f", "fw", "-p", "p"};
    Process daemon = start(TARVOLD_BIN, options);
    ASSERT_TRUE(wait_for_file_text(dir.file("p"), "\n", deadline_ms));
    pid_t board = only_board_pid(dir.file("p"));

    std::string expected = "tarvold: \0\0\0\0"s;
    std::string cmdline;
    poll_until(deadline_ms, [&] {
        cmdline = read_file("/proc/" + std::to_string(board) + "/cmdline");
        return cmdline == expected;
    });
    EXPECT_EQ(cmdline, expected);
    ASSERT_TRUE(wait_exit(daemon, deadline_ms));
    EXPECT_EQ(daemon.exit_code(), 0);
}

// ---- the stop ----------------------------------------------------------------

struct StopCase {
    const char *name;
    int signal_number;
    json board;                              // the description's "virtual_board"
    std::vector<std::string> expected_lines; // the board's own log lines, in order
};

void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

const StopCase stop_cases[] = {
    {"sigterm", SIGTERM, json::object(),
     {"Virtual Board 0x41 Stop: [0] stopped", "Closing Virtual Board"}},
    {"sigint_after_a_failed_start", SIGINT,
     {{"start_code", 0xAB}, {"start_text", "no line"}, {"stop_code", 0x2b}, {"stop_text", "late"}},
     {"Virtual Board 0x41 Result: [AB] no line", "Virtual Board 0x41 Stop: [2b] late",
      "Closing Virtual Board"}},
};

class BoardStop : public testing::TestWithParam<StopCase> {};

TEST_P(BoardStop, StopsOnceClosesTheLibraryAndExits0AfterFourSeconds)
{
    const StopCase &c = GetParam();
    DaemonRun run(json{{"virtual_board", c.board}});
    run.set_modules(std::nullopt);
    Process daemon = run_daemon(run);
    pid_t board = only_board_pid(run.pid_file);
    ASSERT_TRUE(wait_for_call(run, "VirtBoardStatus", board));

    long long signalled = now_ms();
    ASSERT_EQ(kill(board, c.signal_number), 0);
    EXPECT_EQ(exit_status_of_child(board), 0);
    EXPECT_GE(now_ms() - signalled, 3800) << "no 4-second wait after the close";

    std::vector<std::string> board_log;
    for (const std::string &line : split_lines(daemon.err()))
        if (line.rfind("Virtual Board 0x41 ", 0) == 0 || line == "Closing Virtual Board")
            board_log.push_back(line);
    EXPECT_EQ(board_log, c.expected_lines);

    std::vector<json> journal = run.journal();
    std::vector<std::string> order;
    for (const json &entry : journal)
        if (entry.value("pid", -1) == board && entry.value("fn", "") != "VirtBoardStatus")
            order.push_back(entry.value("fn", ""));
    EXPECT_EQ(order, (std::vector<std::string>{"VirtBoardStart", "VirtBoardStop", "keldvb_unload"}));
    for (const char *function : {"VirtBoardStatus", "VirtBoardStop"}) {
        for (const json &entry : calls_from(run.journal(), function, board)) {
            EXPECT_EQ(entry["zero"], true) << function << " got a record that is not all zero";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, BoardStop, testing::ValuesIn(stop_cases),
                         [](const testing::TestParamInfo<StopCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(BoardStop, SignalDuringTheStartStopsAfterOnePoll)
{
    DaemonRun run(json{{"virtual_board", {{"start_delay_ms", 2500}}}});
    run.set_modules(std::nullopt);
    Process daemon = start(TARVOLD_BIN, run.daemon_options);
    ASSERT_TRUE(wait_for_file_text(run.pid_file, "\n", deadline_ms));
    pid_t board = only_board_pid(run.pid_file);
    // The child sleeps inside VirtBoardStart, which journals its call only on
    // its way out; the child's handlers went in before the library was loaded.
    ASSERT_TRUE(wait_until_blocked(board, BlockedIn::sleep, deadline_ms));
    ASSERT_TRUE(calls_from(run.journal(), "VirtBoardStart", board).empty()) << "the start was over";
    ASSERT_TRUE(calls_from(run.journal(), "VirtBoardStop", board).empty());
    ASSERT_EQ(kill(board, SIGTERM), 0);

    ASSERT_TRUE(wait_exit(daemon, deadline_ms));
    EXPECT_EQ(exit_status_of_child(board), 0);
    EXPECT_EQ(calls_from(run.journal(), "VirtBoardStart", board).size(), 1u);
    EXPECT_EQ(calls_from(run.journal(), "VirtBoardStatus", board).size(), 1u);
    EXPECT_EQ(calls_from(run.journal(), "VirtBoardStop", board).size(), 1u);
}

// A pid file that cannot be created costs the boards nothing but their lines.
TEST(ModuleList, PidFileThatCannotBeCreatedStillStartsTheBoards)
{
    DaemonRun run;
    run.set_modules("65");
    run.pid_file = run.dir.file("missing/pid");
    run.daemon_options.args = {"-f", FIRMWARE_DIR, "-p", run.pid_file};
    Process daemon = run_daemon(run);

    EXPECT_EQ(count_of(daemon.err(), "Couldn't fopen " + run.pid_file + ": No such file or directory\n"), 1u)
        << daemon.err();
    EXPECT_EQ(count_of(daemon.err(), "Starting Virtual Board module 0x41\n"), 1u) << daemon.err();
    EXPECT_TRUE(run.wait_for_calls("VirtBoardStart", 1));
}

// ---- libraries that are not loaded -------------------------------------------

TEST(BoardLibrary, MissingLibraryEndsEachChildWith255WhileEveryPidLineIsWritten)
{
    TempDir firmware;                            // no keldvb.so in it
    DaemonRun run(nullptr, firmware.path);
    run.set_modules("65,66,67");
    long long started = now_ms();
    Process daemon = run_daemon(run);
    EXPECT_GE(now_ms() - started, 8800);

    std::vector<BoardLine> lines = board_lines(read_file(run.pid_file));
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(lines[i].module, 65 + i);
        EXPECT_EQ(exit_status_of_child(lines[i].pid), 255);
    }
    std::string missing = "Couldn't open firmware: " + firmware.file("keldvb.so") +
                          ": cannot open shared object file";
    EXPECT_EQ(count_of(daemon.err(), missing), 3u) << daemon.err();
    EXPECT_TRUE(run.calls("VirtBoardStart").empty());
}

// A firmware directory whose "%s/keldvb.so" is 1024 characters: cut to fit,
// it would name "keldvb.s", which is there and loads.
std::string firmware_dir_too_long_by_one(const TempDir &dir)
{
    std::string base = dir.file("fw");
    mkdir(base.c_str(), 0755);
    EXPECT_EQ(symlink(FIRMWARE_DIR "/keldvb.so", (base + "/keldvb.s").c_str()), 0);
    std::string padded = base;
    size_t wanted = 1024 - std::string("/keldvb.so").size();
    if ((wanted - padded.size()) % 2)
        padded += "/";
    while (padded.size() < wanted)
        padded += "/.";
    return padded;
}

struct UnloadedLibrary {
    std::string log;     // the daemon's and its board's
    std::string failure; // the one line on the library
};

// Runs the daemon with the one default board, whose library in the run's
// firmware folder must not be loaded: the child ends with 255 after one
// line on it.
UnloadedLibrary run_with_a_library_not_loaded(const DaemonRun &run)
{
    Process daemon = run_daemon(run);
    EXPECT_EQ(exit_status_of_child(only_board_pid(run.pid_file)), 255);
    std::vector<std::string> failures = lines_starting(daemon.err(), "Couldn't open firmware: ");
    EXPECT_EQ(failures.size(), 1u) << daemon.err();
    return {daemon.err(), failures.empty() ? "" : failures[0]};
}

TEST(BoardLibrary, LibraryWithoutAnEntryPointIsClosedUncalledAndEndsWith255)
{
    DaemonRun run(nullptr, NO_STATUS_FIRMWARE_DIR);
    run.set_modules(std::nullopt);
    UnloadedLibrary library = run_with_a_library_not_loaded(run);

    EXPECT_NE(library.failure.find("VirtBoardStatus"), std::string::npos) << library.failure;
    EXPECT_EQ(library.log.find("entry point called"), std::string::npos);
}

TEST(BoardLibrary, PathThatDoesNotFitIsNotLoaded)
{
    TempDir dir;
    std::string firmware_dir = firmware_dir_too_long_by_one(dir);
    ASSERT_EQ(firmware_dir.size() + std::string("/keldvb.so").size(), 1024u);
    DaemonRun run(nullptr, firmware_dir);
    run.set_modules(std::nullopt);
    UnloadedLibrary library = run_with_a_library_not_loaded(run);

    EXPECT_NE(library.failure.find("too long"), std::string::npos) << library.failure;
    EXPECT_TRUE(run.calls("VirtBoardStart").empty());
}

// ---- the whole daemon and kill mode --------------------------------------------

TEST(DaemonWithBoards, KillModeEndsTheBoardsAndTheDaemonFromThePidFile)
{
    DaemonRun run;
    run.set_modules("65,66");
    write_file(run.dir.file("tarvol.cfg"), "config\n");
    run.daemon_options.args.insert(run.daemon_options.args.end(), {"-c", run.dir.file("tarvol.cfg")});
    Process daemon = start(TARVOLD_BIN, run.daemon_options);

    // The boards' lines first, then the daemon's own.
    std::string expected_tail = "\n" + std::to_string(daemon.pid) + "\n";
    ASSERT_TRUE(wait_for_file_text(run.pid_file, expected_tail, deadline_ms)) << read_file(run.pid_file);
    std::string pid_text = read_file(run.pid_file);
    std::string board_text = pid_text.substr(0, pid_text.size() - expected_tail.size() + 1);
    std::vector<BoardLine> boards = board_lines(board_text);
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].module, 65u);
    EXPECT_EQ(boards[1].module, 66u);

    Process killer = run_kill_mode({run.pid_file});
    EXPECT_EQ(killer.exit_code(), 0);
    EXPECT_EQ(killer.out(), "Killing Virtual Board 0x41: " + std::to_string(boards[0].pid) +
                                "\nKilling Virtual Board 0x42: " + std::to_string(boards[1].pid) +
                                "\nKilling tarvold process: " + std::to_string(daemon.pid) + "\n");

    ASSERT_TRUE(wait_exit(daemon, deadline_ms));
    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_NE(access(run.pid_file.c_str(), F_OK), 0) << "pid file left after the orderly stop";
    for (const BoardLine &board : boards)
        EXPECT_EQ(exit_status_of_child(board.pid), 0);
    EXPECT_EQ(count_of(daemon.err(), "Closing Virtual Board"), 2u);
}

TEST(DaemonWithBoards, WithoutConfigurationThePidFileIsLeftForKillMode)
{
    DaemonRun run;
    run.set_modules(std::nullopt);
    Process daemon = run_daemon(run);
    pid_t board = only_board_pid(run.pid_file);

    Process killer = run_kill_mode({run.pid_file});
    EXPECT_EQ(killer.exit_code(), 254);
    EXPECT_EQ(killer.out(), "Killing Virtual Board 0x41: " + std::to_string(board) +
                                "\nError: Invalid " + run.pid_file + " file");
    EXPECT_EQ(exit_status_of_child(board), 0);
    EXPECT_EQ(count_of(daemon.err(), "Closing Virtual Board"), 1u);
}

} // namespace
