#!/usr/bin/env bash
# Serves a 1 GiB file from nginx on a loopback port and downloads it with `curl -o` and with
# the download control, alternating, three times each (BENCH_RUNS); prints the control's
# throughput as a ratio to curl's (best run of each) and its peak RSS (largest run). Then the
# same with the file signed by minisign and the control verifying it before publishing.
#   bench/download/run.sh PATH/TO/bench_download
set -euo pipefail
bench=$(realpath "$1")
runs=${BENCH_RUNS:-3}
size=${BENCH_SIZE:-1G}

work=$(mktemp -d /tmp/update-tool-bench.XXXXXX)
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

# Downloads the file `runs` times with curl and with the control, alternating; extra
# arguments go to the control. Sets curl_times, control_times and peak_kib.
race() {
    curl_times=""
    control_times=""
    peak_kib=0
    local i t0 t1 out bytes kib
    for i in $(seq "$runs"); do
        t0=$(now)
        curl -s -f -o "$work/out/curl.zip" "$url"
        t1=$(now)
        rm -f "$work/out/curl.zip"
        curl_times+="$(elapsed "$t0" "$t1") "

        # Timed from outside, like curl, so that both include starting the process.
        t0=$(now)
        out=$("$bench" "$url" "$work/out/control.bin" "$@")
        t1=$(now)
        rm -f "$work/out/control.bin"
        bytes=$(sed -n 's/^bytes=//p' <<<"$out")
        if [ "$bytes" != "$expected" ]; then
            echo "bench: the control saved $bytes of $expected bytes" >&2
            exit 1
        fi
        control_times+="$(elapsed "$t0" "$t1") "
        kib=$(sed -n 's/^peak_rss_kib=//p' <<<"$out")
        [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
        echo "run $i${1:+ (verified)}: curl $(awk '{print $NF}' <<<"$curl_times") s," \
            "control $(awk '{print $NF}' <<<"$control_times") s, control peak RSS $kib KiB" >&2
    done
}

race
awk -v curl="$(best "$curl_times")" -v control="$(best "$control_times")" -v kib="$peak_kib" \
    'BEGIN { printf "download_ratio_vs_curl=%.2f\ndownload_peak_rss_mib=%.1f\n", curl / control, kib / 1024 }'

# A signed package: the hashed ("ED") signature minisign makes by default, checked by the
# control as a stamped copy checks it (hashing the bytes as they arrive) before publishing.
minisign -G -f -W -p "$work/vendor.pub" -s "$work/vendor.key" </dev/null >/dev/null
minisign -S -s "$work/vendor.key" -m "$work/www/package.zip" -x "$work/package.minisig" \
    </dev/null >/dev/null
race "$work/vendor.pub" "$work/package.minisig"
awk -v curl="$(best "$curl_times")" -v control="$(best "$control_times")" \
    'BEGIN { printf "download_verified_ratio_vs_curl=%.2f\n", curl / control }'
