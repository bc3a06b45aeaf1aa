#!/usr/bin/env bash
# Makes the .deb of BUILD_DIR with cpack, installs it with dpkg, looks a
# caller up from the installed paths as the service's user, checks the
# service's unit, then purges the package and checks that nothing is left:
# no file, no driver-list entry, no user or group, no state or settings.
#   package_test.sh BUILD_DIR WORK_DIR
set -uo pipefail
build="${1:?build folder}"
work="${2:?work folder}"

skip() { echo "skipped: $*"; exit 77; }
[[ "$(id -u)" -eq 0 ]] || skip "installing a package needs root"
command -v dpkg >/dev/null && command -v cpack >/dev/null || skip "no dpkg or cpack"
if dpkg-query -W -f='${Status}' pellory 2>/dev/null | grep -q 'installed'; then
  skip "a pellory package is installed on this machine; it is left alone"
fi

# The package's scripts reach the machine's own ODBC configuration.
unset ODBCSYSINI ODBCINI ODBCINSTINI

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
driver="Maximizer ODBC Driver"
driver_listed() { odbcinst -q -d -n "$driver" >/dev/null 2>&1; }

rm -rf "$work" && mkdir -p "$work"
SECONDS=0
# Uncompressed and without the library dependencies worked out by
# dpkg-shlibdeps (15 s on a sanitizer build): the test is about what the
# package installs and removes, on a machine that has those libraries.
cpack --config "$build/CPackConfig.cmake" -B "$work" -D CPACK_DEBIAN_COMPRESSION_TYPE=none \
  -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF \
  >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb="$(ls "$work"/pellory_*.deb 2>/dev/null | head -n 1)"
[[ -f "$deb" ]] || { echo "FAIL: no .deb in $work"; exit 1; }
echo "cpack: $SECONDS s"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' >"$work/files.txt"
cp /etc/odbcinst.ini "$work/odbcinst.before" 2>/dev/null || : >"$work/odbcinst.before"

purged=false
purge() { $purged || { dpkg --purge pellory >"$work/purge.log" 2>&1; purged=true; }; }
trap purge EXIT

if ! dpkg -i "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: dpkg -i"
  exit 1
fi
echo "dpkg -i: $SECONDS s"
check "the programs are installed" test -x /usr/bin/pellory -a -x /usr/bin/pellory-addressbook
check "the man pages are installed" test -s /usr/share/man/man1/pellory.1 -a -s /usr/share/man/man1/pellory-addressbook.1
check "the driver is in unixODBC's list" driver_listed
check "the driver's entry names the installed file" \
  test -f "$(odbcinst -q -d -n "$driver" | sed -n 's/^Driver=//p')"
check "the service's user exists without a login" \
  bash -c "getent passwd pellory | grep -q ':/var/lib/pellory:/usr/sbin/nologin$'"
check "the service's state folder is its own" test "$(stat -c %U /var/lib/pellory)" = pellory
if command -v systemd-analyze >/dev/null; then
  check "the unit is valid" systemd-analyze verify /lib/systemd/system/pellory.service
fi

# The sample book, found from the installed paths, by the service's user.
as_service() {
  runuser -u pellory -- env -i PATH=/usr/bin:/bin HOME=/var/lib/pellory \
    PELLORY_HOST_SETTINGS=/etc/pellory/host.rec ASAN_OPTIONS=detect_leaks=0 "$@"
}
(cd / && as_service pellory find --tel "+44 (0)1234 567890" --format name) >"$work/find.out" 2>"$work/find.err"
check "a lookup from the installed paths finds the caller" grep -qx "John Smith" "$work/find.out"
check "it used the installed sample" grep -q "/usr/share/pellory/sample" "$work/find.err"
if pellory --help | grep -q "^  serve "; then
  (cd / && as_service pellory serve --check) >"$work/check.out" 2>&1
  check "serve --check reaches the sample" test $? -eq 0
fi

echo "before purge: $SECONDS s"
purge
echo "purged: $SECONDS s"
grep -q '^Purging configuration files for pellory' "$work/purge.log" || failures=$((failures + 1))
left=()
while IFS= read -r f; do [[ -e "$f" ]] && left+=("$f"); done <"$work/files.txt"
check "no file of the package is left (${left[*]:-none})" test ${#left[@]} -eq 0
check "the driver is out of unixODBC's list" bash -c "! odbcinst -q -d -n '$driver' >/dev/null 2>&1"
check "the driver list is as before" diff -u "$work/odbcinst.before" /etc/odbcinst.ini
check "no user or group is left" bash -c "! getent passwd pellory && ! getent group pellory"
check "no state or settings are left" bash -c "! test -e /var/lib/pellory && ! test -e /etc/pellory"

[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; cat "$work/find.err" "$work/purge.log"; exit 1; }
echo "package: ok"
