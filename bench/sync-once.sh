#!/usr/bin/env bash
# Builds the demo preset (a release build that can talk to the cloud emulator) and times a
# first `norvela sync --once` of many small files against curl; see bench/sync_once.py.
#   bench/sync-once.sh [--files N] [--reps N] [--only dropbox|gdrive]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
cmake --preset demo >/dev/null
cmake --build --preset demo --target norvela norvela-cloudsim >/dev/null
exec python3 "$root/bench/sync_once.py" --build "$root/build/demo" "$@"
