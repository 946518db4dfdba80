#!/usr/bin/env bash
# test.sh [SUITE...]: sets the machine up, builds, and runs every test suite:
#   linux       native unit tests
#   linux-asan  the same under AddressSanitizer and UBSan
#   mingw       the Windows build's unit tests and GUI tests, under Wine and a
#               private Xvfb (screenshots in build/mingw/artifacts)
# With SUITE names, only those. Ends with one line of totals over all suites
# and a non-zero status when anything failed.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(linux linux-asan mingw)
for s in "${suites[@]}"; do
  case "$s" in linux|linux-asan|mingw) ;; *) echo "test.sh: unknown suite '$s'" >&2; exit 2 ;; esac
done

scripts/setup.sh || exit 1

failed_suites=()
total_passed=0
total_failed=0
total_skipped=0

# Adds the GoogleTest results of one suite (its XML reports) to the totals;
# a test program that failed without a report (a crash) counts as one failure.
count_results() {
  local dir=$1 ctest_failed=$2 counts
  counts=$(cat "$dir"/*.xml 2>/dev/null | awk '
    /<testsuite / {
      for (i = 1; i <= NF; i++) {
        if (split($i, kv, "=") == 2) { gsub(/"/, "", kv[2]); v[kv[1]] += kv[2] }
      }
    }
    END { printf "%d %d %d\n", v["tests"] - v["failures"] - v["errors"] - v["disabled"] - v["skipped"],
                                v["failures"] + v["errors"], v["skipped"] }')
  read -r p f k <<<"${counts:-0 0 0}"
  [ "$f" -ge "$ctest_failed" ] || f=$ctest_failed
  total_passed=$((total_passed + p)); total_failed=$((total_failed + f)); total_skipped=$((total_skipped + k))
}

run_suite() {
  local preset=$1 build="build/$1" reports log status
  echo "== $preset: configure and build"
  if [ "$preset" = mingw ]; then
    scripts/build-mingw-deps.sh || { failed_suites+=("$preset"); total_failed=$((total_failed + 1)); return; }
  fi
  mkdir -p "$build"
  if ! cmake --preset "$preset" >"$build/configure.log" 2>&1; then
    tail -n 40 "$build/configure.log"
    echo "== $preset: CONFIGURE FAILED (see $build/configure.log)"
    failed_suites+=("$preset"); total_failed=$((total_failed + 1)); return
  fi
  if ! cmake --build --preset "$preset" >"$build/build.log" 2>&1; then
    grep -E 'error|FAILED' "$build/build.log" | head -n 40
    echo "== $preset: BUILD FAILED (see $build/build.log)"
    failed_suites+=("$preset"); total_failed=$((total_failed + 1)); return
  fi

  echo "== $preset: tests"
  reports="$repo/$build/gtest-reports"
  rm -rf "$reports"; mkdir -p "$reports"
  log="$build/ctest.log"
  if [ "$preset" = mingw ]; then
    . scripts/wine-env.sh "$build/wine-prefix"
    GTEST_OUTPUT="xml:$(qvt_winpath "$reports")\\" \
      scripts/with-xvfb.sh --wine-prefix "$build/wine-prefix" ctest --preset "$preset" 2>&1 | tee "$log"
  else
    GTEST_OUTPUT="xml:$reports/" ctest --preset "$preset" 2>&1 | tee "$log"
  fi
  status=${PIPESTATUS[0]}
  local ctest_failed
  ctest_failed=$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  [ "$status" -eq 0 ] || [ "${ctest_failed:-0}" -gt 0 ] || ctest_failed=1
  count_results "$reports" "${ctest_failed:-0}"
  [ "$status" -eq 0 ] || failed_suites+=("$preset")
}

for s in "${suites[@]}"; do run_suite "$s"; done

if [ -f build/mingw/artifacts/main-window.png ] && [[ " ${suites[*]} " == *" mingw "* ]]; then
  echo "Screenshots of the GUI tests: $repo/build/mingw/artifacts/"
fi
if [ ${#failed_suites[@]} -gt 0 ]; then echo "Failed suites: ${failed_suites[*]}"; fi
echo "total: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ ${#failed_suites[@]} -eq 0 ]
