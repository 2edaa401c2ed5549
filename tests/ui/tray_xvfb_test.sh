#!/bin/bash
# The tray panel in a real X server: Xvfb with trayer as the XEmbed tray, the built app with
# no account (the demonstration engine runs), a click on its tray icon maps the panel, a
# second click and Escape unmap it.
# Usage: tray_xvfb_test.sh <path to the Norvela executable>
set -u
app=${1:?the Norvela executable}
for tool in Xvfb trayer xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP PIPE

fail() {
    echo "FAIL: $*"
    local log
    for log in "$work"/*.log; do echo "--- $(basename "$log")"; cat "$log"; done
    exit 1
}

# Polls a command for up to $1 seconds.
until_true() {
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# Xvfb picks a free display itself and names it once it accepts clients, so two runs at
# the same time never share one.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
until_true 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
until_true 10 xdotool getdisplaygeometry || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
    --SetDockType true --expand false >"$work/trayer.log" 2>&1 &
pids+=($!)
until_true 10 xdotool search --onlyvisible --class trayer || fail "trayer did not start"

# Everything private; no session bus, so Qt uses the XEmbed tray.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
env -u NORVELA_SANDBOX_URL -u DBUS_SESSION_BUS_ADDRESS -u NORVELA_APP_SUPPORT_DIR -u NORVELA_AUTOLINK \
    -u WAYLAND_DISPLAY HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache" \
    XDG_STATE_HOME="$work/home/.local/state" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=xcb NORVELA_APPEARANCE=light "$app" >"$work/app.log" 2>&1 &
pids+=($!)
app_pid=$!

# The tray icon: the app's small window that trayer has embedded.
icon_window() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null; xdotool search --onlyvisible --class Norvela 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if ((WIDTH <= 64 && HEIGHT <= 64)); then echo "$id"; return 0; fi
    done
    return 1
}
# The panel: a mapped window titled "Norvela", 340 wide.
panel_shown() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Norvela$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if ((WIDTH == 340)); then return 0; fi
    done
    return 1
}
panel_hidden() { ! panel_shown; }
click_icon() { xdotool mousemove --window "$icon" 8 8 click 1; }

until_true 20 icon_window || fail "no tray icon was embedded"
icon=$(icon_window)
kill -0 "$app_pid" || fail "the app exited"
panel_hidden || fail "a panel was shown before any click"

click_icon
until_true 10 panel_shown || fail "clicking the tray icon did not show the panel"
# Past the reopen guard's quiet period, so the next click is a click and not a flicker.
sleep 0.5
click_icon
until_true 10 panel_hidden || fail "a second click did not hide the panel"

sleep 0.5
click_icon
until_true 10 panel_shown || fail "a third click did not show the panel again"
xdotool key --clearmodifiers Escape
until_true 10 panel_hidden || fail "Escape did not hide the panel"
kill -0 "$app_pid" || fail "the app exited"
echo "PASS: the tray icon opens and closes the panel"
