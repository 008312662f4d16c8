// Virtual boards: one child process per module in virtual_modules, each
// running the maker's keldvb.so from the firmware directory until it is
// told to stop.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "daemon.h"
#include "pid_file.h"
#include "process_title.h"
#include "virt_board.h"
#include "virtual_board.h"

// The path of keldvb.so in the firmware directory, NUL included.
enum { LIBRARY_PATH_SIZE = 1024 };

// The pause after each board start, and before a stopped board's process ends.
enum { BOARD_START_PAUSE_SECONDS = 3, BOARD_STOP_PAUSE_SECONDS = 4 };

// The boards started when virtual_modules is not set.
static const char default_virtual_modules[] = "65";

// sleep() ends early when a handled signal arrives; these waits must last.
static void wait_seconds(unsigned seconds)
{
    while (seconds > 0)
        seconds = sleep(seconds);
}

// The module number of one virtual_modules entry (the text up to the next
// comma or the end); false when the entry holds no number.
static bool read_module_entry(const char *entry, int *module_number)
{
    // %d stops at the comma that ends the entry, so the rest of the list
    // never counts.
    return sscanf(entry, "%d", module_number) == 1;
}

static void set_up_child(int module_number, char **argv, char **envp)
{
    if (init_process_title(argv, envp))
        // Kept on purpose: "%0X" pads nothing (no width follows the 0); it
        // prints as "%X" and is the title process listings have always shown.
        set_process_title("tarvold: KQ260 Virtual Board 0x%0X", module_number);
}

// Loads the library and finds its entry points; on failure logs why, leaves
// nothing open and returns null.
static void *open_virtual_board_library(const char *library_path, VirtBoardEntry *start,
                                        VirtBoardEntry *stop, VirtBoardEntry *status)
{
    if (!library_path) {
        // A cut path would name, and load, another file.
        log_message("Couldn't open firmware: library path too long (over %d characters)",
                    LIBRARY_PATH_SIZE - 1);
        return nullptr;
    }
    void *library = dlopen(library_path, RTLD_NOW);
    if (!library) {
        log_message("Couldn't open firmware: %s", dlerror());
        return nullptr;
    }
    const char *names[3] = {"VirtBoardStart", "VirtBoardStop", "VirtBoardStatus"};
    VirtBoardEntry *entries[3] = {start, stop, status};
    for (int i = 0; i < 3; i++) {
        dlerror();
        *entries[i] = reinterpret_cast<VirtBoardEntry>(dlsym(library, names[i]));
        if (!*entries[i]) {
            const char *error = dlerror();
            log_message("Couldn't open firmware: %s", error ? error : names[i]);
            dlclose(library);
            return nullptr;
        }
    }
    return library;
}

// A parent may have left SIGTERM or SIGINT blocked; the board would then
// outlive every stop request, kill mode's included.
static void install_stop_handlers(void)
{
    catch_daemon_signal(SIGTERM);
    catch_daemon_signal(SIGINT);
}

void run_virtual_board(const char *library_path, int module_number, int start_setting)
{
    // Before anything else, so that a stop asked for during the load or the
    // start is kept: nothing below sets the flag again.
    keep_running = 1;
    install_stop_handlers();

    VirtBoardEntry board_start, board_stop, board_status;
    void *library = open_virtual_board_library(library_path, &board_start, &board_stop, &board_status);
    if (!library)
        exit(-1);

    VirtBoardArgs args;
    memset(&args, 0, sizeof args);
    args.module_number = module_number;
    args.start_setting = start_setting;
    board_start(&args);
    args.result_text[sizeof args.result_text - 1] = '\0';
    if (args.result_code != 0)
        log_message("Virtual Board 0x%X Result: [%X] %s", module_number, args.result_code, args.result_text);

    // A stop signal cuts the one-second wait short, so the stop follows
    // within one poll.
    do {
        memset(&args, 0, sizeof args);
        board_status(&args);
        sleep(1);
    } while (keep_running);

    memset(&args, 0, sizeof args);
    board_stop(&args);
    args.result_text[sizeof args.result_text - 1] = '\0';
    // Kept on purpose: the stop line gives the result in lower-case hex,
    // unlike the start's "[%X]", as the boards have always logged it.
    log_message("Virtual Board 0x%X Stop: [%x] %s", module_number, args.result_code, args.result_text);
    log_message("Closing Virtual Board");
    dlclose(library);
    wait_seconds(BOARD_STOP_PAUSE_SECONDS);
    exit(0);
}

// The path goes into a buffer of its own, outside the strings the child's
// title overwrites. Null when it does not fit.
static const char *build_library_path(char *buffer, size_t size, const char *firmware_dir)
{
    int length = snprintf(buffer, size, "%s/%s", firmware_dir, "keldvb.so");
    if (length < 0 || static_cast<size_t>(length) >= size)
        return nullptr;
    return buffer;
}

// One board: fork its child and record the child's pid. The line is flushed
// before the next fork, so no child inherits it unwritten.
static void start_one_board(int module_number, const char *firmware_dir, FILE *pid_file,
                            const char *pid_path, char **argv, char **envp)
{
    char path_buffer[LIBRARY_PATH_SIZE];
    const char *library_path = build_library_path(path_buffer, sizeof path_buffer, firmware_dir);

    log_message("Starting Virtual Board module 0x%X", module_number);
    pid_t child = fork();
    if (child < 0) {
        perror("Couldn't fork");
        exit(-1);
    }
    if (child == 0) {
        set_up_child(module_number, argv, envp);
        run_virtual_board(library_path, module_number, VIRT_BOARD_START_SETTING);
    }
    if (pid_file)
        write_pid_line(pid_file, pid_path, "Virtual Board 0x%X: %u\n", module_number, static_cast<unsigned>(child));
    wait_seconds(BOARD_START_PAUSE_SECONDS);
}

void start_virtual_boards(const char *firmware_dir, const char *pid_path, char **argv, char **envp)
{
    const char *list = getenv("virtual_modules");
    if (!list)
        list = default_virtual_modules;

    FILE *pid_file = open_pid_file(pid_path, "w");

    // Every comma ends an entry; an empty entry, like the empty list, reads
    // no number.
    const char *entry = list;
    for (;;) {
        int module_number;
        if (read_module_entry(entry, &module_number))
            start_one_board(module_number, firmware_dir, pid_file, pid_path, argv, envp);
        const char *comma = strchr(entry, ',');
        if (!comma)
            break;
        entry = comma + 1;
    }

    if (pid_file)
        close_pid_file(pid_file, pid_path);
}
