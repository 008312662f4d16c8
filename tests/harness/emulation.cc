#include "emulation.h"

#include "harness.h"

namespace harness {

const char *const title_limit =
    "/proc/PID/cmdline shows the emulator's own arguments, so a process title cannot be read there";
const char *const valgrind_limit = "valgrind does not run emulated programs";
const char *const fork_limit =
    "a fork made to fail with RLIMIT_NPROC fails earlier, inside the emulator's own thread start";
const char *const tiny_file_size_limit =
    "the emulator hands /proc/self/maps to the sanitizer runtime through a file of its own, so a "
    "file-size limit of a few bytes ends a sanitizer build before its main";

// The probe looks at what the kernel actually runs for an i386 program, not
// at binfmt_misc, which a container or a chroot seldom has mounted even where
// its emulator runs every i386 program (see the probe's source).
std::string probe_answer(const std::string &probe)
{
    Process p = run(probe, RunOptions{});
    std::string answer = p.out();
    if (p.exit_code() == 0 && (answer == "native\n" || answer == "emulated\n"))
        return answer.substr(0, answer.size() - 1);
    return probe + " gave no answer (wait status " + std::to_string(p.wait_status) + "): " + answer + p.err();
}

bool i386_emulated()
{
    static const std::string answer = probe_answer(EMULATION_PROBE_BIN);
    if (answer != "native" && answer != "emulated")
        ADD_FAILURE() << answer;
    return answer == "emulated";
}

bool programs_built_with_sanitizers()
{
#ifdef PROGRAMS_BUILT_WITH_SANITIZERS
    return true;
#else
    return false;
#endif
}

} // namespace harness
