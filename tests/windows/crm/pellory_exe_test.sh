#!/usr/bin/env bash
# The Windows pellory.exe under Wine: variable records on the command line
# (non-ASCII text included), and contact lookups in SQL mode through Wine's
# odbc32, which hands over to the build machine's unixODBC and its SQLite
# ODBC driver.
#   pellory_exe_test.sh PELLORY_EXE WORK_DIR [--sql]
set -euo pipefail
exe="$1"
work="$2"
sql="${3:-}"
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
p() { wine "$exe" "$@" | tr -d '\r'; }
expect() {  # expect WHAT EXPECTED ACTUAL
  [[ "$2" == "$3" ]] || fail "$1: expected [$2], got [$3]"
}

# Records: add, nested records, get with a default, non-ASCII both ways.
rd="$(p record add '' Name 'Zoë Müller')"
expect "add non-ASCII" '{Name(S10)=Zoë Müller}' "$rd"
expect "get non-ASCII" 'Zoë Müller' "$(p record get "$rd" name)"
rd="$(p record add "$rd" Count 12 --number)"
expect "add number" '{Name(S10)=Zoë Müller}{Count(N2)=12}' "$rd"
outer="$(p record add '' Inner "$rd")"
expect "nested" "$rd" "$(p record get "$outer" INNER)"
expect "absent with default" 'none' "$(p record get "$rd" Missing --default none)"
set +e
wine "$exe" record get "$rd" Missing >/dev/null 2>&1
rc=$?
PELLORY_HOST_SETTINGS='C:\no-such-folder\host.rec' wine "$exe" action >/dev/null 2>"$work/action.err"
action_rc=$?
set -e
expect "absent entry exit code" 1 "$rc"
expect "action exit code" 2 "$action_rc"
grep -q 'no ACTION given and no action stored' "$work/action.err" || fail "action message"

if [[ "$sql" == --sql ]]; then
  mkdir -p "$work/book" "$work/odbc"
  sqlite3 "$work/book/mxza.max" <<'SQL'
create table Client (Client_Id text, Name_Type text, First_Name text, Name text, Firm text,
  DEPARTMENT text, TITLE text, PHONE_1 text, PHONE_1_Extension text, PHONE_2 text,
  PHONE_2_Extension text, PHONE_3 text, PHONE_3_Extension text, PHONE_4 text,
  PHONE_4_Extension text, Reverse_Phone_1 text, Reverse_Phone_2 text, Reverse_Phone_3 text,
  Reverse_Phone_4 text, ADDRESS_Line_1 text, ADDRESS_Line_2 text, CITY text,
  STATE_PROVINCE text, ZIP_CODE text, COUNTRY text);
insert into Client values ('970101000001','I','John','Smith','Northgate Logistics Ltd','Sales',
  'Sales Manager','+44 (0)1234 567890','MAIN','01234 567891','FAX','','','','','0987654321044',
  '19876543210','','','Unit 4','','Bedford','','MK40 1AB','United Kingdom');
insert into Client values ('970101000002','I','Zoë','Müller','Brückner GmbH','','',
  '+49 30 1234567','','','','','','','','765432103094','','','','','','Berlin','','10115',
  'Germany');
SQL
  printf '[SQLite3 ODBC Driver]\nDriver = %s\n' \
    /usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so >"$work/odbc/odbcinst.ini"
  : >"$work/odbc/odbc.ini"
  export ODBCSYSINI="$work/odbc" ODBCINI="$work/odbc/odbc.ini"

  # The host settings, written with the command itself.
  conn="$(p record add '' ConnName Book)"
  conn="$(p record add "$conn" Connect "DRIVER={SQLite3 ODBC Driver};Database=$work/book/mxza.max")"
  conn="$(p record add "$conn" Driver 'SQLite3 ODBC Driver')"
  data="$(p record add '' UseSQL True)"
  data="$(p record add "$data" Connection "$conn")"
  p record add '' DataRd "$data" >"$work/host.rec"
  export PELLORY_HOST_SETTINGS
  PELLORY_HOST_SETTINGS="$(winepath -w "$work/host.rec")"

  out="$(p find --tel '+44 (0)1234 567890' --format name)" || fail "find by number: $out"
  expect "find by number" 'John Smith' "$out"
  out="$(p find --tel '01234 567891' --raw)" || fail "find by the second phone: $out"
  expect "raw reply result" 'Success' "$(p record get "$out" Result)"
  expect "raw reply id" '970101000001' "$(p record get "$out" Id)"
  out="$(p find --id 970101000002 --format json)" || fail "find by id: $out"
  [[ "$out" == *'"Name":"Zoë Müller"'* ]] || fail "find by id: $out"
  set +e
  p find --tel 999 >/dev/null
  rc=$?
  set -e
  expect "no contact exit code" 1 "$rc"
  # A data source that cannot be reached fails the load, and says so.
  bad="$(p record add "$conn" Connect 'DRIVER={No Such Driver}')"
  data="$(p record add "$data" Connection "$bad")"
  p record add '' DataRd "$data" >"$work/host.rec"
  set +e
  p find --tel '+44 (0)1234 567890' --raw >"$work/bad.txt" 2>&1
  rc=$?
  set -e
  expect "unreachable database exit code" 2 "$rc"
fi
echo "pellory.exe: ok"
