#!/usr/bin/env bash
# Runs a Windows program under Wine with the exit code of the program: the emulator of the
# Windows build (ctest runs every test program through it).
#
# The Wine prefix is $ORVEX_WINEPREFIX, else $WINEPREFIX, else a folder in the temporary
# directory of this user; it is made on first use. Wine's helper processes (wineserver,
# services) outlive a program and inherit its output, so the program's output goes through
# a file and the server is kept running between programs ("wine-run.sh --stop" ends it).
set -uo pipefail

prefix="${ORVEX_WINEPREFIX:-${WINEPREFIX:-${TMPDIR:-/tmp}/orvex-wine-$(id -u)}}"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ "${1:-}" = "--stop" ]; then
    [ -d "$prefix" ] && wineserver -k >/dev/null 2>&1
    exit 0
fi

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    # Only one caller boots the prefix; the others wait for it.
    (
        flock 9
        if [ ! -f "$prefix/.orvex-ready" ]; then
            wineboot --init </dev/null >"$prefix/.boot.log" 2>&1
            wineserver -w
            wine winecfg /v win10 </dev/null >>"$prefix/.boot.log" 2>&1
            wineserver -w
            touch "$prefix/.orvex-ready"
        fi
    ) 9>"$prefix.lock"
fi
# A persistent server (and its services) started detached from our output.
if ! wineserver -p 300 </dev/null >/dev/null 2>&1; then :; fi

out="$(mktemp "${TMPDIR:-/tmp}/orvex-wine-out.XXXXXX")"
trap 'rm -f "$out"' EXIT
wine "$@" </dev/null >"$out" 2>&1
rc=$?
# Under load Wine now and then fails to start a program at all: a non-zero exit with no
# output whatever (every program here prints on failure). That start is tried once more.
if [ $rc -ne 0 ] && [ ! -s "$out" ]; then
    echo "wine-run.sh: $1 exited $rc without output; starting it again" >&2
    wine "$@" </dev/null >"$out" 2>&1
    rc=$?
fi
tr -d '\r' <"$out"
exit $rc
