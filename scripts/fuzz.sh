#!/usr/bin/env bash
# Runs one fuzzer for hours, from its committed corpus and a work folder that
# keeps what it learns from one run to the next.
#
#   scripts/fuzz.sh NAME HOURS      e.g. scripts/fuzz.sh handshake 4
#
# NAME is a harness in fuzz/ (fuzz_NAME in build-fuzz/fuzz). New inputs go to
# build-fuzz/corpus/NAME; at the end those that add coverage are merged there
# from a fresh pass, so the folder stays small. Crashes land next to it as
# build-fuzz/crashes/NAME/crash-*; copy one into fuzz/corpus/NAME once fixed.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$ORVANE_ROOT"

[ $# -eq 2 ] || die "usage: scripts/fuzz.sh NAME HOURS"
name="$1"
hours="$2"
[[ "$hours" =~ ^[0-9]+([.][0-9]+)?$ ]] || die "HOURS is a number, such as 2 or 0.5"
[ -d "fuzz/corpus/$name" ] || die "no harness named $name (see fuzz/corpus/)"
seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')

ensure_packages "${ORVANE_BUILD_PACKAGES[@]}" clang libclang-rt-14-dev
harness="build-fuzz/fuzz/fuzz_$name"
# Always through the build tool: a harness older than its sources is rebuilt.
say "building build-fuzz (clang, libFuzzer)"
configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DORVANE_FUZZING=ON
[ -x "$harness" ] || die "build-fuzz has no fuzz_$name"

work="build-fuzz/corpus/$name"
crashes="build-fuzz/crashes/$name"
mkdir -p "$work" "$crashes"
dict=()
[ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
options=()
[ -f "fuzz/$name.options" ] && read -ra options <"fuzz/$name.options"

say "fuzzing $name for $hours h; corpus $work, crashes go to $crashes/"
status=0
"$harness" "${dict[@]}" "${options[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" "$work" \
    "fuzz/corpus/$name" || status=$?

# Keep only the inputs that add coverage.
merged="$(mktemp -d)"
if "$harness" "${options[@]}" -merge=1 "$merged" "$work" >"$crashes/merge.log" 2>&1; then
    rm -rf "$work"
    mv "$merged" "$work"
else
    rm -rf "$merged"
fi
say "$(find "$work" -type f | wc -l) inputs in $work"
if [ "$status" -ne 0 ]; then
    say "fuzz_$name failed; its input: $(ls -t "$crashes"/crash-* "$crashes"/leak-* \
        "$crashes"/timeout-* "$crashes"/oom-* 2>/dev/null | head -n 1)"
fi
exit "$status"
