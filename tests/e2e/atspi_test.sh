#!/usr/bin/env bash
# The updater as a screen reader sees it, over a real AT-SPI bus: a private D-Bus session
# holds the accessibility bus, a private Xvfb and the updater; atspi_check.py reads the
# tree and presses 检查更新 through it.
# Usage: atspi_test.sh UPDATER STAMP PORTAL
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }

if [ "${1:-}" != --inside ]; then
    updater=$1 stamp=$2 portal=$3
    for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
        skip "python3-gi or gir1.2-atspi-2.0 is not installed"
    work=$(mktemp -d)
    trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
    head -c 200000 /dev/urandom >"$work/package.bin"
    "$portal" --port 0 --id 77 --title "Demo 2.1" --package "$work/package.bin" >"$work/portal.out" &
    for _ in $(seq 50); do [ -s "$work/portal.out" ] && break; sleep 0.1; done
    base=$(sed -n 's/^listening on //p' "$work/portal.out")
    [ -n "$base" ] || { echo "the portal did not start"; exit 1; }
    "$stamp" write "$updater" "$work/update-tool" --name A11Y --id 77 --portal "$base"
    dbus-run-session -- "$0" --inside "$work" 2> >(grep -v 'fd limit' >&2)
    exit
fi

# Inside the session: the X server, then the accessibility bus (it announces itself on
# the X root window, where libatspi looks first), then the updater.
work=$2
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
exec 3>"$work/display"
# -noreset: the server otherwise resets when its last client leaves, refusing connections
# meanwhile and wiping the bus address the launcher put on the root window.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1
mkdir -m 700 "$work/run"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run" \
    "$work/update-tool" &
/usr/bin/python3 -W ignore::DeprecationWarning "$(dirname "$0")/atspi_check.py" "Demo 2.1"
