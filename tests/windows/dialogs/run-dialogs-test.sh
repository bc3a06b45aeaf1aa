#!/usr/bin/env bash
# Runs the native dialog test under Wine and takes the screenshots it asks
# for: the test writes NAME.ready into the folder while a dialog is up, this
# script saves the X screen as NAME.png and answers with NAME.done.
#   run-dialogs-test.sh TEST_EXE ARTEFACT_FOLDER
# Needs WINEPREFIX and DISPLAY (run-in-prefix.sh exports them).
set -uo pipefail
exe="${1:?test program}"
shots="$(mkdir -p "${2:?artefact folder}" && cd "$2" && pwd)"
rm -f "$shots"/*.ready "$shots"/*.done "$shots"/*.png

# A private ODBC configuration with one data source of the user's.
odbc="$(mktemp -d)"
trap 'rm -rf "$odbc"' EXIT
printf '[SQLite3]\nDriver=libsqlite3odbc.so\n' >"$odbc/odbcinst.ini"
: >"$odbc/odbc.ini"
printf '[Sales]\nDriver=SQLite3\nDescription=Test source\n' >"$odbc/user.ini"
export ODBCSYSINI="$odbc" ODBCINI="$odbc/user.ini"

wine "$exe" "Z:${shots//\//\\}" &
pid=$!
shoot() {
  local ready name
  for ready in "$shots"/*.ready; do
    [[ -e "$ready" ]] || continue
    name="$(basename "$ready" .ready)"
    if ! import -window root -display "$DISPLAY" "$shots/$name.png" 2>>"$shots/import.log"; then
      xwd -root -display "$DISPLAY" | convert xwd:- "$shots/$name.png" 2>>"$shots/import.log"
    fi
    rm -f "$ready"
    : >"$shots/$name.done"
  done
}
while kill -0 "$pid" 2>/dev/null; do
  shoot
  sleep 0.2
done
wait "$pid"
rc=$?
rm -f "$shots"/*.done
for name in configuration question file-open action data-source number-match; do
  if [[ ! -s "$shots/$name.png" ]]; then
    echo "run-dialogs-test: no screenshot $shots/$name.png" >&2
    rc=1
  fi
done
echo "screenshots: $shots"
exit "$rc"
