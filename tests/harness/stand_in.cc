#include "stand_in.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace harness {

RunOptions sim_options(const TempDir &dir, const json &description)
{
    RunOptions options;
    options.env["HOST_SIM_JOURNAL"] = dir.file("journal.jsonl");
    if (description.is_null()) {
        options.unset_env.push_back("HOST_SIM_BOARDS");
    } else {
        write_file(dir.file("boards.json"), description.dump(2));
        options.env["HOST_SIM_BOARDS"] = dir.file("boards.json");
    }
    return options;
}

void limit_own_files(RunOptions &options, const RunFolder &run, long long bytes)
{
    // Named pipes rather than a shell's process substitution, which needs
    // /dev/fd: a bare /dev (a devtmpfs without udev, as in a minimal VM or
    // container) has none.
    const std::string journal_pipe = run.dir.file("journal.fifo"), out_pipe = run.dir.file("stdout.fifo"),
                      err_pipe = run.dir.file("stderr.fifo");
    for (const std::string &pipe : {journal_pipe, out_pipe, err_pipe})
        if (mkfifo(pipe.c_str(), 0644) != 0)
            ADD_FAILURE() << "mkfifo " << pipe << ": " << strerror(errno);
    options.env["HOST_SIM_JOURNAL"] = journal_pipe;
    // The three copies start before prlimit, so no limit holds for them; each
    // waits in its open of its pipe until the program opens the other end.
    const std::string script = "journal_pipe=$1 journal=$2 out_pipe=$3 err_pipe=$4 limit=$5; shift 5\n"
                               "cat \"$journal_pipe\" >>\"$journal\" &\n"
                               "cat \"$out_pipe\" &\n"
                               "cat \"$err_pipe\" >&2 &\n"
                               "exec prlimit --fsize=\"$limit\" -- \"$@\" >\"$out_pipe\" 2>\"$err_pipe\"\n";
    std::vector<std::string> wrapper = {"bash",   "-c",     script, "bash", journal_pipe, run.journal_path,
                                        out_pipe, err_pipe, std::to_string(bytes)};
    wrapper.insert(wrapper.end(), options.wrapper.begin(), options.wrapper.end());
    options.wrapper = wrapper;
}

json finite_channel(int unit, int seed, int total, json sizes)
{
    return {{"unit", unit},
            {"speech", {{"seed", seed}, {"sizes", std::move(sizes)}, {"total", total}, {"pace", false}}}};
}

std::string stream_bytes(int seed, size_t from, size_t count)
{
    std::string bytes;
    for (size_t k = from; k < from + count; ++k)
        bytes.push_back(static_cast<char>((static_cast<size_t>(seed) + k) % 251));
    return bytes;
}

RunFolder::RunFolder() { write_file(config, "configuration\n"); }

RunOptions RunFolder::options(const std::vector<std::string> &args, const json &description) const
{
    RunOptions run_options = sim_options(dir, description);
    run_options.args = args;
    return run_options;
}

std::vector<json> RunFolder::journal() const { return read_journal(journal_path); }

std::vector<json> RunFolder::calls(const std::string &function) const
{
    return harness::calls(journal(), function);
}

bool RunFolder::wait_for_calls(const std::string &function, size_t count, int timeout_ms) const
{
    return harness::wait_for_calls(journal_path, function, count, timeout_ms);
}

void RunFolder::clear_journal() const { unlink(journal_path.c_str()); }

} // namespace harness
