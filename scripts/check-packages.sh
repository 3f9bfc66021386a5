#!/usr/bin/env bash
# Fails when the build asks for a library that no package in the package
# lists provides: a fresh machine installs only what the lists name, so such
# a library is found on a developer's machine and missing everywhere else.
#
#   scripts/check-packages.sh [LISTS]
#
# LISTS is a bash file that sets ORVANE_BUILD_PACKAGES and
# ORVANE_TEST_PACKAGES (default: scripts/common.sh). ORVANE_CHECK_VERBOSE=1
# prints the package found for each library.
#
# Every pkg-config module that a CMakeLists.txt or *.cmake file asks for is
# traced to its .pc file (pkg-config --path) and from there to its package
# (dpkg -S); every find_package to its CMake package file, or for CMake's own
# find modules to the pkg-config module of the same name. A package counts as
# listed when a list names it or a listed package depends on it directly.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lists="${1:-$root/scripts/common.sh}"
ORVANE_BUILD_PACKAGES=()
ORVANE_TEST_PACKAGES=()
# shellcheck source=common.sh
source "$lists"

problems=()
complain() { problems+=("$*"); }

declare -A listed=()
for pkg in "${ORVANE_BUILD_PACKAGES[@]}" "${ORVANE_TEST_PACKAGES[@]}"; do
    listed[$pkg]=1
done
# Direct dependencies of the listed packages arrive with them.
while read -r dep; do
    [ -n "$dep" ] && listed[$dep]=1
done < <(dpkg-query -W -f='${Depends}, ${Pre-Depends}\n' "${!listed[@]}" 2>/dev/null \
    | tr ',|' '\n\n' | sed -e 's/([^)]*)//g' -e 's/:[a-z0-9]*//' -e 's/^ *//' -e 's/ *$//')

# Files to trace to their packages, each with what asked for it; resolved
# together at the end, since one dpkg -S call costs as much as many.
traced_what=()
traced_file=()
check_owner() {
    traced_what+=("$1 ($2)")
    traced_file+=("$3")
}

# The same file under the names dpkg may know it by: merged /usr, symlinks.
aliases_of() {
    local file="$1"
    printf '%s\n' "$file"
    readlink -f "$file" 2>/dev/null || true
    case "$file" in /usr/*) printf '%s\n' "${file#/usr}" ;; *) printf '%s\n' "/usr$file" ;; esac
}

check_owners() {
    local -A owner=()
    local paths=() line i alias owners pkg ok
    for i in "${!traced_file[@]}"; do
        mapfile -t -O "${#paths[@]}" paths < <(aliases_of "${traced_file[$i]}")
    done
    [ ${#paths[@]} -gt 0 ] || return 0
    while IFS= read -r line; do
        [[ "$line" == *': /'* ]] || continue
        owner["/${line#*: /}"]="$(printf '%s' "${line%%: /*}" | tr -s ', ' '  ' | sed 's/:[a-z0-9_]*//g')"
    done < <(dpkg -S "${paths[@]}" 2>/dev/null || true)
    for i in "${!traced_file[@]}"; do
        owners=""
        while read -r alias; do
            [ -n "$owners" ] || owners="${owner[$alias]:-}"
        done < <(aliases_of "${traced_file[$i]}")
        if [ -z "$owners" ]; then
            complain "${traced_what[$i]} comes from ${traced_file[$i]}, which no Debian package installed"
            continue
        fi
        [ -z "${ORVANE_CHECK_VERBOSE:-}" ] || printf '  %s: %s\n' "${traced_what[$i]}" "$owners"
        ok=0
        for pkg in $owners; do
            [ -n "${listed[$pkg]:-}" ] && ok=1
        done
        [ $ok = 1 ] || complain "${traced_what[$i]} comes from package '${owners}', which is in" \
            "neither ORVANE_BUILD_PACKAGES nor ORVANE_TEST_PACKAGES ($lists)"
    done
}

# Each module and package is traced once, whichever file asks for it again.
declare -A traced=()

check_module() {
    local module="$1" source="$2" pc
    [ -z "${traced[pc:$module]:-}" ] || return 0
    traced[pc:$module]=1
    if ! pc="$(pkg-config --path "$module" 2>/dev/null)" || [ -z "$pc" ]; then
        complain "pkg-config module '$module' ($source) is not installed: no listed package provides it"
        return
    fi
    check_owner "pkg-config module '$module'" "$source" "$pc"
}

multiarch="$(gcc -dumpmachine 2>/dev/null || dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || true)"
cmake_dirs=("/usr/lib/$multiarch/cmake" /usr/lib/cmake /usr/share/cmake /usr/local/lib/cmake)

config_file_of() {
    local name="$1" lower dir
    lower="$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')"
    for dir in "${cmake_dirs[@]}"; do
        for f in "$dir/$name/${name}Config.cmake" "$dir/$name/$lower-config.cmake" \
            "$dir/$lower/${name}Config.cmake" "$dir/$lower/$lower-config.cmake"; do
            [ -f "$f" ] && { printf '%s\n' "$f"; return 0; }
        done
    done
    return 0
}

check_package() {
    local name="$1" source="$2" config
    [ "$name" = PkgConfig ] && return 0 # the tool this check itself runs
    [ -z "${traced[cmake:$name]:-}" ] || return 0
    traced[cmake:$name]=1
    config="$(config_file_of "$name")"
    if [ -n "$config" ]; then
        check_owner "find_package($name)" "$source" "$config"
    elif pkg-config --exists "${name,,}" 2>/dev/null; then
        # A find module of CMake's own (FindOpenSSL): the library's .pc file.
        check_module "${name,,}" "$source"
    else
        complain "find_package($name) ($source): no CMake package file or pkg-config module" \
            "found, so no listed package provides it"
    fi
}

# The calls of one CMake file, one per line, with comments removed.
calls_in() {
    sed 's/#.*//' "$1" | tr '\n' ' ' \
        | grep -oE '(pkg_check_modules|pkg_search_module|find_package) *\([^)]*\)' || true
}

keywords=" REQUIRED QUIET IMPORTED_TARGET GLOBAL NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH \
CONFIG MODULE NO_MODULE EXACT COMPONENTS OPTIONAL_COMPONENTS "

cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t cmake_files < <(git ls-files -- 'CMakeLists.txt' '*/CMakeLists.txt' '*.cmake')
else
    mapfile -t cmake_files < <(find . -path './build*' -prune -o \
        \( -name CMakeLists.txt -o -name '*.cmake' \) -print | sed 's|^\./||')
fi

for file in "${cmake_files[@]}"; do
    [ -f "$file" ] || continue
    while read -r call; do
        [ -n "$call" ] || continue
        command="${call%%(*}"
        command="${command// /}"
        read -r -a words <<<"$(printf '%s' "${call#*(}" | tr -d ')')"
        [ ${#words[@]} -gt 0 ] || continue
        if [ "$command" = find_package ]; then
            name="${words[0]}"
            components=()
            in_components=0
            for w in "${words[@]:1}"; do
                case "$w" in
                COMPONENTS | OPTIONAL_COMPONENTS) in_components=1 ;;
                *) [[ "$keywords" == *" $w "* || "$w" =~ ^[0-9.]+$ ]] && in_components=0 && continue
                   [ $in_components = 1 ] && components+=("$w") ;;
                esac
            done
            # Qt's components are packages of their own (Qt6Svg, Qt6DBus).
            if [[ "$name" =~ ^Qt[0-9]$ && ${#components[@]} -gt 0 ]]; then
                for c in "${components[@]}"; do check_package "$name$c" "$file"; done
            else
                check_package "$name" "$file"
            fi
        else
            for w in "${words[@]:1}"; do
                [[ "$keywords" == *" $w "* || "$w" == *'$'* ]] && continue
                check_module "${w%%[<>=]*}" "$file"
            done
        fi
    done < <(calls_in "$file")
done

check_owners

if [ ${#problems[@]} -gt 0 ]; then
    printf 'orvane: error: the build needs packages that the package lists do not name:\n' >&2
    printf '  %s\n' "${problems[@]}" >&2
    exit 1
fi
printf 'orvane: every library the build asks for comes from a listed package\n'
