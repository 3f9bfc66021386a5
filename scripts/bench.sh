#!/usr/bin/env bash
# Runs every benchmark and load figure of bench/README.md and rewrites the
# table's "last result" column with what this machine measured.
#
#   scripts/bench.sh [ID...]     only the rows named, e.g. reconnect-p50
#
# Needs a build (./test.sh or ./run.sh make one) and starts the services the
# benchmarks need itself. Each program's whole output is kept under
# build/bench-results/. The one-hour soak and the million hostile frames run
# only when asked by name (soak-hour, hostile-million).
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/services.sh

readme=bench/README.md
out=build/bench-results
mkdir -p "$out"
machine="$(nproc) cores, $(uname -m), $(date +%Y-%m-%d)"
wanted=("$@")

# The programs, each run once however many rows it feeds.
declare -A commands=(
    [core]="build/bench/orvane_bench --benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true"
    [reconnect]="build/bench/orvane_reconnect_bench --count 5000"
    [input]="build/bench/orvane_input_bench --count 2000"
    [info]="build/bench/orvane_info_bench"
    [attack]="build/bench/orvane_attack_bench"
    [capture]="build/bench/orvane_capture_bench"
    [screen]="build/bench/orvane_screen_bench"
    [pipewire]="build/bench/orvane_pipewire_bench"
    [pipewire-screen]="build/bench/orvane_pipewire_screen_bench"
    [typing]="build/bench/orvane_wayland_typing_bench"
    [relay]="build/bench/orvane_relay_bench"
    [flood]="build/orvane-loadgen --seconds 30 --flood 1000 --phones 0 --viewers 0 --no-storm"
    [mixed]="build/orvane-loadgen --seconds 60"
    [hostile]="scripts/hostile-frames.sh"
    [soak]="build/orvane-loadgen --seconds 3600 --flood 0 --viewers 0 --no-storm --phones 32 --commands 10000 --spread --max-drift-percent 5 --max-lost 0"
)

# ID  PROGRAM  PATTERN: the row's result is the first match of PATTERN
# (grep -oE) in the program's output.
rows=(
    "seal-150k core seal \\+ frame 150 KB vs raw OpenSSL +[0-9.]+x"
    "decode-run core decode a run message \\(ns\\) +[0-9.]+ns"
    "reconnect-p50 reconnect reconnect p50 [0-9.]+ ms"
    "reconnect-rate reconnect reconnects per second [0-9]+"
    "input-key input keyShortcut run -> result +p50 +[0-9.]+ us"
    "info-stats info stats request.*median +[0-9]+ us"
    "info-request info info request +median +[0-9]+ us"
    "attack-icons attack icons and thumbnails, phone not reading +[0-9]+ +[0-9]+ +[-+][0-9]+"
    "attack-frames attack 8 phones holding 64 MB frames +[0-9]+ +[0-9]+ +[-+][0-9]+"
    "attack-file attack a 60 MiB file \\(peak\\) +[0-9]+ +[0-9]+ +[-+][0-9]+"
    "attack-worst-name attack the worst name: longest loop stall [^,]+, baseline [0-9]+ ms"
    "attack-json attack a 40 MB JSON document of \\{\\},.*(met|MISSED)\\)"
    "attack-after-large attack a 4 MB message, 10 s later.*(met|MISSED)\\)"
    "attack-stalled-frames attack unfinished frames: .*(met|MISSED)\\)"
    "capture-cost capture 3200x2000 -> 1600x1000 .*ratio [0-9.]+x"
    "capture-ffmpeg capture [0-9.]+x fewer"
    "capture-15fps capture a patch changing every frame .*of a core"
    "capture-15fps-band capture every band changing every frame .*of a core"
    "capture-15fps-all capture every pixel changing every frame .*of a core"
    "capture-static capture static screen, 1600 px at 15 fps .*of a core"
    "capture-preview capture 720 px preview at 3 fps, a patch changing .*of a core"
    "pipewire-cost pipewire pipewire 3200x2000 -> 1600 px .*ratio [0-9.]+x"
    "pipewire-latency pipewire-screen glass to phone at 30 fps, .*interval [0-9.]+ ms"
    "pipewire-static pipewire-screen still screen, 1600 px at 15 fps: .*of a core"
    "wayland-typing-keys typing wayland typing 1000 characters through keys: [0-9]+ characters/s"
    "wayland-typing-paste typing wayland typing 1000 characters through clipboard: [0-9]+ characters/s \\(keys [0-9]+/s\\)"
    "screen-latency screen glass to phone.*p50 [0-9.]+ ms"
    "relay-rtt relay added at p50 [0-9.]+ ms"
    "relay-throughput relay direct TCP [0-9]+ MB/s, through orvane-relay [0-9]+ MB/s: [0-9]+%.*relay carries [0-9]+%"
    "relay-rooms relay relay RSS: .* idle rooms"
    "relay-ping-flood relay relay ping flood: .*member (closed|NOT closed): (met|MISSED)"
    "flood-1000 flood done: .*"
    "mixed-minute mixed done: .*"
    "soak-hour soak done: .*"
    "hostile-million hostile done: .*RSS[^(]*\\(growth [0-9.]+ MB"
)

wants() {
    [ ${#wanted[@]} -eq 0 ] && [ "$1" != soak-hour ] && [ "$1" != hostile-million ] && return 0
    local w
    for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
    return 1
}

# set_result ID TEXT: the fifth cell of the row whose first cell is `ID`.
set_result() {
    local text="${2//|/\\|}"
    awk -v id="\`$1\`" -v text="$text" 'BEGIN { FS = OFS = "|" }
        $2 ~ "^ *" id " *$" { $6 = " " text " " } { print }' "$readme" >"$readme.new" &&
        mv "$readme.new" "$readme"
}

start_test_services >/dev/null
trap stop_test_services EXIT
declare -A ran=()
for row in "${rows[@]}"; do
    read -r id program pattern <<<"$row"
    wants "$id" || continue
    binary="${commands[$program]%% *}"
    if [ ! -x "$binary" ]; then
        say "bench $id: $binary is not built"
        continue
    fi
    if [ -z "${ran[$program]:-}" ]; then
        say "bench: running $program"
        ${commands[$program]} >"$out/$program.txt" 2>&1
        ran[$program]=1
    fi
    result="$(grep -oE -m1 -- "$pattern" "$out/$program.txt" | head -n1 | sed -E 's/ +/ /g')"
    [ -n "$result" ] || result="no figure (see $out/$program.txt)"
    say "bench $id: $result"
    set_result "$id" "$result ($machine)"
done
