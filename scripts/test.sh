#!/usr/bin/env bash
# Installs what the build needs (as root, when missing), configures, builds and
# runs every test.   scripts/test.sh            the normal build, in build/
#                    scripts/test.sh --sanitize AddressSanitizer and UBSan, in build-sanitize/
#
# The tests run as root: they switch user ids, and they start the suite in a
# PID namespace and a private mount namespace of its own. There /var/run is a
# fresh tmpfs, so no run can touch the host's pid files, and when the suite
# ends the namespace ends with it, taking every process the tests started.
#
# One run at a time in a build folder: another that finds it taken says so and
# ends. A build folder made for another checkout (this one moved or copied
# after a build) is emptied and built afresh.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  cmake_args+=(-DSANITIZE=ON)
fi

. scripts/build_folder.sh
run_holding_build_folder "$build" scripts/test.sh "$@"
empty_build_folder_of_another_checkout "$build"

scripts/install-deps.sh "$build"
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/test.sh: the tests run as root (they switch user ids and use PID and mount namespaces)" >&2
  exit 1
fi
cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"

unshare --pid --fork --mount-proc --propagation private bash -c '
  set -e
  mount -t tmpfs -o mode=0755 tmpfs /var/run
  "$@" && exit 0 || exit $?
' test.sh ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 300
