// Kill mode: reads the daemon's pid files and sends SIGTERM to every virtual
// board and then to the daemon that a file lists.
//
// The lines are read as the formatted scan "Virtual Board 0x%x: %u\n" and then
// "%u\n" would read them (a blank matches any white space or none, a mismatch
// leaves the file at the character that did not match), but the numbers are
// read by hand: a plain %u takes "-1" or a number beyond 32 bits without
// complaint, and kill would then reach a process group or every process.
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kill_mode.h"
#include "pid_file.h"

static const int NUMBER_TEXT_SIZE = 24;

// A number as the scan read it. The text is kept (cut to fit) for the
// message about a number that cannot be used.
struct ScannedNumber {
    uint32_t value;
    int negative;
    int too_large;
    char text[NUMBER_TEXT_SIZE];
};

static void skip_white_space(FILE *file)
{
    int c;
    while ((c = getc(file)) != EOF && isspace(c))
        ;
    if (c != EOF)
        ungetc(c, file);
}

// Matches literal text as the scan does: a blank in it matches any run of
// white space, every other character itself. Stops at the first mismatch,
// leaving that character unread.
static int match_text(FILE *file, const char *text)
{
    for (; *text; text++) {
        if (isspace(static_cast<unsigned char>(*text))) {
            skip_white_space(file);
            continue;
        }
        int c = getc(file);
        if (c != static_cast<unsigned char>(*text)) {
            if (c != EOF)
                ungetc(c, file);
            return 0;
        }
    }
    return 1;
}

static void append_text(ScannedNumber *number, size_t *length, int c)
{
    if (*length + 1 < sizeof number->text) {
        number->text[(*length)++] = static_cast<char>(c);
        number->text[*length] = '\0';
    }
}

static int digit_value(int c, int base)
{
    int value;
    if (isdigit(c))
        value = c - '0';
    else if (base == 16 && isxdigit(c))
        value = tolower(c) - 'a' + 10;
    else
        return -1;
    return value;
}

// Reads an unsigned number as %u (base 10) or %x (base 16) would: leading
// white space, an optional sign, for %x an optional 0x or 0X, at least one
// digit. Returns 0 when no digit stands there.
static int scan_number(FILE *file, int base, ScannedNumber *number)
{
    size_t length = 0;
    uint64_t value = 0;
    memset(number, 0, sizeof *number);
    skip_white_space(file);

    int c = getc(file);
    if (c == '+' || c == '-') {
        number->negative = (c == '-');
        append_text(number, &length, c);
        c = getc(file);
    }
    int digits = 0;
    // The 0 of a 0x prefix is a digit already, so "0x" alone reads as 0.
    if (base == 16 && c == '0') {
        append_text(number, &length, c);
        digits++;
        c = getc(file);
        if (c == 'x' || c == 'X') {
            append_text(number, &length, c);
            c = getc(file);
        }
    }
    for (int digit; c != EOF && (digit = digit_value(c, base)) >= 0; c = getc(file)) {
        append_text(number, &length, c);
        digits++;
        if (!number->too_large) {
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
            if (value > UINT32_MAX)
                number->too_large = 1;
        }
    }
    if (c != EOF)
        ungetc(c, file);
    number->value = static_cast<uint32_t>(value);
    if (value == 0)
        number->negative = 0; // "-0" is a plain 0
    return digits > 0;
}

static int is_usable_number(const ScannedNumber *number)
{
    return !number->negative && !number->too_large;
}

// A pid that kill takes as one process: positive as a signed process id.
static int is_single_process(const ScannedNumber *pid)
{
    return is_usable_number(pid) && pid->value != 0 && pid->value <= (uint32_t)INT_MAX;
}

static int scan_virtual_board_line(FILE *file, ScannedNumber *module, ScannedNumber *pid)
{
    if (!match_text(file, "Virtual Board 0x") || !scan_number(file, 16, module))
        return 0;
    if (!match_text(file, ": ") || !scan_number(file, 10, pid))
        return 0;
    match_text(file, "\n");
    return 1;
}

// Sends the signal; one line on stdout when it cannot be sent. The walk of
// the file goes on either way.
static void signal_process(int pid, int signal_number)
{
    if (kill(pid, signal_number) == 0)
        return;

    int error = errno;
    char text[1024];
    // Kept on purpose: "Permision" is spelt as the daemon has always
    // printed it; scripts that read kill mode's output look for that text.
    if (error == EPERM)
        snprintf(text, sizeof text, "Permision denied for process %u", static_cast<unsigned>(pid));
    else if (error == ESRCH)
        snprintf(text, sizeof text, "Process %u does not exist", static_cast<unsigned>(pid));
    else
        snprintf(text, sizeof text, "%s", strerror(error));
    printf("Error: %s\n", text);
}

// The module number only labels the line, so it is taken as %x takes it: a
// sign negates it modulo 2^32 and a number beyond 32 bits saturates. The
// board's process is signalled whatever the label says.
static uint32_t module_label(const ScannedNumber *module)
{
    if (module->too_large)
        return UINT32_MAX;
    return module->negative ? 0u - module->value : module->value;
}

static void kill_virtual_board(const ScannedNumber *module, const ScannedNumber *pid)
{
    if (!is_single_process(pid)) {
        printf("Error: Virtual Board 0x%X: %s is not a single process, not signalled\n",
               module_label(module), pid->text);
        return;
    }
    printf("Killing Virtual Board 0x%X: %u\n", module_label(module), pid->value);
    signal_process(static_cast<int>(pid->value), SIGTERM);
}

// The daemon's pid, or 0 when the file names none.
static uint32_t scan_daemon_pid(FILE *file)
{
    ScannedNumber pid;
    if (!scan_number(file, 10, &pid))
        return 0;
    if (pid.value == 0 && is_usable_number(&pid))
        return 0;
    if (!is_single_process(&pid)) {
        printf("Error: tarvold process %s is not a single process, not signalled\n", pid.text);
        return 0;
    }
    return pid.value;
}

static void kill_from_pid_file(const char *path)
{
    FILE *file = fopen(path, "r");
    if (!file) {
        printf("No %s file\n", path);
        exit(-1);
    }

    ScannedNumber module, pid;
    while (scan_virtual_board_line(file, &module, &pid))
        kill_virtual_board(&module, &pid);
    uint32_t daemon_pid = scan_daemon_pid(file);
    fclose(file);

    if (daemon_pid == 0) {
        // Kept on purpose: no newline, as the daemon has always printed it.
        printf("Error: Invalid %s file", path);
        exit(-2);
    }
    printf("Killing tarvold process: %u\n", daemon_pid);
    signal_process(static_cast<int>(daemon_pid), SIGTERM);
}

void run_kill_mode(int argc, char **argv)
{
    if (argc == 2)
        kill_from_pid_file(DEFAULT_PID_PATH);
    for (int i = 2; i < argc; i++)
        kill_from_pid_file(argv[i]);
    exit(0);
}
