#!/usr/bin/env bash
# Progress messages per second to a stamped updater on a private Xvfb, each repainting its
# window: over one kept connection of the client library, and with one update-tool-notify
# process per message.   bench/progress/run.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/../kit.sh"
build=$(realpath "$1")
bench_product "$build"
start_xvfb || exit 1
"$work/update-tool" &
updater=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/update-tool/progress.sock" ] && break
    sleep 0.1
done
sleep 1 # past the fade-in

kept=$("$build/bench/progress/bench_progress" 5000)
oneshots=300
start=$(date +%s%N)
for i in $(seq "$oneshots"); do
    "$build/tools/notify/update-tool-notify" "Trancel1_ProgressValue?0.$((i % 9 + 1))"
done
end=$(date +%s%N)
echo "progress_msgs_per_s_kept=$kept"
awk -v n="$oneshots" -v ns=$((end - start)) \
    'BEGIN { printf "progress_msgs_per_s_oneshot=%.0f\n", n / (ns / 1e9) }'
