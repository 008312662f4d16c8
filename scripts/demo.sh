#!/usr/bin/env bash
# The main job end to end on the stand-in boards of examples/boards.json:
# tarvold downloads firmware and starts a virtual board and the call-control
# service; sulvet records a T1 slot from two channels for a few seconds; kill
# mode ends the daemon and its board. Pid files and recordings stay in a
# temporary folder, removed after a run that passes and kept, and named, after
# one that fails; nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
seconds=${DEMO_SECONDS:-4}

say() { printf '\n== %s\n' "$*"; }

. scripts/build_folder.sh
run_holding_build_folder build scripts/demo.sh "$@"
empty_build_folder_of_another_checkout build

# Also on later runs: after a restart, a kernel without IA-32 emulation needs
# the emulator registered again.
scripts/install-deps.sh
. scripts/i386.sh
if [ ! -x build/bin/tarvold ] || [ ! -x build/bin/sulvet ]; then
  say "building (build/ holds no programs yet)"
  cmake -S . -B build >/dev/null
  cmake --build build -j "$(nproc)" >/dev/null
fi

run=$(mktemp -d /tmp/tarvold-demo.XXXXXX)
daemon_pid=
recorder_pid=
cleanup() {
  # Ends only what this script started, by pid.
  [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null || true
  if [ -f "$run/tarvold.pid" ]; then build/bin/tarvold -k "$run/tarvold.pid" >/dev/null 2>&1 || true; fi
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
# A run that fails keeps its folder, for its logs, and says where it is.
finish() {
  local status=$?
  cleanup
  if [ $status -ne 0 ]; then
    echo "demo: failed; its logs and pid files are kept in $run" >&2
  else
    rm -rf "$run"
  fi
}
trap finish EXIT

export HOST_SIM_BOARDS=$top/examples/boards.json
export virtual_modules=65

wait_for() {  # wait_for FILE TEXT SECONDS PID: while the process PID runs
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qF "$2" "$1" 2>/dev/null && return 0
    if ! kill -0 "$4" 2>/dev/null; then
      grep -qF "$2" "$1" 2>/dev/null && return 0
      echo "demo: the program ended before '$2' came in $1" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "demo: gave up waiting for '$2' in $1" >&2
  return 1
}

say "tarvold: firmware download, virtual board 0x41, call-control service (log: $run/tarvold.log)"
build/bin/tarvold -f "$top/build/firmware" -c "$top/examples/tarvol.cfg" -l "$run/ecc.log" \
  -v "$run/tarvold.log" -p "$run/tarvold.pid" &
daemon_pid=$!
wait_for "$run/tarvold.log" "Running KM4862 ECC" 30 "$daemon_pid"
cat "$run/tarvold.log"

say "pid file $run/tarvold.pid"
cat "$run/tarvold.pid"
board_pid=$(sed -n 's/^Virtual Board 0x41: //p' "$run/tarvold.pid")
if i386_emulated build/emulation_probe; then
  echo "virtual board process title: not readable here (i386 programs run under an emulator, whose own arguments /proc shows)"
else
  echo "virtual board process title: $(tr -d '\0' < "/proc/$board_pid/cmdline")"
fi

say "sulvet: recording T1 slot 1 from channels 1 (inbound) and 2 (outbound) for $seconds s"
build/bin/sulvet -p "$run/sulvet.pid" -m 7 -t 1 -i 1 -o 2 "$run/call" > "$run/sulvet.out" &
recorder_pid=$!
wait_for "$run/sulvet.out" "PRESS" 10 "$recorder_pid"
sleep "$seconds"
kill -INT "$recorder_pid"
status=0
wait "$recorder_pid" || status=$?
recorder_pid=
grep -v '^Read ' "$run/sulvet.out"
echo "($(grep -c '^Read ' "$run/sulvet.out") buffers recorded; sulvet exit status $status)"

say "recordings"
ls -l "$run/call.in" "$run/call.out"

say "kill mode: tarvold -k $run/tarvold.pid"
build/bin/tarvold -k "$run/tarvold.pid"
wait "$daemon_pid" || true
daemon_pid=
for ((i = 0; i < 100; i++)); do kill -0 "$board_pid" 2>/dev/null || break; sleep 0.1; done
tail -n 3 "$run/tarvold.log"
if kill -0 "$board_pid" 2>/dev/null; then echo "demo: virtual board $board_pid still running" >&2; exit 1; fi

say "done: nothing left running; the pid files are gone"
ls "$run"
