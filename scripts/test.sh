#!/usr/bin/env bash
# Installs what is missing, builds the Release preset and runs the whole test suite.
# With --sanitize it does the same with the ASan+UBSan preset.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

preset=default
[ "${1:-}" = "--sanitize" ] && preset=asan

cmake --preset "$preset"

# The Windows syntax check of src/ (scripts/windows-check.sh) runs beside the Release build;
# the sanitizer run compiles the same sources, so it is not repeated there.
check=
if [ "$preset" = default ]; then
  bash scripts/windows-check.sh build >build/windows-check.log 2>&1 &
  check=$!
  trap '[ -z "$check" ] || kill "$check" 2>/dev/null || true' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
fi

cmake --build --preset "$preset" -j "$(nproc)"
status=0
ctest --preset "$preset" -j "$(nproc)" || status=$?

if [ -n "$check" ]; then
  wait "$check" || status=1
  check=
  cat build/windows-check.log
fi
exit "$status"
