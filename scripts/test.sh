#!/usr/bin/env bash
# Installs what the build needs (as root, when missing), configures, builds and
# runs every test.   scripts/test.sh            the normal build, in build/
#                    scripts/test.sh --sanitize AddressSanitizer and UBSan, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  cmake_args+=(-DSANITIZE=ON)
fi

scripts/install-deps.sh
cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"
# Halt on the first sanitizer report and keep the output plain: the virtual-board
# children rewrite their environment area, so no string-valued option is used.
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 300
