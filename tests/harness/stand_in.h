// What a run against the stand-in host library is given: a board description
// and a journal, in a folder of the run's own.
#ifndef HARNESS_STAND_IN_H
#define HARNESS_STAND_IN_H

#include <stddef.h>

#include <string>
#include <vector>

#include "files.h"
#include "journal.h"
#include "process.h"

namespace harness {

// The environment for a run against the stand-in: board description and journal in dir.
// Writes description (when not null) to dir/boards.json.
RunOptions sim_options(const TempDir &dir, const json &description = nullptr);

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

} // namespace harness

#endif
