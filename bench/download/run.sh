#!/usr/bin/env bash
# Serves a 1 GiB file from nginx on a loopback port and, in BENCH_RUNS rounds (5), one after
# the other in each: `curl -o`, `curl -o && sync FILE`, `curl -o && minisign -Vm` (the
# signed package), the download control (durable) and the control verifying the signature
# before it publishes. Prints the control's speed as ratios of best runs, the peak RSS of
# each control (largest run), and the load average at the start and the end: the figures
# are only as good as the machine is quiet.
#   bench/download/run.sh PATH/TO/bench_download
set -euo pipefail
bench=$(realpath "$1")
runs=${BENCH_RUNS:-5}
size=${BENCH_SIZE:-1G}

# BENCH_DIR: the file system the downloads are written to (default /tmp).
work=$(mktemp -d "${BENCH_DIR:-/tmp}/update-tool-bench.XXXXXX")
nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/out" "$work/nginx"
# nginx's worker may run as another user (nobody) and must read the file.
chmod 755 "$work" "$work/www"
# Sparse: the server reads it from the page cache, so the disk is never the bottleneck.
truncate -s "$size" "$work/www/package.zip"

start_nginx() {
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    sendfile on;
    tcp_nopush on;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
CONF
    nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>>"$work/nginx/start.log" &
    nginx_pid=$!
    for _ in $(seq 50); do
        curl -s -f -o /dev/null -r 0-0 "http://127.0.0.1:$port/package.zip" && return 0
        kill -0 "$nginx_pid" 2>/dev/null || break # the port was taken
        sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
    return 1
}
started=""
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    if start_nginx; then
        started=1
        break
    fi
done
if [ -z "$started" ]; then
    echo "bench: nginx did not start:" >&2
    cat "$work/nginx/start.log" "$work/nginx/error.log" >&2 || true
    exit 1
fi
url="http://127.0.0.1:$port/package.zip"
expected=$(stat -c %s "$work/www/package.zip")

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
best() { tr ' ' '\n' <<<"$1" | awk 'NF && (m == "" || $1 < m) { m = $1 } END { print m }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load_average_start=$(load)"

# The hashed ("ED") signature minisign makes by default, checked by the control as a stamped
# copy checks it (hashing the bytes as they arrive) before publishing.
minisign -G -f -W -p "$work/vendor.pub" -s "$work/vendor.key" </dev/null >/dev/null
minisign -S -s "$work/vendor.key" -m "$work/www/package.zip" -x "$work/package.minisig" \
    </dev/null >/dev/null

# Runs the command after the name, timed from outside (process start included), and
# appends the seconds to the variable of that name.
timed() {
    local name=$1 t0 t1
    shift
    t0=$(now)
    "$@"
    t1=$(now)
    printf -v "$name" '%s%s ' "${!name}" "$(elapsed "$t0" "$t1")"
}
curl_plain() { curl -s -f -o "$work/out/curl.zip" "$url"; }
curl_sync() { curl -s -f -o "$work/out/curl.zip" "$url" && sync "$work/out/curl.zip"; }
curl_minisign() {
    curl -s -f -o "$work/out/curl.zip" "$url" &&
        minisign -q -V -m "$work/out/curl.zip" -x "$work/package.minisig" -p "$work/vendor.pub"
}
# The control's output goes to `control_out`.
control() { control_out=$("$bench" "$url" "$work/out/control.bin" "$@"); }
# Checks what the control saved and returns its peak RSS in KiB.
control_result() {
    local bytes
    bytes=$(sed -n 's/^bytes=//p' <<<"$control_out")
    rm -f "$work/out/control.bin"
    if [ "$bytes" != "$expected" ]; then
        echo "bench: the control saved $bytes of $expected bytes" >&2
        exit 1
    fi
    sed -n 's/^peak_rss_kib=//p' <<<"$control_out"
}

last() { awk '{ print $NF }' <<<"$1"; }
curl_times="" sync_times="" pipeline_times="" control_times="" verified_times=""
peak_kib=0 verified_peak_kib=0
for i in $(seq "$runs"); do
    timed curl_times curl_plain
    rm -f "$work/out/curl.zip"
    timed sync_times curl_sync
    rm -f "$work/out/curl.zip"
    timed pipeline_times curl_minisign
    rm -f "$work/out/curl.zip"
    timed control_times control
    kib=$(control_result)
    [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
    timed verified_times control "$work/vendor.pub" "$work/package.minisig"
    verified_kib=$(control_result)
    [ "$verified_kib" -gt "$verified_peak_kib" ] && verified_peak_kib=$verified_kib
    echo "run $i: curl $(last "$curl_times") s, curl+sync $(last "$sync_times") s," \
        "curl+minisign $(last "$pipeline_times") s, control $(last "$control_times") s" \
        "($kib KiB), verified $(last "$verified_times") s ($verified_kib KiB)" >&2
done

awk -v curl="$(best "$curl_times")" -v sync="$(best "$sync_times")" \
    -v pipeline="$(best "$pipeline_times")" -v control="$(best "$control_times")" \
    -v verified="$(best "$verified_times")" -v kib="$peak_kib" -v vkib="$verified_peak_kib" \
    'BEGIN {
        printf "download_ratio_vs_curl=%.2f\n", curl / control
        printf "download_ratio_vs_curl_sync=%.2f\n", sync / control
        printf "download_verified_ratio_vs_pipeline=%.2f\n", pipeline / verified
        printf "download_verified_ratio_vs_curl=%.2f\n", curl / verified
        printf "download_peak_rss_mib=%.1f\n", kib / 1024
        printf "download_verified_peak_rss_mib=%.1f\n", vkib / 1024
    }'
echo "load_average_end=$(load)"
