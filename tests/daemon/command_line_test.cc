// The daemon's command line: rejected options, the -v print-out and
// redirection, and the runs that end before the service.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

using harness::json;
using harness::RunFolder;

namespace {

const char USAGE_TAIL[] =
    " [-D] [-p pid_file] [-f fw_path] [-c tarvol.cfg] [-v output] [-l ecc.log]\n\n";

TEST(CommandLine, NoArgumentDoesNothing)
{
    RunFolder service;
    harness::Process daemon = harness::run(TARVOLD_BIN, service.options({}));

    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_EQ(daemon.out(), "");
    EXPECT_EQ(daemon.err(), "");
    EXPECT_TRUE(harness::read_journal(service.journal_path).empty());
}

// Without -c nothing of the service happens: no handler, no fork for -D, no
// pid line.
TEST(CommandLine, WithoutConfigurationNothingOfTheServiceHappens)
{
    RunFolder service;
    harness::Process daemon =
        harness::run(TARVOLD_BIN, service.options({"-D", "-p", service.pid_file, "-l", "x"}));

    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_EQ(daemon.out() + daemon.err(), "");
    EXPECT_FALSE(harness::pid_alive(daemon.pid));
    EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
    EXPECT_TRUE(harness::read_journal(service.journal_path).empty());
}

TEST(CommandLine, RejectedOptionsPrintTheUsageAndEndWith255)
{
    struct Case {
        std::vector<std::string> args;
        std::string diagnostic;
    };
    RunFolder service;
    std::string verbose = service.dir.file("verbose.out");
    const Case cases[] = {
        {{"-x"}, "invalid option -- 'x'"},
        {{"-?"}, "invalid option -- '?'"},
        {{"-c"}, "option requires an argument -- 'c'"},
        {{"-v", verbose, "-c", service.config, "-l"}, "option requires an argument -- 'l'"},
        {{"-c", service.config, "-k"}, "invalid option -- 'k'"},
        {{"-kx", service.pid_file}, "invalid option -- 'k'"},
        {{"-v", verbose, "-c", service.config, "-p", service.pid_file, "-q"}, "invalid option -- 'q'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " ... " + c.diagnostic);
        harness::RunOptions options = service.options(c.args);
        options.argv0 = "tarvold-under-test";
        harness::Process daemon = harness::run(TARVOLD_BIN, options);

        EXPECT_EQ(daemon.exit_code(), 255);
        EXPECT_EQ(daemon.out(), "");
        EXPECT_NE(daemon.err().find(c.diagnostic), std::string::npos) << daemon.err();
        std::string usage = std::string("Usage: tarvold-under-test") + USAGE_TAIL;
        ASSERT_GE(daemon.err().size(), usage.size()) << daemon.err();
        EXPECT_EQ(daemon.err().substr(daemon.err().size() - usage.size()), usage);
        // The usage comes before anything else could happen.
        EXPECT_EQ(access(verbose.c_str(), F_OK), -1);
        EXPECT_EQ(access(service.pid_file.c_str(), F_OK), -1);
        EXPECT_TRUE(harness::read_journal(service.journal_path).empty());
    }
}

// "-v stdout" prints the options on the inherited output; the debug output of
// the host library is switched on either way.
TEST(CommandLine, VerboseStdoutPrintsTheOptionsInOrder)
{
    struct Case {
        std::vector<std::string> args;
        std::string print_out;
    };
    const Case cases[] = {
        {{"-v", "stdout"}, "Options:\n -l \n -v stdout\n"},
        {{"-D", "-n", "7", "-p", "/nonexistent/p", "-l", "/x/ecc.log", "-v", "stdout"},
         "Options:\n -l /x/ecc.log\n -v stdout\n -D\n"},
        {{"-l", "first", "-v", "elsewhere", "-l", "second", "-v", "stdout"},
         "Options:\n -l second\n -v stdout\n"},
        // The bring-up logs on stderr; an empty board list starts no child.
        {{"-v", "stdout", "-f", FIRMWARE_DIR}, std::string("Options:\n -f ") + FIRMWARE_DIR + "\n -l \n -v stdout\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.print_out);
        RunFolder service;
        harness::RunOptions options = service.options(c.args);
        options.cwd = service.dir.path;
        options.env["virtual_modules"] = "";
        harness::Process daemon = harness::run(TARVOLD_BIN, options);

        EXPECT_EQ(daemon.exit_code(), 0);
        EXPECT_EQ(daemon.out(), c.print_out);
        EXPECT_EQ(access(service.dir.file("elsewhere").c_str(), F_OK), -1);
        std::vector<json> journal = harness::read_journal(service.journal_path);
        ASSERT_GE(journal.size(), 2u);
        EXPECT_EQ(journal[0]["fn"], "ZolDebugModeSet");
        EXPECT_EQ(journal[0]["in"]["mode"], -1);
        EXPECT_EQ(journal[1]["fn"], "ZolDebugModeSetISDN");
        EXPECT_EQ(journal[1]["in"]["mode"], -1);
    }
}

TEST(CommandLine, VerbosePathThatCannotBeOpenedLeavesTheOutputs)
{
    RunFolder service;
    std::string path = service.dir.file("no/such/folder/out");
    harness::Process daemon = harness::run(TARVOLD_BIN, service.options({"-v", path}));

    EXPECT_EQ(daemon.exit_code(), 0);
    EXPECT_EQ(daemon.out(), "Options:\n -l \n -v " + path + "\n");
    EXPECT_EQ(daemon.err(), "");
    EXPECT_EQ(service.calls("ZolDebugModeSet").size(), 1u);
}

// The -v file takes stdout and stderr (the service's log included), is
// created with mode 0600 and appended to.
TEST(CommandLine, VerboseFileTakesBothOutputs)
{
    for (bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "existing file" : "new file");
        RunFolder service;
        std::string verbose = service.dir.file("verbose.out");
        if (exists)
            harness::write_file(verbose, "earlier run\n");
        harness::Process daemon = harness::start(
            TARVOLD_BIN, service.options({"-c", service.config, "-p", service.pid_file, "-v", verbose}));
        ASSERT_TRUE(harness::wait_for_file_text(verbose, "Running KM4862 ECC\n", harness::deadline_ms));
        harness::send_signal(daemon, SIGTERM);
        ASSERT_TRUE(harness::wait_exit(daemon, harness::deadline_ms));

        EXPECT_EQ(daemon.exit_code(), 0);
        EXPECT_EQ(daemon.out(), "");
        EXPECT_EQ(daemon.err(), "");
        EXPECT_EQ(harness::read_file(verbose),
                  std::string(exists ? "earlier run\n" : "") + "Options:\n -c " + service.config +
                      "\n -l \n -v " + verbose + "\nCalling ECC Initialization\nRunning KM4862 ECC\n");
        struct stat info;
        ASSERT_EQ(stat(verbose.c_str(), &info), 0);
        if (!exists) {
            EXPECT_EQ(info.st_mode & 0777, 0600u);
        }
    }
}

} // namespace
