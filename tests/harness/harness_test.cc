// The harness itself: output capture, waiting, and the clean-up that every
// other test relies on to leave nothing running.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"

using namespace harness;

TEST(Harness, CapturesOutputStatusAndEnvironment)
{
    RunOptions options;
    options.args = {"-c", "echo out; echo \"$PROBE\" >&2; exit 3"};
    options.env["PROBE"] = "value";
    Process p = run("/bin/sh", options);
    EXPECT_EQ(p.exit_code(), 3);
    EXPECT_EQ(p.out(), "out\n");
    EXPECT_EQ(p.err(), "value\n");
}

// The capture files reach the program as its stdout and stderr only, so a
// test that counts a program's descriptors sees the program's own.
TEST(Harness, ProgramGetsNoSpareDescriptorOfTheHarness)
{
    RunOptions options;
    options.args = {"-c", "for fd in /proc/$$/fd/*; do readlink \"$fd\"; done"};
    Process p = run("/bin/sh", options);
    std::string links = p.out();
    EXPECT_EQ(count_of(links, p.stdout_path + "\n"), 1u) << links;
    EXPECT_EQ(count_of(links, p.stderr_path + "\n"), 1u) << links;
}

TEST(Harness, WaitsForTextAndSignals)
{
    RunOptions options;
    options.args = {"-c", "echo ready; exec sleep 30"};
    Process p = start("/bin/sh", options);
    ASSERT_TRUE(wait_for_stdout(p, "ready", deadline_ms));
    send_signal(p, SIGTERM);
    ASSERT_TRUE(wait_exit(p, deadline_ms));
    EXPECT_EQ(p.term_signal(), SIGTERM);
}

TEST(Harness, GivesUpOnTextThatNeverComesWhenTheProcessEnds)
{
    RunOptions options;
    options.args = {"-c", "echo other"};
    Process p = start("/bin/sh", options);
    long long before = time(nullptr);
    EXPECT_FALSE(wait_for_stdout(p, "never", deadline_ms));
    EXPECT_LT(time(nullptr) - before, 10);
}

TEST(Harness, EndsOrphanedDescendants)
{
    RunOptions options;
    options.args = {"-c", "sleep 60 & echo $!"};
    Process p = run("/bin/sh", options);
    pid_t orphan = std::stoi(p.out());
    ASSERT_TRUE(pid_alive(orphan));
    end_all_processes();
    EXPECT_FALSE(pid_alive(orphan));
}

TEST(Harness, ReapsAReparentedChildWithItsStatus)
{
    RunOptions options;
    options.args = {"-c", "(sleep 0.2; exit 7) & echo $!"};
    Process p = run("/bin/sh", options);
    pid_t orphan = std::stoi(p.out());
    int status = wait_child_status(orphan, deadline_ms);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

// The waits on what a process is blocked in: each one holds for its own call
// only, and a stopped process is seen as stopped, not as blocked.
TEST(Harness, SeesWhatAProcessIsBlockedIn)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    write_file(dir.file("tarvol.cfg"), "configuration\n");
    struct Case {
        std::string program;
        std::vector<std::string> args;
        BlockedIn call;
    };
    const Case cases[] = {
        {"/bin/sh", {"-c", "exec sleep 60"}, BlockedIn::sleep},
        {"/bin/sh", {"-c", "exec cat " + dir.file("fifo")}, BlockedIn::open},
        // The daemon's wait for a stop or a restart.
        {TARVOLD_BIN, {"-c", dir.file("tarvol.cfg"), "-p", dir.file("pid")}, BlockedIn::signal_wait},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program);
        RunOptions options = sim_options(dir);
        options.args = c.args;
        Process p = start(c.program, options);
        ASSERT_TRUE(wait_until_blocked(p.pid, c.call, deadline_ms));
        for (BlockedIn other : {BlockedIn::sleep, BlockedIn::open, BlockedIn::signal_wait}) {
            if (other != c.call) {
                EXPECT_FALSE(wait_until_blocked(p.pid, other, 0));
            }
        }
        EXPECT_FALSE(wait_until_stopped(p.pid, 0));
        send_signal(p, SIGSTOP);
        EXPECT_TRUE(wait_until_stopped(p.pid, deadline_ms));
        EXPECT_FALSE(wait_until_blocked(p.pid, c.call, 0)) << "a stopped process is not blocked";
        send_signal(p, SIGKILL);
        ASSERT_TRUE(wait_exit(p, deadline_ms));
    }
}

// Under limit_own_files the limit meets a file the program writes itself,
// while its stdout, its stderr and the journal, each longer than the limit,
// arrive whole where the test reads them; the pid is the program's own.
TEST(Harness, AFileSizeLimitThatOnlyTheProgramsOwnFilesMeet)
{
    RunFolder run;
    const std::string own_file = run.dir.file("own");
    RunOptions options = run.options({"-c", "trap '' XFSZ; printf 0123456789 >\"$0\" 2>/dev/null; "
                                            "echo \"stdout of $$\"; echo 'stderr, whole' >&2; "
                                            "echo '{\"fn\": \"probe\"}' >>\"$HOST_SIM_JOURNAL\"",
                                      own_file});
    limit_own_files(options, run, 4);
    Process p = start("/bin/sh", options);
    ASSERT_TRUE(wait_exit(p, deadline_ms));

    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(read_file(own_file), "0123");
    EXPECT_TRUE(wait_for_file_text(p.stdout_path, "stdout of " + std::to_string(p.pid) + "\n", deadline_ms))
        << p.out();
    EXPECT_TRUE(wait_for_file_text(p.stderr_path, "stderr, whole\n", deadline_ms)) << p.err();
    EXPECT_TRUE(run.wait_for_calls("probe", 1));
}

// An empty tmpfs over binfmt_misc, in the test's own mount namespace (the
// launcher gives each test one), for as long as the object lives.
struct HiddenBinfmtMisc {
    static constexpr const char *path = "/proc/sys/fs/binfmt_misc";
    bool hidden = mount("tmpfs", path, "tmpfs", 0, "mode=0755") == 0;
    ~HiddenBinfmtMisc()
    {
        if (hidden)
            umount2(path, MNT_DETACH);
    }
};

// The emulation skips go by what actually runs an i386 program, so they hold
// in a container or a chroot, where binfmt_misc is seldom mounted although
// its emulator runs every i386 program. What runs one is told here apart from
// the probe: the file behind a running daemon's /proc/PID/exe is x86-64 code
// (ELF class 2) when it is the emulator. The same probe built for x86-64 is a
// program that the kernel runs itself.
TEST(Harness, TellsEmulationFromWhatRunsTheProgramWithBinfmtMiscHidden)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "hiding binfmt_misc takes a mount namespace of the test's own (root)";
    HiddenBinfmtMisc binfmt_misc;
    ASSERT_TRUE(binfmt_misc.hidden) << strerror(errno);
    ASSERT_FALSE(file_exists(std::string(HiddenBinfmtMisc::path) + "/status"));

    RunFolder run;
    Process daemon = start(TARVOLD_BIN, run.options({"-c", run.config, "-p", run.pid_file}));
    ASSERT_TRUE(wait_until_daemon_waits(run, daemon.pid));
    bool emulator_runs_it = runs_64_bit_code(daemon.pid);
    send_signal(daemon, SIGKILL);
    ASSERT_TRUE(wait_exit(daemon, deadline_ms));

    const struct {
        std::string probe, answer;
    } cases[] = {
        {EMULATION_PROBE_BIN, emulator_runs_it ? "emulated" : "native"},
        {EMULATION_PROBE_64_BIN, "native"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.probe);
        EXPECT_EQ(probe_answer(c.probe), c.answer);
    }
}
