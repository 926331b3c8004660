#!/usr/bin/env bash
# Runs every test from a fresh clone: installs the Debian packages the tests need when they
# are missing, then builds and tests each configuration in turn:
#   native   the Linux program on our stand-in: unit, stand-in and end-to-end tests
#   asan     the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   win64    LiveryInstaller.exe for x86-64: its PE checks, unit and end-to-end tests under Wine
#   win32    the same for x86
#   fuzz     the libFuzzer target of the profile stand-in, for a bounded time
# Usage: scripts/test.sh [stage ...]   (default: all stages)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all || exit 1

jobs=$(nproc)
stages=("$@")
[[ ${#stages[@]} -gt 0 ]] || stages=(native asan win64 win32 fuzz)
fuzz_seconds=${FUZZ_SECONDS:-60}

stop_wine() {
  for prefix in build/win64/wineprefix build/win32/wineprefix; do
    [[ -d $prefix ]] && WINEPREFIX="$PWD/$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    [[ -d $prefix-nobody ]] && setpriv --reuid=65534 --regid=65534 --clear-groups \
      env WINEPREFIX="$PWD/$prefix-nobody" HOME="$PWD/$prefix-nobody" /usr/lib/wine/wineserver -k 2>/dev/null
  done
  return 0
}
trap stop_wine EXIT

build_and_test() {
  local preset=$1 test_jobs=${2:-$jobs}
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$test_jobs"
}

fuzz() {
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs" || return 1
  local corpus
  corpus=$(mktemp -d)
  cp fuzz/corpus/* "$corpus"/
  build/fuzz/fuzz/profile_fuzzer -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 \
    -print_final_stats=1 "$corpus" fuzz/corpus 2>&1 | tail -n 25
  local status=${PIPESTATUS[0]}
  rm -rf "$corpus"
  return "$status"
}

passed=0
failed=0
failures=()
for stage in "${stages[@]}"; do
  echo "=== $stage"
  case $stage in
    native | asan) build_and_test "$stage" ;;
    # The Windows tests share the build tree's Wine prefix (made on first use), so they run
    # one at a time; its wineserver is stopped when the run ends.
    win64 | win32) build_and_test "$stage" 1 ;;
    fuzz) fuzz ;;
    *) echo "unknown stage $stage"; false ;;
  esac
  if [[ $? -eq 0 ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$stage")
  fi
done
[[ $failed -eq 0 ]] || echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
