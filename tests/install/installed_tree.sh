#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it as a developer would:
# the header alone compiles as C99 and C++, the example builds through
# pkg-config and through find_package, both play a WAV file whose data is
# then found in the capture, and the installed tools find their libraries.
# Usage: installed_tree.sh BUILD_DIR SOURCE_DIR [EXTRA_CFLAGS]
set -euo pipefail
build=$1 source=$2 extra=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name sonvex32.pc -print -quit)")/..
[ -f "$prefix/include/sonvex.h" ] || fail "no header installed"
[ "$(ls "$prefix/include")" = sonvex.h ] || fail "more than the public header installed: $(ls "$prefix/include")"
soname=$(readelf -d "$libdir/libsonvex32.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libsonvex32.so.1 ] || fail "SONAME is '$soname'"
for tool in svxplay svxmidi2xmi svxmidilist svxtype svxdls svxcd w32info; do
  [ -x "$prefix/bin/$tool" ] || fail "$tool not installed"
  [ -f "$prefix/share/man/man1/$tool.1" ] || fail "no manual page for $tool"
done

# The header on its own, strict, in both languages.
printf '#include <sonvex.h>\nint main(void) { HSAMPLE s = 0; return s != 0; }\n' > "$work/h.c"
cc -std=c99 -pedantic -Wall -Wextra -Werror -I"$prefix/include" -c "$work/h.c" -o "$work/h.o" ||
  fail "the header does not compile as C99"
c++ -x c++ -std=c++17 -Wall -Wextra -Werror -I"$prefix/include" -c "$work/h.c" -o "$work/hpp.o" ||
  fail "the header does not compile as C++"

# Something to play: 0.3 s of a tone, 44.1 kHz stereo.
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 0.3 sine 440 vol 0.5
check_played() {  # program
  local heard=$work/heard-$(basename "$1").wav
  rm -f "$heard"
  mkdir -p "$work/c"
  WIN32_ROOT=$work/c WIN32_AUDIO=wav:$heard LD_LIBRARY_PATH=$libdir "$1" "$work/tone.wav" ||
    fail "$1 failed"
  python3 - "$work/tone.wav" "$heard" <<'PY' || fail "$1: the file's data is not in the capture"
import sys
def data(path):
    b = open(path, 'rb').read()
    at = 12
    while at + 8 <= len(b):
        size = int.from_bytes(b[at + 4:at + 8], 'little')
        if b[at:at + 4] == b'data':
            return b[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return b''
played, heard = data(sys.argv[1]), data(sys.argv[2])
sys.exit(0 if played and played in heard else 1)
PY
}

# pkg-config, as the README shows it.
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086
cc -std=c99 -Wall -Wextra -Werror $extra "$source/examples/playwav.c" \
  $(pkg-config --cflags --libs sonvex32) -o "$work/playwav-pc" || fail "pkg-config build failed"
check_played "$work/playwav-pc"

# find_package.
cmake -S "$source/examples" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$extra" >/dev/null || fail "find_package(sonvex32) failed"
cmake --build "$work/example" >/dev/null || fail "the CMake example did not build"
check_played "$work/example/playwav"

# The installed tools run from the prefix with no help.
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/svxtype" "$work/tone.wav") || fail "installed svxtype failed"
case $out in *WAV*) ;; *) fail "svxtype said: $out" ;; esac
echo "installed tree: ok"
