// The call-control service loop against the stand-in: the start record, the
// stop and restart signals, start failures, the pid line and daemonising.
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"

using harness::json;
using harness::RunFolder;

namespace {

std::string pid_line(pid_t pid) { return std::to_string(pid) + "\n"; }

using harness::within_the_wait_ms;

// Starts the daemon and waits until the service has started and the daemon
// waits for a signal.
harness::Process start_service(const RunFolder &service, std::vector<std::string> extra_args = {},
                               const json &description = nullptr)
{
    std::vector<std::string> args = {"-c", service.config, "-p", service.pid_file};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    harness::Process daemon = harness::start(TARVOLD_BIN, service.options(args, description));
    EXPECT_TRUE(harness::wait_until_daemon_waits(service, daemon.pid)) << daemon.err();
    return daemon;
}

void expect_start_record(const json &init, const std::string &config, const std::string &ecc_log)
{
    EXPECT_EQ(init["in"]["config_path"], config);
    EXPECT_EQ(init["in"]["init_setting"], 1);
    EXPECT_EQ(init["in"]["ecc_log_path"], ecc_log);
    EXPECT_EQ(init["zero"], true) << init.dump();
}

// Holds the daemon stopped while signals are sent, so that they all arrive
// before it next tests its flags.
void send_while_stopped(const harness::Process &daemon, const std::vector<int> &signals)
{
    harness::send_signal(daemon, SIGSTOP);
    ASSERT_TRUE(harness::wait_until_stopped(daemon.pid, harness::deadline_ms));
    for (int signal_number : signals)
        harness::send_signal(daemon, signal_number);
    harness::send_signal(daemon, SIGCONT);
}

TEST(ServiceLoop, StartsWithTheRecordAndStopsAtOnceOnSignal)
{
    struct Case {
        int stop_signal;
        std::vector<std::string> ecc_args;
        std::string ecc_log;
    };
    const Case cases[] = {
        {SIGTERM, {}, ""},
        {SIGINT, {"-l", "/var/log/ecc.log"}, "/var/log/ecc.log"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(strsignal(c.stop_signal));
        RunFolder service;
        harness::Process daemon = start_service(service, c.ecc_args);
        ASSERT_TRUE(harness::wait_for_file_text(service.pid_file, "\n", harness::deadline_ms));
        EXPECT_EQ(harness::read_file(service.pid_file), pid_line(daemon.pid));
        harness::send_signal(daemon, c.stop_signal);

        ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms)) << "the stop waited for the end of the wait";
        EXPECT_EQ(daemon.exit_code(), 0);
        EXPECT_EQ(daemon.out() + daemon.err(), "");
        EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1) << "pid file left behind";
        std::vector<json> journal = harness::read_journal(service.journal_path);
        ASSERT_EQ(journal.size(), 2u);
        expect_start_record(journal[0], service.config, c.ecc_log);
        EXPECT_EQ(journal[1]["fn"], "ZolCallCtrlClose");
    }
}

// SIGHUP closes the service and starts it again on a record filled afresh
// (the stand-in leaves bytes of its own in the record at every start).
TEST(ServiceLoop, HangupRestartsTheService)
{
    RunFolder service;
    json description = {{"call_ctrl", {{"results", {{{"result", 0}}, {{"result", 2}}}}}}};
    harness::Process daemon =
        start_service(service, {"-v", "stdout", "-l", "ecc.log"}, description);
    harness::send_signal(daemon, SIGHUP);
    ASSERT_TRUE(service.wait_for_calls("ZolCallCtrlInit", 2, within_the_wait_ms)) << "no restart at once";
    ASSERT_TRUE(harness::wait_until_daemon_waits(service, daemon.pid, 2));

    // Several SIGHUPs in one wait: one restart.
    send_while_stopped(daemon, {SIGHUP, SIGHUP, SIGHUP});
    ASSERT_TRUE(service.wait_for_calls("ZolCallCtrlInit", 3, within_the_wait_ms));
    ASSERT_TRUE(harness::wait_until_daemon_waits(service, daemon.pid, 3));
    harness::send_signal(daemon, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms));

    EXPECT_EQ(daemon.exit_code(), 0);
    std::vector<std::string> functions;
    std::vector<json> journal = harness::read_journal(service.journal_path);
    for (const json &entry : journal)
        functions.push_back(entry["fn"]);
    EXPECT_EQ(functions, (std::vector<std::string>{
                             "ZolDebugModeSet", "ZolDebugModeSetISDN", "ZolCallCtrlInit",
                             "ZolCallCtrlClose", "ZolCallCtrlInit", "ZolCallCtrlClose",
                             "ZolCallCtrlInit", "ZolCallCtrlClose"}));
    for (const json &init : harness::calls(journal, "ZolCallCtrlInit"))
        expect_start_record(init, service.config, "ecc.log");
    std::string started = "Calling ECC Initialization\nRunning KM4862 ECC\n";
    EXPECT_EQ(daemon.err(), started + started + started);
    EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
}

TEST(ServiceLoop, StopWinsOverARestartThatArrivesWithIt)
{
    for (auto order : {std::vector<int>{SIGHUP, SIGTERM}, std::vector<int>{SIGINT, SIGHUP}}) {
        SCOPED_TRACE(strsignal(order[0]));
        RunFolder service;
        harness::Process daemon = start_service(service);
        send_while_stopped(daemon, order);
        ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms));

        EXPECT_EQ(daemon.exit_code(), 0);
        EXPECT_EQ(service.calls("ZolCallCtrlInit").size(), 1u);
        EXPECT_EQ(service.calls("ZolCallCtrlClose").size(), 1u);
        EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
    }
}

// The seed of a test's random moments: from the clock, so that each run tries
// others, or TEST_RANDOM_SEED when set, to replay a run that failed (a
// failure names the seed it used).
unsigned random_seed()
{
    const char *given = getenv("TEST_RANDOM_SEED");
    return given && *given ? static_cast<unsigned>(std::stoul(given)) : static_cast<unsigned>(time(nullptr));
}

// A stop sent at any moment, also right after a burst of restarts or while
// the daemon is still starting, ends it within a second every time: no
// signal may slip in between the test of the flags and the wait.
TEST(ServiceLoop, StopAtARandomMomentEndsTheDaemonAtOnce)
{
    const unsigned seed = random_seed();
    SCOPED_TRACE("TEST_RANDOM_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    auto pause_up_to = [&](int microseconds) {
        usleep(std::uniform_int_distribution<int>(0, microseconds)(random));
    };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        RunFolder service;
        bool service_started = round % 2 == 0;
        harness::Process daemon = harness::start(
            TARVOLD_BIN, service.options({"-c", service.config, "-p", service.pid_file}));
        if (service_started) {
            ASSERT_TRUE(service.wait_for_calls("ZolCallCtrlInit", 1, harness::deadline_ms));
        } else {
            pause_up_to(20000);
        }
        for (int burst = 0; burst < 5; ++burst) {
            harness::send_signal(daemon, SIGHUP);
            pause_up_to(300);
        }
        pause_up_to(2000);
        harness::send_signal(daemon, SIGTERM);

        ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms)) << "the stop was lost";
        if (service_started) {
            EXPECT_EQ(daemon.exit_code(), 0);
        } else { // it may have been ended before its handlers were installed
            EXPECT_TRUE(daemon.exit_code() == 0 || daemon.term_signal() == SIGHUP ||
                        daemon.term_signal() == SIGTERM)
                << daemon.wait_status;
        }
        if (daemon.exit_code() == 0) {
            EXPECT_EQ(service.calls("ZolCallCtrlInit").size(), service.calls("ZolCallCtrlClose").size());
        }
    }
}

// Both failure messages; the process ends with 255 and leaves its pid line.
TEST(ServiceLoop, StartFailureEndsWith255)
{
    struct Case {
        json results;
        std::vector<std::string> ecc_args;
        std::string messages;
    };
    const Case cases[] = {
        {{{{"result", -5}}}, {"-l", "ecc.log"},
         "Unable to start Keldra Host ECC Service.\nNo valid configuration found. See ecc.log\n"},
        {{{{"result", -5}}}, {},
         "Unable to start Keldra Host ECC Service.\nNo valid configuration found. See \n"},
        {{{{"result", -3}, {"detail_a", 4}, {"detail_b", -6}}}, {"-l", "ecc.log"},
         "Unable to start Keldra Host Service(-3) [4:-6]\nSee 'ecc.log' for more details\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.messages);
        RunFolder service;
        std::vector<std::string> args = {"-c", service.config, "-p", service.pid_file};
        args.insert(args.end(), c.ecc_args.begin(), c.ecc_args.end());
        json description = {{"call_ctrl", {{"results", c.results}}}};
        harness::Process daemon = harness::run(TARVOLD_BIN, service.options(args, description), harness::deadline_ms);

        EXPECT_EQ(daemon.exit_code(), 255);
        EXPECT_EQ(daemon.err(), c.messages);
        EXPECT_EQ(harness::read_file(service.pid_file), pid_line(daemon.pid));
        EXPECT_EQ(service.calls("ZolCallCtrlInit").size(), 1u);
        EXPECT_TRUE(service.calls("ZolCallCtrlClose").empty());
    }
}

TEST(ServiceLoop, RestartFailureEndsWith255AndLeavesTheServiceClosed)
{
    RunFolder service;
    json description = {
        {"call_ctrl",
         {{"results", {{{"result", 0}}, {{"result", -7}, {"detail_a", 1}, {"detail_b", 2}}}}}}};
    harness::Process daemon = start_service(service, {"-l", "ecc.log"}, description);
    harness::send_signal(daemon, SIGHUP);
    ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms));

    EXPECT_EQ(daemon.exit_code(), 255);
    EXPECT_EQ(daemon.err(), "Unable to start Keldra Host Service(-7) [1:2]\nSee 'ecc.log' for more details\n");
    EXPECT_EQ(service.calls("ZolCallCtrlInit").size(), 2u);
    EXPECT_EQ(service.calls("ZolCallCtrlClose").size(), 1u);
    EXPECT_EQ(harness::read_file(service.pid_file), pid_line(daemon.pid));
}

// Without -f nothing empties the pid file: the daemon's line goes after the
// lines it already held.
TEST(PidLine, AppendedAfterWhatTheFileHeld)
{
    RunFolder service;
    const std::string earlier = "Virtual Board 0x41: 4000000\n4000001\n";
    harness::write_file(service.pid_file, earlier);
    harness::Process daemon = start_service(service);
    ASSERT_TRUE(harness::wait_for_file_text(service.pid_file, pid_line(daemon.pid), harness::deadline_ms));
    EXPECT_EQ(harness::read_file(service.pid_file), earlier + pid_line(daemon.pid));

    harness::send_signal(daemon, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms));
    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
}

TEST(PidLine, FileThatCannotBeOpenedIsReportedAndTheServiceRuns)
{
    RunFolder service;
    std::string path = service.dir.file("no/such/folder/tarvold.pid");
    harness::Process daemon = harness::start(
        TARVOLD_BIN, service.options({"-c", service.config, "-p", path}));
    // The handlers are in before the service starts.
    ASSERT_TRUE(service.wait_for_calls("ZolCallCtrlInit", 1, harness::deadline_ms));
    harness::send_signal(daemon, SIGTERM);
    ASSERT_TRUE(harness::wait_exit(daemon, within_the_wait_ms));

    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_EQ(daemon.err(), "Couldn't fopen " + path + ": No such file or directory\n");
    EXPECT_EQ(service.calls("ZolCallCtrlClose").size(), 1u);
}

// A datagram socket that stands in for the system log: the daemon runs in a
// private mount namespace whose /dev holds only "log", a link to it.
struct SyslogSocket {
    std::string path;
    int fd = -1;

    explicit SyslogSocket(const std::string &socket_path) : path(socket_path)
    {
        fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot bind " << path;
        timeval timeout = {harness::deadline_ms / 1000, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~SyslogSocket() { close(fd); }

    std::string receive()
    {
        char buffer[2048];
        ssize_t length = recv(fd, buffer, sizeof buffer, 0);
        return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
    }

    harness::RunOptions wrap(harness::RunOptions options) const
    {
        options.wrapper = {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                           "mount -t tmpfs tmpfs /dev && ln -s \"$SYSLOG_SOCKET\" /dev/log && exec \"$@\"",
                           "sh"};
        options.env["SYSLOG_SOCKET"] = path;
        return options;
    }
};

// -D: the started process ends at once with 0; the daemon is its child, writes
// its own pid and logs to syslog, leaving an empty line on stderr per message.
TEST(Daemonise, ChildRunsTheServiceAndLogsToSyslog)
{
    RunFolder service;
    SyslogSocket syslog_socket(service.dir.file("log.sock"));
    std::string verbose = service.dir.file("verbose.out");
    harness::RunOptions options = syslog_socket.wrap(service.options(
        {"-D", "-c", service.config, "-p", service.pid_file, "-v", verbose}));
    harness::Process started = harness::start(TARVOLD_BIN, options);
    ASSERT_TRUE(harness::wait_exit(started, harness::deadline_ms));
    EXPECT_EQ(started.exit_code(), 0) << started.err();

    ASSERT_TRUE(harness::wait_for_file_text(service.pid_file, "\n", harness::deadline_ms));
    pid_t daemon = std::stoi(harness::read_file(service.pid_file));
    EXPECT_NE(daemon, started.pid);
    EXPECT_TRUE(harness::pid_alive(daemon));
    std::string tag = "tarvold[" + std::to_string(daemon) + "]: ";
    // LOG_DAEMON | LOG_INFO
    std::string first = syslog_socket.receive(), second = syslog_socket.receive();
    EXPECT_EQ(first.rfind("<30>", 0), 0u) << first;
    EXPECT_NE(first.find(tag + "Calling ECC Initialization"), std::string::npos) << first;
    EXPECT_NE(second.find(tag + "Running KM4862 ECC"), std::string::npos) << second;
    // Each message's newline on stderr follows its syslog line; the last is
    // written once the daemon waits.
    ASSERT_TRUE(harness::wait_until_daemon_waits(service, daemon));
    EXPECT_EQ(harness::read_file(verbose), "Options:\n -c " + service.config + "\n -l \n -v " +
                                               verbose + "\n -D\n\n\n");

    kill(daemon, SIGTERM);
    EXPECT_TRUE(harness::wait_pid_gone(daemon, within_the_wait_ms));
    EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
    std::vector<json> journal = harness::read_journal(service.journal_path);
    ASSERT_EQ(harness::calls(journal, "ZolCallCtrlInit").size(), 1u);
    EXPECT_EQ(harness::calls(journal, "ZolCallCtrlInit")[0]["pid"], daemon);
    EXPECT_EQ(harness::calls(journal, "ZolCallCtrlClose").size(), 1u);
}

} // namespace

namespace {

// A fork that fails: a user allowed one process only (root is exempt from the
// limit, so the daemon runs as another user here).
TEST(Daemonise, ForkThatFailsEndsWith255)
{
    SKIP_UNDER_EMULATION(harness::fork_limit);
    RunFolder service;
    harness::OtherUser user(65533);
    harness::RunOptions options;
    options.wrapper = {"prlimit", "--nproc=1"};
    options.args = {"-D", "-c", service.config, "-p", service.pid_file};
    harness::Process daemon = user.run(TARVOLD_BIN, options);

    EXPECT_EQ(daemon.exit_code(), 255);
    EXPECT_EQ(daemon.err(), "Couldn't fork: Resource temporarily unavailable\n");
    EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
}

} // namespace
