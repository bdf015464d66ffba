#!/usr/bin/env bash
# Installs what is missing, builds the Release preset and runs the whole test suite.
# With --sanitize it does the same with the ASan+UBSan preset.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

preset=default
[ "${1:-}" = "--sanitize" ] && preset=asan

cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
