#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quick when they are there.
set -euo pipefail

packages=(g++-mingw-w64-i686 wine wine32:i386 wine64 cmake make googletest
          clang libclang-rt-14-dev g++ clang-format python3)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run this script as root to install them" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
