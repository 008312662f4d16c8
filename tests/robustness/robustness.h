// What the robustness tests share: a folder with a configuration file the
// stand-in accepts, a pid file path and a journal, and small waits on them.
#ifndef ROBUSTNESS_H
#define ROBUSTNESS_H

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"

namespace robustness {

using harness::json;

struct RunDir {
    harness::TempDir dir;
    std::string config = dir.file("tarvol.cfg");
    std::string pid_file = dir.file("tarvold.pid");
    std::string journal_path = dir.file("journal.jsonl");

    RunDir() { harness::write_file(config, "configuration\n"); }

    harness::RunOptions options(const std::vector<std::string> &args, const json &description = nullptr) const
    {
        harness::RunOptions run_options = harness::sim_options(dir, description);
        run_options.args = args;
        return run_options;
    }

    std::vector<json> journal() const { return harness::read_journal(journal_path); }
    std::vector<json> calls(const std::string &function) const { return harness::calls(journal(), function); }

    bool wait_for_calls(const std::string &function, size_t count, int timeout_ms) const
    {
        return harness::wait_for_calls(journal_path, function, count, timeout_ms);
    }
};

inline bool file_exists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// A real directory whose path is exactly `length` characters, made of nested
// folders under `parent` (each name well below the 255-byte limit).
inline std::string make_directory_of_length(const std::string &parent, size_t length)
{
    std::string path = parent;
    while (path.size() < length) {
        size_t left = length - path.size() - 1; // the slash
        size_t name = left > 200 ? 100 : left;  // never leave a remainder of 0
        path += "/" + std::string(name, 'd');
        mkdir(path.c_str(), 0755);
    }
    return path;
}

} // namespace robustness

#endif
