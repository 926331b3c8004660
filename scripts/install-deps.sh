#!/usr/bin/env bash
# Installs the Debian packages a task needs, when they are missing. Usage:
#   scripts/install-deps.sh build      compiler, CMake, GoogleTest, Python
#   scripts/install-deps.sh all        and the MinGW-w64 cross compilers, Wine (32- and 64-bit),
#                                      icoutils, clang with its sanitizer and fuzzer runtimes
set -euo pipefail

packages=(cmake g++ make libgtest-dev googletest python3)
if [[ "${1:-build}" == all ]]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
             wine wine64 wine32:i386 icoutils clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
