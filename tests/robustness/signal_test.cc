// Signals at awkward moments: a flood of restarts, and a stop while the
// daemon is still scanning its modules, before it has a handler.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "robustness.h"

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
    ASSERT_TRUE(run.wait_for_calls("ZolCallCtrlInit", 3, harness::deadline_ms));
    // The burst is over once the daemon waits again with no restart pending.
    ASSERT_TRUE(harness::wait_until_blocked(daemon.pid, harness::BlockedIn::signal_wait, harness::deadline_ms));
    harness::send_signal(daemon, SIGTERM);
    // Well below the daemon's 60-second wait step: the stop ends the wait.
    ASSERT_TRUE(harness::wait_exit(daemon, 20000)) << "no stop after the burst";

    EXPECT_EQ(daemon.exit_code(), 0) << daemon.wait_status;
    EXPECT_FALSE(robustness::file_exists(run.pid_file));
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

// A stop or restart signal during the firmware scan ends the daemon by the
// signal's default action: no handler is installed yet. The scan is held in
// the middle of a download: the stand-in reads the PPC image, which is a FIFO
// that nobody writes. The daemon writes no pid line and leaves the pid file
// as it found it.
TEST(Signals, SignalDuringTheFirmwareScanEndsTheDaemonByDefault)
{
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        RunFolder run;
        const std::string firmware_dir = run.dir.file("firmware");
        ASSERT_EQ(mkdir(firmware_dir.c_str(), 0755), 0);
        ASSERT_EQ(mkfifo((firmware_dir + "/cp.bin").c_str(), 0644), 0);
        harness::write_file(run.pid_file, "earlier\n");
        json description = {{"modules", {{"2", {{"board_name", "KQ4800 MERODAN"}}}}}};
        harness::RunOptions options =
            run.options({"-f", firmware_dir, "-c", run.config, "-p", run.pid_file}, description);
        options.env["virtual_modules"] = "";
        Process daemon = harness::start(TARVOLD_BIN, options);

        ASSERT_TRUE(harness::wait_for_stderr(daemon, "Loading PPC firmware [0] from " + firmware_dir + "/cp.bin\n",
                                             harness::deadline_ms))
            << daemon.err();
        ASSERT_TRUE(harness::wait_until_blocked(daemon.pid, harness::BlockedIn::open, harness::deadline_ms))
            << "the scan did not wait for its image";
        ASSERT_FALSE(harness::wait_exit(daemon, 0)) << "the scan did not wait for its image";
        harness::send_signal(daemon, signal_number);
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));

        EXPECT_EQ(daemon.term_signal(), signal_number) << daemon.wait_status;
        EXPECT_EQ(harness::read_file(run.pid_file), "earlier\n");
        EXPECT_TRUE(run.calls("ZolCallCtrlInit").empty());
    }
}

} // namespace
