#!/usr/bin/env bash
# Median over 10 runs of the time from exec of a stamped updater to its first frame on a
# private Xvfb.   bench/startup/run.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/../kit.sh"
build=$(realpath "$1")
bench_product "$build"
start_xvfb || exit 1

times=()
"$build/bench/startup/first_frame" "$work/update-tool" >/dev/null # warm the file cache
for _ in $(seq 10); do
    times+=("$("$build/bench/startup/first_frame" "$work/update-tool")")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END {
    printf "first_frame_ms=%.1f\n", (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
