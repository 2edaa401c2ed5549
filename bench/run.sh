#!/usr/bin/env bash
# Builds the release preset and runs the hash benchmark, or with "upload" first the upload one.
#   bench/run.sh                      # makes a 1 GiB temp file, removes it afterwards
#   bench/run.sh /path/to/big/file    # reuses that file and leaves it alone
#   bench/run.sh --reps 9             # more repetitions (default 5)
#   bench/run.sh upload [--reps N] [--dir DIR]   # uploads to the cloud emulator against curl
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
cmake --preset release >/dev/null
if [[ "${1:-}" == upload ]]; then
    shift
    cmake --build --preset release --target bench_upload
    exec "$root/build/release/bench/upload/bench_upload" "$@"
fi
cmake --build --preset release --target bench_hash
exec "$root/build/release/bench/hash/bench_hash" "$@"
