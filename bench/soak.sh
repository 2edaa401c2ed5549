#!/bin/sh
# Soak run (see bench/soak.py): bench/soak.sh [--minutes N] [--seed S] [--failing 0.33]
# Builds the demo preset (release, with the emulator switch) and runs everything under
# build/soak-home; your own settings and credentials are not touched.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset demo >/dev/null
cmake --build --preset demo --target norvela norvela-cloudsim
exec python3 bench/soak.py "$@"
