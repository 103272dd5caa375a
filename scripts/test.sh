#!/usr/bin/env bash
# Builds everything (release preset) and runs every test.
# Usage: scripts/test.sh [preset]   (release, debug or sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
