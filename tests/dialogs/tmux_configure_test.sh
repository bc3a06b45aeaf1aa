#!/usr/bin/env bash
# Drives `pellory configure` on a real terminal inside tmux: keys are sent
# with send-keys and the screen is read back with capture-pane.
#
#   tmux_configure_test.sh sql    PELLORY BUILD_DIR SOURCE_DIR
#       configures SQL mode against a PostgreSQL data source through the
#       data-source prompt, then looks a contact up with `pellory find`
#   tmux_configure_test.sh action PELLORY BUILD_DIR SOURCE_DIR
#       configures an action, then runs it with `pellory action` against the
#       stand-in CRM application
#   tmux_configure_test.sh file   PELLORY BUILD_DIR SOURCE_DIR
#       the user page, a data directory without an address book stored only
#       after the question, and Enter on a focused "..." button
#
# Exit status 77 means skipped (no tmux, or no PostgreSQL server).
set -u

mode=${1:?mode}
pellory=${2:?pellory binary}
build=${3:?build dir}
source=${4:?source dir}

command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }

work=$(mktemp -d /tmp/pellory-tmux-XXXXXX)
socket="pellory-dialogs-$$"
own_pg_state=""
tm() { env -u TMUX tmux -L "$socket" "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1
  if [ -n "$own_pg_state" ]; then "$source/scripts/pg-test-server.sh" stop "$own_pg_state"; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "---- screen ----"
  tm capture-pane -p -t dlg 2>/dev/null
  echo "----------------"
  exit 1
}

# Waits (at most $2 seconds, default 10) until the screen shows $1.
wait_for() {
  local text=$1 limit=${2:-10} end=$((SECONDS + ${2:-10}))
  while [ $SECONDS -le $end ]; do
    if tm capture-pane -p -t dlg 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
  done
  fail "the screen did not show \"$text\" within ${limit}s"
}

# Sends keys one by one with a pause, so that a lone Escape is never read
# together with the key after it.
keys() {
  local k
  for k in "$@"; do
    tm send-keys -t dlg "$k"
    sleep 0.15
  done
}
# Types text literally.
type_text() { tm send-keys -t dlg -l -- "$1"; sleep 0.15; }

# The environment of every pellory run: settings, registry, trace log and
# ODBC configuration all private to this test.
export PELLORY_HOST_SETTINGS="$work/host.rec"
export PELLORY_REGISTRY="$work/registry.reg"
export PELLORY_TRACE_LOG="$work/trace.log"
# The build's drivers, but no data sources other than the test's own.
mkdir -p "$work/odbcsys"
cp "$build/odbc/odbcinst.ini" "$work/odbcsys/" || { echo "FAIL: no $build/odbc/odbcinst.ini"; exit 1; }
: >"$work/odbcsys/odbc.ini"
export ODBCSYSINI="$work/odbcsys"
export ODBCINI="$work/odbc.ini"
: >"$ODBCINI"

# Runs `pellory ARGS...` in a fresh tmux pane; its output and exit status
# stay on the screen.
start_pellory() {
  tm kill-session -t dlg >/dev/null 2>&1
  local args try
  printf -v args '%q ' "$@"
  # Killing the last session ends the tmux server, and a new session can
  # meet that server still on its way out: then it is tried again.
  for try in 1 2 3 4 5; do
    tm new-session -d -s dlg -x 100 -y 30 \
      "env PELLORY_HOST_SETTINGS='$PELLORY_HOST_SETTINGS' PELLORY_REGISTRY='$PELLORY_REGISTRY' \
       PELLORY_TRACE_LOG='$PELLORY_TRACE_LOG' ODBCSYSINI='$ODBCSYSINI' ODBCINI='$ODBCINI' \
       '$pellory' $args; echo \"EXIT=\$?\"; sleep 600" && return 0
    sleep 0.5
  done
  fail "tmux could not start"
}

record_get() { "$pellory" record get "$1" "$2" 2>/dev/null; }
settings_record() { record_get "$(cat "$PELLORY_HOST_SETTINGS")" "$1"; }

run_sql() {
  # The PostgreSQL server: the one the test run started, else our own.
  local state=${PELLORY_PG_STATE:-}
  if [ -z "$state" ] || [ ! -f "$state" ]; then
    own_pg_state="$work/pg.env"
    state=$own_pg_state
    "$source/scripts/pg-test-server.sh" start "$state" >/dev/null 2>&1
  fi
  local PG_HOST="" PG_PORT="" PG_USER="" PG_PASSWORD="" UNAVAILABLE=""
  while IFS='=' read -r key value; do
    case "$key" in
      PG_HOST | PG_PORT | PG_USER | PG_PASSWORD | UNAVAILABLE) printf -v "$key" '%s' "$value" ;;
    esac
  done <"$state"
  if [ -n "$UNAVAILABLE" ] || [ -z "$PG_PORT" ]; then
    echo "SKIP: PostgreSQL test server: ${UNAVAILABLE:-not running}"
    exit 77
  fi
  local psql=/usr/lib/postgresql/15/bin/psql
  [ -x "$psql" ] || psql=$(command -v psql)
  # A contact table of its own, in a database of its own.
  local db="dialogs_$$"
  PGPASSWORD=$PG_PASSWORD "$psql" -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d postgres \
    -c "create database $db" || fail "cannot create the database"
  PGPASSWORD=$PG_PASSWORD "$psql" -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d "$db" <<'SQL' ||
create table Client (Client_Id text, Name_Type text, First_Name text, Name text, Firm text,
  DEPARTMENT text, TITLE text, PHONE_1 text, PHONE_1_Extension text, PHONE_2 text,
  PHONE_2_Extension text, PHONE_3 text, PHONE_3_Extension text, PHONE_4 text,
  PHONE_4_Extension text, Reverse_Phone_1 text, Reverse_Phone_2 text, Reverse_Phone_3 text,
  Reverse_Phone_4 text, ADDRESS_Line_1 text, ADDRESS_Line_2 text, CITY text,
  STATE_PROVINCE text, ZIP_CODE text, COUNTRY text);
insert into Client values ('PG-0042', 'I', 'Grace', 'Hopper', 'Harbour Analytics', 'Research',
  'Director', '+44 (0)1632 960123', '', '', '', '', '', '', '', '3210692361044', '', '', '',
  '1 Quay Street', '', 'Bristol', '', 'BS1 4XE', 'United Kingdom');
insert into Client values ('PG-0043', 'C', '', 'Tidewater Freight', 'Tidewater Freight', '',
  '', '0117 496 0555', '', '', '', '', '', '', '', '55506947110', '', '', '', '', '', 'Bristol',
  '', '', 'United Kingdom');
SQL
    fail "cannot fill the contact table"
  # The user's odbc.ini is the system's one: unixODBC reports its sources
  # twice, the prompt lists them once.
  ODBCINI="$ODBCSYSINI/odbc.ini"
  cat >"$ODBCINI" <<EOF
[PgSales]
Driver = PostgreSQL Unicode
Description = Sales contacts on PostgreSQL
Servername = $PG_HOST
Port = $PG_PORT
Database = $db
EOF

  start_pellory configure
  wait_for "Maximizer Configuration"
  wait_for "(*) Data directory:"
  keys M-s  # the "SQL server" option
  wait_for "(*) SQL server:"
  keys Enter  # OK without a data source is refused
  wait_for "No SQL server is chosen."
  keys Enter
  wait_for "(*) SQL server:"
  keys Tab Tab Space  # to its "..." button
  wait_for "Select Data Source"
  wait_for "1  PgSales  PostgreSQL Unicode  (user)    Sales contacts on PostgreSQL"
  tm capture-pane -p -t dlg | grep -qF "2  PgSales" && fail "the data source is listed twice"
  keys 1 Enter
  wait_for "Login: PgSales"
  type_text "$PG_USER"
  keys Enter
  # A wrong password keeps the login open with the server's reason.
  type_text "not-$PG_PASSWORD"
  keys Enter
  wait_for "Login failed: "
  wait_for "authentication"
  wait_for "Login: PgSales"
  tm capture-pane -p -t dlg | grep -qF -- "not-$PG_PASSWORD" && fail "the password shows"
  keys C-u
  type_text "$PG_PASSWORD"
  # The password shows masked, never as typed.
  wait_for "[$(printf '%*s' ${#PG_PASSWORD} '' | tr ' ' '*')"
  tm capture-pane -p -t dlg | grep -qF -- "$PG_PASSWORD" && fail "the password shows on the screen"
  keys Enter
  wait_for "(*) SQL server:     [PgSales"
  keys Tab Enter  # on to a check box; Enter presses OK
  wait_for "EXIT=0"
  wait_for "SQL server: PgSales (PostgreSQL Unicode)"

  local data connection
  data=$(settings_record DataRd)
  [ "$(record_get "$data" UseSQL)" = "True" ] || fail "UseSQL is not True: $data"
  connection=$(record_get "$data" Connection)
  [ "$(record_get "$connection" ConnName)" = "PgSales" ] || fail "ConnName: $connection"
  [ "$(record_get "$connection" Driver)" = "PostgreSQL Unicode" ] || fail "Driver: $connection"
  record_get "$connection" Connect | grep -q "DSN=PgSales" || fail "Connect: $connection"

  # The stored settings carry `pellory find` to the server.
  local out
  out=$(timeout 60 "$pellory" find --tel "+44 (0)1632 960123" --format name 2>&1) ||
    { cat "$PELLORY_TRACE_LOG" 2>/dev/null; fail "pellory find failed: $out"; }
  [ "$out" = "Grace Hopper" ] || fail "pellory find gave: $out"
  out=$(timeout 60 "$pellory" find --tel "01174960555" --raw 2>&1) || fail "find: $out"
  echo "$out" | grep -q "PG-0043" || fail "pellory find --raw gave: $out"
  echo "PASS: SQL mode configured through the dialog; pellory find reads PostgreSQL"
}

run_action() {
  start_pellory configure --page action
  wait_for "Maximizer Action Configuration"
  wait_for "[Show contact"
  wait_for "[ ] Show contact in a new list"
  # Open the action list and take its third entry.
  keys Space
  wait_for "3 Show contact item"
  keys Down Down Enter
  wait_for "Item:"
  keys M-n  # tick "Show contact in a new list"
  wait_for "[x] Show contact in a new list"
  keys M-i 4  # the fourth item: "Receive a call"
  wait_for "[Receive a call"
  keys Enter
  wait_for "EXIT=0"
  wait_for "action: Show contact item"

  local action
  action=$(settings_record ActionRd)
  [ "$(record_get "$action" Action)" = "Show contact item" ] || fail "Action: $action"
  [ "$(record_get "$action" Item)" = "Receive a call" ] || fail "Item: $action"
  [ "$(record_get "$action" NewWindow)" = "1" ] || fail "NewWindow: $action"

  # The stored action record, run against the stand-in CRM.
  local args=(action "$(record_get "$action" Action)" --id 000042
    --item "$(record_get "$action" Item)")
  [ "$(record_get "$action" NewWindow)" = "1" ] && args+=(--new-window)
  local out
  out=$(timeout 60 "$pellory" "${args[@]}" 2>&1) || fail "pellory action failed: $out"
  echo "$out"
  echo "$out" | grep -q "SearchByClientID" || fail "the CRM did not show the contact"
  echo "$out" | grep -qi "command" || fail "the CRM received no item command"

  # Cancel changes nothing.
  local before
  before=$(cat "$PELLORY_HOST_SETTINGS")
  start_pellory configure --page action
  wait_for "Maximizer Action Configuration"
  wait_for "[Show contact item"  # the stored action comes back
  keys Escape
  wait_for "EXIT=1"
  [ "$(cat "$PELLORY_HOST_SETTINGS")" = "$before" ] || fail "Cancel changed the settings"
  echo "PASS: action configured through the dialog and run against the stand-in CRM"
}

run_file() {
  local dir="$work/nobook"
  mkdir -p "$dir"
  start_pellory configure --page user
  wait_for "Maximizer Configuration"
  wait_for "[ User ]"  # the user page opens on its own tab
  wait_for "Enter: press the focused button, elsewhere OK"
  keys M-u
  type_text "jane"
  keys PPage
  wait_for "Enter the location of the database files"
  keys M-d Tab C-u
  type_text "$dir"
  keys Enter
  wait_for "address book (mxza.max). Store it anyway?"
  wait_for "Store it anyway?"
  keys n  # back to the dialog
  wait_for "(*) Data directory: [$work"
  keys Enter
  wait_for "Store it anyway?"
  keys y
  wait_for "EXIT=0"
  local data
  data=$(settings_record DataRd)
  [ "$(record_get "$data" Dbfile)" = "$dir" ] || fail "Dbfile: $data"
  [ "$(record_get "$data" DBUser)" = "jane" ] || fail "DBUser: $data"

  # Enter on the focused browse button opens its prompt; it is not OK.
  local before
  before=$(cat "$PELLORY_HOST_SETTINGS")
  start_pellory configure
  wait_for "Maximizer Configuration"
  keys Tab Tab Tab Enter  # tab strip -> "Data directory" -> its text -> "..."
  wait_for "Select database file (mxza.max)"
  keys Escape
  wait_for "[ Lookup ]"
  keys Escape
  wait_for "EXIT=1"
  [ "$(cat "$PELLORY_HOST_SETTINGS")" = "$before" ] || fail "Cancel changed the settings"
  echo "PASS: user page, a directory without an address book confirmed, Enter on a button"
}

case "$mode" in
  sql) run_sql ;;
  action) run_action ;;
  file) run_file ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
