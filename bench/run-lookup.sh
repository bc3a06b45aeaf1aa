#!/usr/bin/env bash
# Runs the contact-lookup benchmarks side by side with raw ODBC on synthetic
# address books and prints the plug-in / raw ratios against their targets.
#
# Usage: bench/run-lookup.sh [SIZE...]        (default: 10000 1000000)
#   BUILD_DIR=...   build directory (default: build-bench, Release)
#   NO_PG=1         skip PostgreSQL
#   NO_MARIADB=1    skip MariaDB
#   FILTER=REGEX    run only the benchmarks whose names match (e.g. file_any,
#                   sql_number_pg; the export's peak memory is then not measured)
#   BASELINE=PATH   another lookup_bench (a copy built from an earlier commit)
#                   run on the same books and servers just before this one, its
#                   figures marked "baseline", for a before/after in one run
#
# Everything lives in a temporary directory: private unixODBC configuration,
# registry file and trace log, the address books, and PostgreSQL and MariaDB
# servers on 127.0.0.1 that are stopped when the script ends.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(10000 1000000)

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DPELLORY_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j2 --target lookup_bench pellory-addressbook maxodbc >/dev/null

WORK=$(mktemp -d /tmp/pellory-bench.XXXXXX)
# shellcheck source=bench/common.sh
. "$ROOT/bench/common.sh"
cleanup() {
  [ ! -f "$WORK/mariadb.env" ] || "$ROOT/scripts/mariadb-test-server.sh" stop "$WORK/mariadb.env"
  bench_cleanup
}
trap cleanup EXIT
bench_odbc_env
BENCH=$BUILD_DIR/bench/lookup_bench
bench_pg_start
MARIADB_PORT=""
if [ -z "${NO_MARIADB:-}" ]; then
  # The test server with a buffer pool that holds the 1,000,000 book.
  PELLORY_MARIADB_OPTIONS="--innodb-buffer-pool-size=2G --local-infile=1" \
    "$ROOT/scripts/mariadb-test-server.sh" start "$WORK/mariadb.env" >/dev/null
  MARIADB_PORT=$(sed -n 's/^MARIADB_PORT=//p' "$WORK/mariadb.env")
fi
mariadb_() { mariadb --no-defaults -h 127.0.0.1 -P "$MARIADB_PORT" -u bench --local-infile=1 "$@"; }

COLUMNS_DDL="Client_Id text, Name_Type text, First_Name text, Name text, Firm text,
  DEPARTMENT text, TITLE text, PHONE_1 text, PHONE_1_Extension text, PHONE_2 text,
  PHONE_2_Extension text, PHONE_3 text, PHONE_3_Extension text, PHONE_4 text,
  PHONE_4_Extension text, Reverse_Phone_1 text, Reverse_Phone_2 text, Reverse_Phone_3 text,
  Reverse_Phone_4 text, ADDRESS_Line_1 text, ADDRESS_Line_2 text, CITY text,
  STATE_PROVINCE text, ZIP_CODE text, COUNTRY text"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(free -g | awk '/Mem:/{print $2}') GiB"
for n in "${SIZES[@]}"; do
  label=$n
  [ "$n" -ge 1000000 ] && label="$((n / 1000000))M" || { [ "$n" -ge 1000 ] && label="$((n / 1000))k"; }
  book=$WORK/book-$n
  "$BOOKTOOL" create "$book" --synthetic "$n" --seed 7 >/dev/null
  pg_connect=""
  if [ -n "$PG_PORT" ]; then
    bench_pg_book "$book" "bench_$n"
    pg_connect=$PG_CONNECT
  fi
  export PELLORY_BENCH_LABEL=$label PELLORY_BENCH_BOOK=$book PELLORY_BENCH_SQLITE=$book/mxza.max
  export PELLORY_BENCH_PG=$pg_connect
  mariadb_connect=""
  if [ -n "$MARIADB_PORT" ]; then
    db=bench_$n
    mariadb_ -e "create database $db"
    # The column types README.md suggests for MariaDB: varchar, and the
    # reversed phones in ASCII with a binary collation.
    ascii="varchar(32) character set ascii collate ascii_bin"
    ddl=$(echo "$COLUMNS_DDL" | sed -e "s/\(Reverse_Phone_[1-4]\) text/\1 $ascii/g" \
      -e 's/ text/ varchar(255)/g')
    mariadb_ -D "$db" -e "create table Client ($ddl)"
    # One bulk load of the book's rows (sqlite3 writes CSV, quotes doubled).
    sqlite3 -csv "$book/mxza.max" "select * from Client" >"$WORK/book-$n.csv"
    start=$SECONDS
    mariadb_ -D "$db" -e "load data local infile '$WORK/book-$n.csv' into table Client
      character set utf8mb4 fields terminated by ',' optionally enclosed by '\"' escaped by ''
      lines terminated by '\n'"
    rm -f "$WORK/book-$n.csv"
    # The indexes README.md documents for SqlFilter "Server": b-trees for
    # the identifier and the any-format candidates' prefix (like 'K%').
    for c in 1 2 3 4; do
      mariadb_ -D "$db" -e "create index client_rp${c} on Client (Reverse_Phone_$c)"
    done
    mariadb_ -D "$db" -e "create index client_id on Client (Client_Id); analyze table Client" >/dev/null
    echo "MariaDB: $n rows loaded and indexed in $((SECONDS - start)) s"
    mariadb_connect="DRIVER={MariaDB Unicode};Server=127.0.0.1;Port=$MARIADB_PORT;Database=$db;UID=bench;NO_CACHE=1"
    key=1234567
    prefix=""
    for c in 1 2 3 4; do prefix="$prefix${prefix:+ or }Reverse_Phone_$c like '$key%'"; done
    echo "MariaDB's plan of the any-format candidates' statement with SqlFilter \"Server\":"
    mariadb_ -D "$db" -t -e "explain select * from Client where $prefix" | sed 's/^/  /'
    echo "MariaDB's plan of the number search with SqlFilter \"Server\":"
    mariadb_ -D "$db" -t -e "explain select * from Client where Reverse_Phone_1 like '%$key%'" | sed 's/^/  /'
  fi
  export PELLORY_BENCH_MARIADB=$mariadb_connect
  echo "== $n contacts"
  # The second step of NumberMatch "Any" selects a range of each reversed
  # column: the plan shows whether the book's indexes serve it.
  key=1234567
  range=""
  for c in 1 2 3 4; do
    range="$range${range:+ or }(Reverse_Phone_$c >= '$key' and Reverse_Phone_$c < '$key:')"
  done
  echo "plan of the any-format candidates' statement:"
  sqlite3 "$book/mxza.max" "explain query plan select * from Client where $range" | sed 's/^/  /'
  for bench in ${BASELINE:+"$BASELINE"} "$BENCH"; do
    tag=""
    [ "$bench" = "$BENCH" ] || tag="baseline"
    [ -z "${BASELINE:-}" ] || echo "-- ${tag:-this build}: $bench"
    "$bench" ${FILTER:+--benchmark_filter="$FILTER"} --benchmark_out="$WORK/result-$n.json" \
      --benchmark_out_format=json >/dev/null
    python3 - "$WORK/result-$n.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {}
for r in runs:
    if r.get("aggregate_name") == "median":
        median[r["run_name"]] = r
# file_number: at most 1.5 times the synchronous raw statement, and (below)
# 1.2 times the raw statement polled asynchronously as the plug-in runs it.
targets = {"file_number": ("time", 1.5), "file_words50": ("time", None),
           "sql_number_sqlite": ("rate", 0.8), "sql_number_pg": ("rate", 0.8),
           "sql_number_mariadb": ("rate", 0.8),
           "export_file": ("rate", 0.8), "export_pg": ("rate", 0.5)}
# SQL mode on PostgreSQL and MariaDB: the server's filter against the full read.
for engine in ("pg", "mariadb"):
    client = next((r for k, r in median.items() if k.startswith(f"sql_number_{engine}/plugin/")), None)
    for which in ("server", "server_found"):
        server = next((r for k, r in median.items()
                       if k.startswith(f"sql_number_{engine}/{which}/")), None)
        if client and server:
            ratio = client["real_time"] / server["real_time"]
            unit = server["time_unit"]
            print(f"{'sql_number_' + engine:20} {which:12} {server['real_time']:10.3f} {unit}  client "
                  f"{client['real_time']:10.3f} {unit}  {ratio:8.1f} times faster  (target >= 100 at 1M)")
# NumberMatch "Any" against the exact lookup of the same contact.
any_ = next((r for k, r in median.items() if k.startswith("file_any/plugin/")), None)
exact = next((r for k, r in median.items() if k.startswith("file_any/exact/")), None)
if any_ and exact:
    ratio = any_["real_time"] / exact["real_time"]
    unit = any_["time_unit"]
    print(f"{'file_any':20} any {any_['real_time']:10.3f} {unit}  exact {exact['real_time']:10.3f} {unit}"
          f"  ratio {ratio:5.2f}  (target <= 3)  {'ok' if ratio <= 3 else 'MISSED'}")
for name, (kind, target) in targets.items():
    plugin = next((r for k, r in median.items() if k.startswith(name + "/plugin/")), None)
    raw = next((r for k, r in median.items() if k.startswith(name + "/raw/")), None)
    if not plugin or not raw:
        continue
    unit = plugin["time_unit"]
    if kind == "time":
        ratio = plugin["real_time"] / raw["real_time"]
        verdict = "" if target is None else ("ok" if ratio <= target else "MISSED")
        print(f"{name:20} plugin {plugin['real_time']:10.3f} {unit}  raw {raw['real_time']:10.3f} {unit}"
              f"  ratio {ratio:5.2f}  (target <= {target})  {verdict}")
        raw_async = next((r for k, r in median.items() if k.startswith(name + "/raw_async/")), None)
        if raw_async:
            ratio = plugin["real_time"] / raw_async["real_time"]
            print(f"{'':20} raw polled asynchronously as the plug-in is: {raw_async['real_time']:.3f} {unit}"
                  f"  ratio {ratio:5.2f}  (target <= 1.2)  {'ok' if ratio <= 1.2 else 'MISSED'}")
    else:
        scale = {"ms": 1e3, "us": 1e6, "ns": 1e9, "s": 1}[unit]
        p = plugin["rows"] / (plugin["real_time"] / scale)
        q = raw["rows"] / (raw["real_time"] / scale)
        ratio = p / q
        print(f"{name:20} plugin {p:12,.0f} rows/s  raw {q:12,.0f} rows/s  ratio {ratio:5.2f}"
              f"  (target >= {target})  {'ok' if ratio >= target else 'MISSED'}")
PY
  done
  [ -z "$pg_connect" ] || "$BENCH" --search-rss pg
  [ -z "$mariadb_connect" ] || "$BENCH" --search-rss mariadb
  [ -z "${FILTER:-}" ] || continue
  for mode in file pg; do
    [ "$mode" = pg ] && [ -z "$pg_connect" ] && continue
    "$BENCH" --export-rss "$mode"
  done
done
