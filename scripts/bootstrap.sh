#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages; safe to run again.
#
# The packages every architecture needs are installed first, and a failure
# there fails the bootstrap with apt's words. The 32-bit Wine comes in a step
# of its own: where it cannot be installed (a mirror without the i386 index, a
# host that cannot hold it) the bootstrap says so in one line on standard
# error and exits 0, and the scripts go on with the architectures that run.
set -euo pipefail

base=(
  cmake make ninja-build g++ clang-14 libfuzzer-14-dev libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick fonts-wqy-microhei locales
  googletest libbenchmark-dev ncompress nsis python3 twm xfonts-base xfonts-75dpi
  osslsigncode openssl lintian groff-base zip dpkg-dev linux-perf icoutils
)
wine32=wine32:i386

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# apt's own output goes to the terminal as it comes; its last "E:" line is kept
# for the one-line report.
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
apt_run() {
  local rc=0
  $SUDO apt-get "$@" 2>&1 | tee "$apt_log" || rc=${PIPESTATUS[0]}
  return "$rc"
}
apt_last_error() {
  local line
  line=$(grep '^E:' "$apt_log" | tail -n 1 || true)
  echo "${line:-apt-get exited without an error line}"
}

# apt-get update exits 100 when any one index failed; what it did fetch is
# still usable, so a second failure is reported and the install goes on.
update() {
  local tries=$1 i
  for ((i = 1; i <= tries; i++)); do
    apt_run update -qq && return 0
  done
  echo "bootstrap: apt-get update failed: $(apt_last_error); installing from the package lists there are" >&2
}

mapfile -t missing < <(missing_of "${base[@]}")
need32=0
[ -z "$(missing_of "$wine32")" ] || need32=1
# The i386 architecture first, so that one update fetches its index too.
if [ "$need32" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  update 2
  updated=1
  if ! apt_run install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "bootstrap: could not install ${missing[*]}: $(apt_last_error)" >&2
    exit 1
  fi
fi

complete=1
if [ "$need32" -eq 1 ]; then
  # One quick attempt a run: the install alone, after a single update only
  # when this run made none and the package lists are over an hour old.
  lists="${OEM_APT_LISTS:-/var/lib/apt/lists}"
  if [ "$updated" -eq 0 ] && [ -z "$(find "$lists" -maxdepth 1 -name '*_Packages*' -mmin -60 -print -quit 2>/dev/null)" ]; then
    update 1
  fi
  if ! apt_run install -y -qq --no-install-recommends "$wine32"; then
    echo "bootstrap: the 32-bit Wine ($wine32) could not be installed: $(apt_last_error); x86 programs will not run on this host" >&2
    complete=0
  fi
fi

# The Chinese locale, for the tests that run under code page 936, and the
# American one, for the progress label's Latin picture.
for name in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$name.utf8$"; then
    $SUDO sed -i "s/^# *$name.UTF-8 UTF-8/$name.UTF-8 UTF-8/" /etc/locale.gen 2>/dev/null || true
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$name.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done
if [ "$complete" -eq 1 ]; then
  echo "bootstrap: all dependencies present"
else
  echo "bootstrap: every dependency present except $wine32"
fi
