// log_message called in-process with stderr on a datagram socket, where each
// write arrives as one datagram: every message must leave as one write, its
// newline included, or the lines of processes that share stderr run into
// each other.
#include <errno.h>
#include <limits.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon.h"

namespace {

// Runs the call with stderr on one end of a datagram socket pair and returns
// each write that reached it.
std::vector<std::string> writes_of(const std::function<void()> &call)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, ends) != 0) {
        ADD_FAILURE() << "socketpair: " << strerror(errno);
        return {};
    }
    fflush(stderr);
    int saved_stderr = dup(STDERR_FILENO);
    dup2(ends[0], STDERR_FILENO);
    call();
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    close(ends[0]);

    std::vector<std::string> writes;
    char datagram[4 * PIPE_BUF];
    ssize_t size;
    while ((size = recv(ends[1], datagram, sizeof datagram, MSG_DONTWAIT)) >= 0)
        writes.emplace_back(datagram, static_cast<size_t>(size));
    close(ends[1]);
    return writes;
}

TEST(LogLine, EachMessageIsOneWriteWithItsNewline)
{
    const std::string long_text(3 * PIPE_BUF, 'x');
    const struct {
        const char *name;
        std::function<void()> call;
        std::string written;
    } cases[] = {
        {"plain text", [] { log_message("Closing Virtual Board"); }, "Closing Virtual Board\n"},
        {"formatted", [] { log_message("Virtual Board 0x%X Stop: [%x] %s", 0x44, 0, "stopped"); },
         "Virtual Board 0x44 Stop: [0] stopped\n"},
        {"system error text",
         [] {
             errno = ENOENT;
             log_message("Couldn't fopen %s: %m", "/run/x.pid");
         },
         "Couldn't fopen /run/x.pid: No such file or directory\n"},
        {"empty message", [] { log_message("%s", ""); }, "\n"},
        {"longer than PIPE_BUF: whole", [&] { log_message("%s", long_text.c_str()); }, long_text + "\n"},
        {"exactly the usual line with its newline", [] { log_message("%s", std::string(PIPE_BUF - 1, 'y').c_str()); },
         std::string(PIPE_BUF - 1, 'y') + "\n"},
        {"one more than the usual line", [] { log_message("%s", std::string(PIPE_BUF, 'z').c_str()); },
         std::string(PIPE_BUF, 'z') + "\n"},
        {"long, with the system error text at its end",
         [&] {
             errno = ENAMETOOLONG;
             log_message("Couldn't fopen %s: %m", long_text.c_str());
         },
         "Couldn't fopen " + long_text + ": File name too long\n"},
        {"syslog mode: the lone newline",
         [] {
             use_syslog = 1;
             log_message("Running KM4862 ECC");
             use_syslog = 0;
         },
         "\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> writes = writes_of(c.call);
        ASSERT_EQ(writes.size(), 1u) << (writes.empty() ? "" : writes[0].substr(0, 80));
        EXPECT_EQ(writes[0].size(), c.written.size());
        EXPECT_TRUE(writes[0] == c.written) << writes[0].substr(0, 80);
    }
}

} // namespace
