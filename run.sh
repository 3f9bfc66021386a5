#!/usr/bin/env bash
# Installs what is missing, builds Orvane and starts it. Arguments are passed
# on to the program.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"
cd "$ORVANE_ROOT"

ensure_packages "${ORVANE_BUILD_PACKAGES[@]}"
mkdir -p build
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_TESTS=OFF

if [ -x build/orvane ]; then
    exec build/orvane "$@"
fi
say "built the wire protocol core (build/src/protocol/liborvane_protocol.a)."
say "there is no server to start yet: it arrives with the next step of the work."
