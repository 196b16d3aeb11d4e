#!/usr/bin/env bash
# Sets everything up, builds the client, the updater and the sandbox with the sandbox preset,
# and runs the whole test suite (unit, integration and end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset sandbox
cmake --build --preset sandbox -j2
ctest --preset sandbox "$@"
