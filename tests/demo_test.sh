#!/bin/sh
# scripts/demo as CI runs it, with no terminal: it ends by itself, leaves a
# demo.wav with the tone in it, and leaves no server or directory behind.
# Usage: demo_test.sh PCMTAP
set -eu
scratch=$(mktemp -d /tmp/pcmtap-demo-test-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "demo_test: $*" >&2; exit 1; }

script=$(cd "$(dirname "$0")/.." && pwd)/scripts/demo
(cd "$scratch" && TMPDIR=$scratch PCMTAP=$1 DEMO_SECONDS=2 "$script" \
  </dev/null >"$scratch/out" 2>"$scratch/err") ||
  { cat "$scratch/err" >&2; fail "scripts/demo failed"; }
[ ! -s "$scratch/out" ] || fail "wrote to stdout: $(cat "$scratch/out")"
grep -q 'Name="Sine source' "$scratch/err" || fail "no listing: $(cat "$scratch/err")"
grep -q '^demo: recorded demo.wav: ' "$scratch/err" || fail "no summary"

wav=$scratch/demo.wav
format="$(soxi -r "$wav") $(soxi -c "$wav") $(soxi -b "$wav")"
[ "$format" = "44100 2 16" ] || fail "not 16-bit stereo 44.1 kHz: $format"
stat=$(sox "$wav" -n remix - stat 2>&1)
length=$(printf '%s\n' "$stat" | sed -n 's/^Length (seconds): *//p')
frequency=$(printf '%s\n' "$stat" | sed -n 's/^Rough   frequency: *//p')
awk -v l="$length" -v f="$frequency" 'BEGIN { exit !(l >= 1 && f >= 430 && f <= 450) }' ||
  fail "recorded $length s at $frequency Hz, not 2 s of the 440 Hz tone"
# The summary names that frequency as sox hears it in demo.wav: catches a
# figure that is missing, made up, or measured over both channels
# interleaved.
said=$(sed -n 's/^demo: recorded demo.wav: .*, a tone of about \([0-9.]*\) Hz as sox hears it$/\1/p' "$scratch/err")
[ "$said" = "$frequency" ] ||
  fail "the summary says '$said' Hz, sox hears $frequency Hz: $(cat "$scratch/err")"

left=$(find "$scratch" -mindepth 1 -maxdepth 1 -name 'pcmtap-demo-*')
[ -z "$left" ] || fail "left behind: $left"
! pgrep -f "$scratch" >/dev/null || fail "left running: $(pgrep -af "$scratch")"
echo "demo_test: $length s at $frequency Hz"
