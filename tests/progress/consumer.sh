#!/usr/bin/env bash
# A consumer of the installed client library: installs it into a fresh prefix, builds the
# example of docs/progress-protocol.md against it through pkg-config (shared and static) and
# runs both against a stamped updater.   consumer.sh BUILD_DIR DOC STAMP UPDATER
# $CONSUMER_CFLAGS adds compiler options (a sanitizer build's library needs its sanitizers).
set -euo pipefail
build=$1 doc=$2 stamp=$3 updater=$4
work=$(mktemp -d)
chmod 700 "$work"
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --component progress >/dev/null
for f in include/update-tool/progress.h lib/libupdate-tool-progress.a \
    lib/libupdate-tool-progress.so lib/pkgconfig/update-tool-progress.pc; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
done
# The shared library exports its API and nothing else.
extra=$(nm -D --defined-only "$prefix/lib/libupdate-tool-progress.so" | awk '$2 == "T" && $3 !~ /^utp_/')
[ -z "$extra" ] || fail "exported beyond the API: $extra"

sed -n '/^```c$/,/^```$/p' "$doc" | sed '1d;$d' >"$work/engine.c"
[ "$(wc -l <"$work/engine.c")" -le 20 ] || fail "the example is longer than 20 lines"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046,SC2086
cc -Wall -Wextra -Werror ${CONSUMER_CFLAGS:-} -o "$work/engine" "$work/engine.c" \
    $(pkg-config --cflags --libs update-tool-progress) -Wl,-rpath,"$prefix/lib"
# shellcheck disable=SC2046,SC2086
cc -Wall -Wextra -Werror ${CONSUMER_CFLAGS:-} -o "$work/engine-static" "$work/engine.c" \
    $(pkg-config --cflags update-tool-progress) "$prefix/lib/libupdate-tool-progress.a"
# The header makes a caller's compiler warn of an ignored result and of a null connection.
for misuse in 'utp_notify(0, 3, "x", 1, 100, 0);' 'utp_open(0, 0, 100);'; do
    printf '#include <update-tool/progress.h>\nint main(void) { %s return 0; }\n' "$misuse" >"$work/misuse.c"
    # shellcheck disable=SC2046
    ! cc -Wall -Wextra -Werror -c -o "$work/misuse.o" "$work/misuse.c" \
        $(pkg-config --cflags update-tool-progress) 2>/dev/null || fail "no warning for: $misuse"
done
# ldd's output is taken whole first: `ldd | grep -q` under pipefail fails at random when grep
# stops reading early and ldd dies of SIGPIPE.
libraries=$(ldd "$work/engine" "$work/engine-static")
grep -qF "$prefix/lib/libupdate-tool-progress.so" <<<"$libraries" ||
    fail "the example does not load the installed library"
! grep -q libQt <<<"$libraries" || fail "the example loads Qt"

export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
status=0
"$work/engine" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && grep -q "no updater" "$work/err" || fail "without an updater: exit $status"

"$stamp" write "$updater" "$work/update-tool" --name Consumer --id 1 >/dev/null
QT_QPA_PLATFORM=offscreen "$work/update-tool" 2>/dev/null &
pid=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/update-tool/progress.sock" ] && break
    sleep 0.1
done
"$work/engine" || fail "shared: the updater did not answer"
"$work/engine-static" || fail "static: the updater did not answer"
echo "PASS: installed, built with pkg-config, answered"
