#!/usr/bin/env bash
# Configures (once) and builds one preset: dev unless another is named.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
if [[ ! -f build/$preset/CMakeCache.txt ]]; then
    cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset" -- -j"$(nproc)"
