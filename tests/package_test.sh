#!/bin/sh
# The Debian package of a built tree: cpack makes it, lintian finds no
# error in it, dpkg installs it into a scratch root, its manual page renders
# without a warning, and dpkg removes it again, every file with it.
# Usage: package_test.sh BUILD_DIR
set -eu
build=$1
scratch=$(mktemp -d /tmp/pcmtap-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" \
  >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
set -- "$scratch"/out/pcmtap_*.deb
deb=$1
[ -f "$deb" ] || fail "no package in $scratch/out"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libasound2 libpulse0; do
  printf '%s\n' "$depends" | grep -Eq "(^|, )$library( |,|\$)" ||
    fail "Depends lacks $library: $depends"
done
# Warnings fail too: there is none to expect.
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log" >&2; fail "lintian complained"; }

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
# The scratch root has none of the libraries; this machine does.
dpkg --root="$root" --force-depends -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log" >&2; fail "dpkg -i failed"; }
for f in usr/bin/pcmtap usr/share/man/man1/pcmtap.1.gz \
  usr/share/doc/pcmtap/copyright usr/share/doc/pcmtap/changelog.gz; do
  [ -f "$root/$f" ] || fail "not installed: /$f"
done
[ -x "$root/usr/bin/pcmtap" ] || fail "/usr/bin/pcmtap is not executable"

page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l \
  "$root/usr/share/man/man1/pcmtap.1.gz" 2>"$scratch/man.err") ||
  fail "man failed: $(cat "$scratch/man.err")"
[ ! -s "$scratch/man.err" ] || fail "man warns: $(cat "$scratch/man.err")"
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT \
  EXAMPLES 'SEE ALSO' '   Choosing the device'; do
  printf '%s\n' "$page" | grep -qx "$heading" || fail "no heading \"$heading\""
done

dpkg --root="$root" -r pcmtap >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log" >&2; fail "dpkg -r failed"; }
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[ -z "$left" ] || fail "left behind: $left"
echo "package_test: $(basename "$deb") built, installed, read and removed"
