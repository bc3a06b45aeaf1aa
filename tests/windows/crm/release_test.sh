#!/usr/bin/env bash
# The packaging step of scripts/release.sh on this build tree: the zip holds
# the expected files, and a tree of the wrong width is refused.
#   release_test.sh SOURCE_DIR BUILD_DIR WIDTH(x64|x86) WORK_DIR
set -euo pipefail
src="$1"
build="$2"
width="$3"
work="$4"
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

bash "$src/scripts/release.sh" --package-only "--$width" "$build" --out "$work" >"$work/log.txt" 2>&1 ||
  fail "packaging failed: $(cat "$work/log.txt")"
zips=("$work"/pellory-*-windows.zip)
[[ ${#zips[@]} -eq 1 && -f "${zips[0]}" ]] || fail "no zip in $work"
cmake -E tar tf "${zips[0]}" | sort >"$work/list.txt"
expected=(INSTALL.txt pellory.tlb standins/README.txt)
if [[ "$width" == x64 ]]; then
  expected+=(x64/pellory.dll x64/pellory.exe standins/standin-crm.exe)
else
  expected+=(x86/pellory.dll x86/pellory.exe standins/standin-crm.exe)
fi
for f in "${expected[@]}"; do
  grep -qx "$f" "$work/list.txt" || fail "$f is not in the zip: $(cat "$work/list.txt")"
done

mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "${zips[0]}")
install="$work/unpacked/INSTALL.txt"
for text in 'regsvr32 pellory.dll' 'regsvr32 /n /i:user pellory.dll' 'regsvr32 /u pellory.dll' \
  'regsvr32 /u /n /i:user pellory.dll' 'SysWOW64\regsvr32.exe' 'c:\wendle.log'; do
  grep -qF "$text" "$install" || fail "INSTALL.txt does not mention $text"
done
grep -q $'\r$' "$install" || fail "INSTALL.txt has no Windows line ends"
cmp -s "$build/src/com/pellory.dll" "$work/unpacked/$width/pellory.dll" ||
  fail "$width/pellory.dll is not the built one"

# The same tree offered as the other width is refused.
other=x86
[[ "$width" == x86 ]] && other=x64
if bash "$src/scripts/release.sh" --package-only "--$other" "$build" --out "$work/wrong" \
  >"$work/wrong.txt" 2>&1; then
  fail "a $width tree was packed as $other"
fi
grep -q 'is built for' "$work/wrong.txt" || fail "refusal not explained: $(cat "$work/wrong.txt")"
echo "release: ok"
