#!/usr/bin/env bash
# Sets up a fresh machine and runs every test of the suite:
#   host  - the program logic against the in-memory Windows, with sanitizers
#   fuzz  - the touch service's packet pump under libFuzzer (clang), a
#           fixed number of inputs
#   win32 - the Windows 95/98/ME release, checked for what Windows 98 can load,
#           and a set of the end-to-end cases run against it under 32-bit Wine
#           in an emulated 32-bit PC (e2e/machine.sh; made once in
#           build/win32/machine), in Windows NT and Windows 98 mode
#   win64 - the real programs end to end under Wine
# Exits non-zero on any failure.
#   --release-all   every end-to-end case against the release, not the set
set -uo pipefail
cd "$(dirname "$0")/.."

release_all=OFF
[ "${1:-}" = "--release-all" ] && release_all=ON

bash scripts/install-deps.sh || exit 1

passed=0
failed=0
status=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_preset() {
  local preset=$1 started=$SECONDS
  shift
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" "$@" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "=== $preset: build FAILED"
    status=1
    failed=$((failed + 1))
    return
  fi
  echo "=== $preset: tests"
  ctest --preset "$preset" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local total fails
  total=$(grep -oE 'tests failed out of [0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
  fails=$(grep -oE '[0-9]+ tests failed' "$log" | grep -oE '^[0-9]+' || echo 0)
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  [ "$rc" -ne 0 ] && status=1
  echo "=== $preset: $((SECONDS - started)) s"
}

run_preset host
run_preset fuzz
run_preset win32 -DZAVIR_RELEASE_ALL_CASES=$release_all
# What the release's machine cost: e2e_up's output, which ctest keeps.
sed -n '/Testing: e2e_up$/,/^<end of output>/p' build/win32/Testing/Temporary/LastTest.log \
  2>/dev/null | grep -E '^(machine|template)'
run_preset win64

echo "=== pictures are what tools/make_art.py draws"
if ! python3 tools/make_art.py --check; then
  status=1
  failed=$((failed + 1))
fi

echo
echo "all presets: $passed passed, $failed failed"
exit $status
