#!/usr/bin/env bash
# A call through Kamailio that names the caller from `pellory serve`: a SIPp
# caller sends an INVITE from +44 1234 567890 (E.164) through Kamailio,
# configured with the README's recipe, to a SIPp phone (SIPp's own answering
# scenario), whose INVITE must carry the display name Pellory found in the
# sample book.
#   kamailio_test.sh PELLORY README WORK_DIR
set -uo pipefail
pellory="${1:?pellory program}"
readme="${2:?README}"
work="${3:?work folder}"
here="$(cd "$(dirname "$0")" && pwd)"

skip() { echo "skipped: $*"; exit 77; }
command -v kamailio >/dev/null || skip "no kamailio (Debian kamailio, kamailio-utils-modules)"
command -v sipp >/dev/null || skip "no sipp (Debian sip-tester)"

rm -rf "$work" && mkdir -p "$work"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap cleanup EXIT

# The recipe in the README is the block this configuration runs.
sed -n '/^# --- Pellory: caller name (begin) ---$/,/^# --- Pellory: caller name (end) ---$/p' \
  "$here/kamailio.cfg.in" | sed '1d;$d' | sed 's/@PELLORY@/127.0.0.1:8410/' >"$work/recipe.txt"
if ! python3 - "$readme" "$work/recipe.txt" <<'PY'; then
import sys
readme, recipe = (open(p).read() for p in sys.argv[1:3])
sys.exit(0 if recipe.strip() in readme else 1)
PY
  echo "FAIL: the README's Kamailio recipe is not the tested one:"
  cat "$work/recipe.txt"
  exit 1
fi

# Free loopback UDP ports for the proxy and the phone.
free_udp_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
proxy_port="$(free_udp_port)"
phone_port="$(free_udp_port)"
caller_port="$(free_udp_port)"

# The service on a free port; its first line says where it listens.
"$pellory" serve --listen 127.0.0.1:0 --cache-ttl 0 >"$work/serve.out" 2>"$work/serve.err" &
pids+=($!)
for _ in $(seq 1 300); do
  grep -q '^listening on ' "$work/serve.out" 2>/dev/null && break
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.1
done
service="$(sed -n 's/^listening on //p' "$work/serve.out" | head -n 1)"
[[ -n "$service" ]] || { echo "FAIL: pellory serve did not start"; cat "$work/serve.err"; exit 1; }

sed -e "s/@PROXY_PORT@/$proxy_port/g" -e "s/@UAS_PORT@/$phone_port/g" -e "s/@PELLORY@/$service/g" \
  "$here/kamailio.cfg.in" >"$work/kamailio.cfg"
kamailio -c -f "$work/kamailio.cfg" >"$work/kamailio-check.log" 2>&1 ||
  { echo "FAIL: kamailio refuses the configuration"; cat "$work/kamailio-check.log"; exit 1; }
mkdir -p "$work/run"
kamailio -f "$work/kamailio.cfg" -DD -E -Y "$work/run" -m 32 -M 8 >"$work/kamailio.log" 2>&1 &
pids+=($!)

cd "$work" || exit 1
timeout 60 sipp -sn uas -i 127.0.0.1 -p "$phone_port" -m 1 -nostdin \
  -trace_msg -message_file phone-messages.log >phone.out 2>&1 &
pids+=($!)
# The proxy is up once its UDP socket is bound (the kernel's socket table
# lists the port in hex).
proxy_hex="$(printf ':%04X ' "$proxy_port")"
for _ in $(seq 1 300); do
  grep -q "$proxy_hex" /proc/net/udp && break
  sleep 0.1
done
status=0
timeout 60 sipp -sf "$here/caller.xml" -i 127.0.0.1 -p "$caller_port" -m 1 -nostdin -timeout 30s \
  "127.0.0.1:$proxy_port" -trace_msg -message_file caller-messages.log >caller.out 2>&1 || status=$?

failures=0
[[ $status -eq 0 ]] || { echo "FAIL: the call failed (sipp $status)"; failures=1; }
# The From header of the INVITE that reached the phone.
from="$(sed -n '/^INVITE /,/^$/{/^From:/p}' phone-messages.log 2>/dev/null | head -n 1 | tr -d '\r')"
if [[ "$from" == 'From: "John Smith" <sip:+441234567890@'* ]]; then
  echo "ok: the phone shows John Smith ($from)"
else
  echo "FAIL: the phone did not see the name: ${from:-no INVITE}"
  failures=1
fi
if [[ $failures -ne 0 ]]; then
  grep -A12 '^INVITE' phone-messages.log 2>/dev/null | head -n 30
  tail -n 30 kamailio.log
  exit 1
fi
echo "kamailio: ok"
