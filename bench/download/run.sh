#!/usr/bin/env bash
# Serves a 1 GiB file from nginx on a loopback port and downloads it with `curl -o` and with
# the download control, alternating, three times each; prints the control's throughput as a
# ratio to curl's (best run of each) and its peak RSS (largest run).
#   bench/download/run.sh PATH/TO/bench_download
set -euo pipefail
bench=$(realpath "$1")
runs=${BENCH_RUNS:-3}
size=${BENCH_SIZE:-1G}

work=$(mktemp -d /tmp/update-tool-bench.XXXXXX)
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/out" "$work/nginx"
# nginx's worker may run as another user (nobody) and must read the file.
chmod 755 "$work" "$work/www"
# Sparse: the server reads it from the page cache, so the disk is never the bottleneck.
truncate -s "$size" "$work/www/package.zip"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
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
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>"$work/nginx/start.log" &
nginx_pid=$!
url="http://127.0.0.1:$port/package.zip"
for _ in $(seq 50); do
    curl -s -f -o /dev/null -r 0-0 "$url" && break
    sleep 0.1
done

now() { date +%s.%N; }
curl_times=()
control_times=()
peak_kib=0
for i in $(seq "$runs"); do
    t0=$(now)
    curl -s -f -o "$work/out/curl.zip" "$url"
    t1=$(now)
    rm -f "$work/out/curl.zip"
    curl_times+=("$(python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$t0" "$t1")")

    # Timed from outside, like curl, so both include starting the process.
    t0=$(now)
    out=$("$bench" "$url" "$work/out/control.zip")
    t1=$(now)
    rm -f "$work/out/control.zip"
    bytes=$(sed -n 's/^bytes=//p' <<<"$out")
    if [ "$bytes" -ne "$(stat -c %s "$work/www/package.zip")" ]; then
        echo "bench: the control saved $bytes bytes" >&2
        exit 1
    fi
    control_times+=("$(python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$t0" "$t1")")
    kib=$(sed -n 's/^peak_rss_kib=//p' <<<"$out")
    [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
    echo "run $i: curl ${curl_times[-1]} s, control ${control_times[-1]} s, control rss ${kib} KiB" >&2
done

python3 - "$peak_kib" "${curl_times[*]}" "${control_times[*]}" <<'PY'
import sys
kib = int(sys.argv[1])
curl = min(float(t) for t in sys.argv[2].split())
control = min(float(t) for t in sys.argv[3].split())
print(f"download_ratio_vs_curl={curl / control:.2f}")
print(f"download_peak_rss_mib={kib / 1024:.1f}")
PY
