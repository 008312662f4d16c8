// What the switch and recording tests share: a run of the real sulvet against
// the stand-in in a folder of its own, and readers for its output and journal.
#ifndef SULVET_RUN_H
#define SULVET_RUN_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace sulvet_test {

using harness::json;

using harness::finite_channel;
using harness::stream_bytes;

// The elapsed time of a progress line differs from run to run: each
// "Read in: N: T" / "Read out: N: T" line gets the letter T for its time.
inline std::string without_times(const std::string &out)
{
    std::string result;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.rfind("Read in: ", 0) == 0 || line.rfind("Read out: ", 0) == 0) {
            size_t time_colon = line.rfind(": ");
            if (time_colon != std::string::npos && time_colon > line.find(": "))
                line = line.substr(0, time_colon) + ": T";
        }
        result += line;
        if (end == std::string::npos)
            break;
        result += '\n';
        start = end + 1;
    }
    return result;
}

// A run of sulvet in a run folder: "-p PIDFILE", the test's arguments and the
// recording's NAME.
struct SulvetRun : harness::RunFolder {
    const std::string &base() const { return recording; }
    const std::string &pid_path() const { return recorder_pid_file; }

    harness::RunOptions sulvet_options(const json &description, const std::vector<std::string> &args) const
    {
        std::vector<std::string> all = {"-p", recorder_pid_file};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(recording);
        return options(all, description);
    }
    // A run that ends by itself (every line's data is finite).
    harness::Process run(const json &description, const std::vector<std::string> &args) const
    {
        harness::Process p = harness::run(SULVET_BIN, sulvet_options(description, args), harness::deadline_ms);
        EXPECT_TRUE(p.reaped) << "sulvet did not end";
        return p;
    }
};

// Journal entries of one function on one line ("channel:N"), in order.
inline std::vector<json> calls_on(const std::vector<json> &journal, const std::string &function,
                                  const std::string &handle)
{
    std::vector<json> out;
    for (const json &entry : harness::calls(journal, function))
        if (entry.value("handle", json()) == handle)
            out.push_back(entry);
    return out;
}

// The order of the calls of the given functions, as "fn handle" words.
inline std::vector<std::string> call_order(const std::vector<json> &journal, const std::vector<std::string> &functions)
{
    std::vector<std::string> out;
    for (const json &entry : journal) {
        std::string fn = entry.value("fn", "");
        for (const std::string &wanted : functions) {
            if (fn == wanted) {
                json handle = entry.value("handle", json());
                out.push_back(fn + " " + (handle.is_string() ? handle.get<std::string>() : "null"));
            }
        }
    }
    return out;
}

} // namespace sulvet_test

#endif
