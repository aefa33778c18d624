#!/bin/sh
# The install scripts on a day when the package archive is out of step:
# `apt-get update` fails, and so may a package (its file does not match the
# index: apt names that first, then gives up).  A stand-in apt-get (first
# on PATH) fails those and passes anything else to the real one; a stand-in
# dpkg-query says that sox and debootstrap are missing, so that both scripts
# reach apt (and that `file` is, so that deps asks for two).  Run as root, on
# a machine with everything else installed.
set -eu
[ "$(id -u)" -eq 0 ] || { echo "deps_test: needs root; skipped"; exit 77; }
scratch=$(mktemp -d /tmp/pcmtap-deps-test-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deps_test: $*" >&2; exit 1; }

cp -r "$(cd "$(dirname "$0")/.." && pwd)/scripts" "$scratch/tree"
bin=$scratch/bin
mkdir "$bin"
cat >"$bin/apt-get" <<'FAKE'
#!/bin/sh
[ "$1" = update ] && { echo "E: Some index files failed to download." >&2; exit 100; }
for a; do
  for broken in $FAKE_APT_BROKEN; do
    [ "$a" = "$broken" ] && {
      printf 'E: Failed to fetch %s_1.0_amd64.deb  Hash Sum mismatch\n' "$a"
      echo 'E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?'
      exit 100
    } >&2
  done
done
exec /usr/bin/apt-get "$@"
FAKE
cat >"$bin/dpkg-query" <<'FAKE'
#!/bin/sh
for a; do
  case $a in sox | file | debootstrap) exit 1 ;; esac
done
exec /usr/bin/dpkg-query "$@"
FAKE
chmod +x "$bin/apt-get" "$bin/dpkg-query"

run() { # run SCRIPT BROKEN: its status; its stderr in $scratch/err
  status=0
  PATH=$bin:$PATH FAKE_APT_BROKEN=$2 "$scratch/tree/$1" </dev/null \
    >"$scratch/out" 2>"$scratch/err" || status=$?
  [ ! -s "$scratch/out" ] || fail "$1 wrote to stdout: $(cat "$scratch/out")"
  return 0
}
expect() { grep -q "$1" "$scratch/err" || fail "$2: $(cat "$scratch/err")"; }

# A stale index is no reason to stop: one warning, then the install.
run deps ""
[ "$status" -eq 0 ] || fail "deps failed ($status): $(cat "$scratch/err")"
[ "$(grep -c 'warning: apt-get update failed' "$scratch/err")" -eq 1 ] ||
  fail "deps did not warn once of the update: $(cat "$scratch/err")"

run deps-windows ""
[ "$status" -eq 0 ] || fail "deps-windows failed ($status): $(cat "$scratch/err")"
[ "$(grep -c 'warning: apt-get update failed' "$scratch/err")" -eq 1 ] ||
  fail "deps-windows did not warn once of the update: $(cat "$scratch/err")"

# A package that is needed and cannot be installed stops the script, named:
# the one that failed, not the first asked for (sox), with apt's first
# error, the cause, not its last.
run deps file
[ "$status" -ne 0 ] || fail "deps succeeded without file"
expect 'scripts/deps: cannot install file: Failed to fetch file_1.0_amd64.deb  Hash Sum mismatch$' \
  "deps did not name the package that failed and apt's reason"
echo "deps_test: passed"
