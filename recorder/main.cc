// sulvet: records both directions of one T1 time slot into NAME.in and NAME.out.
//
// One run goes from set-up to teardown exactly once: module report, inbound
// and outbound channel (attach, reset, switch connection), pid file, stop
// handler, user switch, recording, then pid file removal and disconnects.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "recorder.h"

// The recording files are named in the recording buffer; a longer name would
// be cut there and record into another file.
static const size_t recording_name_limit = RECORDING_BUFFER_SIZE - 1;
static const char longest_ending[] = ".out";

struct RunSettings {
    const char *user_id_text; // the last -u argument; null: none
    int user_id;              // 0: no user switch
    char *pid_path;           // own copy of -p; null: the default path
    int module_number;
    int time_slot;
    int inbound_channel;      // NO_CHANNEL: none
    int outbound_channel;     // NO_CHANNEL: none
    char *reset_text;         // own copy of -f; null: none
    const char *base_name;
};

// -i and -o of -1, or none, ask for no channel in that direction.
static const int NO_CHANNEL = -1;
// The module and the time slot of a run that names none.
static const int NO_MODULE_GIVEN = -1, NO_TIME_SLOT_GIVEN = -1;

// Static so that the copies stay reachable for the whole run.
static RunSettings settings = {nullptr, 0, nullptr, NO_MODULE_GIVEN, NO_TIME_SLOT_GIVEN,
                               NO_CHANNEL, NO_CHANNEL, nullptr, nullptr};

static const char default_pid_path[] = "/var/run/sulvet.pid";

// ZolDebugModeSet: every kind of debug output of the library.
static const int all_debug_output = -1;

// A closed descriptor among 0, 1 and 2 would go to the next file we open (the
// pid file, a recording), and every line meant for the terminal would land
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

// The board API version the recorder was built for, in the library's three
// words; the library checks them against its own before the first call.
static const int API_VERSION_COMPILED = 2706100;
static const int API_VERSION_BUILD = 506100;
static const int API_VERSION_AUTO = 90;

static void set_api_versions(void)
{
    _zol_api_ver_compiled = API_VERSION_COMPILED;
    _zol_api_ver_bld_comp = API_VERSION_BUILD;
    _zol_api_ver_auto_comp = API_VERSION_AUTO;
}

// Kept on purpose: no check; text without leading digits reads as 0.
static int read_number(const char *text)
{
    return static_cast<int>(strtol(text, nullptr, 10));
}

static void replace_copy(char **copy, const char *text)
{
    free(*copy);
    *copy = strdup(text);
}

// Takes one option into effect; false for one the recorder does not take.
static bool apply_option(int option, const char *argument)
{
    switch (option) {
    case 'v':
        ZolDebugModeSet(all_debug_output);
        return true;
    case 'u':
        settings.user_id_text = argument;
        return true;
    case 'p':
        replace_copy(&settings.pid_path, argument);
        return true;
    case 'm':
        settings.module_number = read_number(argument);
        return true;
    case 't':
        settings.time_slot = read_number(argument);
        return true;
    case 'i':
        settings.inbound_channel = read_number(argument);
        return true;
    case 'o':
        settings.outbound_channel = read_number(argument);
        return true;
    case 'f':
        replace_copy(&settings.reset_text, argument);
        return true;
    default:
        return false;
    }
}

// Each option takes effect as getopt returns it, so a -v before a bad option
// has already switched the library's debug output on.
static bool read_options(int argc, char **argv)
{
    int option;
    while ((option = getopt(argc, argv, "?vu:p:m:t:i:o:f:")) != -1) {
        if (!apply_option(option, optarg)) {
            printf("%s: unknown\n", argv[0]);
            return false;
        }
    }
    return true;
}

// Wholly a decimal number, with an optional sign, within the 32-bit range:
// "nobody" must not read as 0, which would keep us running as the superuser,
// nor "1000x" or a number out of range as some other user.
static bool read_user_id(const char *text, int *user_id)
{
    const char *digits = (text[0] == '-' || text[0] == '+') ? text + 1 : text;
    if (!isdigit(static_cast<unsigned char>(digits[0])))
        return false;
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return false;
    *user_id = static_cast<int>(value);
    return true;
}

static bool base_name_fits(const char *base_name)
{
    return strlen(base_name) + strlen(longest_ending) <= recording_name_limit;
}

static const char *pid_file_path(void)
{
    return settings.pid_path != nullptr ? settings.pid_path : default_pid_path;
}

static void report_pid_file_failure(const char *path)
{
    printf("Can't write PID file %s: %s\n", path, strerror(errno));
    failure_reported = 1;
}

// The recording goes on without its pid file, but says so: whoever would
// stop it through the file cannot find it.
static void write_pid_file(const char *path)
{
    printf("Writing PID to %s\n", path);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        report_pid_file_failure(path);
        return;
    }
    char pid_text[256];
    snprintf(pid_text, sizeof pid_text, "%u\n", static_cast<unsigned>(getpid()));
    bool written = write_whole_buffer(fd, pid_text, strlen(pid_text));
    if (!written) {
        // The first digits of a pid would name another process: nothing of
        // it may stay. The file was emptied at the open.
        int write_error = errno;
        int cut = ftruncate(fd, 0);
        (void)cut; // where even the cut fails, the write's failure is the one to report
        errno = write_error;
        report_pid_file_failure(path);
    }
    // A file system may report a lost write only at the close.
    if (close(fd) != 0 && written)
        report_pid_file_failure(path);
}

// False when the switch failed: recording on as the superuser after a failed
// privilege drop would create the recording files with the wrong owner.
// Kept on purpose: only the user id changes; the group and the supplementary
// groups stay those the recorder was started with, as it has always run.
static bool switch_user(int user_id)
{
    if (user_id == 0)
        return true;
    unsigned uid = static_cast<unsigned>(user_id);
    printf("Setting to UID %u\n", uid);
    if (setuid(static_cast<uid_t>(uid)) != 0) {
        printf("Can't set UID %u: %s\n", uid, strerror(errno));
        failure_reported = 1;
        return false;
    }
    return true;
}

static int run_recording(void)
{
    report_module_channels(settings.module_number);

    // The inbound channel is connected before the outbound one is attached:
    // the outbound lookup walks the switch as the inbound connection left it.
    ZolHandle inbound = nullptr;
    ZolHandle outbound = nullptr;
    if (settings.inbound_channel != NO_CHANNEL) {
        inbound = open_channel(settings.inbound_channel, settings.reset_text);
        connect_slot_to_channel(inbound, settings.time_slot, DIRECTION_INBOUND);
    }
    if (settings.outbound_channel != NO_CHANNEL) {
        outbound = open_channel(settings.outbound_channel, settings.reset_text);
        connect_slot_to_channel(outbound, settings.time_slot, DIRECTION_OUTBOUND);
    }

    const char *pid_path = pid_file_path();
    write_pid_file(pid_path);
    catch_stop_signals();

    if (switch_user(settings.user_id))
        record_channels(inbound, outbound, settings.base_name);

    unlink(pid_path);
    if (inbound != nullptr)
        disconnect_channel(inbound);
    if (outbound != nullptr)
        disconnect_channel(outbound);

    return failure_reported ? 1 : 0;
}

int main(int argc, char **argv)
{
    open_standard_descriptors();
    catch_signals_at_start();
    set_api_versions();

    // The progress lines are read while the recording runs, often through a pipe.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // Kept on purpose: a rejected option ends with status 0, as the recorder
    // has always ended; scripts that run it may rely on that.
    if (!read_options(argc, argv))
        return 0;

    // Refused with the options, before the base name is looked at: nothing
    // is set up with a user id that we cannot switch to as asked.
    if (settings.user_id_text != nullptr && !read_user_id(settings.user_id_text, &settings.user_id)) {
        printf("Invalid UID %s: not a decimal number from %d to %d\n", settings.user_id_text,
               static_cast<int>(INT32_MIN), static_cast<int>(INT32_MAX));
        return -1;
    }

    if (optind >= argc) {
        puts("No filename specified");
        return -1;
    }
    settings.base_name = argv[optind];

    if (!base_name_fits(settings.base_name)) {
        printf("Recording name too long: the base name may hold at most %u characters\n",
               static_cast<unsigned>(recording_name_limit - strlen(longest_ending)));
        return -1;
    }

    return run_recording();
}
