// Whether the i386 programs under test run natively or under a user-mode
// emulator (on kernels without IA-32 emulation). A few things cannot hold
// under the emulator; the tests that need them skip there, naming the limit,
// and run everywhere else.
#ifndef EMULATION_H
#define EMULATION_H

#include <string>

#include <gtest/gtest.h>

namespace harness {

// What the emulation probe at that path answers (scripts/emulation_probe.cc):
// "native", "emulated", or, when it gives no answer, what went wrong.
std::string probe_answer(const std::string &probe);

// True when this build's i386 programs run under an emulator, as the probe
// built with them answers (once per test process). A probe that gives no
// answer fails the test that asked.
bool i386_emulated();
// True when the programs under test carry the sanitizer runtime.
bool programs_built_with_sanitizers();

// The limits, in the words the skips print.
extern const char *const title_limit;
extern const char *const valgrind_limit;
extern const char *const fork_limit;
extern const char *const tiny_file_size_limit;

} // namespace harness

#define SKIP_UNDER_EMULATION(limit)                                                               \
    do {                                                                                          \
        if (harness::i386_emulated())                                                             \
            GTEST_SKIP() << "i386 programs run under user-mode emulation here: " << (limit);      \
    } while (0)

// For what fails only where the emulator runs a sanitizer build.
#define SKIP_UNDER_EMULATION_WITH_SANITIZERS(limit)                                               \
    do {                                                                                          \
        if (harness::programs_built_with_sanitizers())                                            \
            SKIP_UNDER_EMULATION(limit);                                                          \
    } while (0)

#endif
