#!/usr/bin/env bash
# Median over 10 runs of the time from exec of a stamped updater to its first frame on a
# private Xvfb.   bench/startup/run.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
chmod 700 "$work"
display=""
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work

"$build/tools/stamp/update-tool-stamp" write "$build/src/app/update-tool" "$work/update-tool" \
    --name Bench --id 1 --style 15 >/dev/null

for n in $(seq 150 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do xdpyinfo -display ":$n" >/dev/null 2>&1 && break; sleep 0.1; done
    if xdpyinfo -display ":$n" >/dev/null 2>&1; then display=":$n"; break; fi
    kill "$xvfb" 2>/dev/null || true
    xvfb=""
done
[ -n "$display" ] || { echo "bench startup: no Xvfb display came up" >&2; exit 1; }

export DISPLAY=$display
unset QT_QPA_PLATFORM
times=()
"$build/bench/startup/first_frame" "$work/update-tool" >/dev/null # warm the file cache
for _ in $(seq 10); do
    times+=("$("$build/bench/startup/first_frame" "$work/update-tool")")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END {
    printf "first_frame_ms=%.1f\n", (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
