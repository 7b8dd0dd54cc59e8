#!/bin/sh
# Installs the Debian packages a fresh machine lacks; does nothing when all
# are present. Extra package names may be given as arguments.
set -e
pkgs="cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev googletest
      libxml2-utils python3 ffmpeg lighttpd chromium chromium-driver valgrind
      clang libclang-rt-14-dev $*"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
