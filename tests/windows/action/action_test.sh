#!/usr/bin/env bash
# DoAction end to end under Wine: a script host creates "Pellory.Session"
# through COM, and the plug-in reaches the Windows stand-in CRM through COM
# activation of its attach class, window messages and typed keys. The
# stand-in's journal must show exactly what the actions ask of it.
# pellory.exe's action command then does the same from the command line.
#   action_test.sh DLL STANDIN_EXE PELLORY_EXE POINTER_SIZE WORK_DIR
set -euo pipefail
dll="$1"
standin="$2"
pellory="$3"
bits="$4"
work="$5"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# shellcheck source=../wine-width.sh
source "$(dirname "$0")/../wine-width.sh" "$bits"

"$loader" "$sys\\regsvr32.exe" /s "$(winepath -w "$dll")" || fail "regsvr32"
wine "$standin" /regserver
cleanup() {
  [[ -n "${server:-}" ]] && kill "$server" 2>/dev/null
  wine taskkill /f /im "$(basename "$standin")" >/dev/null 2>&1 || true
  wine "$standin" /unregserver >/dev/null 2>&1 || true
  "$loader" "$sys\\regsvr32.exe" /s /u "$(winepath -w "$dll")" || true
}
trap cleanup EXIT

journal="$work/journal.txt"
wine "$standin" --journal "$(winepath -w "$journal")" --database 'C:\Data\Sales' --modal-view \
  --timeout 120 >"$work/standin.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  grep -qx ready "$journal" 2>/dev/null && break
  sleep 0.1
done
grep -qx ready "$journal" || fail "the stand-in did not start"

"$loader" "$sys\\cscript.exe" //nologo "$(winepath -w "$here/actions.vbs")" | tr -d '\r' \
  >"$work/script.txt" || true
cat "$work/script.txt"
grep -qx PASSED "$work/script.txt" || fail "the script did not pass"

# The command line: one action named there, then the one stored in the host
# settings.
settings="$work/host.rec"
printf '%s' '{DataRd(S13)={UseSQL=True}}{UserRd(S22)={DBFile=C:\Data\Sales}}' >"$settings"
printf '%s' '{ActionRd(S33)={Action=Run Macro}{Macro=Nightly}}' >>"$settings"
export PELLORY_HOST_SETTINGS
PELLORY_HOST_SETTINGS="$(winepath -w "$settings")"
WINEDEBUG=-all "$loader" "$pellory" action "Show Contact" --id 42 || fail "pellory action"
WINEDEBUG=-all "$loader" "$pellory" action || fail "pellory action (stored)"

# Keys are typed without waiting, so they may arrive around the messages that
# follow them: the messages and calls are compared in order, and the keys,
# joined, as one line at the end.
normalise() {
  grep -v -E '^main window: (typed|keys) ' "$journal"
  # Runs of typed characters split by other lines are joined again.
  grep -E '^main window: (typed|keys) ' "$journal" | sed -E 's/^main window: //' |
    awk '/^typed "/ { t = t substr($0, 8, length($0) - 8); next }
         { if (t != "") printf " typed \"%s\"", t; t = ""; printf " %s", $0 }
         END { if (t != "") printf " typed \"%s\"", t; print "" }' | sed 's/^/keys:/'
}
for _ in $(seq 50); do
  normalise | tail -1 | grep -qxF "$(tail -1 "$here/actions.expected")" && break
  sleep 0.1
done
normalise >"$work/received.txt"
diff -u "$here/actions.expected" "$work/received.txt" ||
  fail "the application received something else"
echo "actions: ok"
