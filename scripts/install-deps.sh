#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quick when they are there.
set -euo pipefail
source "$(dirname "$0")/common.sh"

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 cmake make
          googletest clang libclang-rt-14-dev g++ clang-format python3)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    vesk_fail "installing the packages ${missing[*]}" \
        "run scripts/install-deps.sh as root (or install them with apt-get), then run the command again"
fi
echo "installing: ${missing[*]}"
advice="check that this machine reaches Debian's package servers and that no other apt or dpkg is running; then run the command again (or: apt-get install ${missing[*]})"
# wine32 comes from the i386 architecture (it installs also where it cannot run).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    vesk_step "adding the i386 package architecture" "$advice" dpkg --add-architecture i386
fi
vesk_step "updating the package lists (apt-get update)" "$advice" apt-get update
DEBIAN_FRONTEND=noninteractive vesk_step "installing the packages ${missing[*]}" "$advice" \
    apt-get install -y --no-install-recommends "${missing[@]}"
