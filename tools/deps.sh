#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing. Usage: tools/deps.sh build|test
# The lists are tools/packages/build-*.txt (to build and run) and, for the
# tests, test-*.txt as well: one package a line, '#' starts a comment.
set -euo pipefail

lists=(tools/packages/build-*.txt)
if [ "${1:-build}" = test ]; then
  lists+=(tools/packages/test-*.txt)
fi
mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "${lists[@]}" | grep -v '^$' | sort -u)

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "Missing packages (${missing[*]}) and no way to become root to install them." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
