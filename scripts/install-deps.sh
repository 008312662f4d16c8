#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, and sets up
# user-mode emulation where the kernel runs no 32-bit x86 program, when run as
# root and anything is missing; otherwise says exactly what to run.
# apt's and dpkg's output goes to a log; one line per step is printed.
#   scripts/install-deps.sh [BUILD]   the log and the probe go in BUILD (build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
. scripts/i386.sh
. scripts/build_folder.sh
run_holding_build_folder "$build" scripts/install-deps.sh "$@"

# valgrind checks the i386 programs only with the i386 C library's debug symbols.
packages=(cmake make g++ g++-multilib binutils util-linux python3 googletest
          nlohmann-json3-dev valgrind libc6-dbg:i386)
mkdir -p "$build"
log=$(cd "$build" && pwd)/install-deps.log
: >"$log"

step() { printf 'install-deps: %s\n' "$*"; }

# Runs a command with its output in the log; on failure says where to look.
logged() {
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed: $* (its output is in $log)" >&2
    exit 1
  fi
}

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

apt_updated=
install_packages() {
  dpkg --print-foreign-architectures | grep -qx i386 || {
    step "adding the i386 architecture"
    logged dpkg --add-architecture i386
  }
  if [ -z "$apt_updated" ]; then
    step "apt-get update"
    logged apt-get update
    apt_updated=1
  fi
  step "installing $*"
  logged env DEBIAN_FRONTEND=noninteractive apt-get install -y "$@"
}

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them as root with: dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}" >&2
    exit 1
  fi
  install_packages "${missing[@]}"
fi

# The build runs i386 programs (CMake's probes, the tests), so they must run
# here. The probe is built in the build folder, where the build's own
# programs have to run anyway (a temporary folder may be mounted noexec).
probe=$build/emulation_probe
if ! i386_build_probe "$probe" 2>>"$log"; then
  echo "install-deps: g++ -m32 cannot build a program: install Debian's g++-multilib package (the compiler's output is in $log)" >&2
  exit 1
fi
status=0
trouble=$(i386_probe "$probe" 2>&1 >/dev/null) || status=$?
if [ $status -eq 1 ]; then
  echo "install-deps: the i386 probe $probe does not run: $trouble" >&2
  case $trouble in
    *"Permission denied"*) echo "install-deps: is $build on a file system mounted noexec?" >&2 ;;
  esac
  exit 1
fi
[ $status -eq 0 ] && exit 0

# "Exec format error": the kernel runs no i386 program, and nothing is
# registered to run them for it.
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: this kernel does not run 32-bit x86 programs (IA-32 emulation is off)." >&2
  echo "Run them under user-mode emulation; as root:" >&2
  i386_setup_commands >&2
  exit 1
fi
step "this kernel does not run 32-bit x86 programs: running them under $I386_EMULATOR (binfmt_misc, flags F and P)"
mapfile -t missing < <(missing_packages qemu-user-static)
[ ${#missing[@]} -eq 0 ] || install_packages qemu-user-static
i386_register_emulator
if ! trouble=$(i386_probe "$probe" 2>&1 >/dev/null); then
  echo "install-deps: i386 programs still do not run under $I386_EMULATOR: $trouble" >&2
  exit 1
fi
