#!/usr/bin/env bash
# Starts or stops the MariaDB server that the SQL-mode tests use: a
# throw-away server on an empty data directory in a temporary directory,
# listening on 127.0.0.1 on a free port, its socket in that directory. It
# runs without grant tables (any user name and password are let in), so
# that no mariadb-install-db is needed: it is ready in about 1.5 s. Its
# character set is utf8mb4 with the case-insensitive utf8mb4_general_ci,
# MariaDB's default for new databases on Debian. The server stops by itself
# after PELLORY_MARIADB_LIFETIME seconds (default 3600) should nobody stop it.
# PELLORY_MARIADB_OPTIONS adds server options (bench/run-lookup.sh gives it
# a larger buffer pool).
#
#   mariadb-test-server.sh start STATE_FILE   writes MARIADB_HOST, MARIADB_PORT,
#                                             MARIADB_USER, MARIADB_PASSWORD,
#                                             MARIADB_DIR to STATE_FILE
#   mariadb-test-server.sh stop STATE_FILE
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
  MARIADB_DIR="" WATCHDOG=""
  if [ -f "$state" ]; then
    while IFS='=' read -r key value; do
      case "$key" in
        MARIADB_DIR) MARIADB_DIR=$value ;;
        WATCHDOG) WATCHDOG=$value ;;
      esac
    done <"$state"
  fi
}

server_bin() {
  if [ -n "${PELLORY_MARIADBD:-}" ]; then
    echo "$PELLORY_MARIADBD"
  elif [ -x /usr/sbin/mariadbd ]; then
    echo /usr/sbin/mariadbd
  else
    command -v mariadbd 2>/dev/null
  fi
}

# Waits up to $2 tenths of a second for the process $1 to end.
wait_gone() {
  local i
  for ((i = 0; i < $2; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    # A zombie waits only for its parent to collect it.
    grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

stop_server() {
  read_state
  if [ -n "$MARIADB_DIR" ] && [ -d "$MARIADB_DIR" ]; then
    pid=$(cat "$MARIADB_DIR/mariadbd.pid" 2>/dev/null)
    if [ -n "$pid" ]; then
      # Its data goes with the directory: no clean shutdown is needed.
      kill -KILL "$pid" 2>/dev/null
      wait_gone "$pid" 100
    fi
    rm -rf "$MARIADB_DIR"
  fi
  if [ -n "$WATCHDOG" ]; then
    kill -- "-$WATCHDOG" 2>/dev/null || true
  fi
  rm -f "$state"
}

unavailable() {
  echo "UNAVAILABLE=$1" >"$state"
  echo "mariadb-test-server: $1 (the MariaDB tests will be skipped)" >&2
  exit 0
}

# Is the server with process $1 answering on port $2? Waits up to 30 s.
wait_ready() {
  local i
  for ((i = 0; i < 600; i++)); do
    kill -0 "$1" 2>/dev/null || return 1
    # The server writes this line once it accepts connections.
    grep -q "ready for connections" "$dir/server.log" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

start_server() {
  stop_server
  bin=$(server_bin)
  [ -n "$bin" ] && [ -x "$bin" ] ||
    unavailable "no MariaDB server binary (Debian package mariadb-server)"
  user_opt=()
  if [ "$(id -u)" -eq 0 ]; then
    id mysql >/dev/null 2>&1 ||
      unavailable "running as root and there is no mysql user to run the server"
    user_opt=(--user=mysql)
  fi
  dir=$(mktemp -d /tmp/pellory-mariadb-XXXXXX) || unavailable "no temporary directory"
  chmod 700 "$dir"
  mkdir "$dir/data" "$dir/tmp"
  [ "$(id -u)" -eq 0 ] && chown -R mysql "$dir"
  started="" pid=""
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    port=$((30000 + RANDOM % 20000))
    : >"$dir/server.log"
    [ "$(id -u)" -eq 0 ] && chown mysql "$dir/server.log"
    # Small, unsynchronised InnoDB files: the data is thrown away anyway.
    setsid "$bin" --no-defaults "${user_opt[@]}" --datadir="$dir/data" --tmpdir="$dir/tmp" \
      --socket="$dir/mysqld.sock" --pid-file="$dir/mariadbd.pid" --log-error="$dir/server.log" \
      --port="$port" --bind-address=127.0.0.1 --skip-grant-tables --skip-name-resolve \
      --skip-log-bin --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      --innodb-buffer-pool-size=32M --innodb-log-file-size=4M --innodb-log-buffer-size=1M \
      --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-use-native-aio=0 \
      --innodb-flush-method=nosync --skip-innodb-adaptive-hash-index \
      --performance-schema=OFF --max-connections=200 ${PELLORY_MARIADB_OPTIONS:-} \
      </dev/null >/dev/null 2>&1 &
    pid=$!
    if wait_ready "$pid"; then
      started=$port
      break
    fi
    kill -KILL "$pid" 2>/dev/null
    wait_gone "$pid" 100
    # Another try on another port only when this one was taken.
    grep -q "Address already in use\|Can't start server: Bind" "$dir/server.log" || break
  done
  if [ -z "$started" ]; then
    reason="the server did not start: $(grep -i "error" "$dir/server.log" 2>/dev/null | tail -n 3 | tr '\n' ' ')"
    rm -rf "$dir"
    unavailable "$reason"
  fi
  # The watchdog ends with the server's directory, or stops the server once
  # the lifetime is over.
  lifetime=${PELLORY_MARIADB_LIFETIME:-3600}
  setsid bash -c "end=\$((SECONDS + $lifetime))
    while [ -d '$dir/data' ] && [ \$SECONDS -lt \$end ]; do sleep 2; done
    kill -KILL $pid 2>/dev/null; rm -rf '$dir'" \
    </dev/null >/dev/null 2>&1 &
  watchdog=$!
  {
    echo "MARIADB_HOST=127.0.0.1"
    echo "MARIADB_PORT=$started"
    echo "MARIADB_USER=pellory"
    echo "MARIADB_PASSWORD=Mari;a{d}b pw"
    echo "MARIADB_DIR=$dir"
    echo "WATCHDOG=$watchdog"
  } >"$state"
  echo "mariadb-test-server: MariaDB listening on 127.0.0.1:$started"
}

case "$action" in
  start) start_server ;;
  stop) stop_server ;;
  *)
    echo "usage: $0 start|stop STATE_FILE" >&2
    exit 2
    ;;
esac
