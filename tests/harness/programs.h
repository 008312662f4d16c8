// The steps of the two programs that many tests take: the daemon come to its
// wait, kill mode on pid files, and a recording run in a run folder.
#ifndef HARNESS_PROGRAMS_H
#define HARNESS_PROGRAMS_H

#include <sys/types.h>

#include <stddef.h>

#include <string>
#include <vector>

#include "journal.h"
#include "process.h"
#include "stand_in.h"

namespace harness {

// Waits until the daemon of this run has started the call-control service
// `starts` times in all and sits in its wait for a stop or a restart; false
// when it does not get there. Its handlers are in before the first start,
// but a SIGHUP that comes while the service is still starting is taken for
// that start: only from the wait on does it ask for a restart of its own.
bool wait_until_daemon_waits(const RunFolder &run, pid_t daemon, size_t starts = 1, int timeout_ms = deadline_ms);

// Runs kill mode, `tarvold -k`, on these pid files (none: the default one).
Process run_kill_mode(const std::vector<std::string> &pid_files, RunOptions options = {});

// The arguments of a recording in the run folder: "-p" with the recorder's
// pid file, the given ones, and the recording's NAME.
std::vector<std::string> recording_args(const RunFolder &run, const std::vector<std::string> &args);
// The options of a sulvet run with these arguments. It runs in the folder, so
// that a relative NAME lands there, and the journal of any earlier run is
// removed, so that its calls are read alone.
RunOptions recorder_options(const RunFolder &run, const std::vector<std::string> &args,
                            const json &description = nullptr);
// Runs sulvet with those options to its end (see harness::run).
Process run_recorder(const RunFolder &run, const std::vector<std::string> &args, const json &description = nullptr,
                     const std::vector<std::string> &wrapper = {});

} // namespace harness

#endif
