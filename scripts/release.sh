#!/usr/bin/env bash
# Builds the Windows release and packs it as dist/pellory-<version>-windows.zip.
#   scripts/release.sh                  builds both widths (Release) in
#                                       build-release-x86_64 and build-release-i686,
#                                       then packs
#   scripts/release.sh --package-only --x64 DIR [--x86 DIR] [--out DIR]
#                                       packs already built trees (a width
#                                       left out is left out of the zip)
# The zip holds x64/pellory.dll, x86/pellory.dll, pellory.tlb, x64/pellory.exe,
# x86/pellory.exe, standins/standin-crm.exe with a note, and INSTALL.txt.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

JOBS="${JOBS:-2}"
package_only=false
x64_dir=""
x86_dir=""
out_dir="$root/dist"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --package-only) package_only=true ;;
    --x64) x64_dir="$(cd "${2:?--x64 needs a folder}" && pwd)"; shift ;;
    --x86) x86_dir="$(cd "${2:?--x86 needs a folder}" && pwd)"; shift ;;
    --out) mkdir -p "${2:?--out needs a folder}"; out_dir="$(cd "$2" && pwd)"; shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "release.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

version="$(sed -nE 's/^project\(pellory VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
[[ -n "$version" ]] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }

build() {  # build WIDTH DIR
  cmake -S . -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$1.cmake" >/dev/null
  cmake --build "$2" -j"$JOBS" --target pellory_com pellory standin-crm
}

if ! $package_only; then
  x64_dir="$root/build-release-x86_64"
  x86_dir="$root/build-release-i686"
  build x86_64 "$x64_dir"
  build i686 "$x86_dir"
fi
[[ -n "$x64_dir" || -n "$x86_dir" ]] || { echo "release.sh: no build folder given" >&2; exit 2; }

# The machine a PE file is built for: "x86-64" or "i386".
pe_machine() {
  local format
  format="$(x86_64-w64-mingw32-objdump -f "$1" | sed -nE 's/.*file format (pei?-[a-z0-9-]+).*/\1/p')"
  case "$format" in
    pei-x86-64) echo x86-64 ;;
    pei-i386) echo i386 ;;
    *) echo "unknown ($format)" ;;
  esac
}

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
name="pellory-$version-windows"
dest="$stage/$name"
mkdir -p "$dest"

take() {  # take FILE WANTED_MACHINE TARGET
  [[ -f "$1" ]] || { echo "release.sh: $1 is missing (not built?)" >&2; exit 1; }
  local machine
  machine="$(pe_machine "$1")"
  if [[ "$machine" != "$2" ]]; then
    echo "release.sh: $1 is built for $machine, $3 must be $2" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$dest/$3")"
  cp "$1" "$dest/$3"
}

if [[ -n "$x64_dir" ]]; then
  take "$x64_dir/src/com/pellory.dll" x86-64 x64/pellory.dll
  take "$x64_dir/src/cli/pellory.exe" x86-64 x64/pellory.exe
  take "$x64_dir/standins/crm-windows/standin-crm.exe" x86-64 standins/standin-crm.exe
  tlb="$x64_dir/src/com/gen/pellory.tlb"
else
  echo "release.sh: no 64-bit build: the zip has no x64 folder" >&2
fi
if [[ -n "$x86_dir" ]]; then
  take "$x86_dir/src/com/pellory.dll" i386 x86/pellory.dll
  take "$x86_dir/src/cli/pellory.exe" i386 x86/pellory.exe
  if [[ -z "$x64_dir" ]]; then
    take "$x86_dir/standins/crm-windows/standin-crm.exe" i386 standins/standin-crm.exe
    tlb="$x86_dir/src/com/gen/pellory.tlb"
  fi
else
  echo "release.sh: no 32-bit build: the zip has no x86 folder" >&2
fi
[[ -f "$tlb" ]] || { echo "release.sh: $tlb is missing" >&2; exit 1; }
cp "$tlb" "$dest/pellory.tlb"

crlf() { sed 's/$/\r/'; }  # Windows line ends for the text files

mkdir -p "$dest/standins"
crlf >"$dest/standins/README.txt" <<'TXT'
standin-crm.exe is NOT part of the plug-in and is not to be installed with it.

It stands in for the Maximizer desktop application when trying Pellory out or
testing it on a machine without Maximizer: it registers the class
"Maximizer.AttachToCurrentInstance" for the current user, offers the members
the plug-in calls, shows a window titled "Maximizer - [Address Book]" and
writes every call, window message and typed key to a journal. The password
given to OpenDatabase is written there as "****".

  standin-crm.exe /regserver        register (per user)
  standin-crm.exe /unregserver      remove the registration
  standin-crm.exe --journal FILE [--database PATH] [--address-book NAME]
                  [--modal-view] [--busy [true|false|null]] [--timeout SECONDS]

Remove its registration (/unregserver) before installing the real Maximizer
application on the same machine.
TXT

crlf >"$dest/INSTALL.txt" <<TXT
Pellory $version for Windows
============================

Contents
  x64\\pellory.dll     the plug-in (COM class "Pellory.Session") for 64-bit hosts
  x86\\pellory.dll     the same for 32-bit hosts
  pellory.tlb         its type library (also built into each pellory.dll)
  x64\\pellory.exe     the command-line tool (lookups, records, host simulator)
  x86\\pellory.exe     the same for 32-bit Windows
  standins\\           a stand-in for the Maximizer application, for testing
                      only: see standins\\README.txt

Registering the plug-in
  Use the pellory.dll whose width matches the host application: a 64-bit
  host needs x64\\pellory.dll, a 32-bit host x86\\pellory.dll.

  For all users (from a command prompt run as administrator):
    regsvr32 pellory.dll

  For the current user only (no administrator rights needed):
    regsvr32 /n /i:user pellory.dll

  A 32-bit host on 64-bit Windows: register x86\\pellory.dll with the 32-bit
  regsvr32:
    C:\\Windows\\SysWOW64\\regsvr32.exe x86\\pellory.dll
    C:\\Windows\\SysWOW64\\regsvr32.exe /n /i:user x86\\pellory.dll

Unregistering
  For all users:          regsvr32 /u pellory.dll
  For the current user:   regsvr32 /u /n /i:user pellory.dll
  (with C:\\Windows\\SysWOW64\\regsvr32.exe for the 32-bit x86\\pellory.dll)

Settings and files
  The plug-in keeps no settings of its own: the host application stores the
  records that Configure returns and passes them back at start-up.
  Failures are appended to the trace log c:\\wendle.log.
  In file mode it registers one ODBC data source per session ("Maximizer SP"
  followed by a number), which needs the Maximizer ODBC driver.

The command-line tool
  x64\\pellory.exe --help (x86\\pellory.exe on 32-bit Windows) lists its
  commands. It reads the host settings from
  %PELLORY_HOST_SETTINGS%, else %APPDATA%\\Pellory\\host.rec.
TXT

mkdir -p "$out_dir"
zip="$out_dir/$name.zip"
rm -f "$zip"
(cd "$dest" && cmake -E tar cf "$zip" --format=zip -- *)
echo "release.sh: $zip"
cmake -E tar tf "$zip"
