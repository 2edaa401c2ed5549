#!/bin/sh
# Installs what Norvela needs, builds it and runs every test.
#   scripts/test.sh          development build
#   scripts/test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer build
set -eu
cd "$(dirname "$0")/.."
preset="${1:-dev}"

./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
