#!/usr/bin/env bash
# Starts or stops the PostgreSQL server that the SQL-mode tests use: a
# throw-away cluster in a temporary directory, listening on 127.0.0.1 on a
# free port, its socket in that directory. The server stops by itself after
# PELLORY_PG_LIFETIME seconds (default 3600) should nobody stop it.
#
#   pg-test-server.sh start STATE_FILE   writes PG_HOST, PG_PORT, PG_USER,
#                                        PG_PASSWORD, PG_DIR to STATE_FILE
#   pg-test-server.sh stop STATE_FILE
#
# When the server cannot be started, STATE_FILE holds UNAVAILABLE=<reason>
# and the script still succeeds: the tests that need the server then skip
# with that reason.
set -u

action=${1:-}
state=${2:-}
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop STATE_FILE" >&2
  exit 2
fi

read_state() {
  PG_DIR="" WATCHDOG=""
  if [ -f "$state" ]; then
    while IFS='=' read -r key value; do
      case "$key" in
        PG_DIR) PG_DIR=$value ;;
        WATCHDOG) WATCHDOG=$value ;;
      esac
    done <"$state"
  fi
}

# The server refuses to run as root: as root it runs as the postgres user.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

pg_bin() {
  if [ -n "${PELLORY_PG_BIN:-}" ]; then
    echo "$PELLORY_PG_BIN"
  elif [ -x /usr/lib/postgresql/15/bin/initdb ]; then
    echo /usr/lib/postgresql/15/bin
  else
    ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1
  fi
}

stop_server() {
  read_state
  if [ -n "$PG_DIR" ] && [ -d "$PG_DIR" ]; then
    bin=$(pg_bin)
    as_server "$bin/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$PG_DIR"
  fi
  if [ -n "$WATCHDOG" ]; then
    kill -- "-$WATCHDOG" 2>/dev/null || true
  fi
  rm -f "$state"
}

unavailable() {
  echo "UNAVAILABLE=$1" >"$state"
  echo "pg-test-server: $1 (the PostgreSQL tests will be skipped)" >&2
  exit 0
}

start_server() {
  stop_server
  bin=$(pg_bin)
  [ -n "$bin" ] && [ -x "$bin/initdb" ] ||
    unavailable "no PostgreSQL server binaries (Debian package postgresql-15)"
  if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
    unavailable "running as root and there is no postgres user to run the server"
  fi
  dir=$(mktemp -d /tmp/pellory-pg-XXXXXX) || unavailable "no temporary directory"
  chmod 700 "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
  user=pellory
  password='Pell;or{y}pw'
  printf '%s\n' "$password" >"$dir/pw"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir/pw"
  if ! as_server "$bin/initdb" -D "$dir/data" -U "$user" --pwfile="$dir/pw" \
      --auth=scram-sha-256 -E UTF8 --locale=C >"$dir/initdb.log" 2>&1; then
    reason="initdb failed: $(tail -n 3 "$dir/initdb.log" | tr '\n' ' ')"
    rm -rf "$dir"
    unavailable "$reason"
  fi
  rm -f "$dir/pw"
  started=""
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    port=$((30000 + RANDOM % 20000))
    if as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null 2>&1; then
      started=$port
      break
    fi
  done
  if [ -z "$started" ]; then
    reason="the server did not start: $(tail -n 3 "$dir/server.log" 2>/dev/null | tr '\n' ' ')"
    rm -rf "$dir"
    unavailable "$reason"
  fi
  # The watchdog ends with the cluster directory, or stops the server once
  # the lifetime is over.
  lifetime=${PELLORY_PG_LIFETIME:-3600}
  runner=""
  [ "$(id -u)" -eq 0 ] && runner="runuser -u postgres --"
  setsid bash -c "end=\$((SECONDS + $lifetime))
    while [ -d '$dir/data' ] && [ \$SECONDS -lt \$end ]; do sleep 2; done
    if [ -d '$dir/data' ]; then $runner '$bin/pg_ctl' -D '$dir/data' -m immediate stop; fi" \
    </dev/null >/dev/null 2>&1 &
  watchdog=$!
  {
    echo "PG_HOST=127.0.0.1"
    echo "PG_PORT=$started"
    echo "PG_USER=$user"
    echo "PG_PASSWORD=$password"
    echo "PG_DIR=$dir"
    echo "WATCHDOG=$watchdog"
  } >"$state"
  echo "pg-test-server: PostgreSQL listening on 127.0.0.1:$started"
}

case "$action" in
  start) start_server ;;
  stop) stop_server ;;
  *)
    echo "usage: $0 start|stop STATE_FILE" >&2
    exit 2
    ;;
esac
