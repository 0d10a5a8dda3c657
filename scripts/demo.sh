#!/usr/bin/env bash
# Build and run the main job against the simulated card.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
echo "Built: $(ls build/default/bin | tr '\n' ' ')"
echo "No end-to-end path yet: the link core and the simulated card come next."
