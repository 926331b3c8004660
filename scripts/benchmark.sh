#!/usr/bin/env bash
# Times installs into aircraft files of 10 to 10,000 entries: the native program against cp,
# and the 64-bit .exe under Wine when the cross compiler and Wine are installed
# (scripts/install-deps.sh all). Prints the table and which targets are met.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build >&2
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench --target LiveryInstaller -j "$(nproc)" >/dev/null
args=(--program build/bench/LiveryInstaller)
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [[ -x /usr/lib/wine/wine64 ]]; then
  cmake -S . -B build/bench-win64 --toolchain cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/bench-win64 --target LiveryInstaller -j "$(nproc)" >/dev/null
  args+=(--exe build/bench-win64/LiveryInstaller.exe --wineprefix build/bench/wineprefix)
fi
exec python3 bench/run_benchmark.py "${args[@]}" "$@"
