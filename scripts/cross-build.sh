#!/bin/sh
# Builds both programs and their tests for another CPU and runs the tests
# there: under qemu-user for the receiver's 32-bit big-endian PowerPC, on
# the host itself for 32-bit x86 (or under qemu when the kernel cannot).
#
#   scripts/cross-build.sh ppc|i386 [ctest arguments...]
#
# Everything lands in build-<arch>/; its deps/ keeps SQLite (built from
# Debian's source package, fetched here with apt-get source) and GoogleTest
# (built from /usr/src/googletest), so that a rerun only rebuilds the project.
# Test programs run through CROSS_EMULATOR; every program a test starts runs
# through TEST_EXEC_WRAPPER (the same emulator), since this machine need not
# have binfmt_misc set up for the target.
set -e
arch=${1:?usage: $0 ppc|i386 [ctest arguments]}
shift
top=$(cd "$(dirname "$0")/.." && pwd)

case $arch in
  ppc)  triple=powerpc-linux-gnu; qemu=qemu-ppc ;;
  i386) triple=i686-linux-gnu;    qemu=qemu-i386 ;;
  *) echo "unknown architecture: $arch" >&2; exit 2 ;;
esac
out=$top/build-$arch
deps=$out/deps
toolchain=$top/cmake/$triple.cmake
jobs=${JOBS:-2}

# tcl: makes SQLite's amalgamation; dpkg-dev: unpacks the source package.
"$top/scripts/install-deps.sh" "g++-$triple" qemu-user tcl dpkg-dev xz-utils

# Must match the project's own definitions: GoogleTest's headers hold
# inline functions over struct stat, whose layout these change.
abi_flags="-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64"

mkdir -p "$deps/src" "$deps/lib" "$deps/include"

# --- SQLite, from Debian's source package --------------------------------
if [ ! -f "$deps/lib/libsqlite3.a" ]; then
  if ! ls -d "$deps"/src/sqlite3-*/ >/dev/null 2>&1; then
    if ! apt-cache showsrc sqlite3 2>/dev/null | grep -q '^Package: sqlite3'; then
      # The machine's Debian sources may list binary packages only: add a
      # deb-src twin of each of their entries, in a file of our own.
      sudo=""
      [ "$(id -u)" -eq 0 ] || sudo="sudo"
      if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ {
               sub(/Types:[^\n]*/, "Types: deb-src"); print }' \
          /etc/apt/sources.list.d/debian.sources |
          $sudo tee /etc/apt/sources.list.d/receiver-web-src.sources >/dev/null
      fi
      if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list |
          $sudo tee /etc/apt/sources.list.d/receiver-web-src.list >/dev/null
      fi
      $sudo apt-get update -qq || echo "apt-get update failed; trying apt-get source anyway" >&2
    fi
    (cd "$deps/src" && apt-get source -qq sqlite3 >/dev/null)
  fi
  src=$(ls -d "$deps"/src/sqlite3-*/ | head -n 1)
  # The amalgamation is the same for every CPU: make it with the host's
  # tools, then compile it with the cross compiler.
  if [ ! -f "$deps/sqlite-amalg/sqlite3.c" ]; then
    rm -rf "$deps/sqlite-amalg"
    mkdir -p "$deps/sqlite-amalg"
    (cd "$deps/sqlite-amalg" && "$src/configure" --disable-tcl >/dev/null &&
      make -s sqlite3.c >/dev/null)
  fi
  "$triple-gcc" -O2 -g $abi_flags -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_THREADSAFE=1 \
    -c "$deps/sqlite-amalg/sqlite3.c" -o "$deps/sqlite3.o"
  "$triple-ar" rcs "$deps/lib/libsqlite3.a.new" "$deps/sqlite3.o"
  cp "$deps/sqlite-amalg/sqlite3.h" "$deps/sqlite-amalg/sqlite3ext.h" "$deps/include/"
  mv "$deps/lib/libsqlite3.a.new" "$deps/lib/libsqlite3.a"
fi

# --- Can this machine run target binaries itself? ------------------------
emulator=""
if [ "$arch" = ppc ]; then
  emulator=$(command -v "$qemu")
else
  printf 'int main(void) { return 0; }\n' > "$deps/probe.c"
  "$triple-gcc" -static "$deps/probe.c" -o "$deps/probe"
  "$deps/probe" 2>/dev/null || emulator=$(command -v "$qemu")
fi

# --- GoogleTest, from Debian's googletest sources -------------------------
if [ ! -f "$deps/gtest.done" ]; then
  rm -rf "$deps/gtest-build"
  cmake -S /usr/src/googletest -B "$deps/gtest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$abi_flags" -DCMAKE_INSTALL_PREFIX="$deps" \
    -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_GMOCK=ON >/dev/null
  cmake --build "$deps/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$deps/gtest-build" >/dev/null
  touch "$deps/gtest.done"
fi

# --- The project ----------------------------------------------------------
cmake -S "$top" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCROSS_EMULATOR="$emulator" \
  -DSQLite3_INCLUDE_DIR="$deps/include" -DSQLite3_LIBRARY="$deps/lib/libsqlite3.a" \
  -DGTest_DIR="$deps/lib/cmake/GTest" >/dev/null
cmake --build "$out" -j"$jobs"
cd "$out"
TEST_EXEC_WRAPPER="$emulator" ctest --output-on-failure -j"$jobs" "$@"
