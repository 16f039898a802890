#!/usr/bin/env bash
# Makes the Debian packages of a build and checks their file lists and
# declared dependencies.
# Usage: debian_packages.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >/dev/null) || fail "cpack failed"
deb() { find "$work" -maxdepth 1 -name "$1_*.deb" -print -quit; }
runtime=$(deb libsonvex32-1) dev=$(deb libsonvex32-dev) tools=$(deb sonvex32-tools)
[ -n "$runtime" ] && [ -n "$dev" ] && [ -n "$tools" ] || fail "packages: $(ls "$work")"

has() {  # package, path pattern
  dpkg-deb -c "$1" | awk '{print $6}' | grep -qE "$2" || fail "$(basename "$1") lacks $2"
}
lacks() {
  if dpkg-deb -c "$1" | awk '{print $6}' | grep -qE "$2"; then fail "$(basename "$1") holds $2"; fi
}
depends() { dpkg-deb -f "$1" Depends; }

has "$runtime" '^\./usr/lib/.*libsonvex32\.so\.1\.0\.0$'
has "$runtime" '^\./usr/lib/.*libsonvex32\.so\.1$'
has "$runtime" '^\./usr/lib/.*sonvex32/libwin32_kernel\.so$'
has "$runtime" '^\./usr/lib/.*sonvex32/libwin32_multimedia\.so$'
lacks "$runtime" 'include/|bin/|libsonvex32\.so$'
has "$dev" '^\./usr/include/sonvex\.h$'
has "$dev" '^\./usr/lib/.*libsonvex32\.so$'
has "$dev" '^\./usr/lib/.*pkgconfig/sonvex32\.pc$'
has "$dev" '^\./usr/lib/.*cmake/sonvex32/sonvex32Config\.cmake$'
lacks "$dev" '\.so\.1'
for tool in svxplay svxmidi2xmi svxmidilist svxtype svxdls svxcd w32info; do
  has "$tools" "^\./usr/bin/$tool\$"
  has "$tools" "^\./usr/share/man/man1/$tool\.1"
done

depends "$runtime" | grep -q 'libasound2' || fail "runtime depends: $(depends "$runtime")"
depends "$runtime" | grep -q 'libstdc++6' || fail "runtime depends: $(depends "$runtime")"
depends "$dev" | grep -q 'libsonvex32-1 (= 1\.0\.0)' || fail "dev depends: $(depends "$dev")"
depends "$tools" | grep -q 'libsonvex32-1 (= 1\.0\.0)' || fail "tools depends: $(depends "$tools")"
echo "debian packages: ok"
