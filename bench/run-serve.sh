#!/usr/bin/env bash
# Load benchmark of `pellory serve`: wrk drives /v1/lookup on a synthetic
# address book in file mode (the stand-in Maximizer ODBC driver) and on the
# same rows in PostgreSQL (SQL mode, SqlFilter "Server", the indexes of
# README.md), with the answer cache off and on, at 1, 4 and 16 connections;
# it prints lookups/s, the p50/p99 latency and the service's CPU time per
# lookup of each run, the same for `pellory find` started once per lookup,
# and the service's memory (VmRSS, VmHWM) as the requests add up.
#
# Usage: bench/run-serve.sh
#   BUILD_DIR=...      build directory (default: build-bench, Release)
#   SIZE=N             contacts in the book (default 1000000)
#   DURATION=S         seconds of each wrk run (default 10; 2 s of warm-up
#                      come before the runs of each service)
#   CONNS="1 4 16"     wrk connections
#   THREADS="2 4"      the service's --threads
#   FIND_RUNS=N        `pellory find` runs for each book (default 200)
#   RSS_REQUESTS=N     requests of the memory runs (default 1000000; 0 skips
#                      them); file mode, --threads 2, 4 connections
#   NO_PG=1            skip PostgreSQL
#   QUERY=...          what follows the number in each target (default
#                      "&format=json"; e.g. "&format=name&match=any")
#
# Caller numbers: 4,500 numbers of the book (PHONE_1 of random contacts, as
# stored) and 500 that nobody has, shuffled; each request picks one at
# random, so with the cache on (--cache-ttl 30, 10,000 entries) nearly every
# request after the warm-up is a hit, and with it off every one reaches the
# database. wrk runs with one thread on the same machine as the service:
# it takes CPU the service would otherwise have.
#
# Everything lives in a temporary directory: private unixODBC configuration,
# registry file, trace log and host settings, the address book, and a
# PostgreSQL server on 127.0.0.1 that is stopped when the script ends.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
SIZE=${SIZE:-1000000}
DURATION=${DURATION:-10}
CONNS=${CONNS:-"1 4 16"}
THREADS=${THREADS:-"2 4"}
FIND_RUNS=${FIND_RUNS:-200}
RSS_REQUESTS=${RSS_REQUESTS:-1000000}
QUERY=${QUERY:-"&format=json"}

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DPELLORY_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j2 --target pellory pellory-addressbook maxodbc >/dev/null

WORK=$(mktemp -d /tmp/pellory-serve-bench.XXXXXX)
# shellcheck source=bench/common.sh
. "$ROOT/bench/common.sh"
SERVE_PID=""
stop_service() {
  if [ -n "$SERVE_PID" ]; then
    kill -TERM "$SERVE_PID" 2>/dev/null || true
    wait "$SERVE_PID" 2>/dev/null || true
    SERVE_PID=""
  fi
}
trap 'stop_service; bench_cleanup' EXIT
bench_odbc_env
bench_pg_start
PELLORY=$(find "$BUILD_DIR" -name pellory -type f -perm -u+x | head -1)
LUA=$ROOT/bench/serve-lookup.lua
export PELLORY_NUMBERS=$WORK/numbers.url PELLORY_QUERY=$QUERY

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(free -g | awk '/Mem:/{print $2}') GiB"
echo "uptime at the start: $(uptime)"

book=$WORK/book
"$BOOKTOOL" create "$book" --synthetic "$SIZE" --seed 7 >/dev/null

# The caller numbers: as stored (for `pellory find`) and URL-encoded (for wrk).
python3 - "$book/mxza.max" "$WORK/numbers.txt" "$WORK/numbers.url" <<'PY'
import random, sqlite3, sys, urllib.parse
rng = random.Random(7)
db = sqlite3.connect(sys.argv[1])
found = [r[0] for r in db.execute(
    "select PHONE_1 from Client where PHONE_1 <> '' order by random() limit 4500")]
# Irish mobiles: 12 digits starting 3538, which are inside none of the
# book's numbers (checked against those holding 3538 at all, one scan).
missing = ["+353 8%d %03d %04d" % (rng.randrange(3, 10), rng.randrange(1000), rng.randrange(10000))
           for _ in range(500)]
near = [r[0] or "" for c in range(1, 5) for r in db.execute(
    f"select Reverse_Phone_{c} from Client where Reverse_Phone_{c} like '%8353%'")]
for n in missing:
    rev = "".join(c for c in n if c.isdigit())[::-1]
    assert not any(rev in stored for stored in near), n
numbers = found + missing
rng.shuffle(numbers)
open(sys.argv[2], "w").write("\n".join(numbers) + "\n")
open(sys.argv[3], "w").write("\n".join(urllib.parse.quote(n, safe="") for n in numbers) + "\n")
PY

# Host settings: one DataRd record, written with `pellory record`.
rec() { "$PELLORY" record add "$@"; }
write_settings() {  # FILE DATARD
  rec '' DataRd "$2" >"$1"
}
write_settings "$WORK/file.rec" "$(rec '' DBFile "$book")"
BOOKS=(file)
if [ -n "$PG_PORT" ]; then
  bench_pg_book "$book" bench_serve
  connection=$(rec "$(rec "$(rec '' ConnName PelloryBench)" Connect "$PG_CONNECT")" \
    Driver "PostgreSQL Unicode")
  write_settings "$WORK/pg.rec" \
    "$(rec "$(rec "$(rec '' UseSQL True)" Connection "$connection")" SqlFilter Server)"
  BOOKS+=(pg)
fi

# start_service BOOK THREADS CACHE_TTL: SERVE_PID and PORT.
start_service() {
  PELLORY_HOST_SETTINGS=$WORK/$1.rec "$PELLORY" serve --listen 127.0.0.1:0 --threads "$2" \
    --cache-ttl "$3" >"$WORK/serve.out" 2>"$WORK/serve.err" &
  SERVE_PID=$!
  PORT=""
  for _ in $(seq 600); do
    PORT=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$WORK/serve.out")
    [ -z "$PORT" ] || break
    kill -0 "$SERVE_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$PORT" ]; then
    echo "pellory serve did not start:" >&2
    cat "$WORK/serve.err" >&2
    exit 2
  fi
}

# One wrk run printed as a table row: connections, lookups/s, p50, p99,
# and the answers that were not 2xx or failed on the socket.
wrk_row() {  # CONNECTIONS [wrk options...]
  local c=$1
  shift
  local before after
  before=$(cpu_ticks)
  wrk -t1 -c"$c" --latency -s "$LUA" "$@" "http://127.0.0.1:$PORT" >"$WORK/wrk.out" 2>&1 || true
  after=$(cpu_ticks)
  python3 - "$WORK/wrk.out" "$c" "$((after - before))" "$(getconf CLK_TCK)" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
def ms(v):
    m = re.match(r"([\d.]+)(us|ms|s)", v)
    return float(m.group(1)) * {"us": 1e-3, "ms": 1, "s": 1e3}[m.group(2)]
rate = re.search(r"Requests/sec:\s+([\d.]+)", text)
p50 = re.search(r"^\s+50%\s+(\S+)", text, re.M)
p99 = re.search(r"^\s+99%\s+(\S+)", text, re.M)
if not (rate and p50 and p99):
    print("wrk failed:\n" + text)
    sys.exit(0)
bad = []
for pattern in (r"Non-2xx or 3xx responses: (\d+)", r"Socket errors: (.*)"):
    m = re.search(pattern, text)
    if m: bad.append(m.group(0))
total = re.search(r"(\d+) requests in", text).group(1)
cpu = int(sys.argv[3]) / int(sys.argv[4]) / int(total) * 1e3
print(f"  {sys.argv[2]:>3} conn  {float(rate.group(1)):9,.0f} lookups/s  p50 {ms(p50.group(1)):7.2f} ms"
      f"  p99 {ms(p99.group(1)):7.2f} ms  service CPU {cpu:5.3f} ms a lookup"
      f"  ({total} requests{'; ' + '; '.join(bad) if bad else ''})")
PY
}

cpu_ticks() {  # the service's CPU time (user and system), in clock ticks
  awk '{print $14 + $15}' "/proc/$SERVE_PID/stat"
}

memory() {  # the service's VmRSS and VmHWM
  awk '/^VmRSS|^VmHWM/{printf "%s %s %s  ", $1, $2, $3}' "/proc/$SERVE_PID/status"
}

echo
echo "== pellory serve, $SIZE contacts, wrk -t1, ${DURATION} s a run, target $QUERY"
for b in "${BOOKS[@]}"; do
  for ttl in 0 30; do
    for t in $THREADS; do
      start_service "$b" "$t" "$ttl"
      echo "$b mode, --threads $t, --cache-ttl $ttl$([ "$ttl" = 0 ] && echo ' (cache off)')"
      wrk -t1 -c4 -d2s -s "$LUA" "http://127.0.0.1:$PORT" >/dev/null 2>&1 || true
      for c in $CONNS; do
        wrk_row "$c" -d"${DURATION}s"
      done
      echo "  memory after the runs: $(memory)"
      stop_service
    done
  done
done

echo
echo "== pellory find started once per lookup, $FIND_RUNS runs a book, --format name"
for b in "${BOOKS[@]}"; do
  PELLORY_HOST_SETTINGS=$WORK/$b.rec python3 - "$PELLORY" "$WORK/numbers.txt" "$FIND_RUNS" "$b" <<'PY'
import subprocess, sys, time
pellory, runs, book = sys.argv[1], int(sys.argv[3]), sys.argv[4]
numbers = open(sys.argv[2]).read().split("\n")[:runs]
times, found, failed = [], 0, 0
start = time.perf_counter()
for n in numbers:
    t = time.perf_counter()
    r = subprocess.run([pellory, "find", "--tel", n, "--format", "name"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - t) * 1e3)
    found += r.returncode == 0
    failed += r.returncode not in (0, 1)
total = time.perf_counter() - start
times.sort()
pct = lambda p: times[min(len(times) - 1, int(p / 100 * len(times)))]
print(f"{book} mode: {len(times) / total:9,.1f} lookups/s  p50 {pct(50):7.2f} ms  p99 {pct(99):7.2f} ms"
      f"  ({found} found, {len(times) - found - failed} not found, {failed} failed)")
PY
done

if [ "$RSS_REQUESTS" -gt 0 ]; then
  echo
  echo "== memory of the service, file mode, --threads 2, wrk -c4"
  for ttl in 0 30; do
    start_service file 2 "$ttl"
    echo "--cache-ttl $ttl: at the start $(memory)"
    # One wrk run, interrupted once the service has counted the requests;
    # the memory is read as the count passes each step.
    wrk -t1 -c4 -d3600s -s "$LUA" "http://127.0.0.1:$PORT" >/dev/null 2>&1 &
    wrk_pid=$!
    for step in 10000 100000 500000 1000000; do
      [ "$step" -le "$RSS_REQUESTS" ] || step=$RSS_REQUESTS
      while :; do
        lookups=$(curl -s "http://127.0.0.1:$PORT/metrics" | awk '/^pellory_lookup_seconds_count/{print $2}')
        [ "${lookups:-0}" -lt "$step" ] || break
        kill -0 "$SERVE_PID" || { echo "pellory serve ended:" >&2; cat "$WORK/serve.err" >&2; exit 2; }
        sleep 0.2
      done
      echo "  after $lookups requests: $(memory)"
      [ "$step" -lt "$RSS_REQUESTS" ] || break
    done
    kill -INT "$wrk_pid"
    wait "$wrk_pid" || true
    stop_service
  done
fi
echo
echo "uptime at the end: $(uptime)"
