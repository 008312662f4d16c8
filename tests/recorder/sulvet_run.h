// What the recorder's tests share: a run of the real sulvet against the
// stand-in in a folder of its own, the fixture of the tests that give sulvet
// a whole command line, and readers for its output and journal.
#ifndef SULVET_RUN_H
#define SULVET_RUN_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace sulvet_test {

using harness::json;
using harness::Process;

using harness::call_order;
using harness::calls_on;
using harness::file_exists;
using harness::finite_channel;
using harness::handle_of;
using harness::handles_of;
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
        return harness::recorder_options(*this, harness::recording_args(*this, args), description);
    }
    // A run that ends by itself (every line's data is finite).
    harness::Process run(const json &description, const std::vector<std::string> &args,
                         const std::vector<std::string> &wrapper = {}) const
    {
        return harness::run_recorder(*this, harness::recording_args(*this, args), description, wrapper);
    }
};

// A line that delivers a little data at once and then ends by itself, so a
// run with this line needs no stop signal.
inline json finite_line(int unit, const json &extra = json::object())
{
    json line = finite_channel(unit, unit, 1024, {512});
    line["attach"] = true;
    line["packets"] = 1;
    line.update(extra);
    return line;
}

// The channel numbers handed to ZolLineAttach, in order.
inline std::vector<int> attached_channels(const std::vector<json> &journal)
{
    std::vector<int> channels;
    for (const json &call : harness::calls(journal, "ZolLineAttach"))
        channels.push_back(call["in"]["channel_number"].get<int>());
    return channels;
}

// For tests that give sulvet its whole command line: each run reads the
// journal of its own calls, so a table of cases can share the folder.
class RecorderSpine : public ::testing::Test {
protected:
    const std::string &pid_path() const { return folder.recorder_pid_file; }

    // Runs sulvet to its end and reads what it left in the journal.
    harness::Process run_sulvet(const std::vector<std::string> &args, const json &description = nullptr,
                                const std::vector<std::string> &wrapper = {})
    {
        harness::Process process = harness::run_recorder(folder, args, description, wrapper);
        read_journal();
        return process;
    }

    void read_journal() { journal = folder.journal(); }

    harness::RunFolder folder;
    const harness::TempDir &dir = folder.dir;
    std::vector<json> journal;
};

} // namespace sulvet_test

#endif
