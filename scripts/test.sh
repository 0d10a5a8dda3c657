#!/usr/bin/env bash
# Build with the sanitizer preset and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${ZIMO_PRESET:-asan}
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
