#!/usr/bin/env bash
# Builds the demo client and runs it against an embedded database in a
# temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vem_demo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/release/examples/vem_demo "$work"
