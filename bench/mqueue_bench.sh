#!/usr/bin/env bash
# Runs the message queue benchmark with the system limits it needs. As root
# it raises, for the run only, the largest queue capacity
# (/proc/sys/fs/mqueue/msg_max, to 128: the tick benchmark fills queues with
# 100 messages) and the per-user queue memory to its hard limit (ulimit -q;
# the benchmark needs about 450 KiB, the usual default is 800 KiB), and pins
# the benchmark to one core. Other arguments go to the benchmark.
#
#   FERROX_BUILD_DIR   build directory (default ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROX_BUILD_DIR:-$root/build}
bench="$build/bin/ferrox_bench_mqueue"
[ -x "$bench" ] || { echo "error: $bench is not built (cmake --build $build --target ferrox_bench_mqueue)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "error: run as root: the benchmark needs larger queues than a user may create" >&2; exit 1; }

limit=/proc/sys/fs/mqueue/msg_max
old=$(cat "$limit")
if [ "$old" -lt 128 ]; then
    trap 'echo "$old" > "$limit"' EXIT
    echo 128 > "$limit"
fi
ulimit -q "$(ulimit -H -q)"
pin=()
command -v taskset >/dev/null 2>&1 && pin=(taskset -c 0)
"${pin[@]}" "$bench" "$@"
