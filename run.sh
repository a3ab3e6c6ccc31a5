#!/usr/bin/env bash
# Installs what Vozaro needs, builds it in Release and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh run
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVOZARO_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target vozaro
exec build/release/src/vozaro "$@"
