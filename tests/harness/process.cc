#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "files.h"

extern char **environ;

namespace harness {

namespace {

std::vector<std::string> environment_for(const RunOptions &options)
{
    std::map<std::string, std::string> env;
    if (!options.empty_env) {
        for (char **entry = environ; *entry; ++entry) {
            const char *eq = strchr(*entry, '=');
            if (eq)
                env[std::string(*entry, static_cast<size_t>(eq - *entry))] = eq + 1;
        }
    }
    for (const auto &name : options.unset_env)
        env.erase(name);
    for (const auto &[name, value] : options.env)
        env[name] = value;
    std::vector<std::string> out;
    for (const auto &[name, value] : env)
        out.push_back(name + "=" + value);
    return out;
}

std::vector<char *> pointers_to(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (auto &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

[[noreturn]] void exec_child(const std::string &program, const RunOptions &options,
                             const std::string &out_path, const std::string &err_path)
{
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0)
        _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // The program gets the three standard descriptors and nothing else of ours.
    for (int fd : {in, out, err})
        if (fd > 2)
            close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
        _exit(127);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    std::vector<std::string> args = options.wrapper;
    args.push_back(options.wrapper.empty() ? options.argv0.value_or(program) : program);
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<std::string> env = environment_for(options);
    std::vector<char *> argv = pointers_to(args);
    std::vector<char *> envp = pointers_to(env);
    const std::string &file = options.wrapper.empty() ? program : options.wrapper[0];
    execvpe(file.c_str(), argv.data(), envp.data());
    dprintf(2, "harness: cannot run %s: %s\n", file.c_str(), strerror(errno));
    _exit(127);
}

// The state letter of /proc/PID/stat (R, S, T, Z, ...); '\0' when unreadable.
char process_state(pid_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = stat.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < stat.size() ? stat[close_paren + 2]
                                                                             : '\0';
}

bool is_zombie(pid_t pid) { return process_state(pid) == 'Z'; }

// The system call the process is in, as /proc/PID/syscall gives its number
// ("running" or "-1 ..." when it is in none): -1 then.
long current_syscall(pid_t pid)
{
    std::string text = read_file("/proc/" + std::to_string(pid) + "/syscall");
    char *end;
    long number = strtol(text.c_str(), &end, 10);
    return end == text.c_str() ? -1 : number;
}

// The numbers of the calls, which differ between i386 and x86-64 code.
std::vector<long> syscall_numbers(BlockedIn call, bool x86_64)
{
    switch (call) {
    case BlockedIn::signal_wait: // pselect6; pselect6_time64 on i386
        return x86_64 ? std::vector<long>{270} : std::vector<long>{308, 413};
    case BlockedIn::sleep: // nanosleep, clock_nanosleep; clock_nanosleep_time64 on i386
        return x86_64 ? std::vector<long>{35, 230} : std::vector<long>{162, 267, 407};
    case BlockedIn::open: // open, openat
        return x86_64 ? std::vector<long>{2, 257} : std::vector<long>{5, 295};
    }
    return {};
}

std::vector<pid_t> children_of_this_process()
{
    std::vector<pid_t> out;
    DIR *proc = opendir("/proc");
    if (!proc)
        return out;
    std::string me = std::to_string(getpid());
    while (dirent *entry = readdir(proc)) {
        char *end;
        long pid = strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        std::string stat = read_file(std::string("/proc/") + entry->d_name + "/stat");
        size_t close_paren = stat.rfind(')');
        if (close_paren == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close_paren + 2));
        std::string state, ppid;
        fields >> state >> ppid;
        if (ppid == me)
            out.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return out;
}

// Ends every test's processes after it, pass or fail.
struct EndProcessesAfterEachTest : testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo &) override { end_all_processes(); }
};

// Orphaned descendants (the daemon's virtual boards) come back to the test
// process, so they can be waited for and ended by pid.
const bool installed = [] {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    testing::UnitTest::GetInstance()->listeners().Append(new EndProcessesAfterEachTest);
    return true;
}();

} // namespace

long long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

bool poll_until(int timeout_ms, const std::function<bool()> &ready)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        if (ready())
            return true;
        if (now_ms() >= deadline)
            return false;
        usleep(10 * 1000);
    }
}

std::string Process::out() const { return read_file(stdout_path); }
std::string Process::err() const { return read_file(stderr_path); }

int Process::exit_code() const
{
    return reaped && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

int Process::term_signal() const
{
    return reaped && WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
}

Process start(const std::string &program, const RunOptions &options)
{
    static int serial = 0;
    static TempDir output_dir;
    Process process;
    std::string stem = output_dir.file(std::to_string(++serial));
    process.stdout_path = stem + ".out";
    process.stderr_path = stem + ".err";
    fflush(nullptr);
    process.pid = fork();
    if (process.pid == 0)
        exec_child(program, options, process.stdout_path, process.stderr_path);
    if (process.pid < 0)
        ADD_FAILURE() << "fork failed: " << strerror(errno);
    // The files exist once the child has opened them; wait so readers never miss them.
    poll_until(deadline_ms, [&] { return access(process.stderr_path.c_str(), F_OK) == 0; });
    return process;
}

bool wait_exit(Process &process, int timeout_ms)
{
    if (process.reaped)
        return true;
    return poll_until(timeout_ms, [&] {
        int status;
        if (waitpid(process.pid, &status, WNOHANG) != process.pid)
            return false;
        process.wait_status = status;
        process.reaped = true;
        return true;
    });
}

static bool wait_for_output(Process &process, const std::string &path, const std::string &text,
                            int timeout_ms)
{
    return poll_until(timeout_ms, [&] {
        if (read_file(path).find(text) != std::string::npos)
            return true;
        // An ended process writes no more: stop waiting early.
        return wait_exit(process, 0);
    }) && read_file(path).find(text) != std::string::npos;
}

bool wait_for_stdout(Process &process, const std::string &text, int timeout_ms)
{
    return wait_for_output(process, process.stdout_path, text, timeout_ms);
}

bool wait_for_stderr(Process &process, const std::string &text, int timeout_ms)
{
    return wait_for_output(process, process.stderr_path, text, timeout_ms);
}

void send_signal(const Process &process, int signal_number)
{
    if (process.pid > 0 && !process.reaped)
        kill(process.pid, signal_number);
}

Process run(const std::string &program, const RunOptions &options, int timeout_ms)
{
    Process process = start(program, options);
    if (!wait_exit(process, timeout_ms)) {
        ADD_FAILURE() << program << " did not end within " << timeout_ms << " ms";
        kill(process.pid, SIGKILL);
        wait_exit(process, deadline_ms);
    }
    return process;
}

bool pid_alive(pid_t pid)
{
    return pid > 0 && kill(pid, 0) == 0 && !is_zombie(pid);
}

bool wait_pid_gone(pid_t pid, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return !pid_alive(pid); });
}

bool runs_64_bit_code(pid_t pid)
{
    char head[5] = {};
    std::ifstream("/proc/" + std::to_string(pid) + "/exe", std::ios::binary).read(head, sizeof head);
    return memcmp(head, "\x7f" "ELF", 4) == 0 && head[4] == 2;
}

bool wait_until_blocked(pid_t pid, BlockedIn call, int timeout_ms)
{
    auto in_call = [&] {
        // Read each time: a process just started may not have run its exec yet.
        std::vector<long> numbers = syscall_numbers(call, runs_64_bit_code(pid));
        return std::find(numbers.begin(), numbers.end(), current_syscall(pid)) != numbers.end();
    };
    // The call number stays while the process is stopped or on its way out of
    // the call: asleep before and after the read, it was asleep in it.
    return poll_until(timeout_ms, [&] {
        return process_state(pid) == 'S' && in_call() && process_state(pid) == 'S';
    });
}

bool wait_until_stopped(pid_t pid, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return process_state(pid) == 'T'; });
}

int wait_child_status(pid_t pid, int timeout_ms)
{
    int result = -1;
    poll_until(timeout_ms, [&] {
        int status;
        if (waitpid(pid, &status, WNOHANG) != pid)
            return false;
        result = status;
        return true;
    });
    return result;
}

std::vector<std::string> beside_a_bystander(const std::string &before_run, const std::string &after_run)
{
    const std::string script = "sleep 60 & bystander=$!; " + before_run + " \"$@\"; status=$?; " + after_run +
                               " kill -PROF $bystander; wait $bystander; echo \"bystander=$?\" >&2; exit $status";
    return {"unshare", "--pid", "--fork", "--mount-proc", "setsid", "sh", "-c", script, "sh"};
}

const char *const bystander_untouched = "bystander=155"; // 128 + SIGPROF

std::vector<std::string> python_parent(const std::string &setup)
{
    return {PYTHON3_BIN, "-c",
            "import os, signal, sys\n"
            "signal.signal(signal.SIGPIPE, signal.SIG_DFL)\n"
            "signal.signal(signal.SIGXFSZ, signal.SIG_DFL)\n" +
                setup + "\nos.execv(sys.argv[1], sys.argv[1:])\n"};
}

void end_all_processes()
{
    // Ending a child can hand its own children to us; repeat until none is left.
    for (int round = 0; round < 50; ++round) {
        std::vector<pid_t> children = children_of_this_process();
        if (children.empty())
            break;
        for (pid_t pid : children)
            kill(pid, SIGKILL);
        for (pid_t pid : children)
            waitpid(pid, nullptr, 0);
    }
}

} // namespace harness
