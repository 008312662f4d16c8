// Signals at awkward moments: a flood of restarts, and a stop while the
// daemon is still scanning its modules, before it has a handler.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using harness::json;
using harness::Process;
using harness::RunFolder;

// 100 SIGHUPs sent as fast as they go: the service is restarted (each time
// on a record filled afresh, which the stand-in would show otherwise), every
// start is closed again, and a SIGTERM afterwards still stops the daemon in
// order.
TEST(Signals, BurstOfHangupsRestartsAndStopsInOrder)
{
    RunFolder run;
    Process daemon = harness::start(TARVOLD_BIN, run.options({"-c", run.config, "-p", run.pid_file}));
    ASSERT_TRUE(run.wait_for_calls("ZolCallCtrlInit", 1, harness::deadline_ms)) << daemon.err();
    ASSERT_TRUE(harness::wait_for_file_text(run.pid_file, std::to_string(daemon.pid) + "\n", harness::deadline_ms));

    for (int i = 0; i < 100; i++) {
        harness::send_signal(daemon, SIGHUP);
        if (i % 10 == 9)
            usleep(2000); // let the daemon run now and then, so that several restarts happen
    }
    // The burst is over once the daemon waits again with no restart pending.
    ASSERT_TRUE(harness::wait_until_daemon_waits(run, daemon.pid, 3));
    harness::send_signal(daemon, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(daemon, harness::within_the_wait_ms)) << "no stop after the burst";

    EXPECT_EQ(daemon.exit_code(), 0) << daemon.wait_status;
    EXPECT_FALSE(harness::file_exists(run.pid_file));
    std::vector<json> journal = run.journal();
    size_t starts = 0, open_services = 0;
    for (const json &entry : journal) {
        const std::string fn = entry["fn"];
        if (fn == "ZolCallCtrlInit") {
            starts++;
            open_services++;
            EXPECT_EQ(entry["zero"], true) << entry.dump();
            EXPECT_EQ(entry["in"]["config_path"], run.config);
            EXPECT_EQ(entry["in"]["init_setting"], 1);
            EXPECT_EQ(entry["in"]["ecc_log_path"], "");
        } else if (fn == "ZolCallCtrlClose") {
            EXPECT_EQ(open_services, 1u) << "a close without a start";
            open_services--;
        }
        EXPECT_LE(open_services, 1u) << "a start without the close of the one before";
    }
    EXPECT_GE(starts, 3u);
    EXPECT_LE(starts, 101u);
    EXPECT_EQ(open_services, 0u);
    EXPECT_EQ(journal.back()["fn"], "ZolCallCtrlClose");
}

// A firmware folder whose PPC image is a FIFO that nobody writes: the
// stand-in's download of it waits in its open, which holds the daemon in the
// middle of its firmware scan until the test opens the FIFO for writing.
struct HeldScan {
    std::string firmware_dir;
    std::string image;
    json description = {{"modules", {{"2", {{"board_name", "KQ4800 MERODAN"}}}}}};

    explicit HeldScan(const RunFolder &run) : firmware_dir(run.dir.file("firmware")), image(firmware_dir + "/cp.bin")
    {
        EXPECT_EQ(mkdir(firmware_dir.c_str(), 0755), 0);
        EXPECT_EQ(mkfifo(image.c_str(), 0644), 0);
    }
    // True once the daemon waits for the image.
    bool holds(Process &daemon) const
    {
        return harness::wait_for_stderr(daemon, "Loading PPC firmware [0] from " + image + "\n",
                                        harness::deadline_ms) &&
               harness::wait_until_blocked(daemon.pid, harness::BlockedIn::open, harness::deadline_ms) &&
               !harness::wait_exit(daemon, 0);
    }
    // Lets the download go on with an empty image. Not blocking: a daemon
    // that has ended never opens its end.
    void release() const
    {
        int writer = open(image.c_str(), O_WRONLY | O_NONBLOCK);
        EXPECT_GE(writer, 0) << strerror(errno);
        if (writer >= 0)
            close(writer);
    }
};

// A stop or restart signal during the firmware scan ends the daemon by the
// signal's default action: no handler is installed yet. The daemon writes no
// pid line and leaves the pid file as it found it.
TEST(Signals, SignalDuringTheFirmwareScanEndsTheDaemonByDefault)
{
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        RunFolder run;
        HeldScan scan(run);
        harness::write_file(run.pid_file, "earlier\n");
        harness::RunOptions options =
            run.options({"-f", scan.firmware_dir, "-c", run.config, "-p", run.pid_file}, scan.description);
        options.env["virtual_modules"] = "";
        Process daemon = harness::start(TARVOLD_BIN, options);

        ASSERT_TRUE(scan.holds(daemon)) << "the scan did not wait for its image: " << daemon.err();
        harness::send_signal(daemon, signal_number);
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));

        EXPECT_EQ(daemon.term_signal(), signal_number) << daemon.wait_status;
        EXPECT_EQ(harness::read_file(run.pid_file), "earlier\n");
        EXPECT_TRUE(run.calls("ZolCallCtrlInit").empty());
    }
}

// A parent that leaves the signals blocked keeps a stop sent during the scan
// pending. The daemon takes it once its handlers are in, before it
// daemonises, so that with -D too the daemon that runs the service starts
// it, closes it at once, removes the pid file and ends with 0.
TEST(Signals, StopDuringTheFirmwareScanWithSignalsBlockedIsKept)
{
    const std::vector<std::string> with_signals_blocked = harness::python_parent(
        "signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])");
    struct KeptStopCase {
        int signal_number;
        bool daemonise;
    };
    const KeptStopCase cases[] = {{SIGTERM, false}, {SIGTERM, true}, {SIGINT, false}, {SIGINT, true}};
    for (const KeptStopCase &c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal_number)) + (c.daemonise ? ", with -D" : ", without -D"));
        RunFolder run;
        HeldScan scan(run);
        std::vector<std::string> args = {"-f", scan.firmware_dir, "-c", run.config, "-p", run.pid_file};
        if (c.daemonise)
            args.push_back("-D");
        harness::RunOptions options = run.options(args, scan.description);
        options.env["virtual_modules"] = "";
        options.wrapper = with_signals_blocked;
        Process daemon = harness::start(TARVOLD_BIN, options);

        ASSERT_TRUE(scan.holds(daemon)) << "the scan did not wait for its image: " << daemon.err();
        harness::send_signal(daemon, c.signal_number);
        scan.release();
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms)) << daemon.err();
        EXPECT_EQ(daemon.exit_code(), 0) << "signal " << daemon.term_signal();

        ASSERT_TRUE(run.wait_for_calls("ZolCallCtrlInit", 1)) << "the service never started: " << daemon.err();
        pid_t service = run.calls("ZolCallCtrlInit")[0]["pid"].get<pid_t>();
        if (c.daemonise) {
            EXPECT_NE(service, daemon.pid);
            int status = harness::wait_child_status(service, harness::deadline_ms);
            ASSERT_NE(status, -1) << "the daemon runs on: the stop was lost";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        } else {
            EXPECT_EQ(service, daemon.pid);
        }
        EXPECT_EQ(run.calls("ZolCallCtrlInit").size(), 1u);
        EXPECT_EQ(run.calls("ZolCallCtrlClose").size(), 1u);
        EXPECT_FALSE(harness::file_exists(run.pid_file));
    }
}

} // namespace
