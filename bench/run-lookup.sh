#!/usr/bin/env bash
# Runs the contact-lookup benchmarks side by side with raw ODBC on synthetic
# address books and prints the plug-in / raw ratios against their targets.
#
# Usage: bench/run-lookup.sh [SIZE...]        (default: 10000 1000000)
#   BUILD_DIR=...   build directory (default: build-bench, Release)
#   NO_PG=1         skip PostgreSQL
#   FILTER=REGEX    run only the benchmarks whose names match (e.g. file_any,
#                   sql_number_pg; the export's peak memory is then not measured)
#
# Everything lives in a temporary directory: private unixODBC configuration,
# registry file and trace log, the address books, and a PostgreSQL server on
# 127.0.0.1 that is stopped when the script ends.
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
trap bench_cleanup EXIT
bench_odbc_env
BENCH=$BUILD_DIR/bench/lookup_bench
bench_pg_start

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
  "$BENCH" ${FILTER:+--benchmark_filter="$FILTER"} --benchmark_out="$WORK/result-$n.json" \
    --benchmark_out_format=json >/dev/null
  python3 - "$WORK/result-$n.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {}
for r in runs:
    if r.get("aggregate_name") == "median":
        median[r["run_name"]] = r
targets = {"file_number": ("time", 1.2), "file_words50": ("time", None),
           "sql_number_sqlite": ("rate", 0.8), "sql_number_pg": ("rate", 0.8),
           "export_file": ("rate", 0.5), "export_pg": ("rate", 0.5)}
# SQL mode on PostgreSQL: the server's filter against the full read.
client = next((r for k, r in median.items() if k.startswith("sql_number_pg/plugin/")), None)
for which in ("server", "server_found"):
    server = next((r for k, r in median.items() if k.startswith(f"sql_number_pg/{which}/")), None)
    if client and server:
        ratio = client["real_time"] / server["real_time"]
        unit = server["time_unit"]
        print(f"{'sql_number_pg':20} {which:12} {server['real_time']:10.3f} {unit}  client "
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
            print(f"{'':20} raw polled asynchronously as the plug-in is: {raw_async['real_time']:.3f} {unit}"
                  f"  ratio {plugin['real_time'] / raw_async['real_time']:5.2f}")
    else:
        scale = {"ms": 1e3, "us": 1e6, "ns": 1e9, "s": 1}[unit]
        p = plugin["rows"] / (plugin["real_time"] / scale)
        q = raw["rows"] / (raw["real_time"] / scale)
        ratio = p / q
        print(f"{name:20} plugin {p:12,.0f} rows/s  raw {q:12,.0f} rows/s  ratio {ratio:5.2f}"
              f"  (target >= {target})  {'ok' if ratio >= target else 'MISSED'}")
PY
  [ -z "$pg_connect" ] || "$BENCH" --search-rss
  [ -z "${FILTER:-}" ] || continue
  for mode in file pg; do
    [ "$mode" = pg ] && [ -z "$pg_connect" ] && continue
    "$BENCH" --export-rss "$mode"
  done
done
