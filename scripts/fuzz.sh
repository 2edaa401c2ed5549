#!/bin/sh
# Builds the libFuzzer targets with clang (preset `fuzz`, in build/fuzz) and runs each for
# SECONDS (default 30), as many at a time as there are cores, from a copy of its corpus in
# fuzz/corpus/<target>/. Fails when a target finds a crash, a leak, undefined behaviour or a
# broken invariant; the input that showed it is left in build/fuzz/runs/<target>/.
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-30}"

./scripts/install-deps.sh

targets=$(ls fuzz/corpus)
cmake --preset fuzz >/dev/null
# Only the fuzzers and what they link: the app, the tool and the views add nothing here.
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets

runs=build/fuzz/runs
rm -rf "$runs"
mkdir -p "$runs"
for target in $targets; do
    mkdir -p "$runs/$target/corpus"
    cp fuzz/corpus/"$target"/* "$runs/$target/corpus/"
done

# One target per line to xargs, which keeps a core busy with each.
status=0
echo "$targets" | xargs -P "$(nproc)" -I TARGET sh -c '
    dir='"$runs"'/TARGET
    if build/fuzz/fuzz/TARGET -max_total_time='"$seconds"' -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1; then
        echo "TARGET: $(grep -o "stat::number_of_executed_units: [0-9]*" "$dir/log" | grep -o "[0-9]*$") runs, no findings"
    else
        echo "TARGET: FOUND A PROBLEM (input and log in $dir)"
        tail -n 40 "$dir/log"
        exit 1
    fi
' || status=1
exit $status
