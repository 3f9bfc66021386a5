#!/usr/bin/env bash
# Malformed frames by the million, over TCP and through relay rooms: first
# against the server built with AddressSanitizer and UndefinedBehaviorSanitizer
# (no crash, no leak), then against the normal build, whose memory must come
# back within 5 MB of where it started. Too long for ./test.sh; run on demand.
#
#   scripts/hostile-frames.sh [COUNT]     frames per transport (default 1000000)
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/services.sh"
cd "$ORVANE_ROOT"
count="${1:-1000000}"

ensure_packages "${ORVANE_BUILD_PACKAGES[@]}" "${ORVANE_TEST_PACKAGES[@]}"
say "building (g++)"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
say "building with AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DORVANE_SANITIZE=ON -DORVANE_BUILD_BENCH=OFF
start_test_services
trap stop_test_services EXIT

hostile=(--hostile "$count" --relay-rooms 2 --flood 0 --phones 0 --viewers 0 --no-storm
    --seconds 1000000)
say "$count hostile frames per transport, sanitized server"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/orvane-loadgen --server build-asan/orvane --relay build-asan/orvane-relay "${hostile[@]}"
say "$count hostile frames per transport, normal build"
build/orvane-loadgen "${hostile[@]}" --max-rss-end-mb 5
