# Sourced by the scripts that install with apt.  The archive has bad days (an
# index out of step with its release file while a mirror syncs): a failed
# `apt-get update` is only a warning, and the packages are installed from the
# lists there are.  What cannot be installed is named, with apt's reason.
# The sourcing script sets `me` to its name for the messages.

# apt_missing PACKAGE...: prints those not installed.
apt_missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
      printf '%s\n' "$p"
  done
}

apt_updated=""
apt_update() {
  [ -n "$apt_updated" ] && return 0
  apt_updated=yes
  apt_log=$(mktemp)
  if ! apt-get update -qq >"$apt_log" 2>&1; then
    echo "$me: warning: apt-get update failed ($(apt_reason "$apt_log"));" \
      "installing from the package lists there are" >&2
  fi
  rm -f "$apt_log"
}

# apt's reason: its first error line, else its last line.
apt_reason() {
  reason=$(sed -n 's/^E: //p' "$1" | head -n 1)
  [ -n "$reason" ] || reason=$(tail -n 1 "$1")
  printf '%s' "${reason:-no reason given}"
}

# apt_try PACKAGE...: installs them; on failure leaves apt's output in
# $apt_log and returns non-zero.
apt_try() {
  apt_log=$(mktemp)
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "$@" >"$apt_log" 2>&1 && rm -f "$apt_log"
}

# apt_install PACKAGE...: installs them all or stops, naming the first
# package that cannot be installed alone and why.
apt_install() {
  [ $# -gt 0 ] || return 0
  apt_update
  apt_try "$@" && return 0
  rm -f "$apt_log"
  for p in "$@"; do
    if ! apt_try "$p"; then
      echo "$me: cannot install $p: $(apt_reason "$apt_log")" >&2
      rm -f "$apt_log"
      exit 1
    fi
  done
}

# apt_install_optional PACKAGE: installs it if it can, else sets
# apt_failure to apt's reason and returns non-zero.
apt_install_optional() {
  apt_update
  apt_try "$1" && return 0
  apt_failure=$(apt_reason "$apt_log")
  rm -f "$apt_log"
  return 1
}

apt_need_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  echo "$me: missing packages: $* (run as root to install)" >&2
  exit 1
}
