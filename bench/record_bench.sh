#!/usr/bin/env bash
# Recorder throughput: records N MiB (default 64) from a stand-in line that
# delivers at once, next to dd writing the same bytes in 1024-byte blocks to the
# same filesystem, and the recorder's peak resident memory for N and 4N MiB
# (it must not grow with the length of a recording).   bench/record_bench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-64}
[ -x build/bin/sulvet ] || { echo "build first: scripts/test.sh" >&2; exit 1; }
dir=$(mktemp -d "${BENCH_DIR:-$PWD}/bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

python3 - "$dir" "$mib" <<'PY'
import json, os, resource, subprocess, sys, time
folder, mib = sys.argv[1], int(sys.argv[2])

def record(mebibytes):
    boards = {"channels": {"1": {"speech": {"seed": 1, "sizes": [1024], "pace": False,
                                            "total": mebibytes << 20}}}}
    path = os.path.join(folder, "boards.json")
    with open(path, "w") as f:
        json.dump(boards, f)
    env = dict(os.environ, HOST_SIM_BOARDS=path)
    env.pop("HOST_SIM_JOURNAL", None)
    start = time.monotonic()
    # Each run is measured in a child of its own, so ru_maxrss is its peak alone.
    code = ("import resource,subprocess,sys;"
            "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,check=True);"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code, "build/bin/sulvet", "-p",
                          os.path.join(folder, "sulvet.pid"), "-i", "1",
                          os.path.join(folder, "rec")], env=env, check=True,
                         capture_output=True, text=True).stdout
    seconds = time.monotonic() - start
    size = os.path.getsize(os.path.join(folder, "rec.in"))
    assert size == mebibytes << 20, size
    os.unlink(os.path.join(folder, "rec.in"))
    return seconds, int(out)

def dd(mebibytes):
    target = os.path.join(folder, "dd.out")
    start = time.monotonic()
    subprocess.run(["dd", "if=/dev/zero", "of=" + target, "bs=1024", "count=%d" % (mebibytes << 10)],
                   check=True, capture_output=True)
    seconds = time.monotonic() - start
    os.unlink(target)
    return seconds

rec_s, rss_n = record(mib)
dd_s = dd(mib)
_, rss_4n = record(4 * mib)
print("recorded %d MiB: sulvet %.2f s (%.0f MiB/s), dd bs=1024 %.2f s (%.0f MiB/s), sulvet/dd throughput ratio %.2f"
      % (mib, rec_s, mib / rec_s, dd_s, mib / dd_s, dd_s / rec_s))
print("peak resident memory: %d KiB for %d MiB, %d KiB for %d MiB" % (rss_n, mib, rss_4n, 4 * mib))
PY
