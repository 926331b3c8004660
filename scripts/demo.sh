#!/usr/bin/env bash
# The installer's main job on the bundled example: builds the native program, installs the
# Sunset livery into a scratch copy of the Skyhawk Trainer, and shows the exit status and
# what changed in aircraft.cfg.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build >&2

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo --target LiveryInstaller -j "$(nproc)" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r examples/skyhawk-trainer "$scratch/Skyhawk Trainer"
livery="$scratch/Skyhawk Trainer/sunset-livery"
cp build/demo/LiveryInstaller "$livery/Install Sunset Livery"

echo "Installing $livery/livery.ini into $scratch/Skyhawk Trainer/aircraft.cfg"
status=0
(cd / && "$livery/Install Sunset Livery") || status=$?
echo "Exit status: $status"
echo
echo "What changed in aircraft.cfg:"
diff -u --label "aircraft.cfg (before)" --label "aircraft.cfg (after)" \
  examples/skyhawk-trainer/aircraft.cfg "$scratch/Skyhawk Trainer/aircraft.cfg" | tr -d '\r' || true
exit "$status"
