# Sourced by the benchmark scripts that run a stamped updater on a private Xvfb.

xvfb=""
updater=""
work=""

bench_cleanup() {
    [ -n "$updater" ] && kill "$updater" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    [ -n "$work" ] && rm -rf "$work"
}

# bench_product BUILD_DIR: a private scratch folder $work (removed on exit) holding
# $work/update-tool, a stamped copy of BUILD_DIR's updater, and the updater's
# XDG_RUNTIME_DIR $work/run.
bench_product() {
    work=$(mktemp -d)
    chmod 700 "$work"
    trap bench_cleanup EXIT
    export XDG_RUNTIME_DIR=$work/run
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    "$1/tools/stamp/update-tool-stamp" write "$1/src/app/update-tool" "$work/update-tool" \
        --name Bench --id 1 --style 15 >/dev/null
}

# start_xvfb: a private Xvfb on a free display from $UPDATE_TOOL_XVFB_FIRST (default 150) up;
# exports DISPLAY and sets $xvfb to its process id.
start_xvfb() {
    local first=${UPDATE_TOOL_XVFB_FIRST:-150}
    for n in $(seq "$first" $((first + 100))); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb=$!
        for _ in $(seq 50); do xdpyinfo -display ":$n" >/dev/null 2>&1 && break; sleep 0.1; done
        if xdpyinfo -display ":$n" >/dev/null 2>&1; then
            export DISPLAY=":$n"
            unset QT_QPA_PLATFORM
            return 0
        fi
        kill "$xvfb" 2>/dev/null || true
        xvfb=""
    done
    echo "no Xvfb display came up" >&2
    return 1
}
