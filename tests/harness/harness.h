// Test harness: runs the real programs against the stand-in host library,
// captures their output, waits, signals and reaps, and reads the journal.
//
// Every process a test starts is ended by pid when the test ends: the test
// process is made a child subreaper, so the daemon's virtual-board children,
// which outlive the daemon, are reparented to it and ended as well.
#ifndef HARNESS_H
#define HARNESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace harness {

using json = nlohmann::json;

// The deadline of a wait for something that is bound to come: it only ends a
// wait that has failed, so it is generous enough for a slow, loaded machine.
constexpr int deadline_ms = 30000;

// A temporary folder, removed with everything in it when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

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

bool file_exists(const std::string &path);
// How often part stands in text, the places not overlapping.
size_t count_of(const std::string &text, const std::string &part);

// Waits until the file's content holds the text.
bool wait_for_file_text(const std::string &path, const std::string &text, int timeout_ms);
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
// Waits until the process is stopped (as by SIGSTOP); false on timeout.
bool wait_until_stopped(pid_t pid, int timeout_ms);

// For a descendant that has come back to the test process (see above): waits for
// it to end and reaps it; its raw wait status, or -1 on timeout.
int wait_child_status(pid_t pid, int timeout_ms);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
std::vector<json> read_journal(const std::string &path);
// Journal entries of one function, in order.
std::vector<json> calls(const std::vector<json> &journal, const std::string &function);
// Waits until the journal holds at least count calls of the function.
bool wait_for_calls(const std::string &journal_path, const std::string &function, size_t count, int timeout_ms);
std::vector<std::string> split_lines(const std::string &text);

// The environment for a run against the stand-in: board description and journal in dir.
// Writes description (when not null) to dir/boards.json.
RunOptions sim_options(const TempDir &dir, const json &description = nullptr);

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

// A channel of the stand-in whose speech data ends by itself, unpaced, after
// `total` bytes (0: the first call answers 0), read in calls of the sizes given.
json finite_channel(int unit, int seed, int total, json sizes = json::array({1024}));
// Bytes from..from+count of a stand-in line's stream: byte k is (seed + k) % 251.
std::string stream_bytes(int seed, size_t from, size_t count);

// A run of the programs against the stand-in in a temporary folder of its
// own: the board description and the journal there, a configuration file the
// stand-in accepts, and the paths a run names.
struct RunFolder {
    TempDir dir;
    std::string config = dir.file("tarvol.cfg");
    std::string pid_file = dir.file("tarvold.pid");          // the daemon's
    std::string recorder_pid_file = dir.file("sulvet.pid");
    std::string recording = dir.file("rec");                 // the recorder's NAME: rec.in, rec.out
    std::string journal_path = dir.file("journal.jsonl");

    RunFolder();
    RunFolder(const RunFolder &) = delete;
    RunFolder &operator=(const RunFolder &) = delete;

    // The environment of a run with these arguments (see sim_options).
    RunOptions options(const std::vector<std::string> &args, const json &description = nullptr) const;
    // The journal so far; empty while there is none.
    std::vector<json> journal() const;
    std::vector<json> calls(const std::string &function) const;
    bool wait_for_calls(const std::string &function, size_t count, int timeout_ms = deadline_ms) const;
    // Removes the journal, so that the next run's calls are read alone.
    void clear_journal() const;
};

// RLIMIT_FSIZE holds for every regular file that a process writes, its
// stdout and stderr and the stand-in's journal as well as the files it opens
// itself. For a limit that only those files meet, this sets up the options
// (whose journal variable it changes) to run the program under a limit of
// `bytes`, with stdout, stderr and the journal going through pipes, which no
// limit reaches, into the files that the test reads. The wrapper goes ahead
// of any wrapper already given. What the program writes last can land a
// moment after it has ended: once it has, wait for such text with
// wait_for_file_text. (A sanitizer build run by the emulator cannot start
// under a limit of a few bytes: see tiny_file_size_limit.)
void limit_own_files(RunOptions &options, const RunFolder &run, long long bytes);

// Runs programs of this build as another user (user and group id the same,
// no supplementary groups). That user may not be able to enter the checkout:
// a clone in root's home or in a `mktemp -d` folder is mode 0700. So the
// programs, the stand-in libraries and the firmware folder are copied, for
// this object's life, to a folder that every user can enter, and the copies
// find the libraries there through LD_LIBRARY_PATH (their run path names the
// build's own folder). Every test that switches user ids goes through here.
class OtherUser {
public:
    explicit OtherUser(unsigned id);
    OtherUser(const OtherUser &) = delete;
    OtherUser &operator=(const OtherUser &) = delete;

    // The copy of a program of the build (TARVOLD_BIN, SULVET_BIN).
    std::string program(const std::string &built) const;
    // The copy of the build's firmware folder, for `tarvold -f`.
    std::string firmware_dir() const { return stage.file("firmware"); }
    // The options of a run as this user: setpriv after any wrapper given
    // (such as prlimit, whose limits then hold for the user), in the staged
    // folder unless a folder is named.
    RunOptions options(RunOptions run_options) const;
    // Runs the copy of the built program as this user (see harness::run).
    Process run(const std::string &built, const RunOptions &run_options, int timeout_ms = deadline_ms) const;

private:
    unsigned id;
    TempDir stage; // bin/, lib/, firmware/
};

// Ends (SIGKILL, by pid) and reaps every process started by the current test,
// children reparented to the test process included. Called after every test.
void end_all_processes();

} // namespace harness

#endif
