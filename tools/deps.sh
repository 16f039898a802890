#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing. Usage: tools/deps.sh build|test
set -euo pipefail

build_packages=(g++ cmake ninja-build pkg-config)
test_packages=(googletest libgtest-dev libgmock-dev)

wanted=("${build_packages[@]}")
if [ "${1:-build}" = test ]; then
  wanted+=("${test_packages[@]}")
fi

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
