#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when run as
# root and any is missing; otherwise says what to install.
set -euo pipefail
# valgrind checks the i386 programs only with the i386 C library's debug symbols.
packages=(cmake make g++ g++-multilib googletest nlohmann-json3-dev binutils util-linux
          python3 valgrind libc6-dbg:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "install them with: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
