#!/usr/bin/env bash
# Serves a 256 MiB file from a loopback server that resets the connection after every
# 32 MiB it sends, and downloads it with the download control and with
# curl. Prints the bytes the server sent for the control's download as a ratio to the file
# size, whether the control's copy is complete and exact, and curl's time as a ratio to the
# control's (above 1: the control was faster).
#
# `curl -C - --retry 20 --retry-all-errors` cannot finish here: curl takes the offset for
# `-C -` once, when it starts, and each of its retries throws away what the failed attempt
# got and asks again from that same offset, so no attempt passes the next reset. curl is
# therefore run as people do run it on such links: `curl -C -` again until it succeeds,
# one second apart (the control's first wait), each run resuming from the file's size.
#   bench/resume/run.sh PATH/TO/bench_download
set -euo pipefail
bench=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
size=${BENCH_SIZE:-256M}

work=$(mktemp -d /tmp/update-tool-resume.XXXXXX)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Random bytes, so that a copy that went wrong anywhere cannot compare equal.
head -c "$size" /dev/urandom >"$work/package.bin"
expected=$(stat -c %s "$work/package.bin")

python3 "$here/reset_server.py" "$work/package.bin" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 50); do
    grep -q '^port ' "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^port //p' "$work/server.out")
if [ -z "$port" ]; then
    echo "bench: the resetting server did not start:" >&2
    cat "$work/server.err" >&2
    exit 1
fi
url="http://127.0.0.1:$port/package.bin"
sent() { curl -s -f "http://127.0.0.1:$port/__sent"; }

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

sent >/dev/null
t0=$(now)
"$bench" "$url" "$work/control.bin" >"$work/control.out" || true
t1=$(now)
control_time=$(elapsed "$t0" "$t1")
control_sent=$(sent)
completed=0
cmp -s "$work/package.bin" "$work/control.bin" && completed=1

t0=$(now)
for _ in $(seq 50); do
    curl -s -f -C - -o "$work/curl.bin" "$url" && break
    sleep 1
done
t1=$(now)
curl_time=$(elapsed "$t0" "$t1")
curl_sent=$(sent)
cmp -s "$work/package.bin" "$work/curl.bin" || echo "bench: curl's copy is not exact" >&2

echo "control ${control_time} s, server sent $control_sent bytes;" \
    "curl ${curl_time} s, server sent $curl_sent bytes" >&2
awk -v sent="$control_sent" -v size="$expected" -v done="$completed" \
    -v curl="$curl_time" -v control="$control_time" \
    'BEGIN { printf "resume_bytes_ratio=%.3f\nresume_completed=%d\nresume_ratio_vs_curl=%.2f\n", sent / size, done, curl / control }'
