#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the unit
# tests, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# the fuzzers from their seed corpora, and a short benchmark pass.
#
#   ORVANE_FUZZ_SECONDS=N   seconds per fuzzer (default 30)
#   ORVANE_SKIP_BENCH=1     leave the benchmarks out
#   ORVANE_TEST_PACKAGE=1   also build the .deb afresh and install it in a fresh Debian root
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"
source "$(dirname "$0")/scripts/services.sh"
cd "$ORVANE_ROOT"

fuzz_seconds="${ORVANE_FUZZ_SECONDS:-30}"
passed=0
failed=0

ensure_packages "${ORVANE_BUILD_PACKAGES[@]}" "${ORVANE_TEST_PACKAGES[@]}"
# A library that is on this machine but in no list would break the build on
# a fresh one; stop before building on it.
say "checking that the package lists cover every library the build uses"
scripts/check-packages.sh

# run_ctest LABEL DIR: runs one build's tests and adds up the results.
run_ctest() {
    local label="$1" dir="$2" log
    log="$dir/ctest.log"
    say "running $label tests"
    # The tests on each headless Wayland desktop share that desktop: they run
    # one after another, after the rest, and one that fails is run once more,
    # as windows and input of the test before may still be on their way out.
    local desktops='^(gnome|kwin|sway)$'
    {
        ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 -LE "$desktops"
        ctest --test-dir "$dir" --output-on-failure --timeout 300 -L "$desktops" --repeat until-pass:2
    } >"$log" 2>&1 || true
    grep -E '^[0-9]+% tests passed|^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|Not Run|SEGFAULT|Exception|Subprocess aborted)' "$log" || true
    local total fails
    # Both runs' summaries, added up.
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | awk '{ n += $1 } END { if (NR) print n }')
    fails=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | awk '{ n += $1 } END { if (NR) print n }')
    if [ -z "$total" ]; then
        cat "$log"
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + total - fails))
    failed=$((failed + fails))
    if [ "$fails" -gt 0 ]; then
        grep -E -A12 '(: Failure$|ERROR: AddressSanitizer|runtime error:)' "$log" | head -n 120 || true
        say "full $label test output: $log"
    fi
}

mkdir -p build build-asan build-fuzz

say "checking the house style (clang-format, file and function lengths)"
if scripts/check-style.sh; then
    passed=$((passed + 1))
else
    say "style: FAILED (scripts/check-style.sh --fix formats the files)"
    failed=$((failed + 1))
fi

say "building (g++)"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

# Xvfb, a private session and system bus, and avahi-daemon on loopback.
start_test_services
trap stop_test_services EXIT

run_ctest "unit and integration" build

say "checking the Debian package made from build/ (scripts/package.sh --check)"
if scripts/package.sh --check build; then
    passed=$((passed + 1))
else
    say "package check: FAILED (the .deb, cpack.log and lintian.log are in build/package/)"
    failed=$((failed + 1))
fi

say "building with AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DORVANE_SANITIZE=ON -DORVANE_BUILD_BENCH=OFF
# Fresh desktops: windows, dialogs and input of the first pass's desktop
# sessions must not reach the second pass's windows.
_orvane_stop_sway; _orvane_stop_kwin; _orvane_stop_gnome
_orvane_start_gnome; _orvane_start_kwin; _orvane_start_sway
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_ctest "sanitizer" build-asan

say "building the fuzzers (clang, libFuzzer)"
configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DORVANE_FUZZING=ON
# fuzz_one HARNESS: one fuzzer for $fuzz_seconds from its seed corpus; its
# verdict goes to build-fuzz/NAME.result, its output to build-fuzz/NAME.log.
fuzz_one() {
    local harness="$1" name work log dict=() options=() runs
    name="$(basename "$harness")"
    work="$(mktemp -d)"
    cp -r "fuzz/corpus/${name#fuzz_}/." "$work/"
    log="build-fuzz/$name.log"
    [ -f "fuzz/${name#fuzz_}.dict" ] && dict=(-dict="fuzz/${name#fuzz_}.dict")
    # A fuzzer's own libFuzzer flags, one line (e.g. a larger -max_len).
    [ -f "fuzz/${name#fuzz_}.options" ] && read -ra options <"fuzz/${name#fuzz_}.options"
    if "$harness" "${dict[@]}" "${options[@]}" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/$name-" "$work" \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "passed ${runs:-?}" >"build-fuzz/$name.result"
    else
        echo failed >"build-fuzz/$name.result"
    fi
    rm -rf "$work"
}
# One fuzzer per core at a time: each still runs its full time, and the
# whole pass takes a fraction of the wall-clock time. xargs runs them, not
# this shell: its own background jobs are the test services, which never end.
rm -f build-fuzz/*.result
export -f fuzz_one
export fuzz_seconds
printf '%s\n' build-fuzz/fuzz/fuzz_* | xargs -P "$(nproc)" -I{} bash -c 'fuzz_one "$1"' _ {} || true
for harness in build-fuzz/fuzz/fuzz_*; do
    name="$(basename "$harness")"
    read -r verdict runs <"build-fuzz/$name.result" || verdict=failed
    if [ "$verdict" = passed ]; then
        say "fuzz $name: $runs executions in ${fuzz_seconds}s, no failures"
        passed=$((passed + 1))
    else
        tail -n 40 "build-fuzz/$name.log"
        say "fuzz $name: FAILED (crash input kept as build-fuzz/$name-*)"
        failed=$((failed + 1))
    fi
done

if [ "${ORVANE_SKIP_BENCH:-0}" != 1 ] && [ -x build/bench/orvane_bench ]; then
    say "benchmarks (short run; build/bench/orvane_bench for full figures)"
    build/bench/orvane_bench --benchmark_min_time=0.1 --benchmark_repetitions=5 \
        --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true --benchmark_color=false 2>/dev/null || true
    timeout 120 build/bench/orvane_reconnect_bench --count 1000 2>/dev/null || true
    timeout 120 build/bench/orvane_input_bench --count 1000 2>/dev/null || true
    timeout 120 build/bench/orvane_info_bench 2>/dev/null || true
fi

if [ "${ORVANE_TEST_PACKAGE:-0}" = 1 ]; then
    say "package test (scripts/package.sh)"
    if scripts/package.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

printf '\nsummary: %d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]
