#!/usr/bin/env bash
# The Windows stand-in CRM under Wine: it registers its class, starts, answers
# an automation client (cscript), takes window messages and typed keys from
# another program, writes all of it to its journal in order, and unregisters.
#   standin_crm_test.sh STANDIN_EXE POKE_EXE WORK_DIR
set -euo pipefail
standin="$1"
poke="$2"
work="$3"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
class_registered() { wine reg query 'HKCR\Maximizer.AttachToCurrentInstance\CLSID' >/dev/null 2>&1; }

wine "$standin" /unregserver
class_registered && fail "the class is still registered after /unregserver"
wine "$standin" /regserver
class_registered || fail "/regserver did not register the class"
wine reg query 'HKCU\Software\Classes\Maximizer.AttachToCurrentInstance\CLSID' >/dev/null ||
  fail "no per-user registration"

journal="$work/journal.txt"
wine "$standin" --journal "$(winepath -w "$journal")" --database 'C:\Data\Books\Sales' \
  --modal-view --busy null --timeout 60 &
server=$!
for _ in $(seq 100); do
  grep -qx ready "$journal" 2>/dev/null && break
  sleep 0.1
done
grep -qx ready "$journal" || fail "the stand-in did not start"

wine cscript //nologo "$(winepath -w "$here/attach_client.vbs")" | tr -d '\r' >"$work/client.txt"
diff -u "$here/attach_client.expected" "$work/client.txt" || fail "automation replies differ"

wine "$poke" | tr -d '\r' >"$work/poke.txt" || fail "crm_poke reported failures"
grep -qx 'title: Maximizer - \[Other Book\]' "$work/poke.txt" ||
  fail "main window title: $(cat "$work/poke.txt")"
wait "$server" || fail "the stand-in ended with an error"
diff -u "$here/standin_journal.expected" "$journal" || fail "journal differs"

wine "$standin" /unregserver
class_registered && fail "the class is still registered at the end"
echo "standin-crm: ok"
