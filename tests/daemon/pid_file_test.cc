// The daemon's pid lines written in-process, under a file-size limit that a
// forked child sets for itself and lifts again between two lines.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "pid_file.h"

namespace {

// After a line that did not go in whole, the next one goes where the file
// now ends, not where the cut line's write stopped: kill mode would stop
// reading at the zero bytes of such a gap, and miss every line after it.
TEST(PidLineWrite, TheLineAfterACutOneFollowsTheWholeLines)
{
    harness::TempDir dir;
    const std::string path = dir.file("tarvold.pid");
    // The log goes to a pipe, which no file-size limit reaches.
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    pid_t child = fork();
    if (child == 0) {
        // The limit and the log's stderr are the child's alone.
        struct rlimit limit;
        if (dup2(log[1], STDERR_FILENO) < 0 || signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
            getrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(2);
        const rlim_t without_limit = limit.rlim_cur;
        limit.rlim_cur = 21; // inside the first line's pid
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        FILE *pid_file = open_pid_file(path.c_str(), "w");
        if (!pid_file)
            _exit(4);
        write_pid_line(pid_file, path.c_str(), "Virtual Board 0x%X: %u\n", 0x41, 70001);
        limit.rlim_cur = without_limit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(5);
        write_pid_line(pid_file, path.c_str(), "Virtual Board 0x%X: %u\n", 0x42, 70002);
        close_pid_file(pid_file, path.c_str());
        _exit(0);
    }
    close(log[1]);
    ASSERT_GT(child, 0);
    std::string logged;
    char chunk[256];
    for (ssize_t size; (size = read(log[0], chunk, sizeof chunk)) > 0;)
        logged.append(chunk, static_cast<size_t>(size));
    close(log[0]);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(harness::read_file(path), "Virtual Board 0x42: 70002\n");
    EXPECT_EQ(logged, "Couldn't write " + path + ": File too large\n");
}

} // namespace
