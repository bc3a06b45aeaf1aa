# shellcheck shell=bash disable=SC2034  # BOOKTOOL and PG_CONNECT are for the sourcing script
# Shell functions the benchmark scripts share (sourced, not run): a private
# unixODBC configuration, a PostgreSQL server on 127.0.0.1 in the work
# directory, and a synthetic address book copied into it with the indexes
# README.md documents for SqlFilter "Server".
#
# The sourcing script sets ROOT, BUILD_DIR and WORK (a fresh directory)
# before calling them, and calls bench_cleanup when it ends.

PGBIN=/usr/lib/postgresql/15/bin
PG_PORT=""

as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

psql_() { "$PGBIN/psql" -h 127.0.0.1 -p "$PG_PORT" -U postgres -v ON_ERROR_STOP=1 -q "$@"; }

# Stops the PostgreSQL server (if one runs) and removes the work directory.
bench_cleanup() {
  if [ -f "$WORK/pg/data/postmaster.pid" ]; then
    as_pg "$PGBIN/pg_ctl" -D "$WORK/pg/data" -m fast stop >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
}

# unixODBC, the registry and the trace log kept inside the work directory;
# BOOKTOOL is the address book tool of the build.
bench_odbc_env() {
  chmod 755 "$WORK"
  cp "$BUILD_DIR/odbc/odbcinst.ini" "$WORK/odbcinst.ini"
  : >"$WORK/odbc.ini"
  export ODBCSYSINI=$WORK ODBCINSTINI=odbcinst.ini ODBCINI=$WORK/odbc.ini HOME=$WORK
  export PELLORY_REGISTRY=$WORK/registry.reg PELLORY_TRACE_LOG=$WORK/trace.log
  BOOKTOOL=$(find "$BUILD_DIR" -name pellory-addressbook -type f -perm -u+x | head -1)
}

# Starts PostgreSQL 15 on a free port of 127.0.0.1 (PG_PORT) unless NO_PG
# is set or the server is not installed; PG_PORT stays empty then.
bench_pg_start() {
  [ -z "${NO_PG:-}" ] && [ -x "$PGBIN/initdb" ] || return 0
  mkdir -p "$WORK/pg"
  [ "$(id -u)" -ne 0 ] || chown postgres "$WORK/pg"
  as_pg "$PGBIN/initdb" -D "$WORK/pg/data" -A trust -U postgres >/dev/null
  PG_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  as_pg "$PGBIN/pg_ctl" -D "$WORK/pg/data" -l "$WORK/pg/log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $PG_PORT -k $WORK/pg -c fsync=off" start >/dev/null
}

# bench_pg_book BOOK DB: database DB holding the rows of address book BOOK
# in a table Client, indexed for SqlFilter "Server"; PG_CONNECT is then its
# connection string.
bench_pg_book() {
  local book=$1 db=$2 c
  psql_ -d postgres -c "create database $db"
  psql_ -d "$db" -c "create table Client (Client_Id text, Name_Type text, First_Name text,
    Name text, Firm text, DEPARTMENT text, TITLE text, PHONE_1 text, PHONE_1_Extension text,
    PHONE_2 text, PHONE_2_Extension text, PHONE_3 text, PHONE_3_Extension text, PHONE_4 text,
    PHONE_4_Extension text, Reverse_Phone_1 text, Reverse_Phone_2 text, Reverse_Phone_3 text,
    Reverse_Phone_4 text, ADDRESS_Line_1 text, ADDRESS_Line_2 text, CITY text,
    STATE_PROVINCE text, ZIP_CODE text, COUNTRY text)"
  sqlite3 -csv "$book/mxza.max" "select * from Client" | psql_ -d "$db" -c "\\copy client from stdin with (format csv)"
  # The indexes README.md documents for SqlFilter "Server": trigrams for
  # the number inside the reversed phones, b-trees for the any-format
  # ranges (the cluster's C.UTF-8 locale orders ':' after the digits),
  # the identifier.
  for c in 1 2 3 4; do
    psql_ -d "$db" -c "create index client_rp${c} on client (reverse_phone_$c)"
  done
  psql_ -d "$db" -c "create extension if not exists pg_trgm"
  for c in 1 2 3 4; do
    psql_ -d "$db" -c "create index client_rp${c}_trgm on client using gin (reverse_phone_$c gin_trgm_ops)"
  done
  psql_ -d "$db" -c "create index client_id on client (client_id)"
  psql_ -d "$db" -c "analyze client"
  PG_CONNECT="DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=$PG_PORT;Database=$db;UID=postgres;UseDeclareFetch=1;Fetch=1000"
}
