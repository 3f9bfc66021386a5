#!/usr/bin/env bash
# The house habits, checked: every C++ file as .clang-format lays it out, no
# file in src/ or tools/ over 400 lines, and no function there over 60.
# Prints each offence and exits non-zero when there is one.
#
#   scripts/check-style.sh [--fix]    --fix rewrites the files clang-format would change
set -uo pipefail
cd "$(dirname "$0")/.."

fix=0
[ "${1:-}" = --fix ] && fix=1
status=0
mapfile -t files < <(git ls-files '*.cpp' '*.h')

unformatted=()
for file in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
    if [ "$fix" = 1 ]; then
        clang-format -i "${unformatted[@]}"
        printf 'check-style: formatted %s\n' "${unformatted[@]}"
    else
        printf 'check-style: not formatted as .clang-format says: %s\n' "${unformatted[@]}"
        echo "check-style: scripts/check-style.sh --fix formats them"
        status=1
    fi
fi

for file in $(git ls-files 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h'); do
    lines=$(wc -l <"$file")
    if [ "$lines" -gt 400 ]; then
        echo "check-style: $file has $lines lines (at most 400)"
        status=1
    fi
done

# A function body opens with "{" alone at the start of a line and closes
# with "}" alone at the start of a line, as .clang-format writes them.
for file in $(git ls-files 'src/*.cpp' 'tools/*.cpp'); do
    awk -v file="$file" '
        /^\{$/ { start = NR; next }
        /^\}/ && start { if (NR - start - 1 > 60) printf "check-style: %s:%d: a function of %d lines (at most 60)\n", file, start, NR - start - 1; start = 0 }
    ' "$file"
done | tee /dev/stderr | grep -q . && status=1

exit $status
