// Programs of this build run as another user.
#ifndef HARNESS_OTHER_USER_H
#define HARNESS_OTHER_USER_H

#include <string>

#include "files.h"
#include "process.h"

namespace harness {

// Runs programs of this build as another user (user and group id the same,
// no supplementary groups). That user may not be able to enter the checkout:
// a clone in root's home or in a `mktemp -d` folder is mode 0700. So the
// programs, the stand-in libraries and the firmware folder are copied, for
// this object's life, to a folder that every user can enter, and the copies
// find the libraries there through LD_LIBRARY_PATH (their run path names the
// build's own folder).
//
// Every test that starts a program as another user goes through here: kill
// mode run as nobody against the test's own processes, and the daemon run as
// a user allowed one process (root is exempt from both limits). The tests of
// sulvet's -u need not: they start sulvet as root from the build, and it
// switches its own ids only once its libraries are loaded and the stand-in's
// journal is open, so the new user needs no more than its recording files
// (where a test wants them written, in a folder it opens to every user).
class OtherUser {
public:
    explicit OtherUser(unsigned id);
    OtherUser(const OtherUser &) = delete;
    OtherUser &operator=(const OtherUser &) = delete;

    // The copy of a program of the build (TARVOLD_BIN, SULVET_BIN).
    std::string program(const std::string &built) const;
    // The copy of the build's firmware folder, for `tarvold -f`.
    std::string firmware_dir() const { return stage.file("firmware"); }
    // The options of a run as this user: setpriv after any wrapper given
    // (such as prlimit, whose limits then hold for the user), in the staged
    // folder unless a folder is named.
    RunOptions options(RunOptions run_options) const;
    // Runs the copy of the built program as this user (see harness::run).
    Process run(const std::string &built, const RunOptions &run_options, int timeout_ms = deadline_ms) const;

private:
    unsigned id;
    TempDir stage; // bin/, lib/, firmware/
};

} // namespace harness

#endif
