#!/bin/sh
# Installs what Norvela needs, builds it and runs every test.
#   scripts/test.sh          under AddressSanitizer + UndefinedBehaviorSanitizer: a fault the
#                            tests only brush against still fails them
#   scripts/test.sh dev      the plain development build, quicker to build and run
set -eu
cd "$(dirname "$0")/.."
preset="${1:-asan}"

./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
