#!/usr/bin/env bash
# Sets up the machine, builds and runs every test.
#   scripts/test.sh            the default (RelWithDebInfo) build
#   scripts/test.sh asan       address and undefined-behaviour sanitizers
#   scripts/test.sh tsan       thread sanitizer
# Further arguments go to ctest (for example -L engine, -LE crash).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
shift || true

./scripts/install-deps.sh

extra=()
# CI treats warnings as errors.
if [ "${CI:-}" = "true" ]; then extra+=(-DLAUNCHER_WARNINGS_AS_ERRORS=ON); fi

cmake --preset "$preset" "${extra[@]}" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" "$@"
