#!/bin/sh
# Installs what Norvela needs, builds it and shows its main job on a local stand-in cloud:
# starts the cloud emulator, links one Dropbox and one Google Drive account against it
# (this script plays the browser), fills a sample folder for each and runs Norvela on
# them: the tray app where a display exists, `norvela sync --once` otherwise. It ends with
# what the emulator holds per account.
#
# Everything it writes lives under build/demo-home (wiped at each run); your own settings
# and credentials are not touched.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/install-deps.sh
cmake --preset demo >/dev/null
cmake --build --preset demo --target Norvela norvela norvela-cloudsim
bin=$root/build/demo
cli=$bin/src/cli/norvela
app=$bin/src/app/Norvela
sim=$bin/tools/cloudsim/norvela-cloudsim

home=$root/build/demo-home
rm -rf "$home"
mkdir -p "$home/config" "$home/data" "$home/support"
export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" NORVELA_APP_SUPPORT_DIR="$home/support"

port=${NORVELA_DEMO_PORT:-47650}
base=http://127.0.0.1:$port
export NORVELA_SANDBOX_URL=$base

"$sim" --port "$port" >"$home/cloudsim.log" 2>&1 &
simpid=$!
trap 'kill $simpid 2>/dev/null || true' EXIT INT TERM
i=0
until curl -sf "$base/_admin/health" >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $simpid 2>/dev/null; then
        echo "The cloud emulator did not start on port $port (see $home/cloudsim.log)." >&2
        echo "Set NORVELA_DEMO_PORT to another port if that one is taken." >&2
        exit 1
    fi
    sleep 0.1
done
echo "Local cloud emulator running at $base"

# link KIND: runs `norvela link KIND --no-browser`, opens the printed URL as a browser would
# (the emulator's sign-in page approves at once and redirects to Norvela's loopback server)
# and prints the new account's key.
link() {
    out=$home/link-$1.txt
    "$cli" link "$1" --no-browser >"$out" 2>"$home/link-$1.err" &
    linkpid=$!
    i=0
    while [ ! -s "$out" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    url=$(head -n 1 "$out")
    redirect=$(curl -s -o /dev/null -w '%{redirect_url}' "$url")
    curl -s -o /dev/null "$redirect"
    if ! wait $linkpid; then
        cat "$home/link-$1.err" >&2
        exit 1
    fi
    sed -n 's/^Linked \([^ ]*\) .*/\1/p' "$out"
}
dropbox_key=$(link dropbox)
gdrive_key=$(link gdrive)
echo "Linked accounts:"
"$cli" accounts

# Sample folders: small files, nested folders, awkward names and one file large enough to
# go up in pieces.
fill() {
    mkdir -p "$1/Documents/2026" "$1/Photos"
    printf 'Notes kept safe in the cloud.\n' >"$1/notes.txt"
    printf 'Quarterly figures\n' >"$1/Documents/2026/report Q1.txt"
    printf "It's here too\n" >"$1/Documents/it's mine.txt"
    printf 'Grüße\n' >"$1/Documents/grüße.txt"
    head -c 12000000 /dev/urandom >"$1/Photos/holiday video.bin"
    : >"$1/empty.txt"
    printf '# files Norvela leaves alone\n*.tmp\n' >"$1/.mignore"
    printf 'scratch\n' >"$1/draft.tmp"
}
dropbox_folder=$home/Dropbox
gdrive_folder="$home/Google Drive"
fill "$dropbox_folder"
fill "$gdrive_folder"
"$cli" folder "$dropbox_key" "$dropbox_folder" >/dev/null
"$cli" folder "$gdrive_key" "$gdrive_folder" >/dev/null
echo "Sample folders: $dropbox_folder and $gdrive_folder"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting the tray app; add files to the folders above and watch them go up. Quit from its menu."
    "$app" || true
else
    echo "No display: running 'norvela sync --once'."
    "$cli" sync --once
fi

echo
echo "What the emulator holds:"
curl -s "$base/_admin/summary"
