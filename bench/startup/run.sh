#!/usr/bin/env bash
# Median over 10 runs of the time from exec of a stamped updater to its first frame on a
# private Xvfb.   bench/startup/run.sh BUILD_DIR
# With "animation": medians over 5 runs of the fade-in and of one view switch, as the X
# server receives their frames.   bench/startup/run.sh BUILD_DIR animation
set -euo pipefail
. "$(dirname "$0")/../kit.sh"
build=$(realpath "$1")
bench_product "$build"
start_xvfb || exit 1

median() {
    sort -n | awk -v name="$1" '{ a[NR] = $1 } END {
        printf "%s=%.1f\n", name, (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

"$build/bench/startup/first_frame" "$work/update-tool" >/dev/null # warm the file cache
if [ "${2:-}" = animation ]; then
    runs=()
    for _ in $(seq 5); do
        runs+=("$("$build/bench/startup/first_frame" --animation "$work/update-tool")")
    done
    printf '%s\n' "${runs[@]}" | cut -d' ' -f1 | median fade_ms
    printf '%s\n' "${runs[@]}" | cut -d' ' -f2 | median resize_ms
    exit 0
fi
times=()
for _ in $(seq 10); do
    times+=("$("$build/bench/startup/first_frame" "$work/update-tool")")
done
printf '%s\n' "${times[@]}" | median first_frame_ms
