#!/bin/sh
# Installs what Norvela needs, builds it and runs it. With a display the tray app runs in
# the foreground; without one it runs offscreen, prints its state dump and stops.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target Norvela norvela
app=build/release/src/app/Norvela

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$app"
fi

dump="${XDG_DATA_HOME:-$HOME/.local/share}/Norvela/state-dump.txt"
rm -f "$dump"
echo "No display: running Norvela offscreen; its state dump follows in about 8 seconds."
NORVELA_DUMP_STATE=1 QT_QPA_PLATFORM=offscreen "$app" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT INT TERM
i=0
while [ ! -s "$dump" ] && [ $i -lt 300 ] && kill -0 $pid 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
done
if [ ! -s "$dump" ]; then
    echo "Norvela did not write its state dump ($dump)" >&2
    exit 1
fi
echo "--- $dump"
cat "$dump"
echo
