#!/bin/sh
# Makes the Wine prefix the Windows tests run in, once: wine_prefix.sh LOADER
# PREFIX.  Wine's PulseAudio driver records, since its ALSA one records
# silence from a virtual device.  Mono and Gecko are never installed.
set -eu
loader=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix an older Wine made is made anew.
ready=$WINEPREFIX/.pcmtap-ready-wine10
[ -f "$ready" ] && exit 0
rm -rf "$WINEPREFIX"
"$loader" wineboot -i
"$loader" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null
# No display: Wine would look for one, and Wayland's library complains
# on standard error, into what the tests read, where there is none.
"$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
  >/dev/null
# wineboot returns before the registry reaches the disk; the next Wine that
# starts must find it there.
"${loader%/*}/wineserver" -w
touch "$ready"
