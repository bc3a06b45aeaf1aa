#!/usr/bin/env bash
# Runs one test of pellory.dll under Wine, with the programs of the DLL's
# width (64-bit: system32 through wine64; 32-bit: syswow64 through wine).
#   run-com-test.sh registration DLL POINTER_SIZE
#   run-com-test.sh script       DLL POINTER_SIZE FILE.vbs|FILE.js
#   run-com-test.sh client       DLL POINTER_SIZE CLIENT.exe
#   run-com-test.sh trace        DLL POINTER_SIZE trace.vbs
#   run-com-test.sh sql          DLL POINTER_SIZE FILE.vbs|FILE.js EXPECTED WORK_DIR
# The DLL is registered for the test and unregistered afterwards.
set -euo pipefail
kind="${1:?kind}"
dll="${2:?dll}"
bits="${3:?pointer size}"
file="${4:-}"

# shellcheck source=../wine-width.sh
source "$(dirname "$0")/../wine-width.sh" "$bits"
winpath() { local p="${1//\//\\}"; echo "Z:$p"; }
win_dll="$(winpath "$dll")"

clsid='{C7B227D1-ACB7-485E-B63B-0E17EA780A6F}'
iid='{370237EA-DE92-4E93-AE62-57149BC0E5AA}'
libid='{057CAA4F-02F7-4D67-BA8B-CDC13FDE77BB}'

regsvr() { "$loader" "$sys\\regsvr32.exe" /s "$@"; }
reg() { "$loader" "$sys\\reg.exe" "$@"; }
has_key() { reg query "$1" >/dev/null 2>&1; }

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
absent() { ! has_key "$1"; }
note_only() {
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "note: $what: not under this Wine"; fi
}

# Every trace of our identifiers in the exported classes of both hives.
no_trace_left() {
  local out ok=0
  out="$(mktemp -d)"
  for hive in 'HKLM\Software\Classes' 'HKCU\Software\Classes'; do
    local f="$out/x.reg"
    rm -f "$f"
    reg export "$hive" "$(winpath "$f")" /y >/dev/null 2>&1 || true
    if [[ -f "$f" ]] &&
      iconv -f UTF-16 -t UTF-8 "$f" | grep -i -E "${clsid:1:36}|${iid:1:36}|${libid:1:36}|Pellory\.Session"; then
      ok=1
    fi
  done
  rm -rf "$out"
  return $ok
}

# Dialogs that Configure opens are closed as a person would close them.
closer_pid=""
start_closer() {
  if [[ -n "${PELLORY_DIALOG_CLOSER:-}" ]]; then
    wine "$PELLORY_DIALOG_CLOSER" >"$(mktemp)" 2>&1 &
    closer_pid=$!
  fi
}
stop_closer() { [[ -z "$closer_pid" ]] || kill "$closer_pid" 2>/dev/null || true; }

case "$kind" in
  registration)
    machine='HKLM\Software\Classes'
    user='HKCU\Software\Classes'
    check "register for every user" regsvr "$win_dll"
    check "class key" has_key "$machine\\CLSID\\$clsid\\InprocServer32"
    check "ProgID" has_key "$machine\\Pellory.Session\\CLSID"
    check "versioned ProgID" has_key "$machine\\Pellory.Session.2\\CLSID"
    check "type library" has_key "$machine\\TypeLib\\$libid\\2.0"
    check "interface" has_key "$machine\\Interface\\$iid"
    check "apartment threading" bash -c "'$loader' '$sys\\reg.exe' query '$machine\\CLSID\\$clsid\\InprocServer32' /v ThreadingModel | grep -q Apartment"
    check "nothing for the user alone" absent "$user\\CLSID\\$clsid"
    check "unregister for every user" regsvr /u "$win_dll"
    check "no key left after machine unregistration" no_trace_left

    check "register for the current user" regsvr /n /i:user "$win_dll"
    check "user class key" has_key "$user\\CLSID\\$clsid\\InprocServer32"
    check "user ProgID" has_key "$user\\Pellory.Session\\CLSID"
    check "user type library" has_key "$user\\TypeLib\\$libid\\2.0"
    # The values themselves, read back: the server's path, the threading
    # model and the class the ProgID names.
    default_of() { reg query "$1" /ve | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'; }
    value_of() { reg query "$1" /v "$2" | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"; }
    inproc="$user\\CLSID\\$clsid\\InprocServer32"
    check "user server path" test "$(default_of "$inproc")" = "$win_dll"
    check "user apartment threading" test "$(value_of "$inproc" ThreadingModel)" = Apartment
    check "user ProgID names the class" test "$(default_of "$user\\Pellory.Session\\CLSID")" = "$clsid"
    # Wine 8 keeps HKEY_CLASSES_ROOT to the machine's classes: the user's
    # keys above are right, but neither this view nor CreateObject sees them.
    note_only "the merged classes view shows the user's class" has_key "HKCR\\CLSID\\$clsid\\InprocServer32"
    check "nothing for the machine" absent "$machine\\CLSID\\$clsid"
    check "no machine type library" absent "$machine\\TypeLib\\$libid"
    probe="$(mktemp --suffix=.vbs)"
    printf 'Set s = CreateObject("Pellory.Session")\r\nWScript.Echo s.CapabilitiesReal\r\n' >"$probe"
    # Wine 8 does not yet find classes registered under the user's classes
    # alone, so this is reported but does not fail the test.
    note_only "a script creates the user's registration" bash -c "'$loader' '$sys\\cscript.exe' //nologo '$(winpath "$probe")' | grep -q 'Client=1'"
    rm -f "$probe"
    check "unregister for the current user" regsvr /u /n /i:user "$win_dll"
    check "no key left after user unregistration" no_trace_left
    check "unknown install command refused" bash -c "! '$loader' '$sys\\regsvr32.exe' /s /n /i:nobody '$win_dll'"
    check "refused install leaves nothing" no_trace_left
    ;;
  script | client)
    regsvr "$win_dll"
    start_closer
    trap 'stop_closer; regsvr /u "$win_dll" || true' EXIT
    # A crash inside Wine can leave the process waiting in its crash handler:
    # the time limit turns that into a failure instead of a stuck test.
    status=0
    if [[ "$kind" == script ]]; then
      output="$(timeout -k 5 120 "$loader" "$sys\\cscript.exe" //nologo "$(winpath "$file")" 2>&1 | tr -d '\r')" || status=$?
    else
      output="$(timeout -k 5 60 "$loader" "$(winpath "$file")" 2>&1 | tr -d '\r')" || status=$?
    fi
    echo "$output"
    # The scripting host's own exit status means little (see below); only
    # the time limit counts there. The client's status counts in full.
    if [[ $status -eq 124 || $status -eq 137 || ($kind == client && $status -ne 0) ]]; then
      echo "FAIL: exit status $status"
      failures=1
    fi
    # The scripting host reports neither script errors nor an exit code
    # reliably, so the script's own last line says how it went.
    [[ "$(tail -n 1 <<<"$output")" == "PASSED"* ]] || failures=1
    ;;
  trace)
    # The prefix's c:\wendle.log: the lines of failures trapped in the DLL
    # are appended after what the file held, each CRLF-ended.
    log="$WINEPREFIX/drive_c/wendle.log"
    printf 'an earlier line\r\n' >>"$log"
    before="$(mktemp)"
    cp "$log" "$before"
    regsvr "$win_dll"
    start_closer
    trap 'stop_closer; regsvr /u "$win_dll" || true; rm -f "$before"' EXIT
    output="$(timeout -k 5 60 "$loader" "$sys\\cscript.exe" //nologo "$(winpath "$file")" 2>&1 | tr -d '\r')" || true
    echo "$output"
    size="$(stat -c %s "$before")"
    check "earlier lines kept" cmp -s "$before" <(head -c "$size" "$log")
    new="$(tail -c +"$((size + 1))" "$log")"
    echo "$new"
    check "new lines written" test -n "$new"
    check "every line CRLF-ended" test "$(printf '%s' "$new" | grep -c $'\r$')" -eq "$(printf '%s' "$new" | grep -c '')"
    # The time stamp as the locale writes the date and the time (the
    # script printed them before and after): its digits may differ.
    stamp_of() { sed -n "s/^$1=//p" <<<"$output"; }
    shape="$(stamp_of BEFORE | sed -E 's/[0-9]+/[0-9]+/g; s/[.]/[.]/g')"
    days="$(stamp_of BEFORE | cut -d' ' -f1)|$(stamp_of AFTER | cut -d' ' -f1)"
    check "the script printed the time" test -n "$shape"
    line_re="^Pellory - ($shape)    @ .+ @ [A-Za-z.]+"$'\r$'
    check "every line: component, date and time, four blanks, @, message and tag" \
      test -z "$(printf '%s' "$new" | grep -v -E "$line_re")"
    check "the day is today" test -z "$(printf '%s' "$new" | grep -v -E "^Pellory - ($days) ")"
    check "the failed load" grep -q -E $' @ Pellory[.]Load\r$' <<<"$new"
    check "the action without a CRM" grep -q -E $' @ plugin[.]Session[.]DoAction\r$' <<<"$new"
    check "in the order of the calls" test "$(grep -n -m1 'Pellory[.]Load' <<<"$new" | cut -d: -f1)" \
      -lt "$(grep -n -m1 'Session[.]DoAction' <<<"$new" | cut -d: -f1)"
    ;;
  sql)
    # SQL-mode lookups over the SQLite ODBC driver, or PostgreSQL's when
    # the last argument is "postgres": Wine's odbc32 hands the calls to the
    # build machine's unixODBC of the process's width, which loads the
    # drivers of that width.
    if [[ "$bits" == 8 ]]; then
      drivers=/usr/lib/x86_64-linux-gnu/odbc
    else
      drivers=/usr/lib/i386-linux-gnu/odbc
    fi
    expected="${5:?expected replies}"
    work="${6:?work folder}"
    server="${7:-sqlite}"
    rm -rf "$work" && mkdir -p "$work/odbc"
    book="$(dirname "$0")/sql_book.sql"
    if [[ "$server" == postgres ]]; then
      # A throw-away PostgreSQL server on loopback, reached through its
      # Unicode ODBC driver.
      pg_script="$(cd "$(dirname "$0")/../../.." && pwd)/scripts/pg-test-server.sh"
      state="$work/pg.state"
      bash "$pg_script" start "$state" >/dev/null
      trap 'bash "$pg_script" stop "$state"' EXIT
      if grep -q '^UNAVAILABLE=' "$state"; then
        echo "skipped: $(sed -n 's/^UNAVAILABLE=//p' "$state")"
        exit 77
      fi
      pg() { sed -n "s/^$1=//p" "$state"; }
      PGPASSWORD="$(pg PG_PASSWORD)" psql -q -v ON_ERROR_STOP=1 -h "$(pg PG_HOST)" -p "$(pg PG_PORT)" \
        -U "$(pg PG_USER)" -d postgres -f "$book" >/dev/null || { echo "FAIL: loading the book"; exit 1; }
      printf '[PostgreSQL Unicode]\nDriver = %s\n' \
        "$drivers/psqlodbcw.so" >"$work/odbc/odbcinst.ini"
      # The password holds ";", "{" and "}": braced, with "}" doubled.
      password="$(pg PG_PASSWORD | sed 's/}/}}/g')"
      connect="DRIVER={PostgreSQL Unicode};Server=$(pg PG_HOST);Port=$(pg PG_PORT);Database=postgres;Uid=$(pg PG_USER);Pwd={$password}"
    else
      sqlite3 "$work/mxza.max" <"$book"
      printf '[SQLite3 ODBC Driver]\nDriver = %s\n' \
        "$drivers/libsqlite3odbc.so" >"$work/odbc/odbcinst.ini"
      connect="DRIVER={SQLite3 ODBC Driver};Database=$work/mxza.max"
    fi
    : >"$work/odbc/odbc.ini"
    export ODBCSYSINI="$work/odbc" ODBCINI="$work/odbc/odbc.ini"
    regsvr "$win_dll"
    trap 'regsvr /u "$win_dll" || true; [[ "$server" != postgres ]] || bash "$pg_script" stop "$state"' EXIT
    status=0
    timeout -k 5 120 "$loader" "$sys\\cscript.exe" //nologo "$(winpath "$file")" \
      "$connect" "$(winpath "$work/replies.txt")" ||
      status=$?
    [[ $status -ne 124 && $status -ne 137 ]] || { echo "FAIL: time limit"; failures=1; }
    # The replies in UTF-8 with the search time, which varies, masked.
    if [[ -f "$work/replies.txt" ]]; then
      iconv -f UTF-16 -t UTF-8 "$work/replies.txt" | tr -d '\r' |
        sed -E 's/\{Speed\([A-Z][0-9]+\)=[^}]*\}/{Speed=*}/g' >"$work/replies.out"
      diff -u "$expected" "$work/replies.out" && echo "ok: every reply as expected" || failures=1
    else
      echo "FAIL: no replies written"
      failures=1
    fi
    ;;
  *)
    echo "run-com-test.sh: unknown kind $kind" >&2
    exit 2
    ;;
esac
[[ $failures -eq 0 ]]
