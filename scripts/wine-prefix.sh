#!/usr/bin/env bash
# A Wine prefix and an X display of their own for the Windows tests.
#   scripts/wine-prefix.sh start DIR   creates DIR/prefix (64-bit, with the
#                                      32-bit side when wine32 is installed),
#                                      starts Xvfb and writes DIR/env
#   scripts/wine-prefix.sh stop DIR    stops the prefix's processes and Xvfb
# DIR/env holds the WINEPREFIX, DISPLAY and WINEDEBUG lines the tests source.
set -euo pipefail

cmd="${1:?start or stop}"
dir="$(mkdir -p "${2:?folder}" && cd "$2" && pwd)"
prefix="$dir/prefix"

stop() {
  if [[ -f "$dir/env" ]]; then
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  fi
  if [[ -f "$dir/xvfb.pid" ]]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  if [[ -f "$dir/watchdog.pid" ]]; then
    kill -- "-$(cat "$dir/watchdog.pid")" 2>/dev/null || true
    rm -f "$dir/watchdog.pid"
  fi
}

if [[ "$cmd" == stop ]]; then
  stop
  exit 0
fi

stop
# A free display number: the first without a lock file.
display=""
for n in $(seq 90 140); do
  if [[ ! -e "/tmp/.X$n-lock" && ! -e "/tmp/.X11-unix/X$n" ]]; then
    display=":$n"
    break
  fi
done
[[ -n "$display" ]] || { echo "wine-prefix: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
# Xvfb ends with the tests; should nobody stop it, a watchdog in a process
# group of its own ends it after an hour, far more than the tests take.
setsid bash -c "sleep 3600; kill $(cat "$dir/xvfb.pid") 2>/dev/null" </dev/null >/dev/null 2>&1 &
echo $! >"$dir/watchdog.pid"

cat >"$dir/env" <<ENV
export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY="$display"
ENV
# shellcheck disable=SC1091
source "$dir/env"
for _ in $(seq 50); do
  [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
  sleep 0.1
done
if [[ ! -f "$prefix/system.reg" ]]; then
  wineboot -i >"$dir/wineboot.log" 2>&1
fi
wineserver -w
echo "wine-prefix: $prefix on display $display"
