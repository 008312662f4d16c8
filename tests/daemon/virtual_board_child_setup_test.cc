// What a virtual-board child sets up before it loads the board library: the
// descriptors it holds and the environment copy behind its title.
#include <dirent.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "emulation.h"
#include "harness.h"

using namespace harness;

namespace {

// How many of the process's descriptors are open on the file.
int descriptors_on(pid_t pid, const std::string &path)
{
    std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(fd_dir.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *entry = readdir(dir)) {
        char target[PATH_MAX];
        ssize_t size = readlink((fd_dir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (size > 0 && std::string(target, static_cast<size_t>(size)) == path)
            count++;
    }
    closedir(dir);
    return count;
}

pid_t board_pid(const RunFolder &run)
{
    if (!run.wait_for_calls("VirtBoardStart", 1))
        return -1;
    return run.calls("VirtBoardStart")[0]["pid"].get<pid_t>();
}

// The -v file is stdout and stderr and nothing else, in the daemon and in
// each board it starts.
TEST(ChildSetUp, VerboseFileIsHeldOnlyAsStdoutAndStderr)
{
    RunFolder run;
    std::string verbose = run.dir.file("verbose.log");
    RunOptions options = run.options({"-f", FIRMWARE_DIR, "-c", run.config, "-p", run.pid_file, "-v", verbose});
    options.env["virtual_modules"] = "65";

    Process daemon = start(TARVOLD_BIN, options);
    pid_t board = board_pid(run);
    ASSERT_GT(board, 0);
    ASSERT_TRUE(run.wait_for_calls("ZolCallCtrlInit", 1));

    EXPECT_EQ(descriptors_on(daemon.pid, verbose), 2);
    EXPECT_EQ(descriptors_on(board, verbose), 2);
    kill(board, SIGTERM);
    EXPECT_TRUE(run.wait_for_calls("VirtBoardStop", 1));
}

// The child's copy of its environment cannot be allocated: the title is
// left unset, so the board still reads its environment as it was started.
// The vector of an environment of N strings takes (N + 1) pointers, so with
// a known environment that one allocation is picked by its size.
TEST(ChildSetUp, EnvironmentThatCannotBeCopiedKeepsTheOriginalTitle)
{
    if (harness::programs_built_with_sanitizers())
        GTEST_SKIP() << "the sanitizers' allocator cannot be preloaded over";
    RunFolder run;
    RunOptions options = run.options({"-f", FIRMWARE_DIR, "-p", run.pid_file});
    options.empty_env = true;
    options.env["virtual_modules"] = "65";
    options.env["HOST_SIM_PROBE"] = "probe-survives";
    options.env["LD_PRELOAD"] = FAILING_MALLOC_LIBRARY;
    for (int i = 0; options.env.size() < 2999; i++)
        options.env["PAD" + std::to_string(i)] = "x";
    options.env["FAILING_MALLOC_SIZE"] = std::to_string(3001 * sizeof(char *));
    ASSERT_EQ(options.env.size(), 3000u);

    Process daemon = start(TARVOLD_BIN, options);
    pid_t board = board_pid(run);
    ASSERT_GT(board, 0) << daemon.err();
    json start_call = run.calls("VirtBoardStart")[0];
    EXPECT_EQ(start_call["probe"], "probe-survives");
    EXPECT_EQ(start_call["cmdline"].get<std::string>().find("Virtual Board"), std::string::npos);
    kill(board, SIGTERM);
    EXPECT_TRUE(run.wait_for_calls("VirtBoardStop", 1));
}

} // namespace
