# Sourced by the scripts that build in a build folder (build/, build-sanitize/):
# one run at a time in a folder, and a folder that CMake made for another
# checkout is emptied before it is used.

# run_holding_build_folder DIR SCRIPT [ARG...]: runs the script with bash, from
# the checkout's top, as the one run in DIR, and exits with its status.
# Returns at once, running nothing, when this run already holds DIR (it is
# that script, or one that the script started). When another run holds it,
# says so and exits 1: two builds in one folder overwrite each other's files.
#
# The lock is flock(1)'s on DIR/.run.lock, held by flock itself while the
# script runs (-o: the script and whatever it starts get no descriptor of it,
# so no daemon that a test leaves behind keeps the folder locked). The file
# names the run that holds it, for the message of a run that finds it taken.
run_holding_build_folder() {
  local dir=$1 held status=0
  shift
  mkdir -p "$dir"
  held=$(cd "$dir" && pwd -P)
  [ "${BUILD_FOLDER_HELD:-}" = "$held" ] && return 0
  BUILD_FOLDER_HELD=$held flock -n -o -E 75 "$dir/.run.lock" \
    "$BASH" -c 'printf "pid %s: %s\n" "$$" "$2" >"$1"; shift 2; exec "$BASH" "$@"' \
    run "$dir/.run.lock" "$*" "$@" || status=$?
  if [ $status -eq 75 ]; then
    echo "$1: a run is going on in $dir/ ($(cat "$dir/.run.lock" 2>/dev/null)); try again when it has ended" >&2
    exit 1
  fi
  exit $status
}

# Empties DIR (all but its lock file) when its CMake cache was made for another
# folder: a checkout that was built and then moved or copied. CMake refuses
# such a cache, and the programs built there look for their libraries by the
# old folder's path (their run path).
empty_build_folder_of_another_checkout() {
  local dir=$1 made_in
  made_in=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$dir/CMakeCache.txt" 2>/dev/null) || true
  [ -n "$made_in" ] || return 0
  [ "$made_in" -ef "$dir" ] && return 0
  echo "${0##*/}: $dir/ was built for $made_in; building afresh" >&2
  find "$dir" -mindepth 1 -maxdepth 1 ! -name .run.lock -exec rm -rf {} +
}
