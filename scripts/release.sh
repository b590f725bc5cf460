#!/usr/bin/env bash
# Builds the 32-bit program for release (optimised, stripped) and packs it
# with a short read-me: dist/quorvane-<version>-win32/ holds both, beside it
# the same folder as a zip and the zip's SHA-256 checksum.
#
#   scripts/release.sh
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=release

qv_require_machine || fail "setup failed"

VERSION=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$VERSION" ] || fail "no version in CMakeLists.txt"
NAME=quorvane-$VERSION-win32
PROGRAM=build/release/src/app/quorvane.exe

qv_build release || fail "build failed"

# What is shipped is checked before it is packed: a 32-bit program without
# debug sections whose version resource carries the project's version.
i686-w64-mingw32-objdump -f "$PROGRAM" | grep -q 'file format pei-i386' || fail "$PROGRAM is not a 32-bit program"
if i686-w64-mingw32-objdump -h "$PROGRAM" | grep -q '\.debug_'; then fail "$PROGRAM still has debug sections"; fi
RESOURCES=$(i686-w64-mingw32-windres -i "$PROGRAM" -O rc)
for expected in 'VALUE "ProductName", "Quorvane"' "VALUE \"FileVersion\", \"$VERSION.0.0\"" \
  "FILEVERSION ${VERSION%%.*}, ${VERSION#*.}, 0, 0" 'VALUE "LegalCopyright", "Copyright (C) '; do
  grep -qF "$expected" <<<"$RESOURCES" || fail "the version resource lacks: $expected"
done

rm -rf "dist/$NAME" "dist/$NAME.zip" "dist/$NAME.zip.sha256"
mkdir -p "dist/$NAME"
cp "$PROGRAM" "dist/$NAME/quorvane.exe"
# UTF-8 with a byte-order mark and CR LF, so that Notepad shows it right.
{
  printf '\xEF\xBB\xBF'
  sed 's/$/\r/' <<EOF
Quorvane $VERSION - a LAN scanner for Windows

What it is
  Quorvane sends one ICMP echo to every IPv4 address of a range and lists
  the hosts that answer, with their host name, MAC address and reply time,
  sorted by address. The list can be re-sorted by any column and exported
  to a text file. The window's texts are Chinese: 开始 starts a scan,
  停止 stops it, 导出 exports the list.

Running it on Windows
  quorvane.exe is the whole program: no installer, no DLLs beside it, no
  settings written anywhere. Windows 7 or later, 32- or 64-bit. Start it,
  check the first and last address (the range of this machine's network
  is filled in), the number of worker threads and the time-out in
  milliseconds, then press 开始.

Running it on Linux with Wine
  LC_ALL=zh_CN.UTF-8 wine quorvane.exe

  The zh_CN locale gives Wine the Chinese code page (936) the texts are
  written in; Wine needs its 32-bit part (wine32). If no host ever
  answers, Wine may not be allowed to send ICMP echoes: run it as root or
  allow ping sockets (sysctl net.ipv4.ping_group_range).

Checking the download
  sha256sum -c $NAME.zip.sha256
EOF
} >"dist/$NAME/README.txt"

(cd dist && rm -f "$NAME.zip" && zip -q -X -r "$NAME.zip" "$NAME" && sha256sum "$NAME.zip" >"$NAME.zip.sha256")
say "dist/$NAME/: quorvane.exe ($(stat -c %s "dist/$NAME/quorvane.exe") bytes) and README.txt"
say "dist/$NAME.zip and dist/$NAME.zip.sha256: $(cut -d' ' -f1 "dist/$NAME.zip.sha256")"
