// What a virtual-board child sets up before it loads the board library: the
// descriptors it holds and the environment copy behind its title.
#include <dirent.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

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

pid_t board_pid(const std::string &journal)
{
    if (!wait_for_calls(journal, "VirtBoardStart", 1, 30000))
        return -1;
    return calls(read_journal(journal), "VirtBoardStart")[0]["pid"].get<pid_t>();
}

// The -v file is stdout and stderr and nothing else, in the daemon and in
// each board it starts.
TEST(ChildSetUp, VerboseFileIsHeldOnlyAsStdoutAndStderr)
{
    TempDir dir;
    write_file(dir.file("tarvol.cfg"), "configuration\n");
    std::string verbose = dir.file("verbose.log");
    RunOptions options = sim_options(dir);
    options.args = {"-f", FIRMWARE_DIR, "-c", dir.file("tarvol.cfg"), "-p", dir.file("tarvold.pid"), "-v", verbose};
    options.env["virtual_modules"] = "65";

    Process daemon = start(TARVOLD_BIN, options);
    pid_t board = board_pid(dir.file("journal.jsonl"));
    ASSERT_GT(board, 0);
    ASSERT_TRUE(wait_for_calls(dir.file("journal.jsonl"), "ZolCallCtrlInit", 1, 30000));

    EXPECT_EQ(descriptors_on(daemon.pid, verbose), 2);
    EXPECT_EQ(descriptors_on(board, verbose), 2);
    kill(board, SIGTERM);
    EXPECT_TRUE(wait_for_calls(dir.file("journal.jsonl"), "VirtBoardStop", 1, 30000));
}

// The child's copy of its environment cannot be allocated: the title is
// left unset, so the board still reads its environment as it was started.
// The vector of an environment of N strings takes (N + 1) pointers, so with
// a known environment that one allocation is picked by its size.
TEST(ChildSetUp, EnvironmentThatCannotBeCopiedKeepsTheOriginalTitle)
{
#ifdef BUILT_WITH_SANITIZERS
    GTEST_SKIP() << "the sanitizers' allocator cannot be preloaded over";
#endif
    TempDir dir;
    RunOptions options = sim_options(dir);
    options.empty_env = true;
    options.args = {"-f", FIRMWARE_DIR, "-p", dir.file("tarvold.pid")};
    options.env["virtual_modules"] = "65";
    options.env["HOST_SIM_PROBE"] = "probe-survives";
    options.env["LD_PRELOAD"] = FAILING_MALLOC_LIBRARY;
    for (int i = 0; options.env.size() < 2999; i++)
        options.env["PAD" + std::to_string(i)] = "x";
    options.env["FAILING_MALLOC_SIZE"] = std::to_string(3001 * sizeof(char *));
    ASSERT_EQ(options.env.size(), 3000u);

    Process daemon = start(TARVOLD_BIN, options);
    pid_t board = board_pid(dir.file("journal.jsonl"));
    ASSERT_GT(board, 0) << daemon.err();
    json start_call = calls(read_journal(dir.file("journal.jsonl")), "VirtBoardStart")[0];
    EXPECT_EQ(start_call["probe"], "probe-survives");
    EXPECT_EQ(start_call["cmdline"].get<std::string>().find("Virtual Board"), std::string::npos);
    kill(board, SIGTERM);
    EXPECT_TRUE(wait_for_calls(dir.file("journal.jsonl"), "VirtBoardStop", 1, 30000));
}

} // namespace
