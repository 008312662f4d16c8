// Running programs and waiting for what they do: start one with its own
// arguments and environment, capture its output, wait for a text, a system
// call or its end, signal it, reap it, and end whatever a test left running.
#ifndef HARNESS_PROCESS_H
#define HARNESS_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harness {

// Deadlines. A deadline only ends a wait that has failed, so each is generous
// enough for a slow, loaded machine: none says how long anything should take.
//
// A wait for one thing that is bound to come: an output line, a journal
// entry, a process in a known call, the end of a process told to end.
constexpr int deadline_ms = 30000;
// A whole run with waits of its own (3 seconds after each virtual board's
// start, 4 at a board's stop), or any wait on a program under valgrind,
// which runs it many times slower.
constexpr int run_deadline_ms = 60000;
// A stop or a restart that must end the daemon's wait at once: well below
// its 60-second wait step, so that one that only comes at the end of the
// step still fails.
constexpr int within_the_wait_ms = 20000;

struct RunOptions {
    std::vector<std::string> args;                  // argv[1..]
    std::map<std::string, std::string> env;         // set (or replace) these
    std::vector<std::string> unset_env;             // remove these
    bool empty_env = false;                         // start from an empty environment
    std::string cwd;                                // empty: the test's own
    std::optional<std::string> argv0;               // default: the program path
    std::vector<std::string> wrapper;               // e.g. {"unshare", "--pid", ...}: run program under it
};

// A running (or ended) program. Its stdout and stderr go to files of their own.
struct Process {
    pid_t pid = -1;
    std::string stdout_path, stderr_path;
    int wait_status = -1;                           // raw wait status once reaped
    bool reaped = false;
    std::string out() const;                        // stdout so far
    std::string err() const;                        // stderr so far
    int exit_code() const;                          // WEXITSTATUS; -1 if not exited normally
    int term_signal() const;                        // WTERMSIG; 0 if not signalled
};

Process start(const std::string &program, const RunOptions &options);
// Waits until the process ends; false on timeout (the process is left running).
bool wait_exit(Process &process, int timeout_ms);
// Waits until stdout (or stderr) holds the text; false on timeout or when the process ended without it.
bool wait_for_stdout(Process &process, const std::string &text, int timeout_ms);
bool wait_for_stderr(Process &process, const std::string &text, int timeout_ms);
void send_signal(const Process &process, int signal_number);
// Starts, waits up to timeout_ms, and kills on timeout (the test then fails).
Process run(const std::string &program, const RunOptions &options, int timeout_ms = deadline_ms);

// The monotonic clock in milliseconds, for tests that measure a wait.
long long now_ms();
// Polls until ready() holds or the time is up, with a short pause between
// polls; true when it held.
bool poll_until(int timeout_ms, const std::function<bool()> &ready);

// Waits until the process with this pid is gone (not a zombie of ours: it is reaped when ours).
bool wait_pid_gone(pid_t pid, int timeout_ms);
bool pid_alive(pid_t pid);

// A system call a process can be seen blocked in (/proc/PID/syscall), to
// signal it only once it has got to a known point: for the daemon, its wait
// for a stop or a restart comes after its handlers are installed.
enum class BlockedIn {
    signal_wait, // pselect
    sleep,       // nanosleep, clock_nanosleep (sleep, usleep)
    open,        // open, openat (a FIFO that nobody writes)
};
// Waits until the process is asleep in that call; false on timeout.
bool wait_until_blocked(pid_t pid, BlockedIn call, int timeout_ms);
// Whether the process runs 64-bit code: /proc/PID/exe is an ELF file of class
// 2. The i386 programs run natively are class 1; under user-mode emulation
// the process is the emulator, which makes the host's own system calls.
bool runs_64_bit_code(pid_t pid);
// Waits until the process is stopped (as by SIGSTOP); false on timeout.
bool wait_until_stopped(pid_t pid, int timeout_ms);

// For a descendant that has come back to the test process (see
// end_all_processes): waits for it to end and reaps it; its raw wait status,
// or -1 on timeout.
int wait_child_status(pid_t pid, int timeout_ms);

// A wrapper for a run that a faulty pid could turn into a signal to a process
// group or to every process (kill mode on a bad pid file): the run goes in a
// pid namespace and a session of its own, beside a bystander that any such
// signal would reach. Shell text in before_run runs ahead of the program (the
// program's own arguments are "$@"), after_run once it has ended. Then the
// bystander is ended with SIGPROF and its wait status goes to stderr:
// bystander_untouched when SIGPROF ended it, so no signal of the run had. (A
// signal sent before SIGPROF always comes first: the kernel delivers a
// pending lower-numbered signal first, and ends a process on the first fatal
// one.) The run's exit status is the program's.
std::vector<std::string> beside_a_bystander(const std::string &before_run = "", const std::string &after_run = "");
extern const char *const bystander_untouched;

// A wrapper that starts the program from a Python parent which first runs
// the given lines, to hand it a signal mask or a disposition across exec
// (as supervisors and runtimes leak theirs). Python's own ignored SIGPIPE and
// SIGXFSZ are put back to the default first, as most parents leave them.
std::vector<std::string> python_parent(const std::string &setup);

// Ends (SIGKILL, by pid) and reaps every process started by the current test,
// children reparented to the test process included. Called after every test:
// the test process is made a child subreaper, so the daemon's virtual-board
// children, which outlive the daemon, come back to it and are ended as well.
void end_all_processes();

} // namespace harness

#endif
