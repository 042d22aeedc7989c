#!/usr/bin/env bash
# Builds a release pair from real shared libraries (make_pairs.py), serves version 2 from a
# loopback server throttled to 8 MiB/s with ranges and an ETag, and downloads it with the
# download control twice: in full, and as a delta from version 1. Prints the share of the
# package not fetched, the bytes fetched as a ratio to the least a delta must fetch, the
# requests, the full download's time as a ratio to the delta's, and whether the result is
# exact.
#   bench/delta/run.sh PATH/TO/bench_download
set -euo pipefail
bench=$(realpath "$1")
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d /tmp/update-tool-delta.XXXXXX)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/make_pairs.py" "$work" >"$work/pairs.out"
needed=$(sed -n 's/^needed //p' "$work/pairs.out")
size=$(stat -c %s "$work/v2.zip")

python3 "$here/range_server.py" "$work/v2.zip" $((8 << 20)) >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 50); do
    grep -q '^port ' "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^port //p' "$work/server.out")
if [ -z "$port" ]; then
    echo "bench: the range server did not start:" >&2
    cat "$work/server.err" >&2
    exit 1
fi
url="http://127.0.0.1:$port/v2.zip"
stats() { curl -s -f "http://127.0.0.1:$port/__stats"; }

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

stats >/dev/null
t0=$(now)
"$bench" "$url" "$work/full.zip" >"$work/full.out"
t1=$(now)
full_time=$(elapsed "$t0" "$t1")
stats >/dev/null

mkdir "$work/product"
cp "$work/v1.zip" "$work/product/v1.zip"
t0=$(now)
BENCH_DELTA_BASE="$work/product/v1.zip" "$bench" "$url" "$work/product/v2.zip" >"$work/delta.out"
t1=$(now)
delta_time=$(elapsed "$t0" "$t1")
counted=$(stats)
requests=${counted% *}
fetched=${counted#* }
exact=0
cmp -s "$work/v2.zip" "$work/product/v2.zip" && exact=1
used=$(sed -n 's/^delta_used=//p' "$work/delta.out")
[ "$used" = 1 ] || echo "bench: the delta was not used" >&2

echo "full ${full_time} s; delta ${delta_time} s, $requests requests, $fetched of $size bytes" \
    "(at least $needed needed)" >&2
awk -v size="$size" -v fetched="$fetched" -v needed="$needed" -v requests="$requests" \
    -v full="$full_time" -v delta="$delta_time" -v exact="$exact" \
    'BEGIN { printf "delta_saved=%.3f\ndelta_fetched_ratio=%.3f\ndelta_requests=%d\ndelta_ratio_vs_full=%.2f\ndelta_exact=%d\n",
             1 - fetched / size, fetched / needed, requests, full / delta, exact }'
