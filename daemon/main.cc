// tarvold: board start-up and call-control daemon. main reads the command
// line, brings the boards up when given a firmware directory, and keeps the
// host library's call-control service running until it is told to stop.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <syslog.h>
#include <unistd.h>

#include "board_api.h"
#include "daemon.h"
#include "firmware.h"
#include "kill_mode.h"
#include "pid_file.h"
#include "virtual_board.h"

// Each wait step; a handled signal ends it early.
const int SERVICE_WAIT_SECONDS = 60;

// ZolDebugModeSet and ZolDebugModeSetISDN: every kind of debug output.
enum { DEBUG_MODE_ALL = -1 };

// The settings point at the argument strings themselves.
struct DaemonSettings {
    const char *firmware_dir;
    const char *config_path;
    const char *ecc_log_path;
    const char *verbose_output;
    const char *pid_path;
    int daemonise;
    int firmware_option; // -n, passed with each PPC image download
};

// A closed descriptor among 0, 1 and 2 would go to the next file we open (the
// pid file, the -v file), and every line meant for the terminal would land
// in it. Each closed one gets /dev/null first: open takes the lowest free
// descriptor, which is that one. Without /dev/null there is nowhere safe to
// write, nor to say so.
static void open_standard_descriptors(void)
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (open("/dev/null", O_RDWR) != fd)
            exit(-1);
    }
}

// Kept on purpose: the blank line after the usage text is the daemon's own.
[[noreturn]] static void print_usage(const char *program_name)
{
    fprintf(stderr,
            "Usage: %s [-D] [-p pid_file] [-f fw_path] [-c tarvol.cfg] [-v output] [-l ecc.log]\n\n",
            program_name);
    exit(-1);
}

static void read_options(int argc, char **argv, DaemonSettings *settings)
{
    settings->firmware_dir = nullptr;
    settings->config_path = nullptr;
    settings->ecc_log_path = "";
    settings->verbose_output = nullptr;
    settings->pid_path = DEFAULT_PID_PATH;
    settings->daemonise = 0;
    settings->firmware_option = 0;

    int option;
    while ((option = getopt(argc, argv, "n:p:c:f:l:v:D")) != -1) {
        switch (option) {
        case 'D': settings->daemonise = 1; break;
        case 'c': settings->config_path = optarg; break;
        case 'f': settings->firmware_dir = optarg; break;
        case 'l': settings->ecc_log_path = optarg; break;
        case 'p': settings->pid_path = optarg; break;
        case 'v': settings->verbose_output = optarg; break;
        case 'n': settings->firmware_option = static_cast<int>(strtol(optarg, nullptr, 10)); break;
        case '?': print_usage(argv[0]);
        default: break;
        }
    }
}

// Sends stdout and stderr to the file. A failed open is not reported: both
// duplications then fail too and the inherited outputs stay. The descriptor
// itself is closed, or the daemon and every board would hold a spare one.
static void redirect_output(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    if (fd > STDERR_FILENO)
        close(fd);
}

static void print_options(const DaemonSettings *settings)
{
    puts("Options:");
    if (settings->config_path)
        printf(" -c %s\n", settings->config_path);
    if (settings->firmware_dir)
        printf(" -f %s\n", settings->firmware_dir);
    printf(" -l %s\n", settings->ecc_log_path);
    printf(" -v %s\n", settings->verbose_output);
    if (settings->daemonise)
        puts(" -D");
}

static void set_up_verbose_output(const DaemonSettings *settings)
{
    if (strcmp(settings->verbose_output, "stdout") != 0)
        redirect_output(settings->verbose_output);
    print_options(settings);
    setbuf(stdout, nullptr);
    ZolDebugModeSet(DEBUG_MODE_ALL);
    ZolDebugModeSetISDN(DEBUG_MODE_ALL);
}

static void bring_up_boards(const DaemonSettings *settings, char **argv, char **envp)
{
    run_firmware_scan(settings->firmware_dir, settings->firmware_option);
    start_virtual_boards(settings->firmware_dir, settings->pid_path, argv, envp);
}

// Unblocked as well: a stop asked for during the start-up, while a parent's
// mask kept it pending, is taken here, before the daemonising fork.
static void install_signal_handlers(void)
{
    catch_daemon_signal(SIGTERM);
    catch_daemon_signal(SIGINT);
    catch_daemon_signal(SIGHUP);
}

// Forks the daemon off; only the child returns, logging to syslog from then on.
static void daemonise(void)
{
    pid_t child = fork();
    if (child < 0) {
        perror("Couldn't fork");
        exit(-1);
    }
    if (child > 0)
        exit(0);
    openlog("tarvold", LOG_PID | LOG_NDELAY, LOG_DAEMON);
    use_syslog = 1;
}

static void append_pid_line(const char *pid_path)
{
    FILE *pid_file = open_pid_file(pid_path, "a");
    if (!pid_file)
        return;
    write_pid_line(pid_file, pid_path, "%u\n", static_cast<unsigned>(getpid()));
    close_pid_file(pid_file, pid_path);
}

// Nothing the library wrote on an earlier start may carry over into the next.
static void fill_call_ctrl_args(CallCtrlInitArgs *args, const DaemonSettings *settings)
{
    memset(args, 0, sizeof *args);
    args->config_path = settings->config_path;
    args->init_setting = CALL_CTRL_INIT_SETTING;
    args->ecc_log_path = settings->ecc_log_path;
}

static void report_start_failure(int result, const CallCtrlInitArgs *args, const char *ecc_log_path)
{
    if (result == CALL_CTRL_NO_VALID_CONFIG) {
        log_message("Unable to start Keldra Host ECC Service.");
        log_message("No valid configuration found. See %s", ecc_log_path);
    } else {
        log_message("Unable to start Keldra Host Service(%d) [%d:%d]", result,
                    args->error_detail_a, args->error_detail_b);
        log_message("See '%s' for more details", ecc_log_path);
    }
}

// Waits until a stop or a restart is asked for. The three signals stay
// blocked while the flags are tested and are let in only inside pselect, so
// one that arrives between the test and the wait still ends the wait at once.
// The wait's mask is the one from before, in which the handlers have let
// the three in.
static void wait_for_stop_or_restart(void)
{
    sigset_t service_signals, wait_mask;
    sigemptyset(&service_signals);
    sigaddset(&service_signals, SIGTERM);
    sigaddset(&service_signals, SIGINT);
    sigaddset(&service_signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &service_signals, &wait_mask);

    while (keep_running && !restart_requested) {
        struct timespec wait_step = {SERVICE_WAIT_SECONDS, 0};
        pselect(0, nullptr, nullptr, nullptr, &wait_step, &wait_mask);
    }
    sigprocmask(SIG_UNBLOCK, &service_signals, nullptr);
}

// Starts the service and restarts it on request; returns the exit status.
static int run_service_loop(const DaemonSettings *settings)
{
    CallCtrlInitArgs call_ctrl_args;
    do {
        fill_call_ctrl_args(&call_ctrl_args, settings);
        if (settings->verbose_output)
            log_message("Calling ECC Initialization");
        int result = ZolCallCtrlInit(&call_ctrl_args);
        if (result < 0) {
            report_start_failure(result, &call_ctrl_args, settings->ecc_log_path);
            return -1;
        }
        restart_requested = 0;
        if (settings->verbose_output)
            log_message("Running KM4862 ECC");
        wait_for_stop_or_restart();
        ZolCallCtrlClose();
    } while (keep_running);
    return 0;
}

int main(int argc, char **argv, char **envp)
{
    open_standard_descriptors();
    // A log reader that goes away, or a log file that reaches the file-size
    // limit, must not end kill mode, the call-control service or a virtual
    // board (the children inherit this); the write fails and its line is lost
    // instead.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    if (argc >= 2 && strcmp(argv[1], "-k") == 0)
        run_kill_mode(argc, argv);

    DaemonSettings settings;
    read_options(argc, argv, &settings);
    if (settings.verbose_output)
        set_up_verbose_output(&settings);
    if (settings.firmware_dir)
        bring_up_boards(&settings, argv, envp);
    if (!settings.config_path)
        return 0;

    // Set before the handlers go in, so that a stop that arrives before the
    // service loop begins is not overwritten.
    keep_running = 1;
    install_signal_handlers();
    if (settings.daemonise)
        daemonise();
    append_pid_line(settings.pid_path);

    int status = run_service_loop(&settings);
    // Kept on purpose: a service that did not start leaves the pid file
    // behind, so that kill mode can still end the virtual boards it lists.
    if (status != 0)
        return status;
    unlink(settings.pid_path);
    return 0;
}
