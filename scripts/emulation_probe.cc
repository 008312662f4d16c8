// Tells whether this kernel runs the program itself or hands it to a
// user-mode emulator: prints "native" or "emulated". Built for i386, it is the
// one answer that the scripts and the tests go by; any other failure is said
// on stderr, with exit status 2.
//
// It starts a copy of itself and, once the copy runs, compares the file behind
// the copy's /proc/PID/exe with its own program file. The kernel points that
// link at the file it actually mapped and runs: the program itself natively,
// the emulator when a binfmt_misc entry took the exec. That holds inside a
// container or a chroot, where binfmt_misc is seldom mounted and its entries
// cannot be read: the entry (flag F) keeps the emulator open from the host,
// and the link still leads to it, wherever it lies. The copy is looked at from
// here, not by itself: an emulator answers for a program's own /proc/self/exe
// with the program's path.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *const copy_mode = "--copy";

int fail(const char *what)
{
    fprintf(stderr, "emulation_probe: %s: %s\n", what, strerror(errno));
    return 2;
}

// The copy: says that it runs, then waits for its input to close.
int run_as_copy()
{
    char byte = 'r';
    if (write(STDOUT_FILENO, &byte, 1) != 1)
        return 2;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

// Starts the copy with pipes on its stdin and stdout; -1 when it cannot.
pid_t start_copy(const char *program, int *to_copy, int *from_copy)
{
    int in[2], out[2];
    if (pipe(in) != 0)
        return -1;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        execl(program, program, copy_mode, static_cast<char *>(nullptr));
        fprintf(stderr, "emulation_probe: cannot start %s: %s\n", program, strerror(errno));
        _exit(2);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return -1;
    }
    *to_copy = in[1];
    *from_copy = out[0];
    return pid;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], copy_mode) == 0)
        return run_as_copy();

    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length < 0)
        return fail("readlink /proc/self/exe");
    program[length] = '\0';
    struct stat own;
    if (stat(program, &own) != 0)
        return fail(program);

    int to_copy, from_copy;
    pid_t copy = start_copy(program, &to_copy, &from_copy);
    if (copy < 0)
        return fail("starting a copy of the probe");
    char byte;
    ssize_t got = read(from_copy, &byte, 1);
    char exe[64];
    snprintf(exe, sizeof exe, "/proc/%d/exe", static_cast<int>(copy));
    struct stat running;
    int stat_result = got == 1 ? stat(exe, &running) : -1;
    int stat_errno = errno;
    close(to_copy);
    close(from_copy);
    int status;
    while (waitpid(copy, &status, 0) < 0 && errno == EINTR) {
    }
    if (got != 1) {
        fprintf(stderr, "emulation_probe: its copy ended before it ran\n");
        return 2;
    }
    if (stat_result != 0) {
        errno = stat_errno;
        return fail(exe);
    }
    bool native = running.st_dev == own.st_dev && running.st_ino == own.st_ino;
    puts(native ? "native" : "emulated");
    return 0;
}
